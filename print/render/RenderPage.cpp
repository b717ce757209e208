#include "RenderPage.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

TRenderPage::TRenderPage(int AWidth, int AHeight, int AMaxHeight)
    : FWidth(std::max(0, AWidth)),
      FMaxHeight(std::max(0, AMaxHeight)),
      FRowBytes((std::max(0, AWidth) + 7) / 8) {
  EnsureHeight(std::min(std::max(0, AHeight), FMaxHeight));
}

bool TRenderPage::EnsureHeight(int AHeight) {
  if (AHeight <= FHeight) return true;
  if (FFixed) return false;
  bool ok = true;
  if (AHeight > FMaxHeight) {
    AHeight = FMaxHeight;
    FLimitHit = true;
    ok = false;
  }
  if (AHeight > FHeight) {
    FHeight = AHeight;
    FBits.resize(static_cast<size_t>(FHeight) * FRowBytes, 0);
  }
  return ok;
}

bool TRenderPage::Dot(int AX, int AY) const {
  if (AX < 0 || AY < 0 || AX >= FWidth || AY >= FHeight) return false;
  return (Row(AY)[AX >> 3] >> (7 - (AX & 7))) & 1;
}

void TRenderPage::SetDot(int AX, int AY, bool ABlack, TDotMode AMode) {
  if (AX < 0 || AY < 0 || AX >= FWidth) {
    FClipped = true;
    return;
  }
  if (AY >= FHeight && (!ABlack || AMode == dmClear)) return;
  if (AY >= FHeight && !EnsureHeight(AY + 1)) {
    FClipped = true;
    return;
  }
  uint8_t& b = FBits[static_cast<size_t>(AY) * FRowBytes + (AX >> 3)];
  const uint8_t bit = static_cast<uint8_t>(0x80 >> (AX & 7));
  switch (AMode) {
    case dmSet:
      if (ABlack) b |= bit;
      break;
    case dmCopy:
      b = ABlack ? (b | bit) : (b & ~bit);
      break;
    case dmXor:
      if (ABlack) b ^= bit;
      break;
    case dmClear:
      if (ABlack) b &= ~bit;
      break;
  }
}

void TRenderPage::FillRect(int AX, int AY, int AW, int AH, TDotMode AMode) {
  if (AW <= 0 || AH <= 0) return;
  long long x0 = AX, y0 = AY, x1 = static_cast<long long>(AX) + AW, y1 = static_cast<long long>(AY) + AH;
  if (x0 < 0 || y0 < 0 || x1 > FWidth) FClipped = true;
  x0 = std::max(0LL, x0);
  y0 = std::max(0LL, y0);
  x1 = std::min<long long>(x1, FWidth);
  if (y1 > FHeight && AMode != dmClear) {
    if (!EnsureHeight(static_cast<int>(std::min<long long>(y1, FMaxHeight + 1LL)))) FClipped = true;
  }
  y1 = std::min<long long>(y1, FHeight);
  for (long long y = y0; y < y1; ++y)
    for (long long x = x0; x < x1; ++x) SetDot(static_cast<int>(x), static_cast<int>(y), true, AMode);
}

void TRenderPage::DrawMask(int AX, int AY, const uint8_t* AMask, int AW, int AH, int AScaleX, int AScaleY,
                           TDotMode AMode) {
  if (AW <= 0 || AH <= 0 || AScaleX <= 0 || AScaleY <= 0) return;
  if (AMode == dmCopy) {
    for (int y = 0; y < AH; ++y) {
      const uint8_t* row = AMask + static_cast<size_t>(y) * AW;
      for (int x = 0; x < AW; ++x)
        for (int sy = 0; sy < AScaleY; ++sy)
          for (int sx = 0; sx < AScaleX; ++sx)
            SetDot(AX + x * AScaleX + sx, AY + y * AScaleY + sy, row[x] != 0, AMode);
    }
    return;
  }
  // Runs of black source dots become spans of whole bytes on each page row
  // they cover: the cost follows the rows drawn, not every scaled dot.
  for (int y = 0; y < AH; ++y) {
    const uint8_t* row = AMask + static_cast<size_t>(y) * AW;
    for (int x = 0; x < AW;) {
      if (!row[x]) {
        ++x;
        continue;
      }
      int end = x;
      while (end < AW && row[end]) ++end;
      long long px0 = AX + static_cast<long long>(x) * AScaleX,
                px1 = AX + static_cast<long long>(end) * AScaleX;
      x = end;
      if (px0 < 0 || px1 > FWidth) FClipped = true;
      px0 = std::max(0LL, px0);
      px1 = std::min<long long>(px1, FWidth);
      for (int sy = 0; sy < AScaleY; ++sy) {
        const long long py = AY + static_cast<long long>(y) * AScaleY + sy;
        if (py < 0) {
          FClipped = true;
          continue;
        }
        if (px0 >= px1) continue;
        if (py >= FHeight && (AMode == dmClear || !EnsureHeight(static_cast<int>(
                                                      std::min<long long>(py + 1, FMaxHeight + 1LL))))) {
          if (AMode != dmClear) FClipped = true;
          continue;
        }
        uint8_t* bits = FBits.data() + static_cast<size_t>(py) * FRowBytes;
        const int a = static_cast<int>(px0), b = static_cast<int>(px1);  // [a, b)
        const int ba = a >> 3, bb = (b - 1) >> 3;
        for (int i = ba; i <= bb; ++i) {
          uint8_t m = 0xFF;
          if (i == ba) m &= static_cast<uint8_t>(0xFF >> (a & 7));
          if (i == bb) m &= static_cast<uint8_t>(0xFF << (7 - ((b - 1) & 7)));
          if (AMode == dmSet)
            bits[i] |= m;
          else if (AMode == dmXor)
            bits[i] ^= m;
          else
            bits[i] &= static_cast<uint8_t>(~m);
        }
      }
    }
  }
}

void TRenderPage::DrawPacked(int AX, int AY, const uint8_t* ARows, int ARowBytes, int AW, int AH,
                             bool ABlackIsOne, TDotMode AMode, int AScaleX, int AScaleY) {
  if (AW <= 0 || AH <= 0) return;
  // Fast path: byte-aligned, unscaled, set mode (raster jobs).
  if (AScaleX == 1 && AScaleY == 1 && AX == 0 && AY >= 0 && (AMode == dmSet || AMode == dmCopy) &&
      AW <= FWidth) {
    if (!EnsureHeight(AY + AH)) FClipped = true;
    const int rows = std::min(AH, FHeight - AY);
    const int full = AW / 8, rest = AW % 8;
    for (int y = 0; y < rows; ++y) {
      const uint8_t* src = ARows + static_cast<size_t>(y) * ARowBytes;
      uint8_t* dst = FBits.data() + static_cast<size_t>(AY + y) * FRowBytes;
      for (int i = 0; i < full; ++i) {
        const uint8_t v = ABlackIsOne ? src[i] : static_cast<uint8_t>(~src[i]);
        dst[i] = AMode == dmSet ? static_cast<uint8_t>(dst[i] | v) : v;
      }
      if (rest) {
        const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
        const uint8_t v = static_cast<uint8_t>((ABlackIsOne ? src[full] : ~src[full]) & mask);
        dst[full] = AMode == dmSet ? static_cast<uint8_t>(dst[full] | v)
                                   : static_cast<uint8_t>((dst[full] & ~mask) | v);
      }
    }
    return;
  }
  for (int y = 0; y < AH; ++y) {
    const uint8_t* src = ARows + static_cast<size_t>(y) * ARowBytes;
    for (int x = 0; x < AW; ++x) {
      const bool one = (src[x >> 3] >> (7 - (x & 7))) & 1;
      const bool black = one == ABlackIsOne;
      if (!black && AMode != dmCopy) continue;
      for (int sy = 0; sy < AScaleY; ++sy)
        for (int sx = 0; sx < AScaleX; ++sx)
          SetDot(AX + x * AScaleX + sx, AY + y * AScaleY + sy, black, AMode);
    }
  }
}

void TRenderPage::Clear() { std::fill(FBits.begin(), FBits.end(), 0); }

size_t TRenderPage::BlackDots() const { return BlackDotsIn(0, 0, FWidth, FHeight); }

size_t TRenderPage::BlackDotsIn(int AX, int AY, int AW, int AH) const {
  size_t n = 0;
  const int x1 = std::min(FWidth, AX + AW), y1 = std::min(FHeight, AY + AH);
  for (int y = std::max(0, AY); y < y1; ++y)
    for (int x = std::max(0, AX); x < x1; ++x) n += Dot(x, y) ? 1 : 0;
  return n;
}

namespace {

void PngWrite(png_structp APng, png_bytep AData, png_size_t ALength) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(APng));
  out->insert(out->end(), AData, AData + ALength);
}

void PngFlush(png_structp) {}

}  // namespace

std::vector<uint8_t> PageToPng(const TRenderPage& APage) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) throw std::runtime_error("libpng: out of memory");
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    throw std::runtime_error("libpng: out of memory");
  }
  // An empty page still makes a valid picture: one white row.
  const int width = std::max(1, APage.Width()), height = std::max(1, APage.Height());
  std::vector<uint8_t> blank((width + 7) / 8, 0);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("libpng: cannot write the page");
  }
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 1,
               PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_compression_level(png, 3);
  // 203 dpi = 7992 dots per metre.
  png_set_pHYs(png, info, 7992, 7992, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  // The page keeps 1 for black; PNG grey 0 is black.
  png_set_invert_mono(png);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = (y < APage.Height() && APage.Width() > 0) ? APage.Row(y) : blank.data();
    png_write_row(png, const_cast<png_bytep>(row));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::vector<uint8_t> PageToGrey8(const TRenderPage& APage) {
  std::vector<uint8_t> out(static_cast<size_t>(APage.Width()) * APage.Height(), 255);
  for (int y = 0; y < APage.Height(); ++y)
    for (int x = 0; x < APage.Width(); ++x)
      if (APage.Dot(x, y)) out[static_cast<size_t>(y) * APage.Width() + x] = 0;
  return out;
}

std::vector<uint8_t> PageToPbm(const TRenderPage& APage) {
  const std::string head =
      "P4\n" + std::to_string(APage.Width()) + " " + std::to_string(APage.Height()) + "\n";
  std::vector<uint8_t> out(head.begin(), head.end());
  out.insert(out.end(), APage.Bits().begin(), APage.Bits().end());
  return out;
}

void WriteRenderFile(const std::string& AFileName, const std::vector<uint8_t>& ABytes) {
  FILE* f = std::fopen(AFileName.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + AFileName + ": " + std::strerror(errno));
  const bool ok = std::fwrite(ABytes.data(), 1, ABytes.size(), f) == ABytes.size();
  const int err = errno;
  if (std::fclose(f) != 0 || !ok)
    throw std::runtime_error("cannot write " + AFileName + ": " + std::strerror(err));
}
