#include "TextDrawing.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// The upper half of PC437, the code page of a printer's Latin font.
const uint16_t kPc437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

// GBK -> UTF-32 through iconv, once per pair: the table of every lead
// byte 81..FE and trail byte 40..FE is made on first use (0: no character).
struct TGbkTable {
  uint32_t Codes[126][191] = {};
  TGbkTable() {
    iconv_t cd = iconv_open("UTF-32LE", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) return;
    for (int lead = 0x81; lead <= 0xFE; ++lead)
      for (int trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        unsigned char out[8] = {};
        char* ip = in;
        char* op = reinterpret_cast<char*>(out);
        size_t il = 2, ol = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0 || ol != 4) continue;
        Codes[lead - 0x81][trail - 0x40] =
            static_cast<uint32_t>(out[0]) | (static_cast<uint32_t>(out[1]) << 8) |
            (static_cast<uint32_t>(out[2]) << 16) | (static_cast<uint32_t>(out[3]) << 24);
      }
    iconv_close(cd);
  }
};

uint32_t GbkPair(uint8_t ALead, uint8_t ATrail, bool* AValid) {
  static const TGbkTable table;
  const uint32_t c = table.Codes[ALead - 0x81][ATrail - 0x40];
  *AValid = c != 0;
  return c ? c : 0xFFFD;
}

// U+FF61..FF9F to the full-width punctuation and katakana they stand for.
uint32_t HalfwidthKatakanaFullForm(uint32_t ACode) {
  static const uint16_t kFull[63] = {
      0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5,
      0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF, 0x30B1, 0x30B3,
      0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC,
      0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4,
      0x30E6, 0x30E8, 0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C};
  return ACode >= 0xFF61 && ACode <= 0xFF9F ? kFull[ACode - 0xFF61] : ACode;
}

std::string FcMatch(const std::string& APattern) {
  if (access("/usr/bin/fc-match", X_OK) != 0) return std::string();
  const std::string cmd = "/usr/bin/fc-match -f '%{file}' '" + APattern + "' 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return std::string();
  char buf[1024];
  std::string s;
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) s.append(buf, n);
  pclose(p);
  return access(s.c_str(), R_OK) == 0 ? s : std::string();
}

std::string FindFont(const char* AEnv, std::initializer_list<const char*> APaths, const char* APattern) {
  if (const char* e = std::getenv(AEnv); e && *e && access(e, R_OK) == 0) return e;
  for (const char* p : APaths)
    if (access(p, R_OK) == 0) return p;
  return FcMatch(APattern);
}

}  // namespace

std::string FindLatinFontFile() {
  return FindFont("TESSIVA_FONT_LATIN",
                  {"/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
                   "/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf"},
                  "monospace");
}

std::string FindChineseFontFile() {
  return FindFont(
      "TESSIVA_FONT_CHINESE",
      {"/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc", "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
       "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"},
      "sans:lang=zh-cn");
}

bool IsWideCodePoint(uint32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
         (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
         (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

TDecodedChar DecodePrinterChar(TCharset ACharset, const uint8_t* AData, size_t ASize, bool AChineseMode) {
  TDecodedChar d;
  const uint8_t b = AData[0];
  if (b < 0x80) {
    d.Code = b;
    return d;
  }
  if (ACharset == csGbk) {
    if (!AChineseMode) {
      d.Code = kPc437High[b - 0x80];
      return d;
    }
    if (b >= 0x81 && b <= 0xFE && ASize >= 2 && AData[1] >= 0x40 && AData[1] <= 0xFE && AData[1] != 0x7F) {
      bool valid = false;
      d.Code = GbkPair(b, AData[1], &valid);
      d.Length = 2;
      d.Valid = valid;
      d.Wide = true;
      return d;
    }
    d.Code = 0xFFFD;
    d.Valid = false;
    return d;
  }
  // UTF-8, strictly (no overlongs, no surrogates).
  int need = 0;
  uint32_t c = 0, min = 0;
  if (b >= 0xC2 && b <= 0xDF)
    need = 1, c = b & 0x1F, min = 0x80;
  else if (b >= 0xE0 && b <= 0xEF)
    need = 2, c = b & 0x0F, min = 0x800;
  else if (b >= 0xF0 && b <= 0xF4)
    need = 3, c = b & 0x07, min = 0x10000;
  bool ok = need > 0 && ASize > static_cast<size_t>(need);
  for (int i = 1; ok && i <= need; ++i) {
    if ((AData[i] & 0xC0) != 0x80)
      ok = false;
    else
      c = (c << 6) | (AData[i] & 0x3F);
  }
  if (!ok || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    d.Code = 0xFFFD;
    d.Valid = false;
    return d;
  }
  d.Code = c;
  d.Length = static_cast<size_t>(need) + 1;
  d.Wide = IsWideCodePoint(c);
  return d;
}

std::string CodePointToUtf8(uint32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

struct TTextDrawing::TFace {
  FT_Face Face = nullptr;
  // Design metrics in em units.
  double Advance = 0.6;
  double Ascender = 0.8;
  double Descender = 0.2;
  ~TFace() {
    if (Face) FT_Done_Face(Face);
  }
};

TTextDrawing& TTextDrawing::Shared() {
  static TTextDrawing drawing;
  return drawing;
}

TTextDrawing::TTextDrawing() {
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) != 0) return;
  FLibrary = lib;
  auto open = [lib](const std::string& AFile, bool AChinese) -> std::unique_ptr<TFace> {
    if (AFile.empty()) return nullptr;
    auto f = std::make_unique<TFace>();
    if (FT_New_Face(lib, AFile.c_str(), 0, &f->Face) != 0) {
      f->Face = nullptr;
      return nullptr;
    }
    const double em = f->Face->units_per_EM ? f->Face->units_per_EM : 1000;
    f->Advance = f->Face->max_advance_width / em;
    f->Ascender = f->Face->ascender / em;
    f->Descender = -f->Face->descender / em;
    if (AChinese) {
      // Ideographs fill the em square: centre a reference one in the cell.
      FT_Set_Pixel_Sizes(f->Face, 0, 1000);
      if (FT_Load_Char(f->Face, 0x56FD, FT_LOAD_NO_HINTING) == 0) {
        FT_BBox box;
        FT_Outline_Get_CBox(&f->Face->glyph->outline, &box);
        const double top = box.yMax / 64.0 / 1000.0, bottom = box.yMin / 64.0 / 1000.0;
        const double pad = (1.0 - (top - bottom)) / 2.0;
        f->Ascender = top + pad;
        f->Descender = -(bottom - pad);
      } else {
        f->Ascender = 0.88;
        f->Descender = 0.12;
      }
      f->Advance = 1.0;
    }
    return f;
  };
  FLatinFile = FindLatinFontFile();
  FChineseFile = FindChineseFontFile();
  FLatin = open(FLatinFile, false);
  FChinese = open(FChineseFile, true);
  if (!FLatin) FLatinFile.clear();
  if (!FChinese) FChineseFile.clear();
}

TTextDrawing::~TTextDrawing() {
  FLatin.reset();
  FChinese.reset();
  if (FLibrary) FT_Done_FreeType(static_cast<FT_Library>(FLibrary));
}

bool TTextDrawing::HaveFonts() const { return FLatin || FChinese; }

TGlyphMask TTextDrawing::Glyph(uint32_t ACode, int AWidth, int AHeight, bool ABold, bool AWide) {
  return *CachedGlyph(ACode, AWidth, AHeight, ABold, AWide);
}

std::shared_ptr<const TGlyphMask> TTextDrawing::CachedGlyph(uint32_t ACode, int AWidth, int AHeight,
                                                            bool ABold, bool AWide) {
  AWidth = std::clamp(AWidth, 1, 512);
  AHeight = std::clamp(AHeight, 1, 512);
  const uint64_t key = (static_cast<uint64_t>(ACode) << 32) | (static_cast<uint64_t>(AWidth) << 20) |
                       (static_cast<uint64_t>(AHeight) << 8) | (ABold ? 1u : 0u) | (AWide ? 2u : 0u);
  std::lock_guard<std::mutex> lock(FLock);
  auto it = FCache.find(key);
  if (it != FCache.end()) return it->second;
  if (FCache.size() > 8192) FCache.clear();
  auto m = std::make_shared<const TGlyphMask>(Render(ACode, AWidth, AHeight, ABold, AWide));
  FCache.emplace(key, m);
  return m;
}

TGlyphMask TTextDrawing::Render(uint32_t ACode, int AWidth, int AHeight, bool ABold, bool AWide) {
  TGlyphMask m;
  m.Width = AWidth;
  m.Height = AHeight;
  m.Dots.assign(static_cast<size_t>(AWidth) * AHeight, 0);
  if (ACode == ' ' || ACode == 0x3000 || ACode == 0xA0) return m;
  if (DrawBoxGlyph(ACode, m, ABold)) return m;
  // Wide characters prefer the Chinese face, narrow ones the Latin face;
  // either falls back on the other.
  TFace* first = AWide ? FChinese.get() : FLatin.get();
  TFace* second = AWide ? FLatin.get() : FChinese.get();
  TFace* face = nullptr;
  FT_UInt index = 0;
  for (TFace* f : {first, second}) {
    if (f && (index = FT_Get_Char_Index(f->Face, ACode)) != 0) {
      face = f;
      break;
    }
  }
  // Half-width katakana that neither face has: the full-width form (which
  // Chinese faces carry, GB 2312 has the kana), drawn into the half cell.
  if (!face && ACode >= 0xFF61 && ACode <= 0xFF9F) {
    const uint32_t full = HalfwidthKatakanaFullForm(ACode);
    for (TFace* f : {first, second}) {
      if (f && (index = FT_Get_Char_Index(f->Face, full)) != 0) {
        face = f;
        break;
      }
    }
  }
  auto box = [&m]() {
    const int x0 = m.Width / 6, x1 = m.Width - 1 - m.Width / 6, y0 = m.Height / 6,
              y1 = m.Height - 1 - m.Height / 6;
    for (int x = x0; x <= x1; ++x)
      m.Dots[static_cast<size_t>(y0) * m.Width + x] = m.Dots[static_cast<size_t>(y1) * m.Width + x] = 1;
    for (int y = y0; y <= y1; ++y)
      m.Dots[static_cast<size_t>(y) * m.Width + x0] = m.Dots[static_cast<size_t>(y) * m.Width + x1] = 1;
  };
  if (!face) {
    if (ACode > 0x20) box();
    return m;
  }
  const double heightEm = face->Ascender + face->Descender;
  double size = std::min(AWidth / std::max(0.3, face->Advance), AHeight / std::max(0.5, heightEm));
  if (face == FLatin.get() && AWide) size = std::min<double>(AWidth, AHeight) / std::max(0.5, heightEm);
  const int px = std::max(1, static_cast<int>(std::floor(size)));
  FT_Set_Pixel_Sizes(face->Face, 0, static_cast<FT_UInt>(px));
  if (FT_Load_Glyph(face->Face, index, FT_LOAD_TARGET_MONO) != 0) {
    box();
    return m;
  }
  FT_GlyphSlot slot = face->Face->glyph;
  if (ABold && slot->format == FT_GLYPH_FORMAT_OUTLINE)
    FT_Outline_Embolden(&slot->outline, std::max(64, px * 64 / 12));
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) {
    box();
    return m;
  }
  const FT_Bitmap& bm = slot->bitmap;
  const double advance = slot->advance.x / 64.0;
  const int left = static_cast<int>(std::lround((AWidth - advance) / 2.0)) + slot->bitmap_left;
  const int baseline = static_cast<int>(std::lround((AHeight - heightEm * px) / 2.0 + face->Ascender * px));
  const int top = baseline - slot->bitmap_top;
  for (unsigned y = 0; y < bm.rows; ++y) {
    const unsigned char* row = bm.buffer + static_cast<long>(y) * bm.pitch;
    for (unsigned x = 0; x < bm.width; ++x) {
      const bool on = bm.pixel_mode == FT_PIXEL_MODE_MONO
                          ? ((row[x >> 3] >> (7 - (x & 7))) & 1)
                          : (bm.pixel_mode == FT_PIXEL_MODE_GRAY && row[x] >= 128);
      if (!on) continue;
      const int dx = left + static_cast<int>(x), dy = top + static_cast<int>(y);
      if (dx >= 0 && dy >= 0 && dx < AWidth && dy < AHeight)
        m.Dots[static_cast<size_t>(dy) * AWidth + dx] = 1;
    }
  }
  return m;
}

namespace {

// (u, v) in the rotated frame -> page dot.
inline void MapDot(int AX, int AY, int ARotation, int AU, int AV, int& APx, int& APy) {
  switch (ARotation) {
    case 90:
      APx = AX - 1 - AV, APy = AY + AU;
      break;
    case 180:
      APx = AX - 1 - AU, APy = AY - 1 - AV;
      break;
    case 270:
      APx = AX + AV, APy = AY - 1 - AU;
      break;
    default:
      APx = AX + AU, APy = AY + AV;
      break;
  }
}

}  // namespace

void DrawRotatedMask(TRenderPage& APage, int AX, int AY, int ARotation, int AU, int AV, const uint8_t* AMask,
                     int AW, int AH, int AScaleX, int AScaleY, TDotMode AMode) {
  if (ARotation == 0) {
    APage.DrawMask(AX + AU, AY + AV, AMask, AW, AH, AScaleX, AScaleY, AMode);
    return;
  }
  for (int y = 0; y < AH; ++y)
    for (int x = 0; x < AW; ++x) {
      if (!AMask[static_cast<size_t>(y) * AW + x]) continue;
      for (int sy = 0; sy < AScaleY; ++sy)
        for (int sx = 0; sx < AScaleX; ++sx) {
          int px, py;
          MapDot(AX, AY, ARotation, AU + x * AScaleX + sx, AV + y * AScaleY + sy, px, py);
          APage.SetDot(px, py, true, AMode);
        }
    }
}

void FillRotatedRect(TRenderPage& APage, int AX, int AY, int ARotation, int AU, int AV, int AW, int AH,
                     TDotMode AMode) {
  if (AW <= 0 || AH <= 0) return;
  int ax, ay, bx, by;
  MapDot(AX, AY, ARotation, AU, AV, ax, ay);
  MapDot(AX, AY, ARotation, AU + AW - 1, AV + AH - 1, bx, by);
  APage.FillRect(std::min(ax, bx), std::min(ay, by), std::abs(bx - ax) + 1, std::abs(by - ay) + 1, AMode);
}

namespace {

// Arms of the box-drawing characters U+2500..257F: up, right, down, left;
// 0 none, 1 light, 2 heavy, 3 double. Dashed lines are drawn solid, as the
// printers' 12-dot cells do; the round corners as square ones.
const char* const kBoxArms[] = {
    "0101", "0202", "1010", "2020", "0101", "0202", "1010", "2020",  // 2500
    "0101", "0202", "1010", "2020", "0110", "0210", "0120", "0220",  // 2508
    "0011", "0012", "0021", "0022", "1100", "1200", "2100", "2200",  // 2510
    "1001", "1002", "2001", "2002", "1110", "1210", "2110", "1120",  // 2518
    "2120", "2210", "1220", "2220", "1011", "1012", "2011", "1021",  // 2520
    "2021", "2012", "1022", "2022", "0111", "0112", "0211", "0212",  // 2528
    "0121", "0122", "0221", "0222", "1101", "1102", "1201", "1202",  // 2530
    "2101", "2102", "2201", "2202", "1111", "1112", "1211", "1212",  // 2538
    "2111", "1121", "2121", "2112", "2211", "1122", "1221", "2212",  // 2540
    "1222", "2122", "2221", "2222", "0101", "0202", "1010", "2020",  // 2548
    "0303", "3030", "0310", "0130", "0330", "0013", "0031", "0033",  // 2550
    "1300", "3100", "3300", "1003", "3001", "3003", "1310", "3130",  // 2558
    "3330", "1013", "3031", "3033", "0313", "0131", "0333", "1303",  // 2560
    "3101", "3303", "1313", "3131", "3333", "0110", "0011", "1001",  // 2568
    "1100", "",     "",     "",     "0001", "1000", "0100", "0010",  // 2570
    "0002", "2000", "0200", "0020", "0201", "1020", "0102", "2010",  // 2578
};

void Fill(TGlyphMask& AMask, int AX0, int AY0, int AX1, int AY1) {
  AX0 = std::max(AX0, 0), AY0 = std::max(AY0, 0);
  AX1 = std::min(AX1, AMask.Width), AY1 = std::min(AY1, AMask.Height);
  for (int y = AY0; y < AY1; ++y)
    for (int x = AX0; x < AX1; ++x) AMask.Dots[static_cast<size_t>(y) * AMask.Width + x] = 1;
}

}  // namespace

bool DrawBoxGlyph(uint32_t ACode, TGlyphMask& AMask, bool ABold) {
  if (ACode < 0x2500 || ACode > 0x259F) return false;
  const int w = AMask.Width, h = AMask.Height;
  // A light line is a sixth of a 12-dot cell wide; heavy ones twice that.
  const int t = std::max(1, (w + 3) / 6 + (ABold ? 1 : 0));
  const int cx = w / 2, cy = h / 2;
  if (ACode <= 0x257F) {
    const char* arms = kBoxArms[ACode - 0x2500];
    if (*arms) {
      const int up = arms[0] - '0', right = arms[1] - '0', down = arms[2] - '0', left = arms[3] - '0';
      // Across a line, relative to the middle: a light or heavy stroke
      // [s0, s1); a double line's strokes [m0, m1) and [p0, p1).
      auto s0 = [t](int AWeight) { return AWeight == 2 ? -t : -(t / 2); };
      auto s1 = [t](int AWeight) { return AWeight == 2 ? t : t - t / 2; };
      const int m0 = -t - t / 2, m1 = m0 + t, p0 = t - t / 2, p1 = p0 + t;
      // Where a stroke of an arm ends in the middle: at the perpendicular
      // arm on its own side (the inner corner), else at the far side of the
      // one opposite (the outer corner), else at the middle.
      auto startAt = [&](int AOwnSide, int AOtherSide) {  // arm running towards higher x or y
        if (AOwnSide == 3) return p0;
        if (AOwnSide) return s0(AOwnSide);
        if (AOtherSide == 3) return m0;
        if (AOtherSide) return s0(AOtherSide);
        return 0;
      };
      auto endAt = [&](int AOwnSide, int AOtherSide) {  // arm running towards lower x or y
        if (AOwnSide == 3) return m1;
        if (AOwnSide) return s1(AOwnSide);
        if (AOtherSide == 3) return p1;
        if (AOtherSide) return s1(AOtherSide);
        return 0;
      };
      // A light or heavy arm meets the near stroke of a double line, or
      // runs through the lines it crosses.
      auto singleStart = [&](int AA, int AB) {
        return AA == 3 || AB == 3 ? p0 : -std::max(AA ? s1(AA) : 0, AB ? s1(AB) : 0);
      };
      auto singleEnd = [&](int AA, int AB) {
        return AA == 3 || AB == 3 ? m1 : std::max(AA ? s1(AA) : 0, AB ? s1(AB) : 0);
      };
      // Horizontal arms.
      for (int arm : {1, 3}) {
        const int k = arm == 1 ? right : left;
        if (!k) continue;
        if (k == 3) {
          for (int side = 0; side < 2; ++side) {  // the upper stroke, then the lower one
            const int own = side == 0 ? up : down, other = side == 0 ? down : up;
            const int y0 = cy + (side == 0 ? m0 : p0), y1 = cy + (side == 0 ? m1 : p1);
            if (arm == 1)
              Fill(AMask, cx + startAt(own, other), y0, w, y1);
            else
              Fill(AMask, 0, y0, cx + endAt(own, other), y1);
          }
        } else if (arm == 1) {
          Fill(AMask, cx + singleStart(up, down), cy + s0(k), w, cy + s1(k));
        } else {
          Fill(AMask, 0, cy + s0(k), cx + singleEnd(up, down), cy + s1(k));
        }
      }
      // Vertical arms.
      for (int arm : {0, 2}) {
        const int k = arm == 0 ? up : down;
        if (!k) continue;
        if (k == 3) {
          for (int side = 0; side < 2; ++side) {  // the left stroke, then the right one
            const int own = side == 0 ? left : right, other = side == 0 ? right : left;
            const int x0 = cx + (side == 0 ? m0 : p0), x1 = cx + (side == 0 ? m1 : p1);
            if (arm == 2)
              Fill(AMask, x0, cy + startAt(own, other), x1, h);
            else
              Fill(AMask, x0, 0, x1, cy + endAt(own, other));
          }
        } else if (arm == 2) {
          Fill(AMask, cx + s0(k), cy + singleStart(left, right), cx + s1(k), h);
        } else {
          Fill(AMask, cx + s0(k), 0, cx + s1(k), cy + singleEnd(left, right));
        }
      }
      return true;
    }
    // Diagonals 2571..2573: corner to corner.
    for (int y = 0; y < h; ++y) {
      const int x = static_cast<int>(std::lround((y + 0.5) * w / h - 0.5));
      if (ACode != 0x2572) Fill(AMask, w - 1 - x - t / 2, y, w - 1 - x - t / 2 + t, y + 1);
      if (ACode != 0x2571) Fill(AMask, x - t / 2, y, x - t / 2 + t, y + 1);
    }
    return true;
  }
  // Block elements.
  const int c = static_cast<int>(ACode);
  if (c == 0x2580) {
    Fill(AMask, 0, 0, w, h / 2);
  } else if (c >= 0x2581 && c <= 0x2588) {
    const int eighths = c - 0x2580;
    Fill(AMask, 0, h - (h * eighths + 4) / 8, w, h);
  } else if (c >= 0x2589 && c <= 0x258F) {
    const int eighths = 0x2590 - c;
    Fill(AMask, 0, 0, (w * eighths + 4) / 8, h);
  } else if (c == 0x2590) {
    Fill(AMask, w / 2, 0, w, h);
  } else if (c >= 0x2591 && c <= 0x2593) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const bool quarter = (x % 2 == 0) && (y % 2 == 0);
        const bool on = c == 0x2591 ? quarter : c == 0x2592 ? (x + y) % 2 == 0 : !quarter;
        if (on) AMask.Dots[static_cast<size_t>(y) * w + x] = 1;
      }
  } else if (c == 0x2594) {
    Fill(AMask, 0, 0, w, std::max(1, (h + 4) / 8));
  } else if (c == 0x2595) {
    Fill(AMask, w - std::max(1, (w + 4) / 8), 0, w, h);
  } else {
    // Quadrants 2596..259F: upper left, upper right, lower left, lower right.
    static const uint8_t kQuadrants[] = {4, 8, 1, 13, 9, 7, 11, 2, 6, 14};
    const uint8_t q = kQuadrants[c - 0x2596];
    if (q & 1) Fill(AMask, 0, 0, cx, cy);
    if (q & 2) Fill(AMask, cx, 0, w, cy);
    if (q & 4) Fill(AMask, 0, cy, cx, h);
    if (q & 8) Fill(AMask, cx, cy, w, h);
  }
  return true;
}

void DrawGlyph(TRenderPage& APage, int AX, int AY, const TGlyphMask& AGlyph, int AScaleX, int AScaleY,
               TDotMode AMode) {
  if (AGlyph.Width <= 0 || AGlyph.Height <= 0) return;
  APage.DrawMask(AX, AY, AGlyph.Dots.data(), AGlyph.Width, AGlyph.Height, std::max(1, AScaleX),
                 std::max(1, AScaleY), AMode);
}
