// tessiva-cli envelope: writes a print task envelope to standard output,
// byte for byte as it would enter the console's send memo (CR LF lines).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BitmapPrintJob.h"
#include "CliCommand.h"
#include "CliOptions.h"
#include "PrintPresets.h"
#include "TaskEnvelope.h"

namespace {

// A whole decimal number within [AMin, AMax] (no sign, no spaces).
bool ParseWhole(const std::string& AText, int AMin, int AMax, int& AValue) {
  if (AText.empty() || AText.size() > 9) return false;
  int v = 0;
  for (char c : AText) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < AMin || v > AMax) return false;
  AValue = v;
  return true;
}

int RunEnvelope(const std::vector<std::string>& AArgs) {
  std::string preset, image, dvsno, taskId;
  bool havePreset = false, haveImage = false, tspl = false, haveLabelSize = false, havePictureOption = false;
  bool haveDvsno = false, haveTaskId = false;
  TBitmapPrintSettings settings;
  TCliParser parser(
      "envelope",
      "usage: tessiva-cli envelope --preset NAME [--dvsno SN] [--task-id ID|new]\n"
      "       tessiva-cli envelope --image FILE [--width DOTS] [--tspl --label-width MM --label-height MM]\n"
      "                            [--scale nearest|area] [--dither METHOD] [--threshold N]\n"
      "                            [--gamma G] [--band-rows N] [--dump-dir DIR] [--dvsno SN] [--task-id "
      "ID|new]");
  parser
      .Value("", "--preset", "NAME",
             "buzzer, cutter, receipt-mode, label-mode, gbk, utf8, receipt-sample or label-sample",
             [&](const std::string& v) { preset = v, havePreset = true; })
      .Value("", "--image", "FILE",
             "a .jpg or .png picture, scaled and dithered to one bit; the result is also saved beside it as "
             "*_dithered.bmp",
             [&](const std::string& v) { image = v, haveImage = true; })
      .Value("", "--width", "DOTS", "picture width in printer dots (default 576)",
             [&](const std::string& v) { settings.PaperWidth = v; })
      .Flag("", "--tspl", "a TSPL BITMAP job for a label printer instead of ESC/POS", [&] { tspl = true; })
      .Value("", "--label-width", "MM", "label width (default 50, with --tspl)",
             [&](const std::string& v) { settings.LabelWidth = v, haveLabelSize = true; })
      .Value("", "--label-height", "MM", "label height (default 50, with --tspl)",
             [&](const std::string& v) { settings.LabelHeight = v, haveLabelSize = true; })
      .Value("", "--scale", "MODE",
             "nearest (default): one source pixel per dot; area: each dot the mean of the pixels it covers "
             "(no moire)",
             [&](const std::string& v) {
               havePictureOption = true;
               if (!PictureScaleFromName(v, settings.Picture.Scale))
                 throw ECliUsage("--scale takes nearest or area, not '" + v + "'");
             })
      .Value("", "--dither", "METHOD",
             "fs (default), fs-serpentine, atkinson, bayer (ordered 8 x 8) or threshold (logos, text, codes)",
             [&](const std::string& v) {
               havePictureOption = true;
               if (!DitherMethodFromName(v, settings.Picture.Dither))
                 throw ECliUsage("--dither takes fs, fs-serpentine, atkinson, bayer or threshold, not '" + v +
                                 "'");
             })
      .Value("", "--threshold", "N", "grey level 0-256 from which a dot stays white (default 128)",
             [&](const std::string& v) {
               havePictureOption = true;
               if (!ParseWhole(v, 0, 256, settings.Picture.Threshold))
                 throw ECliUsage("--threshold takes 0 to 256, not '" + v + "'");
             })
      .Value("", "--gamma", "G",
             "the picture's gamma (e.g. 2.2): scale and dither in linear light (default: none)",
             [&](const std::string& v) {
               havePictureOption = true;
               char* end = nullptr;
               const double g = std::strtod(v.c_str(), &end);
               if (v.empty() || *end != '\0' || !std::isfinite(g) || g <= 0 || g > 10)
                 throw ECliUsage("--gamma takes a number above 0, at most 10, not '" + v + "'");
               settings.Picture.Gamma = g;
             })
      .Value("", "--band-rows", "N",
             "ESC/POS: the raster as GS v 0 commands of at most N rows (default 0: one command)",
             [&](const std::string& v) {
               havePictureOption = true;
               if (!ParseWhole(v, 0, 65535, settings.BandRows))
                 throw ECliUsage("--band-rows takes 0 to 65535, not '" + v + "'");
             })
      .Value("", "--dump-dir", "DIR",
             "where a.bin and base64.txt go (default: tessiva under $TMPDIR or /tmp)",
             [&](const std::string& v) { settings.DumpDir = v; })
      .Value("", "--dvsno", "SN", "the printer's serial in dvsno (default: the placeholder xxx)",
             [&](const std::string& v) { dvsno = v, haveDvsno = true; })
      .Value("", "--task-id", "ID|new", "the task id (new: a fresh GUID; default: the fixed id)",
             [&](const std::string& v) { taskId = v, haveTaskId = true; })
      .ExitStatuses(
          "exit status:\n"
          "  0  done\n"
          "  1  failed (the picture not readable, standard output not written)\n"
          "  2  command-line error\n");
  if (const auto status = parser.Parse(AArgs)) return *status;
  if (havePreset == haveImage) return parser.UsageError("give either --preset or --image");
  if (havePreset && (tspl || haveLabelSize || havePictureOption || settings.PaperWidth != "576" ||
                     !settings.DumpDir.empty()))
    return parser.UsageError("--preset takes no picture options");
  if (haveLabelSize && !tspl) return parser.UsageError("--label-width and --label-height need --tspl");
  if (tspl && settings.BandRows != 0)
    return parser.UsageError("--band-rows is for ESC/POS rasters, not --tspl");

  std::string envelope;
  if (havePreset) {
    if (!PresetEnvelope(preset, envelope)) return parser.UsageError("unknown preset '" + preset + "'");
  } else {
    settings.EscPos = !tspl;
    try {
      envelope = MakeBitmapPrintTask(image, settings).base64text;
    } catch (const EPrintError& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
  }
  if (haveDvsno || haveTaskId) {
    // Only the two values change; every other byte stays as built.
    if (haveTaskId && taskId == "new") taskId = NewTaskId();
    TTaskEnvelopeTemplate addressed(envelope);
    envelope = addressed.Make(haveDvsno ? dvsno : std::string("xxx"),
                              {haveTaskId ? taskId : std::string(kPrintTaskId)});
  }
  // Nothing reaches standard output before the whole envelope is ready.
  if (std::fwrite(envelope.data(), 1, envelope.size(), stdout) != envelope.size() ||
      std::fflush(stdout) != 0) {
    std::perror("tessiva-cli envelope: standard output");
    return 1;
  }
  return 0;
}

}  // namespace

TESSIVA_CLI_COMMAND("envelope", "print task envelope from a preset or a picture", RunEnvelope);
