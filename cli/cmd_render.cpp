// tessiva-cli render: draws a print job (an envelope, or raw command bytes)
// as the printer would print it: PNG pages, the command listing, the lint
// findings.
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
  TCliParser parser("render",
                    "usage: tessiva-cli render [OPTIONS] [FILE|-]\n"
                    "Reads a print task envelope (or raw printer command bytes with --raw) from FILE or\n"
                    "standard input and draws it as the printer would print it.");
  parser
      .Value("-o", "--out", "OUT.png", "write the pages: page 1 to OUT.png, page k to OUT-k.png",
             [&](const std::string& v) { out = v; })
      .Flag("", "--raw", "the input is command bytes, not an envelope", [&] { raw = true; })
      .Profile(options.Profile)
      .Value("", "--width", "DOTS", "printable width: 576 (80 mm) or 384 (58 mm); the profile's by default",
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
      .Epilog("With --lint, exit status 3 means the job has an error finding.")
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
  const TRenderResult result =
      raw ? RenderCommandBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), options)
          : RenderEnvelope(text, options);

  if (!out.empty()) {
    for (size_t k = 0; k < result.Pages.size(); ++k) {
      const TRenderedPage& p = result.Pages[k];
      const std::string name = PageFileName(out, k);
      try {
        WriteRenderFile(name, p.Png());
      } catch (const std::exception& e) {
        std::fprintf(stderr, "tessiva-cli render: %s\n", e.what());
        return 1;
      }
      std::fprintf(stderr, "%s: %s page %d x %d dots", name.c_str(), LanguageName(p.Language), p.Page.Width(),
                   p.Page.Height());
      if (p.Language == rlTspl) std::fprintf(stderr, ", %d cop%s", p.Copies, p.Copies == 1 ? "y" : "ies");
      for (const TPageMark& m : p.Marks) std::fprintf(stderr, "; %s at row %d", m.Text.c_str(), m.Y);
      std::fputc('\n', stderr);
    }
    if (result.Pages.empty()) std::fprintf(stderr, "tessiva-cli render: the job prints no page\n");
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
