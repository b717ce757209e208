// The console display's cost per received publication: PutMessage as the
// display fills towards its 10,000-line cap and is cleared, in TEXT and JSON
// form, and the JSON formatter alone. Runs on the offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QTemporaryDir>
#include <string>

#include "EngineHost.h"
#include "SFunc.h"
#include "f_main.h"

namespace {

std::string Payload(int ASeq) {
  std::string s =
      "{\"dvsno\":\"A1B2C3\",\"kind\":\"PRINT_RESULT\",\"seq\":\"" + std::to_string(ASeq) + "\",\"pad\":\"";
  s.append(200 - s.size() - 2, 'x');
  return s + "\"}";
}

Tmain* Window() {
  static QTemporaryDir dir;
  static Tmain* w = [] {
    SFuncSeams::SetExePathOverride(dir.path());
    auto* m = new Tmain();
    m->resize(919, 560);
    m->show();
    return m;
  }();
  return w;
}

// One received publication shown; the display is written every 200 entries,
// as its 20 ms batch timer does at 10,000 publications a second.
void Received(benchmark::State& AState, int AMode) {
  Tmain* w = Window();
  w->findChild<QComboBox*>(QStringLiteral("cbb_format_recv"))->setCurrentIndex(AMode);
  int seq = 0;
  for (auto _ : AState) {
    w->nelomqtclnt1PublishReceived(0, "t", Payload(seq));
    if (++seq % 200 == 0) w->FlushRecv();
  }
  w->FlushRecv();
  AState.SetItemsProcessed(AState.iterations());
}
void BM_ReceivedText(benchmark::State& AState) { Received(AState, 0); }
void BM_ReceivedJson(benchmark::State& AState) { Received(AState, 1); }
BENCHMARK(BM_ReceivedText)->Iterations(50000);
BENCHMARK(BM_ReceivedJson)->Iterations(50000);

void BM_FormatJson(benchmark::State& AState) {
  const QString text = QString::fromStdString(Payload(42));
  for (auto _ : AState) benchmark::DoNotOptimize(FormatJson(QStringLiteral("  "), text));
  AState.SetItemsProcessed(AState.iterations());
}
BENCHMARK(BM_FormatJson);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  HostEngineHandOffs();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
