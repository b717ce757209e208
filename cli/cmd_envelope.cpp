// tessiva-cli envelope: writes a print task envelope to standard output,
// byte for byte as it would enter the console's send memo (CR LF lines).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BitmapPrintJob.h"
#include "CliCommand.h"
#include "PrintPresets.h"

namespace {

const char* const cEnvelopeUsage =
    "usage: tessiva-cli envelope --preset NAME\n"
    "       tessiva-cli envelope --image FILE [--width DOTS] [--tspl --label-width MM --label-height MM]\n"
    "                            [--scale nearest|area] [--dither METHOD] [--threshold N]\n"
    "                            [--gamma G] [--band-rows N] [--dump-dir DIR]\n"
    "\n"
    "  --preset NAME       buzzer, cutter, receipt-mode, label-mode, gbk, utf8,\n"
    "                      receipt-sample or label-sample\n"
    "  --image FILE        a .jpg or .png picture, scaled and dithered to one bit;\n"
    "                      the result is also saved beside it as *_dithered.bmp\n"
    "  --width DOTS        picture width in printer dots (default 576)\n"
    "  --tspl              a TSPL BITMAP job for a label printer instead of ESC/POS\n"
    "  --label-width MM    label width (default 50, with --tspl)\n"
    "  --label-height MM   label height (default 50, with --tspl)\n"
    "  --scale MODE        nearest (default): one source pixel per dot; area: each\n"
    "                      dot the mean of the pixels it covers (no moire)\n"
    "  --dither METHOD     fs (default), fs-serpentine, atkinson, bayer (ordered\n"
    "                      8 x 8) or threshold (logos, text, codes)\n"
    "  --threshold N       grey level 0-256 from which a dot stays white (default 128)\n"
    "  --gamma G           the picture's gamma (e.g. 2.2): scale and dither in\n"
    "                      linear light (default: none)\n"
    "  --band-rows N       ESC/POS: the raster as GS v 0 commands of at most N rows\n"
    "                      (default 0: one command)\n"
    "  --dump-dir DIR      where a.bin and base64.txt go (default: tessiva under\n"
    "                      $TMPDIR or /tmp)\n";

int UsageError(const std::string& AMessage) {
  std::fprintf(stderr, "tessiva-cli envelope: %s\n%s", AMessage.c_str(), cEnvelopeUsage);
  return 2;
}

// A whole decimal number within [AMin, AMax].
bool ParseInt(const std::string& AText, int AMin, int AMax, int& AValue) {
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

bool PresetEnvelope(const std::string& AName, std::string& AEnvelope) {
  if (AName == "buzzer")
    AEnvelope = BuzzerEnvelope();
  else if (AName == "cutter")
    AEnvelope = CutterEnvelope();
  else if (AName == "receipt-mode")
    AEnvelope = PrintModeEnvelope(0);
  else if (AName == "label-mode")
    AEnvelope = PrintModeEnvelope(1);
  else if (AName == "gbk")
    AEnvelope = CharsetEnvelope(0);
  else if (AName == "utf8")
    AEnvelope = CharsetEnvelope(1);
  else if (AName == "receipt-sample")
    AEnvelope = SampleEnvelope(0);
  else if (AName == "label-sample")
    AEnvelope = SampleEnvelope(1);
  else
    return false;
  return true;
}

int RunEnvelope(const std::vector<std::string>& AArgs) {
  std::string preset, image;
  bool havePreset = false, haveImage = false, tspl = false, haveLabelSize = false, havePictureOption = false;
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
                            a == "--label-height" || a == "--dump-dir" || a == "--scale" || a == "--dither" ||
                            a == "--threshold" || a == "--gamma" || a == "--band-rows";
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
    else if (a == "--dump-dir")
      settings.DumpDir = v;
    else {
      havePictureOption = true;
      TPictureOptions& o = settings.Picture;
      if (a == "--scale") {
        if (!PictureScaleFromName(v, o.Scale))
          return UsageError("--scale takes nearest or area, not '" + v + "'");
      } else if (a == "--dither") {
        if (!DitherMethodFromName(v, o.Dither))
          return UsageError("--dither takes fs, fs-serpentine, atkinson, bayer or threshold, not '" + v +
                            "'");
      } else if (a == "--threshold") {
        if (!ParseInt(v, 0, 256, o.Threshold))
          return UsageError("--threshold takes 0 to 256, not '" + v + "'");
      } else if (a == "--gamma") {
        char* end = nullptr;
        const double g = std::strtod(v.c_str(), &end);
        if (v.empty() || *end != '\0' || !std::isfinite(g) || g <= 0 || g > 10)
          return UsageError("--gamma takes a number above 0, at most 10, not '" + v + "'");
        o.Gamma = g;
      } else if (!ParseInt(v, 0, 65535, settings.BandRows)) {
        return UsageError("--band-rows takes 0 to 65535, not '" + v + "'");
      }
    }
  }
  if (havePreset == haveImage) return UsageError("give either --preset or --image");
  if (havePreset && (tspl || haveLabelSize || havePictureOption || settings.PaperWidth != "576" ||
                     !settings.DumpDir.empty()))
    return UsageError("--preset takes no picture options");
  if (haveLabelSize && !tspl) return UsageError("--label-width and --label-height need --tspl");
  if (tspl && settings.BandRows != 0) return UsageError("--band-rows is for ESC/POS rasters, not --tspl");

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
