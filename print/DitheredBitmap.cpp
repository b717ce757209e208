#include "DitheredBitmap.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

constexpr const char* kNoRows = "Scan line index out of range";

inline int Clamp255(int AValue) { return AValue < 0 ? 0 : (AValue > 255 ? 255 : AValue); }

std::string FullPath(const std::string& AFileName) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(AFileName, ec);
  return ec ? AFileName : p.lexically_normal().string();
}

[[noreturn]] void ThrowCannotCreate(const std::string& AFileName, int AErrno) {
  throw EPrintError("Cannot create file \"" + FullPath(AFileName) + "\". " + std::strerror(AErrno));
}

struct TFileCloser {
  void operator()(FILE* AFile) const {
    if (AFile) std::fclose(AFile);
  }
};

void PutLE16(TPrintBytes& AOut, size_t AAt, uint32_t AValue) {
  AOut[AAt] = static_cast<uint8_t>(AValue);
  AOut[AAt + 1] = static_cast<uint8_t>(AValue >> 8);
}

void PutLE32(TPrintBytes& AOut, size_t AAt, uint32_t AValue) {
  PutLE16(AOut, AAt, AValue & 0xFFFF);
  PutLE16(AOut, AAt + 2, AValue >> 16);
}

}  // namespace

int GreyValue(uint8_t ARed, uint8_t AGreen, uint8_t ABlue) {
  const long double v = 0.3L * ARed + 0.59L * AGreen + 0.11L * ABlue;
  // The default rounding mode sends exact halves to the even neighbour.
  return Clamp255(static_cast<int>(std::llrint(v)));
}

//---------------------------------------------------------------- options

bool PictureScaleFromName(const std::string& AName, TPictureScale& AScale) {
  if (AName == "nearest")
    AScale = psNearest;
  else if (AName == "area")
    AScale = psArea;
  else
    return false;
  return true;
}

bool DitherMethodFromName(const std::string& AName, TDitherMethod& AMethod) {
  if (AName == "fs")
    AMethod = dmFloydSteinberg;
  else if (AName == "fs-serpentine")
    AMethod = dmFloydSteinbergSerpentine;
  else if (AName == "atkinson")
    AMethod = dmAtkinson;
  else if (AName == "bayer")
    AMethod = dmBayer;
  else if (AName == "threshold")
    AMethod = dmThreshold;
  else
    return false;
  return true;
}

void CheckPictureOptions(const TPictureOptions& AOptions) {
  if (AOptions.Threshold < 0 || AOptions.Threshold > 256)
    throw EPrintError("Threshold out of range (0 to 256): " + std::to_string(AOptions.Threshold));
  if (AOptions.Gamma != 0 && !(AOptions.Gamma > 0 && AOptions.Gamma <= 10))
    throw EPrintError("Gamma out of range (above 0, at most 10): " + std::to_string(AOptions.Gamma));
}

//---------------------------------------------------------------- dithering

namespace {

// An image without rows or columns has no scan line to write.
int CheckedSide(int ASide) {
  if (ASide <= 0) throw EPrintError(kNoRows);
  return ASide;
}

int LookAhead(TDitherMethod AMethod) {
  switch (AMethod) {
    case dmFloydSteinberg:
    case dmFloydSteinbergSerpentine:
      return 1;
    case dmAtkinson:
      return 2;
    default:
      return 0;
  }
}

// The classic recursive 8 x 8 ordered-dither matrix, [row][column].
constexpr uint8_t kBayer8[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},    {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},   {63, 31, 55, 23, 61, 29, 53, 21},
};

inline void SetWhite(uint8_t* ARow, int AX) { ARow[AX >> 3] |= static_cast<uint8_t>(0x80 >> (AX & 7)); }

inline void AddClamped(int& ATarget, int AError) { ATarget = Clamp255(ATarget + AError); }

}  // namespace

TErrorDiffusion::TErrorDiffusion(int AWidth, int AHeight, TDitherMethod AMethod, int AThreshold)
    : FMethod(AMethod), FThreshold(AThreshold), FLookAhead(LookAhead(AMethod)) {
  CheckedSide(AWidth);
  CheckedSide(AHeight);
  FRows.assign(static_cast<size_t>(FLookAhead) + 1, std::vector<int>(static_cast<size_t>(AWidth)));
  FImage.Width = AWidth;
  FImage.Height = AHeight;
  FImage.RowBytes = static_cast<int>((static_cast<long long>(AWidth) + 7) / 8);
  FImage.Bits.assign(static_cast<size_t>(FImage.RowBytes) * static_cast<size_t>(AHeight), 0);
}

void TErrorDiffusion::AddRow(const int* AGrey) {
  if (FRowsIn >= FImage.Height) throw EPrintError(kNoRows);
  // A row is loaded before any error reaches it, so that every addition of
  // error is clamped against the real grey value.
  std::copy(AGrey, AGrey + FImage.Width, FRows[static_cast<size_t>(FBuffered)].begin());
  ++FBuffered;
  ++FRowsIn;
  if (FBuffered == FLookAhead + 1) DitherOldest(FBuffered);
}

void TErrorDiffusion::DiffuseFloydSteinberg(int* ACur, int* ANext, uint8_t* AOut, bool AMirrored) {
  const int w = FImage.Width;
  // Mirrored rows run right to left: "ahead" is x - 1 and "behind" x + 1.
  const int step = AMirrored ? -1 : 1;
  for (int i = 0; i < w; ++i) {
    const int x = AMirrored ? w - 1 - i : i;
    const int v = ACur[x];
    const bool white = v >= FThreshold;
    const int e = white ? v - 255 : v;
    if (white) SetWhite(AOut, x);
    const int ahead = x + step, behind = x - step;
    const bool hasAhead = ahead >= 0 && ahead < w, hasBehind = behind >= 0 && behind < w;
    if (hasAhead) AddClamped(ACur[ahead], (7 * e) / 16);
    if (ANext) {
      if (hasBehind) AddClamped(ANext[behind], (3 * e) / 16);
      AddClamped(ANext[x], (5 * e) / 16);
      if (hasAhead) AddClamped(ANext[ahead], e / 16);
    }
  }
}

void TErrorDiffusion::DitherOldest(int AAvailable) {
  const int w = FImage.Width;
  const int y = FRowsOut;
  int* cur = FRows[0].data();
  int* next1 = AAvailable > 1 ? FRows[1].data() : nullptr;
  int* next2 = AAvailable > 2 ? FRows[2].data() : nullptr;
  uint8_t* out = FImage.Row(y);
  switch (FMethod) {
    case dmFloydSteinberg:
      DiffuseFloydSteinberg(cur, next1, out, false);
      break;
    case dmFloydSteinbergSerpentine:
      DiffuseFloydSteinberg(cur, next1, out, y % 2 == 1);
      break;
    case dmAtkinson:
      for (int x = 0; x < w; ++x) {
        const int v = cur[x];
        const bool white = v >= FThreshold;
        if (white) SetWhite(out, x);
        const int q = (white ? v - 255 : v) / 8;
        if (x + 1 < w) AddClamped(cur[x + 1], q);
        if (x + 2 < w) AddClamped(cur[x + 2], q);
        if (next1) {
          if (x > 0) AddClamped(next1[x - 1], q);
          AddClamped(next1[x], q);
          if (x + 1 < w) AddClamped(next1[x + 1], q);
        }
        if (next2) AddClamped(next2[x], q);
      }
      break;
    case dmBayer: {
      const uint8_t* m = kBayer8[y % 8];
      const int shift = FThreshold - 128;
      for (int x = 0; x < w; ++x)
        if (cur[x] - shift >= 4 * m[x % 8] + 2) SetWhite(out, x);
      break;
    }
    case dmThreshold:
      for (int x = 0; x < w; ++x)
        if (cur[x] >= FThreshold) SetWhite(out, x);
      break;
  }
  ++FRowsOut;
  // The buffer of the finished row becomes the last one.
  std::rotate(FRows.begin(), FRows.begin() + 1, FRows.end());
  --FBuffered;
}

TMonoBitmap TErrorDiffusion::Finish() {
  if (FRowsIn != FImage.Height || FImage.Height == 0) throw EPrintError(kNoRows);
  while (FRowsOut < FImage.Height) DitherOldest(FBuffered);
  return std::move(FImage);
}

//---------------------------------------------------------------- scaling

long long ScaledHeight(long long ASourceWidth, long long ASourceHeight, long long AWidth) {
  if (ASourceWidth <= 0 || ASourceHeight <= 0 || AWidth <= 0) return 0;
  return ASourceHeight * AWidth / ASourceWidth;
}

namespace {

// 8-bit value -> linear light 0..65535 under AGamma.
std::vector<uint16_t> LinearTable(double AGamma) {
  std::vector<uint16_t> t(256);
  for (int v = 0; v < 256; ++v)
    t[static_cast<size_t>(v)] = static_cast<uint16_t>(std::lround(65535.0 * std::pow(v / 255.0, AGamma)));
  return t;
}

// Grey of a linear RGB mean (0..65535 each), as a linear 0..255 value.
int LinearGrey(double AR, double AG, double AB) {
  return Clamp255(static_cast<int>(std::lround((0.3 * AR + 0.59 * AG + 0.11 * AB) * 255.0 / 65535.0)));
}

}  // namespace

TAreaScaler::TAreaScaler(int ASourceWidth, int ASourceHeight, int AWidth, int AHeight, double AGamma,
                         TGreySink ASink)
    : FSourceWidth(CheckedSide(ASourceWidth)),
      FSourceHeight(CheckedSide(ASourceHeight)),
      FWidth(CheckedSide(AWidth)),
      FHeight(CheckedSide(AHeight)),
      FSink(std::move(ASink)) {
  if (AGamma != 0) FLinear = LinearTable(AGamma);
  // In units where a source column is FWidth wide and a dot FSourceWidth
  // wide, dot x covers [x * sw, (x + 1) * sw) and column i [i * w, (i + 1) * w);
  // the overlap is column i's weight in dot x, and the weights of a dot add
  // up to sw.
  const long long sw = FSourceWidth, w = FWidth;
  FColumnStart.reserve(static_cast<size_t>(FWidth) + 1);
  for (long long x = 0; x < w; ++x) {
    FColumnStart.push_back(static_cast<int>(FColumn.size()));
    const long long from = x * sw, to = (x + 1) * sw;
    for (long long i = from / w; i * w < to; ++i) {
      const long long weight = std::min((i + 1) * w, to) - std::max(i * w, from);
      if (weight <= 0) continue;
      FColumn.push_back(static_cast<int>(i));
      FColumnWeight.push_back(static_cast<uint32_t>(weight));
    }
  }
  FColumnStart.push_back(static_cast<int>(FColumn.size()));
  FRowSum.assign(static_cast<size_t>(FWidth) * 3, 0);
  FSum.assign(static_cast<size_t>(FWidth) * 3, 0);
  FGrey.assign(static_cast<size_t>(FWidth), 0);
}

void TAreaScaler::AddRow(const uint8_t* ARgb) {
  if (FSourceRow >= FSourceHeight) throw EPrintError(kNoRows);
  const bool linear = !FLinear.empty();
  const uint16_t* lin = FLinear.data();
  // Horizontal: this row's weighted sums per dot.
  for (int x = 0; x < FWidth; ++x) {
    uint64_t r = 0, g = 0, b = 0;
    for (int k = FColumnStart[static_cast<size_t>(x)]; k < FColumnStart[static_cast<size_t>(x) + 1]; ++k) {
      const uint8_t* p = ARgb + static_cast<size_t>(FColumn[static_cast<size_t>(k)]) * 3;
      const uint64_t wgt = FColumnWeight[static_cast<size_t>(k)];
      if (linear) {
        r += wgt * lin[p[0]];
        g += wgt * lin[p[1]];
        b += wgt * lin[p[2]];
      } else {
        r += wgt * p[0];
        g += wgt * p[1];
        b += wgt * p[2];
      }
    }
    FRowSum[static_cast<size_t>(x) * 3] = r;
    FRowSum[static_cast<size_t>(x) * 3 + 1] = g;
    FRowSum[static_cast<size_t>(x) * 3 + 2] = b;
  }
  // Vertical: source row j covers [j * h, (j + 1) * h), target row y
  // [y * sh, (y + 1) * sh). Every row this one reaches but the last ends here.
  const long long sh = FSourceHeight, h = FHeight, j = FSourceRow;
  const long long from = j * h, to = (j + 1) * h;
  const uint64_t divisor = static_cast<uint64_t>(FSourceWidth) * static_cast<uint64_t>(FSourceHeight);
  for (long long y = from / sh; y < h && y * sh < to; ++y) {
    const long long weight = std::min((y + 1) * sh, to) - std::max(y * sh, from);
    if (weight > 0) {
      const uint64_t wgt = static_cast<uint64_t>(weight);
      for (size_t i = 0; i < FSum.size(); ++i) FSum[i] += wgt * FRowSum[i];
    }
    if ((y + 1) * sh > to) break;  // continues into the next source row
    for (int x = 0; x < FWidth; ++x) {
      const uint64_t* s = &FSum[static_cast<size_t>(x) * 3];
      int grey;
      if (linear) {
        const double d = static_cast<double>(divisor);
        grey = LinearGrey(static_cast<double>(s[0]) / d, static_cast<double>(s[1]) / d,
                          static_cast<double>(s[2]) / d);
      } else {
        const uint64_t half = divisor / 2;
        grey = GreyValue(static_cast<uint8_t>((s[0] + half) / divisor),
                         static_cast<uint8_t>((s[1] + half) / divisor),
                         static_cast<uint8_t>((s[2] + half) / divisor));
      }
      FGrey[static_cast<size_t>(x)] = grey;
    }
    std::fill(FSum.begin(), FSum.end(), 0);
    FSink(static_cast<int>(y), FGrey.data());
  }
  ++FSourceRow;
}

TMonoBitmap DitherPicture(TPictureFormat AFormat, const TPictureInput& AInput, int AWidth,
                          const TPictureOptions& AOptions) {
  CheckPictureOptions(AOptions);
  TPictureInput input = AInput;
  if (AOptions.Scale == psArea && AWidth > 0) input.MinScaledWidth = 2 * AWidth;
  std::unique_ptr<TPictureDecoder> decoder = OpenPictureDecoder(AFormat, input);
  decoder->SetProgress(AOptions.Progress);
  // The height follows from the picture's own size, however it is decoded.
  const long long h64 = ScaledHeight(decoder->SourceWidth(), decoder->SourceHeight(), AWidth);
  if (AWidth <= 0 || h64 <= 0) throw EPrintError(kNoRows);
  const long long rowBytes = (static_cast<long long>(AWidth) + 7) / 8;
  if (h64 > static_cast<long long>(kMaxMonoBitmapBytes) / rowBytes)
    throw EPrintError("Picture too large: " + std::to_string(AWidth) + " x " + std::to_string(h64) + " dots");
  const int w = AWidth;
  const int h = static_cast<int>(h64);
  const long long sw = decoder->Width();
  const long long sh = decoder->Height();

  TErrorDiffusion dither(w, h, AOptions.Dither, AOptions.Threshold);
  if (AOptions.Scale == psArea) {
    TAreaScaler scaler(static_cast<int>(sw), static_cast<int>(sh), w, h, AOptions.Gamma,
                       [&dither](int, const int* AGrey) { dither.AddRow(AGrey); });
    decoder->DecodeRows(std::vector<bool>(static_cast<size_t>(sh), true),
                        [&scaler](int, const uint8_t* ARgb) { scaler.AddRow(ARgb); });
    return dither.Finish();
  }

  // Nearest neighbour at pixel centres: target x takes source column
  // floor((x + 1/2) * sw / w), target y source row floor((y + 1/2) * sh / h).
  std::vector<int> sourceColumn(static_cast<size_t>(w));
  for (int x = 0; x < w; ++x)
    sourceColumn[static_cast<size_t>(x)] = static_cast<int>((2LL * x + 1) * sw / (2LL * w));
  std::vector<int> sourceRow(static_cast<size_t>(h));
  std::vector<bool> needed(static_cast<size_t>(sh), false);
  for (int y = 0; y < h; ++y) {
    const int sy = static_cast<int>((2LL * y + 1) * sh / (2LL * h));
    sourceRow[static_cast<size_t>(y)] = sy;
    needed[static_cast<size_t>(sy)] = true;
  }

  const std::vector<uint16_t> lin =
      AOptions.Gamma != 0 ? LinearTable(AOptions.Gamma) : std::vector<uint16_t>();
  std::vector<int> grey(static_cast<size_t>(w));
  int nextY = 0;
  decoder->DecodeRows(needed, [&](int ARow, const uint8_t* ARgb) {
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = ARgb + static_cast<size_t>(sourceColumn[static_cast<size_t>(x)]) * 3;
      grey[static_cast<size_t>(x)] =
          lin.empty() ? GreyValue(p[0], p[1], p[2]) : LinearGrey(lin[p[0]], lin[p[1]], lin[p[2]]);
    }
    while (nextY < h && sourceRow[static_cast<size_t>(nextY)] == ARow) {
      dither.AddRow(grey.data());
      ++nextY;
    }
  });
  return dither.Finish();
}

//---------------------------------------------------------------- files

TPictureFormat PictureFormatOf(const std::string& AFileName) {
  auto endsWith = [&AFileName](const char* AExt) {
    const size_t n = std::strlen(AExt);
    if (AFileName.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
      char c = AFileName[AFileName.size() - n + i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != AExt[i]) return false;
    }
    return true;
  };
  if (endsWith(".jpg")) return pfJpeg;
  if (endsWith(".png")) return pfPng;
  throw EPrintError("Unsupported file format");
}

std::string DitheredBitmapFileName(const std::string& AFileName) {
  const size_t slash = AFileName.find_last_of('/');
  const size_t dot = AFileName.find_last_of('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExt ? AFileName.substr(0, dot) : AFileName) + "_dithered.bmp";
}

TMonoBitmap ConvertToDitheredBitmap(const std::string& AFileName, int AWidth,
                                    const TPictureOptions& AOptions) {
  const TPictureFormat format = PictureFormatOf(AFileName);
  std::unique_ptr<FILE, TFileCloser> file(std::fopen(AFileName.c_str(), "rb"));
  if (!file) {
    const int err = errno;
    throw EPrintError("Cannot open file \"" + FullPath(AFileName) + "\". " + std::strerror(err));
  }
  TPictureInput input;
  input.File = file.get();
  TMonoBitmap image = DitherPicture(format, input, AWidth, AOptions);
  file.reset();
  const TPrintBytes bmp = MonoBitmapToBmp(image);
  WritePrintFile(DitheredBitmapFileName(AFileName), bmp.data(), bmp.size());
  return image;
}

TPrintBytes MonoBitmapToBmp(const TMonoBitmap& AImage) {
  const size_t stride = (static_cast<size_t>(AImage.RowBytes) + 3) / 4 * 4;
  const size_t pixels = stride * static_cast<size_t>(AImage.Height);
  const size_t offBits = 14 + 40 + 2 * 4;
  TPrintBytes out(offBits + pixels, 0);
  out[0] = 'B';
  out[1] = 'M';
  PutLE32(out, 2, static_cast<uint32_t>(out.size()));
  PutLE32(out, 10, static_cast<uint32_t>(offBits));
  PutLE32(out, 14, 40);
  PutLE32(out, 18, static_cast<uint32_t>(AImage.Width));
  PutLE32(out, 22, static_cast<uint32_t>(AImage.Height));  // positive: bottom-up rows
  PutLE16(out, 26, 1);                                     // planes
  PutLE16(out, 28, 1);                                     // bits per pixel
  PutLE32(out, 30, 0);                                     // BI_RGB
  PutLE32(out, 34, static_cast<uint32_t>(pixels));
  PutLE32(out, 46, 2);  // colours used
  // Palette: index 0 black, index 1 white (blue, green, red, reserved).
  out[58] = out[59] = out[60] = 0xFF;
  for (int y = 0; y < AImage.Height; ++y) {
    uint8_t* dst = &out[offBits + stride * static_cast<size_t>(AImage.Height - 1 - y)];
    std::memcpy(dst, AImage.Row(y), static_cast<size_t>(AImage.RowBytes));
  }
  return out;
}

namespace {

void WriteFileWith(const std::string& AFileName, const uint8_t* AData, size_t ASize, int AExtraFlags) {
  const int fd = ::open(AFileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | AExtraFlags, 0666);
  if (fd < 0) ThrowCannotCreate(AFileName, errno);
  int err = 0;
  for (size_t done = 0; done < ASize && err == 0;) {
    const ssize_t n = ::write(fd, AData + done, ASize - done);
    if (n > 0)
      done += static_cast<size_t>(n);
    else if (n < 0 && errno == EINTR)
      continue;
    else
      err = n < 0 ? errno : EIO;
  }
  if (::close(fd) != 0 && err == 0) err = errno ? errno : EIO;
  if (err != 0) {
    ::unlink(AFileName.c_str());
    ThrowCannotCreate(AFileName, err);
  }
}

}  // namespace

void WritePrintFile(const std::string& AFileName, const uint8_t* AData, size_t ASize) {
  WriteFileWith(AFileName, AData, ASize, 0);
}

void WriteDumpFile(const std::string& AFileName, const uint8_t* AData, size_t ASize) {
  WriteFileWith(AFileName, AData, ASize, O_NOFOLLOW);
}
