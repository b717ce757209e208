// tessiva-cli envelope: writes a print task envelope to standard output,
// byte for byte as it would enter the console's send memo (CR LF lines).
#include <cstdio>
#include <string>
#include <vector>

#include "BitmapPrintJob.h"
#include "CliCommand.h"
#include "CliOptions.h"
#include "PrintPresets.h"
#include "TaskEnvelope.h"

namespace {

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
  std::string badChoice;
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
                 badChoice = "--scale takes nearest or area, not '" + v + "'";
             })
      .Value("", "--dither", "METHOD",
             "fs (default), fs-serpentine, atkinson, bayer (ordered 8 x 8) or threshold (logos, text, codes)",
             [&](const std::string& v) {
               havePictureOption = true;
               if (!DitherMethodFromName(v, settings.Picture.Dither))
                 badChoice =
                     "--dither takes fs, fs-serpentine, atkinson, bayer or threshold, not '" + v + "'";
             })
      .Int("", "--threshold", "N", "grey level 0-256 from which a dot stays white (default 128)", 0, 256,
           [&](long v) { havePictureOption = true, settings.Picture.Threshold = static_cast<int>(v); })
      .Number("--gamma", "G",
              "the picture's gamma (e.g. 2.2): scale and dither in linear light (default: none)", 0.01, 10,
              [&](double v) { havePictureOption = true, settings.Picture.Gamma = v; })
      .Int("", "--band-rows", "N",
           "ESC/POS: the raster as GS v 0 commands of at most N rows (default 0: one command)", 0, 65535,
           [&](long v) { havePictureOption = true, settings.BandRows = static_cast<int>(v); })
      .Value("", "--dump-dir", "DIR",
             "where a.bin and base64.txt go (default: tessiva under $TMPDIR or /tmp)",
             [&](const std::string& v) { settings.DumpDir = v; })
      .Value("", "--dvsno", "SN", "the printer's serial in dvsno (default: the placeholder xxx)",
             [&](const std::string& v) { dvsno = v, haveDvsno = true; })
      .Value("", "--task-id", "ID|new", "the task id (new: a fresh GUID; default: the fixed id)",
             [&](const std::string& v) { taskId = v, haveTaskId = true; });
  if (const auto status = parser.Parse(AArgs)) return *status;
  if (!badChoice.empty()) return parser.UsageError(badChoice);
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
                              {haveTaskId ? taskId : std::string(cPrintTaskId)});
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
