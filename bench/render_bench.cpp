// Renderer speed: ms per page and command bytes per second for the sample
// receipt, the sample label, a 576 x 3000 raster job (GS v 0) and 200 KB of
// eightfold magnified GBK text (one page at its height limit), rendering
// alone and rendering plus PNG; the peer is ImageMagick converting the same
// raster page from PBM to PNG (`convert page.pbm page.png`), timed in the
// same run. Ends with a table: figure, ours, peer, ratio.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "BitmapPrintJob.h"
#include "PrintPresets.h"
#include "Render.h"

extern char** environ;

namespace {

std::vector<uint8_t> RasterJob() {
  // A deterministic 576 x 3000 one-bit picture (stripes and a diagonal
  // pattern), as the image dialog would send it.
  TMonoBitmap image;
  image.Width = 576;
  image.Height = 3000;
  image.RowBytes = 72;
  image.Bits.resize(72u * 3000u);
  for (int y = 0; y < image.Height; ++y)
    for (int x = 0; x < 72; ++x)
      image.Bits[static_cast<size_t>(y) * 72 + x] =
          static_cast<uint8_t>(((x * 37 + y * 11) ^ (y / 7)) & 0xFF);
  return MakeEscPosRasterJob(image);
}

std::vector<uint8_t> MagnifiedTextJob() {
  // 200 KB of GBK text at GS ! 77 (8 x 8): far more than one page holds.
  std::vector<uint8_t> job = {0x1D, '!', 0x77};
  const uint8_t text[] = {0xD6, 0xD0, 0xCE, 0xC4, 0xB2, 0xE2, 0xCA, 0xD4};  // 中文测试
  while (job.size() < 200 * 1024) job.insert(job.end(), std::begin(text), std::end(text));
  job.push_back('\n');
  return job;
}

const std::vector<uint8_t>& Job(int AWhich) {
  static const std::vector<uint8_t> receipt = DecodePrintBase64(SampleReceiptBase64());
  static const std::vector<uint8_t> label = DecodePrintBase64(SampleLabelBase64());
  static const std::vector<uint8_t> raster = RasterJob();
  static const std::vector<uint8_t> magnified = MagnifiedTextJob();
  return AWhich == 0 ? receipt : AWhich == 1 ? label : AWhich == 2 ? raster : magnified;
}

const char* const kNames[] = {"receipt", "label", "raster 576x3000", "GBK text x8, 200 KB"};

void BM_Render(benchmark::State& AState) {
  const std::vector<uint8_t>& job = Job(static_cast<int>(AState.range(0)));
  size_t pages = 0;
  for (auto _ : AState) {
    TRenderResult r = RenderCommandBytes(job);
    pages += r.Pages.size();
    benchmark::DoNotOptimize(r);
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations() * job.size()));
  AState.counters["pages"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsRate);
  AState.SetLabel(kNames[AState.range(0)]);
}

void BM_RenderPng(benchmark::State& AState) {
  const std::vector<uint8_t>& job = Job(static_cast<int>(AState.range(0)));
  for (auto _ : AState) {
    TRenderResult r = RenderCommandBytes(job);
    for (const TRenderedPage& p : r.Pages) benchmark::DoNotOptimize(p.Png());
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations() * job.size()));
  AState.SetLabel(kNames[AState.range(0)]);
}

std::string g_work;

int RunConvert(const std::string& AIn, const std::string& AOut) {
  const char* im = std::getenv("IMAGEMAGICK_CONVERT");
  std::string prog = im && *im ? im : "convert";
  std::vector<std::string> args{prog, AIn, AOut};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, prog.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_ImageMagickPbmToPng(benchmark::State& AState) {
  const std::vector<uint8_t>& job = Job(static_cast<int>(AState.range(0)));
  const TRenderResult r = RenderCommandBytes(job);
  const std::string pbm = g_work + "/page.pbm", png = g_work + "/page.png";
  WriteRenderFile(pbm, PageToPbm(r.Pages.at(0).Page));
  for (auto _ : AState) {
    if (RunConvert(pbm, png) != 0) {
      AState.SkipWithError("convert failed (is ImageMagick installed?)");
      break;
    }
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations() * job.size()));
  AState.SetLabel(kNames[AState.range(0)]);
}

BENCHMARK(BM_Render)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderPng)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageMagickPbmToPng)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// Keeps the results for the closing table.
class TTableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& ARuns) override {
    for (const Run& r : ARuns)
      if (!r.error_occurred) Ms[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(ARuns);
  }
  std::map<std::string, double> Ms;
};

}  // namespace

int main(int argc, char** argv) {
  char tmpl[] = "/tmp/render_bench.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  g_work = tmpl;
  benchmark::Initialize(&argc, argv);
  TTableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::remove((g_work + "/page.pbm").c_str());
  std::remove((g_work + "/page.png").c_str());
  rmdir(g_work.c_str());

  auto ms = [&reporter](const std::string& AName) {
    auto it = reporter.Ms.find(AName);
    return it == reporter.Ms.end() ? -1.0 : it->second;
  };
  std::printf("\n%-40s %12s %12s %12s %8s\n", "figure", "ms/page", "MB/s cmds", "ImageMagick", "ratio");
  for (int k = 0; k < 4; ++k) {
    const double bytes = static_cast<double>(Job(k).size());
    for (const char* which : {"BM_Render/", "BM_RenderPng/"}) {
      const double t = ms(std::string(which) + std::to_string(k));
      const bool png = std::string(which) == "BM_RenderPng/";
      std::string peer = "", ratio = "";
      if (k == 2 && png) {
        const double im = ms("BM_ImageMagickPbmToPng/2/iterations:20/real_time");
        char a[32], b[32];
        std::snprintf(a, sizeof a, "%.2f ms", im);
        std::snprintf(b, sizeof b, "%.1fx", t > 0 ? im / t : 0.0);
        peer = a;
        ratio = b;
      }
      std::printf("%-40s %12.3f %12.1f %12s %8s\n",
                  (std::string(kNames[k]) + (png ? ": render + PNG" : ": render")).c_str(), t,
                  t > 0 ? bytes / (t / 1000.0) / 1e6 : 0.0, peer.c_str(), ratio.c_str());
    }
  }
  std::printf("(ratio = ImageMagick PBM->PNG / our render + PNG of the raster page; goal: above 1)\n");
  return 0;
}
