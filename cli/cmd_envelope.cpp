// tessiva-cli envelope: writes a print task envelope to standard output,
// byte for byte as it would enter the console's send memo (CR LF lines).
#include <cstdio>
#include <string>
#include <vector>

#include "BitmapPrintJob.h"
#include "CliCommand.h"
#include "PrintPresets.h"
#include "TaskEnvelope.h"

namespace {

const char* const cEnvelopeUsage =
    "usage: tessiva-cli envelope --preset NAME\n"
    "       tessiva-cli envelope --image FILE [--width DOTS] [--tspl --label-width MM --label-height MM]\n"
    "                            [--dump-dir DIR]\n"
    "\n"
    "  --preset NAME       buzzer, cutter, receipt-mode, label-mode, gbk, utf8,\n"
    "                      receipt-sample or label-sample\n"
    "  --image FILE        a .jpg or .png picture, scaled and dithered to one bit;\n"
    "                      the result is also saved beside it as *_dithered.bmp\n"
    "  --width DOTS        picture width in printer dots (default 576)\n"
    "  --tspl              a TSPL BITMAP job for a label printer instead of ESC/POS\n"
    "  --label-width MM    label width (default 50, with --tspl)\n"
    "  --label-height MM   label height (default 50, with --tspl)\n"
    "  --dump-dir DIR      where a.bin and base64.txt go (default: tessiva under\n"
    "                      $TMPDIR or /tmp)\n"
    "  --dvsno SN          the printer's serial in dvsno (default: the placeholder xxx)\n"
    "  --task-id ID|new    the task id (new: a fresh GUID; default: the fixed id)\n";

int UsageError(const std::string& AMessage) {
  std::fprintf(stderr, "tessiva-cli envelope: %s\n%s", AMessage.c_str(), cEnvelopeUsage);
  return 2;
}

int RunEnvelope(const std::vector<std::string>& AArgs) {
  std::string preset, image, dvsno, taskId;
  bool haveDvsno = false, haveTaskId = false;
  bool havePreset = false, haveImage = false, tspl = false, haveLabelSize = false;
  TBitmapPrintSettings settings;
  for (size_t i = 0; i < AArgs.size(); ++i) {
    const std::string& a = AArgs[i];
    if (a == "--help" || a == "-h") {
      std::fputs(cEnvelopeUsage, stdout);
      return 0;
    }
    if (a == "--tspl") {
      tspl = true;
      continue;
    }
    const bool takesValue = a == "--preset" || a == "--image" || a == "--width" || a == "--label-width" ||
                            a == "--label-height" || a == "--dump-dir" || a == "--dvsno" || a == "--task-id";
    if (!takesValue) return UsageError("unknown option '" + a + "'");
    if (i + 1 >= AArgs.size()) return UsageError(a + " needs a value");
    const std::string& v = AArgs[++i];
    if (a == "--preset")
      preset = v, havePreset = true;
    else if (a == "--image")
      image = v, haveImage = true;
    else if (a == "--width")
      settings.PaperWidth = v;
    else if (a == "--label-width")
      settings.LabelWidth = v, haveLabelSize = true;
    else if (a == "--label-height")
      settings.LabelHeight = v, haveLabelSize = true;
    else if (a == "--dvsno")
      dvsno = v, haveDvsno = true;
    else if (a == "--task-id")
      taskId = v, haveTaskId = true;
    else
      settings.DumpDir = v;
  }
  if (havePreset == haveImage) return UsageError("give either --preset or --image");
  if (havePreset && (tspl || haveLabelSize || settings.PaperWidth != "576" || !settings.DumpDir.empty()))
    return UsageError("--preset takes no picture options");
  if (haveLabelSize && !tspl) return UsageError("--label-width and --label-height need --tspl");

  std::string envelope;
  if (havePreset) {
    if (!PresetEnvelope(preset, envelope)) return UsageError("unknown preset '" + preset + "'");
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
