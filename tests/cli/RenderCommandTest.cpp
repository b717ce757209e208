// Runs the real tessiva-cli render: pages written as PNG, listing, lint
// and exit statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "PictureFixtures.h"
#include "PrintPresets.h"
#include "RenderTestSupport.h"

namespace {

using tessiva::test::RunProcess;
using tessiva::test::TRunResult;

TRunResult Render(const std::vector<std::string>& AArgs, const std::string& AStdin = std::string()) {
  std::vector<std::string> args{TESSIVA_CLI, "render"};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  return RunProcess(args, AStdin);
}

TEST(RenderCommand, SampleReceiptFromTheEnvelopeCommand) {
  TScratchDir dir;
  const std::string out = dir.File("r.png");
  int status = -1;
  RunCommand(std::string("'") + TESSIVA_CLI + "' envelope --preset receipt-sample | '" + TESSIVA_CLI +
                 "' render -o '" + out + "' - 2>/dev/null",
             &status);
  EXPECT_EQ(status, 0);
  const TPngDots png = ReadPngDots(out);
  EXPECT_EQ(png.Width, 576);
  EXPECT_EQ(png.Height, 960);
  // The PNG holds the rendered page dot for dot.
  const TRenderResult r = RenderEnvelope(SampleEnvelope(0));
  ASSERT_EQ(r.Pages.size(), 1u);
  const TRenderPage& page = r.Pages[0].Page;
  size_t differ = 0;
  for (int y = 0; y < png.Height; ++y)
    for (int x = 0; x < png.Width; ++x)
      differ += (png.Dots[static_cast<size_t>(y) * png.Width + x] != 0) != page.Dot(x, y);
  EXPECT_EQ(differ, 0u);
  EXPECT_FALSE(FileExists(dir.File("r-2.png")));
}

TEST(RenderCommand, PagesListingAndWidth) {
  TScratchDir dir;
  // Two cuts make three pages: OUT.png, OUT-2.png, OUT-3.png.
  const std::string job = dir.WriteFile("cuts.bin", std::string("A\n\x1dV\x00"
                                                                "B\n\x1dV\x01"
                                                                "C\n",
                                                                13));
  const TRunResult r = Render({"--raw", "--width", "384", "-o", dir.File("p.png"), "--list", job});
  EXPECT_EQ(r.ExitCode, 0) << r.Stderr;
  for (const char* name : {"p.png", "p-2.png", "p-3.png"}) {
    const TPngDots png = ReadPngDots(dir.File(name));
    EXPECT_EQ(png.Width, 384) << name;
  }
  EXPECT_FALSE(FileExists(dir.File("p-4.png")));
  EXPECT_NE(r.Stdout.find("000002  1D 56 00"), std::string::npos) << r.Stdout;
  EXPECT_NE(r.Stdout.find("GS V"), std::string::npos);
  EXPECT_NE(r.Stderr.find("full cut"), std::string::npos) << r.Stderr;
}

TEST(RenderCommand, LintExitStatuses) {
  TScratchDir dir;
  struct TCase {
    const char* Name;
    std::vector<std::string> Args;
    std::string Stdin;
    int Exit;
    const char* Output;  // in standard output
  };
  const TCase cases[] = {
      {"clean sample", {"--lint", "-"}, SampleEnvelope(0), 0, ""},
      {"buzzer preset", {"--lint"}, BuzzerEnvelope(), 0, ""},
      {"bad Base64 is an error",
       {"--lint", "-"},
       MakePrintTaskEnvelope("G0IDAQAAAA*="),
       3,
       "not valid Base64"},
      {"not JSON", {"--lint", "-"}, "{oops", 3, "not valid JSON"},
      {"raw unknown command is a warning",
       {"--raw", "--lint", "-"},
       std::string("\x1b\x07\n", 3),
       0,
       "unknown command"},
      {"errors without --lint still exit 0", {"--list", "-"}, "{oops", 0, ""},
  };
  for (const TCase& c : cases) {
    const TRunResult r = Render(c.Args, c.Stdin);
    EXPECT_EQ(r.ExitCode, c.Exit) << c.Name << ": " << r.Stdout << r.Stderr;
    EXPECT_NE(r.Stdout.find(c.Output), std::string::npos) << c.Name << ": " << r.Stdout;
  }
  const TRunResult clean = Render({"--lint", "-"}, SampleEnvelope(0));
  EXPECT_EQ(clean.Stdout, "");
}

TEST(RenderCommand, ProfileOption) {
  TScratchDir dir;
  const std::string envelope = dir.WriteFile("receipt.json", SampleEnvelope(0));
  const std::vector<uint8_t> labelBytes = DecodePrintBase64(SampleLabelBase64());
  const std::string label = dir.WriteFile("label.bin", std::string(labelBytes.begin(), labelBytes.end()));
  struct TCase {
    std::vector<std::string> Args;
    std::string Input;
    int Width;
    bool Hanzi;  // the sample receipt's GBK read as Chinese
  };
  const TCase cases[] = {
      {{}, envelope, 576, true},
      {{"--profile", "gbk-58"}, envelope, 384, true},
      {{"--profile", "epson-58"}, envelope, 384, false},
      {{"--profile", "epson-80"}, envelope, 576, false},
      {{"--profile", "epson-58", "--width", "576"}, envelope, 576, false},
      {{"--width", "384", "--profile", "epson-80"}, envelope, 384, false},
      {{"--raw", "--profile", "tspl-300"}, label, 480, false},
      {{"--raw", "--profile", "tspl-203"}, label, 320, false},
  };
  for (const TCase& c : cases) {
    std::vector<std::string> args = c.Args;
    const std::string out = dir.File("p.png");
    args.insert(args.end(), {"-o", out, "--list", c.Input});
    const TRunResult r = Render(args);
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    EXPECT_EQ(ReadPngDots(out).Width, c.Width) << r.Stderr;
    if (c.Input == envelope) {
      EXPECT_EQ(r.Stdout.find("结帐单") != std::string::npos, c.Hanzi) << c.Width;
    }
  }
  const TRunResult unknown = Render({"--profile", "tm-t88", "--list", envelope});
  EXPECT_EQ(unknown.ExitCode, 2);
  EXPECT_NE(unknown.Stderr.find("--profile is one of gbk-80, gbk-58, epson-80, epson-58, tspl-203, tspl-300"),
            std::string::npos)
      << unknown.Stderr;
  const TRunResult help = Render({"--help"});
  EXPECT_NE(help.Stdout.find("--profile NAME"), std::string::npos) << help.Stdout;
}

TEST(RenderCommand, UsageErrors) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--width", "500", "--list"}, {"--tspl", "--escpos", "--list"}, {"--bogus"}, {"-"}, {"-o"}}) {
    const TRunResult r = Render(args, "");
    EXPECT_EQ(r.ExitCode, 2) << args[0];
    EXPECT_NE(r.Stderr.find("tessiva-cli render: "), std::string::npos) << r.Stderr;
    EXPECT_NE(r.Stderr.find("(see tessiva-cli render --help)"), std::string::npos) << r.Stderr;
  }
  const TRunResult missing = Render({"--list", "/nonexistent/job.txt"});
  EXPECT_EQ(missing.ExitCode, 1);
}

}  // namespace
