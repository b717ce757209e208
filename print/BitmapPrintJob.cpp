#include "BitmapPrintJob.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

namespace {

void Append(TPrintBytes& AOut, const std::string& AText) {
  AOut.insert(AOut.end(), AText.begin(), AText.end());
}

// TSPL line breaks are LF CR.
const std::string kTsplBreak = "\n\r";

std::string JoinPath(const std::string& ADir, const char* AName) {
  return (std::filesystem::path(ADir) / AName).string();
}

}  // namespace

std::string DefaultDumpDir() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = (tmp && *tmp) ? tmp : "/tmp";
  return JoinPath(base, "tessiva");
}

int DialogTextToInt(const std::string& AText) {
  size_t i = 0;
  while (i < AText.size() && (AText[i] == ' ' || AText[i] == '\t')) ++i;
  bool negative = false;
  if (i < AText.size() && (AText[i] == '+' || AText[i] == '-')) negative = AText[i++] == '-';
  long long value = 0;
  const size_t digitsFrom = i;
  for (; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (i != AText.size() || i == digitsFrom || value > INT_MAX || value < INT_MIN)
    throw EPrintError("'" + AText + "' is not a valid integer value");
  return static_cast<int>(value);
}

void CheckBandRows(int ABandRows) {
  if (ABandRows < 0 || ABandRows > 0xFFFF)
    throw EPrintError("Band rows out of range (0 to 65535): " + std::to_string(ABandRows));
}

TPrintBytes MakeEscPosRasterJob(const TMonoBitmap& AImage, int ABandRows) {
  CheckBandRows(ABandRows);
  const int r = AImage.RowBytes;
  const int h = AImage.Height;
  const int band = ABandRows == 0 ? h : ABandRows;
  if (r > 0xFFFF || band > 0xFFFF)
    throw EPrintError("Picture too large for one raster command: " + std::to_string(AImage.Width) + " x " +
                      std::to_string(h) + " dots");
  const size_t bands = h == 0 ? 1 : (static_cast<size_t>(h) + static_cast<size_t>(band) - 1) / band;
  TPrintBytes job;
  job.reserve(8 * bands + static_cast<size_t>(r) * static_cast<size_t>(h) + 2);
  const int rest = AImage.Width % 8;
  const uint8_t padding = rest == 0 ? 0 : static_cast<uint8_t>(0xFF >> rest);
  int y = 0;
  do {
    const int rows = std::min(band, h - y);
    job.insert(job.end(),
               {0x1D, 0x76, 0x30, 0x00, static_cast<uint8_t>(r & 0xFF), static_cast<uint8_t>(r >> 8),
                static_cast<uint8_t>(rows & 0xFF), static_cast<uint8_t>(rows >> 8)});
    for (const int end = y + rows; y < end; ++y) {
      const uint8_t* row = AImage.Row(y);
      for (int i = 0; i < r; ++i) {
        uint8_t b = row[i];
        if (i == r - 1) b |= padding;
        job.push_back(static_cast<uint8_t>(~b));
      }
    }
  } while (y < h);
  job.push_back(0x0D);
  job.push_back(0x0A);
  return job;
}

TPrintBytes MakeTsplBitmapJob(const TMonoBitmap& AImage, int ALabelWidth, int ALabelHeight) {
  TPrintBytes job;
  Append(job,
         "SIZE " + std::to_string(ALabelWidth) + " mm," + std::to_string(ALabelHeight) + " mm" + kTsplBreak);
  Append(job, "CLS" + kTsplBreak);
  Append(job, "BITMAP 0,0," + std::to_string(AImage.RowBytes) + "," + std::to_string(AImage.Height) + ",1,");
  for (int y = 0; y < AImage.Height; ++y) {
    const uint8_t* row = AImage.Row(y);
    job.insert(job.end(), row, row + AImage.RowBytes);
  }
  Append(job, "PRINT 1,1" + kTsplBreak);
  return job;
}

TBitmapPrintResult MakeBitmapPrintTask(const std::string& AFileName, const TBitmapPrintSettings& ASettings) {
  TBitmapPrintResult result;
  const int width = DialogTextToInt(ASettings.PaperWidth);
  CheckPictureOptions(ASettings.Picture);
  CheckBandRows(ASettings.BandRows);
  result.Image = ConvertToDitheredBitmap(AFileName, width, ASettings.Picture);
  result.BitmapFileName = DitheredBitmapFileName(AFileName);
  if (ASettings.EscPos) {
    result.Job = MakeEscPosRasterJob(result.Image, ASettings.BandRows);
  } else {
    const int labelWidth = DialogTextToInt(ASettings.LabelWidth);
    const int labelHeight = DialogTextToInt(ASettings.LabelHeight);
    result.Job = MakeTsplBitmapJob(result.Image, labelWidth, labelHeight);
  }
  const std::string dir = ASettings.DumpDir.empty() ? DefaultDumpDir() : ASettings.DumpDir;
  // A failure here shows when the file is created.
  std::error_code ec;
  if (ASettings.DumpDir.empty()) {
    // The shared temporary folder: our own folder there is the user's only.
    std::filesystem::create_directories(std::filesystem::path(dir).parent_path(), ec);
    ::mkdir(dir.c_str(), 0700);
  } else {
    std::filesystem::create_directories(dir, ec);
  }
  result.JobFileName = JoinPath(dir, kJobDumpName);
  result.Base64FileName = JoinPath(dir, kBase64DumpName);
  WriteDumpFile(result.JobFileName, result.Job.data(), result.Job.size());
  result.base64text = MakePrintTaskEnvelope(EncodePrintBase64(result.Job));
  WriteDumpFile(result.Base64FileName, reinterpret_cast<const uint8_t*>(result.base64text.data()),
                result.base64text.size());
  return result;
}
