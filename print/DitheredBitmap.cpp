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

constexpr const char* cNoRows = "Scan line index out of range";

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

//---------------------------------------------------------------- dithering

namespace {

// An image without rows or columns has no scan line to write.
int CheckedSide(int ASide) {
  if (ASide <= 0) throw EPrintError(cNoRows);
  return ASide;
}

}  // namespace

TErrorDiffusion::TErrorDiffusion(int AWidth, int AHeight)
    : FCurrent(static_cast<size_t>(CheckedSide(AWidth))), FNext(static_cast<size_t>(AWidth)) {
  CheckedSide(AHeight);
  FImage.Width = AWidth;
  FImage.Height = AHeight;
  FImage.RowBytes = static_cast<int>((static_cast<long long>(AWidth) + 7) / 8);
  FImage.Bits.assign(static_cast<size_t>(FImage.RowBytes) * static_cast<size_t>(AHeight), 0);
}

void TErrorDiffusion::AddRow(const int* AGrey) {
  if (FRowsIn >= FImage.Height) throw EPrintError(cNoRows);
  if (FRowsIn == 0) {
    std::copy(AGrey, AGrey + FImage.Width, FCurrent.begin());
  } else {
    std::copy(AGrey, AGrey + FImage.Width, FNext.begin());
    DitherCurrent(true);
    FCurrent.swap(FNext);
  }
  ++FRowsIn;
}

void TErrorDiffusion::DitherCurrent(bool AHasNext) {
  const int w = FImage.Width;
  int* cur = FCurrent.data();
  int* next = FNext.data();
  uint8_t* out = FImage.Row(FRowsOut);
  uint8_t acc = 0;
  int bits = 0;
  for (int x = 0; x < w; ++x) {
    const int v = cur[x];
    const bool white = v >= 128;
    const int e = white ? v - 255 : v;
    acc = static_cast<uint8_t>((acc << 1) | (white ? 1 : 0));
    if (++bits == 8) {
      *out++ = acc;
      acc = 0;
      bits = 0;
    }
    if (x + 1 < w) cur[x + 1] = Clamp255(cur[x + 1] + (7 * e) / 16);
    if (AHasNext) {
      if (x > 0) next[x - 1] = Clamp255(next[x - 1] + (3 * e) / 16);
      next[x] = Clamp255(next[x] + (5 * e) / 16);
      if (x + 1 < w) next[x + 1] = Clamp255(next[x + 1] + e / 16);
    }
  }
  if (bits > 0) *out = static_cast<uint8_t>(acc << (8 - bits));
  ++FRowsOut;
}

TMonoBitmap TErrorDiffusion::Finish() {
  if (FRowsIn != FImage.Height || FImage.Height == 0) throw EPrintError(cNoRows);
  DitherCurrent(false);
  return std::move(FImage);
}

//---------------------------------------------------------------- scaling

long long ScaledHeight(long long ASourceWidth, long long ASourceHeight, long long AWidth) {
  if (ASourceWidth <= 0 || ASourceHeight <= 0 || AWidth <= 0) return 0;
  return ASourceHeight * AWidth / ASourceWidth;
}

TMonoBitmap DitherPicture(TPictureFormat AFormat, const TPictureInput& AInput, int AWidth) {
  std::unique_ptr<TPictureDecoder> decoder = OpenPictureDecoder(AFormat, AInput);
  const long long sw = decoder->Width();
  const long long sh = decoder->Height();
  const long long h64 = ScaledHeight(sw, sh, AWidth);
  if (AWidth <= 0 || h64 <= 0) throw EPrintError(cNoRows);
  const long long rowBytes = (static_cast<long long>(AWidth) + 7) / 8;
  if (h64 > static_cast<long long>(cMaxMonoBitmapBytes) / rowBytes)
    throw EPrintError("Picture too large: " + std::to_string(AWidth) + " x " + std::to_string(h64) + " dots");
  const int w = AWidth;
  const int h = static_cast<int>(h64);

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

  TErrorDiffusion dither(w, h);
  std::vector<int> grey(static_cast<size_t>(w));
  int nextY = 0;
  decoder->DecodeRows(needed, [&](int ARow, const uint8_t* ARgb) {
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = ARgb + static_cast<size_t>(sourceColumn[static_cast<size_t>(x)]) * 3;
      grey[static_cast<size_t>(x)] = GreyValue(p[0], p[1], p[2]);
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

TMonoBitmap ConvertToDitheredBitmap(const std::string& AFileName, int AWidth) {
  const TPictureFormat format = PictureFormatOf(AFileName);
  std::unique_ptr<FILE, TFileCloser> file(std::fopen(AFileName.c_str(), "rb"));
  if (!file) {
    const int err = errno;
    throw EPrintError("Cannot open file \"" + FullPath(AFileName) + "\". " + std::strerror(err));
  }
  TPictureInput input;
  input.File = file.get();
  TMonoBitmap image = DitherPicture(format, input, AWidth);
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
