// tessiva-cli render: draws a print job (an envelope, or raw command bytes)
// as the printer would print it: PNG pages, the command listing, the lint
// findings. A job the printer refuses is listed and linted, not drawn
// (unless --force); the pages go to their files as they are made, so a job
// of many pages keeps none in memory.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "CliCommand.h"
#include "CliOptions.h"
#include "Render.h"

namespace {

bool ReadInput(const std::string& AName, std::string& AText) {
  if (AName == "-") {
    AText.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return !std::cin.bad();
  }
  FILE* f = std::fopen(AName.c_str(), "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) AText.append(buf, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

std::string PageFileName(const std::string& AOut, size_t AIndex) {
  if (AIndex == 0) return AOut;
  const std::string suffix = "-" + std::to_string(AIndex + 1);
  const size_t dot = AOut.rfind('.');
  const size_t slash = AOut.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return AOut + suffix;
  return AOut.substr(0, dot) + suffix + AOut.substr(dot);
}

int RunRender(const std::vector<std::string>& AArgs) {
  std::string input = "-", out;
  bool haveInput = false, raw = false, list = false, lint = false;
  TRenderOptions options;
  options.MaxJobMilliseconds = kJobMillisecondsBudget;
  TCliParser parser("render",
                    "usage: tessiva-cli render [OPTIONS] [FILE|-]\n"
                    "Reads a print task envelope (or raw printer command bytes with --raw) from FILE or\n"
                    "standard input and draws it as the printer would print it.");
  parser
      .Value("-o", "--out", "OUT.png", "write the pages: page 1 to OUT.png, page k to OUT-k.png",
             [&](const std::string& v) { out = v; })
      .Flag("", "--raw", "the input is command bytes, not an envelope", [&] { raw = true; })
      .Value("", "--width", "DOTS", "receipt printable width: 576 (80 mm, default) or 384 (58 mm)",
             [&](const std::string& v) {
               if (v != "576" && v != "384") throw ECliUsage("--width is 384 or 576, not '" + v + "'");
               options.Width = std::stoi(v);
             })
      .Flag("", "--tspl", "read the job as TSPL (label printer)",
            [&] {
              if (options.Language == rlEscPos) throw ECliUsage("give at most one of --tspl and --escpos");
              options.Language = rlTspl;
            })
      .Flag("", "--escpos", "read the job as ESC/POS (receipt printer)",
            [&] {
              if (options.Language == rlTspl) throw ECliUsage("give at most one of --tspl and --escpos");
              options.Language = rlEscPos;
            })
      .Flag("", "--list", "print the command listing", [&] { list = true; })
      .Flag("", "--lint", "print the findings; exit status 3 when any is an error", [&] { lint = true; })
      .Flag("", "--force", "draw a job a printer refuses (it is listed and linted only otherwise)",
            [&] { options.Force = true; })
      .Value("", "--serial", "SN", "the printer's serial: a job for another dvsno is one it refuses",
             [&](const std::string& v) { options.Serial = v; })
      .Epilog(
          "An error finding is a reason a printer refuses the job (docs/refusals.md); a job\n"
          "draws at most " +
          std::to_string(options.MaxJobPages) + " pages in " + std::to_string(options.MaxJobMilliseconds) +
          " ms, and a finding says what was left out.")
      .ExitStatuses(
          "exit status:\n"
          "  0  done\n"
          "  1  failed (input not readable, a page or standard output not written)\n"
          "  2  command-line error\n"
          "  3  with --lint: the job has an error finding (a printer refuses it)\n")
      .Operands([&](const std::string& v) {
        if (haveInput) throw ECliUsage("one input only");
        input = v, haveInput = true;
      });
  if (const auto status = parser.Parse(AArgs)) return *status;
  if (out.empty() && !list && !lint) return parser.UsageError("nothing to do: give -o, --list or --lint");

  std::string text;
  if (!ReadInput(input, text)) {
    std::perror(("tessiva-cli render: " + input).c_str());
    return 1;
  }
  // Each page goes to its file as soon as it is finished.
  std::string writeError;
  int written = 0;
  if (!out.empty()) {
    options.OnPage = [&](TRenderedPage&& p) {
      const std::string name = PageFileName(out, static_cast<size_t>(written++));
      if (!writeError.empty()) return;
      try {
        WriteRenderFile(name, p.Png());
      } catch (const std::exception& e) {
        writeError = e.what();
        return;
      }
      std::fprintf(stderr, "%s: %s page %d x %d dots", name.c_str(), LanguageName(p.Language), p.Page.Width(),
                   p.Page.Height());
      if (p.Language == rlTspl) std::fprintf(stderr, ", %d cop%s", p.Copies, p.Copies == 1 ? "y" : "ies");
      for (const TPageMark& m : p.Marks) std::fprintf(stderr, "; %s at row %d", m.Text.c_str(), m.Y);
      std::fputc('\n', stderr);
    };
  }
  const TRenderResult result =
      raw ? RenderCommandBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), options)
          : RenderEnvelope(text, options);
  if (!writeError.empty()) {
    std::fprintf(stderr, "tessiva-cli render: %s\n", writeError.c_str());
    return 1;
  }
  if (!out.empty() && written == 0) {
    if (result.Refused && !options.Force)
      std::fprintf(stderr,
                   "tessiva-cli render: a printer refuses the job; no page is drawn (--force draws it)\n");
    else
      std::fprintf(stderr, "tessiva-cli render: the job prints no page\n");
  }
  if (list) std::fputs(result.ListingText().c_str(), stdout);
  if (lint) std::fputs(result.FindingsText().c_str(), stdout);
  if (std::fflush(stdout) != 0) {
    std::perror("tessiva-cli render: standard output");
    return 1;
  }
  return lint && result.HasErrors() ? 3 : 0;
}

}  // namespace

TESSIVA_CLI_COMMAND("render", "draw a print job as the printer prints it (PNG, listing, lint)", RunRender);
