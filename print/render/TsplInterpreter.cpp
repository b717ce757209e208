#include "TsplInterpreter.h"

#include <zint.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>

#include "CodeDrawing.h"
#include "CodePages.h"

namespace {

std::string Num(long long AValue) { return std::to_string(AValue); }

struct TArg {
  std::string Text;  // without quotes; escapes applied
  bool Quoted = false;
};

// A printer font: cell of a single-width character; wide (Chinese)
// characters take a square of the cell height.
struct TTsplFont {
  int W = 12, H = 20;
  bool Known = true;
};

TTsplFont FontOf(const std::string& AName, int AXMul, int AYMul, bool& AScalable, int ADpi = 203) {
  AScalable = false;
  // The printers' bitmap fonts at 203 dpi and at 300 dpi.
  static const struct {
    const char* Name;
    int W, H, W300, H300;
  } kFonts[] = {{"1", 8, 12, 12, 20},  {"2", 12, 20, 16, 28}, {"3", 16, 24, 24, 32}, {"4", 24, 32, 32, 48},
                {"5", 32, 48, 48, 64}, {"6", 14, 19, 21, 27}, {"7", 21, 27, 27, 36}, {"8", 14, 25, 21, 35}};
  const bool high = ADpi >= 300;
  for (const auto& f : kFonts)
    if (AName == f.Name) return {high ? f.W300 : f.W, high ? f.H300 : f.H, true};
  std::string upper;
  for (char c : AName) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "ROMAN.TTF" || upper == "0") {
    // Scalable: the multiplications are point sizes.
    AScalable = true;
    const int h = std::clamp(AYMul, 1, 180) * ADpi / 72;
    const int w = std::clamp(AXMul, 1, 180) * ADpi / 72;
    return {std::max(1, w / 2), std::max(1, h), true};
  }
  if (upper.size() > 4 && upper.compare(upper.size() - 4, 4, ".BF2") == 0) {
    // TSS24.BF2, TST24.BF2, ...: the digits give the cell height.
    int h = 24;
    for (size_t i = 0; i < upper.size(); ++i)
      if (std::isdigit(static_cast<unsigned char>(upper[i]))) {
        h = std::atoi(upper.c_str() + i);
        break;
      }
    h = std::clamp(h, 8, 96);
    return {h / 2, h, true};
  }
  bool digits = !AName.empty() && AName.size() <= 3;
  for (char c : AName) digits = digits && std::isdigit(static_cast<unsigned char>(c));
  if (digits) {
    // A size in dots ("16", "24", "32"): the printer's dot-matrix font of that height.
    const int h = std::clamp(std::atoi(AName.c_str()), 8, 96);
    return {h / 2, h, true};
  }
  return {16, 24, false};
}

uint32_t Le16(const uint8_t* AP) { return AP[0] | (AP[1] << 8); }
uint32_t Le32(const uint8_t* AP) {
  return AP[0] | (AP[1] << 8) | (AP[2] << 16) | (static_cast<uint32_t>(AP[3]) << 24);
}

// A picture from a stored file: Width x Height dots, one byte each (1 =
// black), or the reason it cannot be drawn.
struct TPicture {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Dots;
  std::string Error;
};

bool Dark(unsigned AR, unsigned AG, unsigned AB) { return AR * 299 + AG * 587 + AB * 114 < 128 * 1000; }

// An uncompressed BMP of 1, 4, 8, 24 or 32 bits a dot; a dot prints where
// its colour is darker than middle grey.
TPicture ReadBmp(const uint8_t* AP, size_t AN, int AMaxSide) {
  TPicture pic;
  if (AN < 26 || AP[0] != 'B' || AP[1] != 'M') {
    pic.Error = "not a BMP file";
    return pic;
  }
  const uint32_t dataAt = Le32(AP + 10), header = Le32(AP + 14);
  long long w = 0, h = 0;
  uint32_t bpp = 0, compression = 0, colours = 0, entry = 4;
  if (header == 12) {
    w = Le16(AP + 18);
    h = static_cast<int16_t>(Le16(AP + 20));
    bpp = Le16(AP + 24);
    entry = 3;
  } else if (header >= 40 && AN >= 54) {
    w = static_cast<int32_t>(Le32(AP + 18));
    h = static_cast<int32_t>(Le32(AP + 22));
    bpp = Le16(AP + 28);
    compression = Le32(AP + 30);
    colours = Le32(AP + 46);
  } else {
    pic.Error = "BMP header of " + Num(header) + " bytes is not one a printer reads";
    return pic;
  }
  const bool topDown = h < 0;
  h = h < 0 ? -h : h;
  if (w <= 0 || h <= 0 || w > AMaxSide || h > AMaxSide) {
    pic.Error = "BMP of " + Num(w) + " x " + Num(h) + " dots does not fit a label";
    return pic;
  }
  if (compression != 0 || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)) {
    pic.Error = "BMP with " + Num(bpp) + " bits a dot, compression " + Num(compression) + " is not drawn";
    return pic;
  }
  const size_t rowBytes = (static_cast<size_t>(w) * bpp + 31) / 32 * 4;
  if (dataAt > AN || (AN - dataAt) / rowBytes < static_cast<size_t>(h)) {
    pic.Error = "BMP data is cut short: " + Num(static_cast<long long>(rowBytes) * h) + " bytes needed";
    return pic;
  }
  std::vector<uint8_t> palette;  // dark or not, per colour index
  if (bpp <= 8) {
    const size_t count = colours ? std::min<uint32_t>(colours, 256) : (1u << bpp);
    const size_t at = 14 + static_cast<size_t>(header);
    if (at > AN || (AN - at) / entry < count) {
      pic.Error = "BMP palette is cut short";
      return pic;
    }
    for (size_t k = 0; k < count; ++k) {
      const uint8_t* e = AP + at + k * entry;
      palette.push_back(Dark(e[2], e[1], e[0]) ? 1 : 0);
    }
  }
  pic.Width = static_cast<int>(w);
  pic.Height = static_cast<int>(h);
  pic.Dots.assign(static_cast<size_t>(w) * h, 0);
  for (long long y = 0; y < h; ++y) {
    const uint8_t* row = AP + dataAt + rowBytes * static_cast<size_t>(topDown ? y : h - 1 - y);
    for (long long x = 0; x < w; ++x) {
      uint8_t dark = 0;
      if (bpp <= 8) {
        const size_t bit = static_cast<size_t>(x) * bpp;
        const unsigned index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        dark = index < palette.size() ? palette[index] : 0;
      } else {
        const uint8_t* d = row + static_cast<size_t>(x) * (bpp / 8);
        dark = Dark(d[2], d[1], d[0]) ? 1 : 0;
      }
      pic.Dots[static_cast<size_t>(y) * w + x] = dark;
    }
  }
  return pic;
}

// A PCX of one plane of one bit a dot, run-length encoded; bit value 1 is
// the second palette colour (white when the palette is left empty).
TPicture ReadPcx(const uint8_t* AP, size_t AN, int AMaxSide) {
  TPicture pic;
  if (AN < 128 || AP[0] != 0x0A || AP[2] != 1) {
    pic.Error = "not a run-length encoded PCX file";
    return pic;
  }
  const int bpp = AP[3], planes = AP[65];
  const long long w = static_cast<long long>(Le16(AP + 8)) - Le16(AP + 4) + 1;
  const long long h = static_cast<long long>(Le16(AP + 10)) - Le16(AP + 6) + 1;
  const size_t lineBytes = Le16(AP + 66);
  if (w <= 0 || h <= 0 || w > AMaxSide || h > AMaxSide) {
    pic.Error = "PCX of " + Num(w) + " x " + Num(h) + " dots does not fit a label";
    return pic;
  }
  if (bpp != 1 || planes != 1) {
    pic.Error = "PCX with " + Num(planes) + " planes of " + Num(bpp) + " bits is not drawn (1-bit only)";
    return pic;
  }
  // A line holds the width's bytes, padded to an even count (a little
  // more is tolerated).
  if (lineBytes * 8 < static_cast<size_t>(w) || lineBytes > static_cast<size_t>(w + 7) / 8 + 16) {
    pic.Error = "PCX lines of " + Num(static_cast<long long>(lineBytes)) +
                " bytes do not match its width of " + Num(w) + " dots";
    return pic;
  }
  const uint8_t* e0 = AP + 16;
  const uint8_t* e1 = AP + 19;
  const bool plain = std::equal(e0, e0 + 3, e1);
  const bool zeroDark = plain || Dark(e0[0], e0[1], e0[2]);
  const bool oneDark = !plain && Dark(e1[0], e1[1], e1[2]);
  const size_t total = lineBytes * static_cast<size_t>(h);
  std::vector<uint8_t> bytes;
  bytes.reserve(total);
  size_t at = 128;
  while (bytes.size() < total) {
    if (at >= AN) {
      pic.Error = "PCX data is cut short";
      return pic;
    }
    uint8_t b = AP[at++];
    size_t count = 1;
    if ((b & 0xC0) == 0xC0) {
      count = b & 0x3F;
      if (at >= AN) {
        pic.Error = "PCX data is cut short";
        return pic;
      }
      b = AP[at++];
    }
    bytes.insert(bytes.end(), std::min(count, total - bytes.size()), b);
  }
  pic.Width = static_cast<int>(w);
  pic.Height = static_cast<int>(h);
  pic.Dots.assign(static_cast<size_t>(w) * h, 0);
  for (long long y = 0; y < h; ++y)
    for (long long x = 0; x < w; ++x) {
      const bool one = (bytes[static_cast<size_t>(y) * lineBytes + x / 8] >> (7 - x % 8)) & 1;
      pic.Dots[static_cast<size_t>(y) * w + x] = (one ? oneDark : zeroDark) ? 1 : 0;
    }
  return pic;
}

// A file DOWNLOAD stored: its bytes in the job, or a program's lines.
struct TStoredFile {
  size_t From = 0, Size = 0;
  bool Program = false;
};

class TTspl {
 public:
  explicit TTspl(TJobContext& AContext)
      : C(AContext), P(AContext.Options.PrinterProfile()), FChineseMode(P.StartChineseMode) {
    FCodePage = FindEscPosCodePage(P.StartCodePage);
  }
  size_t Run(size_t AFrom, TRenderLanguage& ANext);

 private:
  uint8_t At(size_t AOffset) const { return C.Data[AOffset]; }

  bool ParseArgs(size_t AFrom, size_t AEnd, std::vector<TArg>& AArgs);
  static bool Int(const TArg& AArg, long long& AValue);
  long long IntArg(const std::vector<TArg>& AArgs, size_t AIndex, long long ADefault) const {
    long long v = ADefault;
    if (AIndex < AArgs.size() && Int(AArgs[AIndex], v)) return v;
    return ADefault;
  }
  bool NeedArgs(const std::vector<TArg>& AArgs, size_t ACount, const std::string& AName, size_t AAt);
  // Dots of a SIZE / GAP value: "40 mm", "2" (inch), "320 dot".
  bool Dimension(const std::string& AText, int& ADots) const;
  // The text state of TEXT and BLOCK: GBK (or the job's UTF-8) until
  // CODEPAGE selects a table.
  TTextState TextState() const {
    TTextState t;
    t.Charset = FUtf8 ? csUtf8 : C.Charset;
    t.ChineseMode = FChineseMode;
    t.CodePage = FCodePage;
    return t;
  }
  void CodePage(const std::vector<TArg>& AArgs, size_t AAt);

  TRenderPage& Label(size_t AAt);
  void CheckClip(size_t AAt, const std::string& AWhat);
  int X(long long AX) const { return static_cast<int>(std::clamp<long long>(AX + FRefX, -100000, 100000)); }
  int Y(long long AY) const { return static_cast<int>(std::clamp<long long>(AY + FRefY, -100000, 100000)); }

  // A text run drawn into a mask: its width and height in dots.
  std::vector<uint8_t> TextMask(const std::string& AText, const TTsplFont& AFont, int AXMul, int AYMul,
                                int& AW, int& AH, size_t AAt);
  void Text(const std::vector<TArg>& AArgs, size_t AAt);
  void Block(const std::vector<TArg>& AArgs, size_t AAt);
  void Barcode(const std::vector<TArg>& AArgs, size_t AAt);
  void QrCode(const std::vector<TArg>& AArgs, size_t AAt);
  void Pdf417(const std::vector<TArg>& AArgs, size_t AAt);
  void DataMatrix(const std::vector<TArg>& AArgs, size_t AAt);
  void Aztec(const std::vector<TArg>& AArgs, size_t AAt);
  void MaxiCode(const std::vector<TArg>& AArgs, size_t AAt);
  // Draws a code's mask (AW x AH cells, each AScaleX x AScaleY dots) at
  // (AU, AV) in the frame rotated by ARotation around (AX, AY); a code that
  // does not fit the label is not printed at all (an error finding).
  void DrawCode(size_t AAt, const std::string& AName, int AX, int AY, int ARotation, int AU, int AV,
                const uint8_t* AMask, int AW, int AH, int AScaleX, int AScaleY);
  size_t Bitmap(size_t AAt, size_t AArgsFrom);
  size_t Download(size_t AAt, size_t AArgsFrom);
  void PutPicture(const std::string& AWord, const std::vector<TArg>& AArgs, size_t AAt);
  // The commands from AAt up to ATo: the job, or a stored program.
  size_t RunLines(size_t AAt, size_t ATo, TRenderLanguage& ANext);
  static std::string FileKey(const std::string& AName) {
    std::string k;
    for (char c : AName) k += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return k;
  }
  void Print(const std::vector<TArg>& AArgs, size_t AAt);
  void Command(const std::string& AWord, size_t AAt, size_t AArgsFrom, size_t AEnd, size_t& ANext);

  TJobContext& C;
  const TPrinterProfile& P;
  bool FChineseMode = true, FUtf8 = false;
  const TCodePage* FCodePage = nullptr;
  std::unique_ptr<TRenderPage> FLabel;
  int FWidth = 0, FHeight = 0;  // from SIZE (0: none yet)
  int FRefX = 0, FRefY = 0;
  int FDirection = 0;
  bool FAnyCommand = false, FPrinted = false, FDrawnSincePrint = false;
  bool FSizeAssumedReported = false;
  std::vector<TPageMark> FMarks;
  std::map<std::string, TStoredFile> FFiles;
  int FRunDepth = 0;
  // Lines run from programs, over the whole job: calls cannot multiply
  // the work past this.
  static constexpr long long kMaxProgramLines = 20000;
  long long FProgramLines = 0;
  bool FProgramLimitReported = false, FDepthReported = false;
  void ProgramLimit(size_t AAt) {
    if (FProgramLimitReported) return;
    FProgramLimitReported = true;
    C.Find(fsWarning, AAt,
           "downloaded programs ran " + Num(kMaxProgramLines) + " lines; the rest of the calls are not run");
  }
};

bool TTspl::Int(const TArg& AArg, long long& AValue) {
  const std::string& t = AArg.Text;
  size_t i = 0;
  while (i < t.size() && t[i] == ' ') ++i;
  const bool neg = i < t.size() && t[i] == '-';
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
  const size_t digits = i;
  long long v = 0;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])) && v < 100000000)
    v = v * 10 + (t[i++] - '0');
  if (i == digits) return false;
  // A fraction ("1.5") is truncated.
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
  }
  while (i < t.size() && t[i] == ' ') ++i;
  if (i != t.size()) return false;
  AValue = neg ? -v : v;
  return true;
}

bool TTspl::Dimension(const std::string& AText, int& ADots) const {
  char* end = nullptr;
  const double v = std::strtod(AText.c_str(), &end);
  if (end == AText.c_str() || !(v >= 0) || v > 10000) return false;
  std::string unit(end);
  unit.erase(std::remove(unit.begin(), unit.end(), ' '), unit.end());
  for (char& c : unit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (unit == "mm")
    ADots = static_cast<int>(std::lround(v * P.DotsPerMm()));
  else if (unit == "dot" || unit == "dots")
    ADots = static_cast<int>(std::lround(v));
  else if (unit.empty())
    ADots = static_cast<int>(std::lround(v * P.Dpi));
  else
    return false;
  return true;
}

bool TTspl::ParseArgs(size_t AFrom, size_t AEnd, std::vector<TArg>& AArgs) {
  size_t i = AFrom;
  AArgs.clear();
  while (i < AEnd && (At(i) == ' ' || At(i) == '\t')) ++i;
  if (i >= AEnd) return true;
  for (;;) {
    TArg a;
    while (i < AEnd && (At(i) == ' ' || At(i) == '\t')) ++i;
    if (i < AEnd && At(i) == '"') {
      a.Quoted = true;
      ++i;
      bool closed = false;
      while (i < AEnd) {
        // \["] stands for a quote inside a string.
        if (At(i) == '\\' && i + 3 < AEnd && At(i + 1) == '[' && At(i + 2) == '"' && At(i + 3) == ']') {
          a.Text += '"';
          i += 4;
          continue;
        }
        if (At(i) == '"') {
          closed = true;
          ++i;
          break;
        }
        a.Text += static_cast<char>(At(i++));
      }
      if (!closed) return false;
      while (i < AEnd && (At(i) == ' ' || At(i) == '\t')) ++i;
    } else {
      while (i < AEnd && At(i) != ',') a.Text += static_cast<char>(At(i++));
      while (!a.Text.empty() && (a.Text.back() == ' ' || a.Text.back() == '\t')) a.Text.pop_back();
    }
    AArgs.push_back(std::move(a));
    if (i >= AEnd) return true;
    if (At(i) != ',') return false;
    ++i;
  }
}

bool TTspl::NeedArgs(const std::vector<TArg>& AArgs, size_t ACount, const std::string& AName, size_t AAt) {
  if (AArgs.size() >= ACount) return true;
  C.Find(fsWarning, AAt, AName + " needs " + Num(ACount) + " parameters, it has " + Num(AArgs.size()));
  return false;
}

TRenderPage& TTspl::Label(size_t AAt) {
  if (!FLabel) {
    if (FWidth <= 0 || FHeight <= 0) {
      if (!FSizeAssumedReported) {
        FSizeAssumedReported = true;
        C.Find(fsWarning, AAt,
               "drawing before SIZE: a label of " + Num(C.Options.Width) + " x 240 dots is assumed");
      }
      FWidth = C.Options.Width;
      FHeight = 240;
    }
    FLabel = std::make_unique<TRenderPage>(FWidth, FHeight, FHeight);
    FLabel->SetFixed(true);
  }
  FDrawnSincePrint = true;
  return *FLabel;
}

void TTspl::CheckClip(size_t AAt, const std::string& AWhat) {
  if (FLabel && FLabel->Clipped()) {
    FLabel->ResetClipped();
    C.Find(fsWarning, AAt, AWhat + " reaches outside the label");
  }
}

std::vector<uint8_t> TTspl::TextMask(const std::string& AText, const TTsplFont& AFont, int AXMul, int AYMul,
                                     int& AW, int& AH, size_t AAt) {
  // Characters first, to know the width.
  struct TChar {
    uint32_t Code;
    bool Wide;
  };
  std::vector<TChar> chars;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(AText.data());
  bool invalidReported = false;
  for (size_t i = 0; i < AText.size() && chars.size() < 1000;) {
    const TDecodedChar d = DecodeText(TextState(), p + i, AText.size() - i);
    if (!d.Valid && !invalidReported) {
      invalidReported = true;
      C.Find(fsWarning, AAt, "invalid " + TextStateName(TextState()) + " text");
    }
    chars.push_back({d.Code, d.Wide});
    i += d.Length;
  }
  int w = 0;
  for (const TChar& c : chars) w += (c.Wide ? AFont.H : AFont.W) * AXMul;
  AH = AFont.H * AYMul;
  // Bounded: a mask never holds more than 4 million dots.
  AW = std::min(w, std::max(1, (4 << 20) / std::max(1, AH)));
  std::vector<uint8_t> mask(static_cast<size_t>(AW) * AH, 0);
  int x = 0;
  for (const TChar& c : chars) {
    const int cw = c.Wide ? AFont.H : AFont.W;
    if (x + cw * AXMul > AW) break;
    const TGlyphMask g = TTextDrawing::Shared().Glyph(c.Code, cw, AFont.H, false, c.Wide);
    for (int y = 0; y < AH; ++y)
      for (int xx = 0; xx < cw * AXMul; ++xx)
        mask[static_cast<size_t>(y) * AW + x + xx] =
            g.Dots[static_cast<size_t>(std::min(y / AYMul, g.Height - 1)) * g.Width +
                   std::min(xx / AXMul, g.Width - 1)];
    x += cw * AXMul;
  }
  return mask;
}

int Rotation(long long AValue) {
  const long long r = ((AValue % 360) + 360) % 360;
  return r == 90 || r == 180 || r == 270 ? static_cast<int>(r) : 0;
}

void TTspl::Text(const std::vector<TArg>& AArgs, size_t AAt) {
  if (!NeedArgs(AArgs, 7, "TEXT", AAt)) return;
  const TArg& content = AArgs.back();
  bool scalable = false;
  const int xmul = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 4, 1), 1, 10));
  const int ymul = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 5, 1), 1, 10));
  const TTsplFont font = FontOf(AArgs[2].Text, static_cast<int>(IntArg(AArgs, 4, 12)),
                                static_cast<int>(IntArg(AArgs, 5, 12)), scalable, P.Dpi);
  if (!font.Known) C.Find(fsWarning, AAt, "unknown font \"" + AArgs[2].Text + "\"; font 3 drawn instead");
  int w = 0, h = 0;
  const std::vector<uint8_t> mask =
      TextMask(content.Text, font, scalable ? 1 : xmul, scalable ? 1 : ymul, w, h, AAt);
  const int align = AArgs.size() >= 8 ? static_cast<int>(IntArg(AArgs, 6, 0)) : 0;
  const int u = align == 2 ? -w / 2 : align == 3 ? -w : 0;
  DrawRotatedMask(Label(AAt), X(IntArg(AArgs, 0, 0)), Y(IntArg(AArgs, 1, 0)), Rotation(IntArg(AArgs, 3, 0)),
                  u, 0, mask.data(), w, h, 1, 1);
  CheckClip(AAt, "TEXT");
}

void TTspl::Block(const std::vector<TArg>& AArgs, size_t AAt) {
  if (!NeedArgs(AArgs, 9, "BLOCK", AAt)) return;
  const int bw = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 2, 0), 0, 20000));
  const int bh = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 3, 0), 0, 20000));
  const int xmul = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 6, 1), 1, 10));
  const int ymul = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 7, 1), 1, 10));
  bool scalable = false;
  const TTsplFont font = FontOf(AArgs[4].Text, static_cast<int>(IntArg(AArgs, 6, 12)),
                                static_cast<int>(IntArg(AArgs, 7, 12)), scalable, P.Dpi);
  const int sx = scalable ? 1 : xmul, sy = scalable ? 1 : ymul;
  const int space =
      AArgs.size() >= 10 ? static_cast<int>(std::clamp<long long>(IntArg(AArgs, 8, 0), 0, 500)) : 0;
  const int align = AArgs.size() >= 11 ? static_cast<int>(IntArg(AArgs, 9, 0)) : 0;
  // Lines broken at the block's width, at spaces where possible.
  const std::string& text = AArgs.back().Text;
  std::vector<std::string> lines;
  std::string line;
  int lineW = 0;
  size_t lastSpace = std::string::npos;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t i = 0; i < text.size();) {
    const TDecodedChar d = DecodeText(TextState(), p + i, text.size() - i);
    const int cw = (d.Wide ? font.H : font.W) * sx;
    if (lineW + cw > bw && !line.empty()) {
      if (lastSpace != std::string::npos && d.Code != ' ') {
        std::string rest = line.substr(lastSpace + 1);
        line.erase(lastSpace);
        lines.push_back(line);
        line = rest;
        lineW = 0;
        for (size_t k = 0; k < line.size();) {
          const TDecodedChar e =
              DecodeText(TextState(), reinterpret_cast<const uint8_t*>(line.data()) + k, line.size() - k);
          lineW += (e.Wide ? font.H : font.W) * sx;
          k += e.Length;
        }
      } else {
        lines.push_back(line);
        line.clear();
        lineW = 0;
      }
      lastSpace = std::string::npos;
      if (d.Code == ' ') {
        i += d.Length;
        continue;
      }
    }
    if (d.Code == ' ') lastSpace = line.size();
    line.append(text, i, d.Length);
    lineW += cw;
    i += d.Length;
  }
  if (!line.empty()) lines.push_back(line);
  const int x = X(IntArg(AArgs, 0, 0)), y = Y(IntArg(AArgs, 1, 0)), rot = Rotation(IntArg(AArgs, 5, 0));
  int v = 0;
  TRenderPage& page = Label(AAt);
  for (size_t k = 0; k < lines.size(); ++k) {
    int w = 0, h = 0;
    const std::vector<uint8_t> mask = TextMask(lines[k], font, sx, sy, w, h, AAt);
    if (v + h > bh) {
      C.Find(fsWarning, AAt, "BLOCK text does not fit its " + Num(bh) + "-dot height");
      break;
    }
    const int u = align == 2 ? (bw - w) / 2 : align == 3 ? bw - w : 0;
    DrawRotatedMask(page, x, y, rot, u, v, mask.data(), w, h, 1, 1);
    v += h + space;
  }
  CheckClip(AAt, "BLOCK");
}

void TTspl::Barcode(const std::vector<TArg>& AArgs, size_t AAt) {
  if (!NeedArgs(AArgs, 9, "BARCODE", AAt)) return;
  std::string type = AArgs[2].Text;
  for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string data = AArgs.back().Text;
  int symbology = 0, option2 = 0;
  bool gs1 = false;
  if (type == "128") {
    symbology = BARCODE_CODE128;
  } else if (type == "128M") {
    // !nnn: code set changes and function codes; libzint picks the code
    // sets itself, so only the data characters are kept.
    symbology = BARCODE_CODE128;
    std::string plain;
    char set = 'B';
    for (size_t i = 0; i < data.size(); ++i) {
      if (data[i] == '!' && i + 3 < data.size() && std::isdigit(static_cast<unsigned char>(data[i + 1])) &&
          std::isdigit(static_cast<unsigned char>(data[i + 2])) &&
          std::isdigit(static_cast<unsigned char>(data[i + 3]))) {
        const std::string digits = data.substr(i + 1, 3);
        const int code = std::atoi(digits.c_str());
        i += 3;
        if (code == 103 || code == 101) set = code == 103 || set != 'A' ? 'A' : set;
        if (code == 104 || code == 100) set = 'B';
        if (code == 105 || code == 99) set = 'C';
        if (code == 96 || code == 97 || code == 102)
          C.Find(fsInfo, AAt,
                 std::string(code == 96   ? "FNC3"
                             : code == 97 ? "FNC2"
                                          : "FNC1") +
                     " (!" + digits + ") is not drawn; the symbol carries the same data characters");
        continue;
      }
      if (set == 'C' && std::isdigit(static_cast<unsigned char>(data[i])) && i + 1 < data.size()) {
        plain += data[i];
        plain += data[++i];
        continue;
      }
      plain += data[i];
    }
    data = plain;
  } else if (type == "EAN128") {
    symbology = BARCODE_GS1_128;
    gs1 = true;
  } else if (type == "25") {
    symbology = BARCODE_C25INTER;
  } else if (type == "25C") {
    symbology = BARCODE_C25INTER;
    option2 = 1;
  } else if (type == "25S") {
    symbology = BARCODE_C25STANDARD;
  } else if (type == "25I") {
    symbology = BARCODE_C25IND;
  } else if (type == "39" || type == "39S") {
    symbology = BARCODE_CODE39;
  } else if (type == "39C") {
    symbology = BARCODE_CODE39;
    option2 = 1;
  } else if (type == "93") {
    symbology = BARCODE_CODE93;
  } else if (type == "EAN13") {
    symbology = BARCODE_EANX;
  } else if (type == "EAN8") {
    // 7 digits, or 8 with the check digit (verified).
    symbology = data.size() == 8 ? BARCODE_EANX_CHK : BARCODE_EANX;
    const bool digits = std::all_of(data.begin(), data.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits && data.size() != 7 && data.size() != 8) {
      C.Find(fsWarning, AAt, "barcode not printed: EAN8 takes 7 digits, or 8 with the check digit");
      return;
    }
  } else if (type == "UPCA") {
    symbology = BARCODE_UPCA;
  } else if (type == "UPCE") {
    symbology = BARCODE_UPCE;
  } else if (type == "CODA") {
    symbology = BARCODE_CODABAR;
  } else if (type == "ITF14") {
    symbology = BARCODE_ITF14;
  } else if (type == "MSI") {
    symbology = BARCODE_MSI_PLESSEY;
  } else if (type == "11") {
    symbology = BARCODE_CODE11;
  } else {
    C.Find(fsWarning, AAt, "unknown barcode type \"" + AArgs[2].Text + "\"");
    return;
  }
  const TCodeFamily family =
      symbology == BARCODE_CODE128 || symbology == BARCODE_GS1_128                          ? cfCode128
      : symbology == BARCODE_CODE39                                                         ? cfCode39
      : symbology == BARCODE_CODE93                                                         ? cfCode93
      : symbology == BARCODE_CODABAR                                                        ? cfCodabar
      : symbology == BARCODE_EANX || symbology == BARCODE_UPCA || symbology == BARCODE_UPCE ? cfUpcEan
                                                                                            : cfItf;
  if ((symbology != BARCODE_MSI_PLESSEY && symbology != BARCODE_CODE11) && !C.ProfileDraws(family, AAt))
    return;
  if (gs1 && !data.empty() && data[0] != '[') {
    // EAN128 data written as digits: application identifiers are not
    // marked, read it as one "(01)"-style string.
    C.Find(fsWarning, AAt, "EAN128 data needs its application identifiers in brackets, e.g. [01]");
  }
  const TLinearCode code = EncodeLinearCode(symbology, data, option2, gs1);
  if (!code.Ok) {
    C.Find(fsWarning, AAt, "barcode not printed: " + code.Error);
    return;
  }
  const int height = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 3, 0), 1, 4000));
  const int readable = static_cast<int>(IntArg(AArgs, 4, 0));
  const int narrow = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 6, 1), 1, 10));
  const int wide = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 7, narrow), narrow, 30));
  const int align = AArgs.size() >= 10 ? static_cast<int>(IntArg(AArgs, 8, 0)) : 0;
  const std::vector<uint8_t> dots = LinearCodeDots(code, IsTwoWidthSymbology(symbology), narrow, wide);
  const int w = static_cast<int>(dots.size());
  // Bars, then the human-readable line under them.
  const TTsplFont hriFont{12, 20, true};
  int tw = 0, th = 0;
  std::vector<uint8_t> text;
  if (readable > 0) text = TextMask(code.Text.empty() ? data : code.Text, hriFont, 1, 1, tw, th, AAt);
  const int total = height + (readable > 0 ? th + 2 : 0);
  const int maskW = std::max(w, tw);
  std::vector<uint8_t> mask(static_cast<size_t>(maskW) * total, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < w; ++x) mask[static_cast<size_t>(y) * maskW + x] = dots[x];
  if (readable > 0) {
    const int tx = readable == 1 ? 0 : readable == 3 ? std::max(0, w - tw) : std::max(0, (w - tw) / 2);
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < tw && tx + x < maskW; ++x)
        mask[static_cast<size_t>(height + 2 + y) * maskW + tx + x] = text[static_cast<size_t>(y) * tw + x];
  }
  const int u = align == 2 ? -w / 2 : align == 3 ? -w : 0;
  DrawCode(AAt, "BARCODE", X(IntArg(AArgs, 0, 0)), Y(IntArg(AArgs, 1, 0)), Rotation(IntArg(AArgs, 5, 0)), u,
           0, mask.data(), maskW, total, 1, 1);
}

void TTspl::QrCode(const std::vector<TArg>& AArgs, size_t AAt) {
  if (!NeedArgs(AArgs, 7, "QRCODE", AAt)) return;
  if (!C.ProfileDraws(cfQr, AAt)) return;
  const std::string level = AArgs[2].Text;
  const int ecc = level == "M" ? 2 : level == "Q" ? 3 : level == "H" ? 4 : 1;
  const int cell = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 3, 4), 1, 20));
  std::string data = AArgs.back().Text;
  if (!AArgs[4].Text.empty() && std::toupper(static_cast<unsigned char>(AArgs[4].Text[0])) == 'M' &&
      !data.empty()) {
    // Manual mode: the data starts with its mode (N, A, K, or B and a
    // four-digit length).
    const char m = static_cast<char>(std::toupper(static_cast<unsigned char>(data[0])));
    data.erase(0, m == 'B' ? std::min<size_t>(5, data.size()) : 1);
  }
  // [model,mask,] after the rotation: M1 or M2, S0 to S8.
  if (AArgs.size() >= 8 && (AArgs[6].Text == "M1" || AArgs[6].Text == "m1")) {
    if (C.Options.PrinterProfile().HasCode(cfQrModel1))
      C.Find(fsInfo, AAt, "QR code model 1 is drawn as model 2 (the same data; libzint has no model 1)");
    else
      C.Find(fsWarning, AAt,
             "QR code model 1 is not a code the " + C.Options.PrinterProfile().Name +
                 " printer draws: model 2 is printed");
  }
  const TMatrixCode code = EncodeQrCode(data, ecc);
  if (!code.Ok) {
    C.Find(fsWarning, AAt, "QR code not printed: " + code.Error);
    return;
  }
  DrawCode(AAt, "QRCODE", X(IntArg(AArgs, 0, 0)), Y(IntArg(AArgs, 1, 0)), Rotation(IntArg(AArgs, 5, 0)), 0, 0,
           code.Modules.data(), code.Width, code.Height, cell, cell);
}

void TTspl::DrawCode(size_t AAt, const std::string& AName, int AX, int AY, int ARotation, int AU, int AV,
                     const uint8_t* AMask, int AW, int AH, int AScaleX, int AScaleY) {
  TRenderPage& label = Label(AAt);
  // The corners of the code on the label, as the rotated frame maps them.
  const long long u0 = AU, v0 = AV, u1 = AU + static_cast<long long>(AW) * AScaleX - 1,
                  v1 = AV + static_cast<long long>(AH) * AScaleY - 1;
  long long x0, y0, x1, y1;
  switch (ARotation) {
    case 90:
      x0 = AX - 1 - v1, x1 = AX - 1 - v0, y0 = AY + u0, y1 = AY + u1;
      break;
    case 180:
      x0 = AX - 1 - u1, x1 = AX - 1 - u0, y0 = AY - 1 - v1, y1 = AY - 1 - v0;
      break;
    case 270:
      x0 = AX + v0, x1 = AX + v1, y0 = AY - 1 - u1, y1 = AY - 1 - u0;
      break;
    default:
      x0 = AX + u0, x1 = AX + u1, y0 = AY + v0, y1 = AY + v1;
      break;
  }
  if (x0 < 0 || y0 < 0 || x1 >= label.Width() || y1 >= label.Height()) {
    C.Find(fsError, AAt,
           AName + " does not fit the label: it takes dots " + Num(x0) + "," + Num(y0) + " to " + Num(x1) +
               "," + Num(y1) + " of a " + Num(label.Width()) + " x " + Num(label.Height()) +
               "-dot label; nothing is printed");
    return;
  }
  DrawRotatedMask(label, AX, AY, ARotation, AU, AV, AMask, AW, AH, AScaleX, AScaleY);
}

namespace {

// A letter-prefixed option ("E4", "x6"): its letter (upper case) and value.
bool LetterOption(const std::string& AText, char& ALetter, long long& AValue) {
  if (AText.size() < 2 || !std::isalpha(static_cast<unsigned char>(AText[0]))) return false;
  char* end = nullptr;
  const long long v = std::strtoll(AText.c_str() + 1, &end, 10);
  if (end == AText.c_str() + 1 || *end != '\0') return false;
  ALetter = static_cast<char>(std::toupper(static_cast<unsigned char>(AText[0])));
  AValue = v;
  return true;
}

bool IsNumber(const std::string& AText) {
  return !AText.empty() && AText.size() <= 9 && std::all_of(AText.begin(), AText.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c));
  });
}

}  // namespace

void TTspl::Pdf417(const std::vector<TArg>& AArgs, size_t AAt) {
  if (!NeedArgs(AArgs, 6, "PDF417", AAt)) return;
  if (!C.ProfileDraws(static_cast<TCodeFamily>(TsplCodeFamily("PDF417")), AAt)) return;
  const int areaW = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 2, 0), 0, 20000));
  const int areaH = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 3, 0), 0, 20000));
  TPdf417Options o;
  int module = 3, rowHeight = 0, centre = 0;
  long long length = -1;
  for (size_t i = 5; i + 1 < AArgs.size(); ++i) {
    char letter = 0;
    long long v = 0;
    if (!LetterOption(AArgs[i].Text, letter, v)) {
      C.Find(fsWarning, AAt, "PDF417 option \"" + AArgs[i].Text + "\" is not known; ignored");
      continue;
    }
    switch (letter) {
      case 'P':
        break;  // compaction: the encoder picks the densest
      case 'E':
        o.EccLevel = static_cast<int>(std::clamp<long long>(v, 0, 8));
        break;
      case 'M':
        centre = v == 1;
        break;
      case 'U':
        // Ux,y,c: a human-readable line at x,y, c characters a line.
        while (i + 2 < AArgs.size() && IsNumber(AArgs[i + 1].Text)) ++i;
        C.Find(fsInfo, AAt, "the PDF417 human-readable line (U) is not drawn");
        break;
      case 'W':
        module = static_cast<int>(std::clamp<long long>(v, 2, 9));
        break;
      case 'H':
        rowHeight = static_cast<int>(std::clamp<long long>(v, 4, 99));
        break;
      case 'R':
        o.Rows = static_cast<int>(std::clamp<long long>(v, 3, 90));
        break;
      case 'C':
        o.Columns = static_cast<int>(std::clamp<long long>(v, 1, 30));
        break;
      case 'T':
        o.Truncated = v == 1;
        break;
      case 'L':
        length = std::clamp<long long>(v, 1, 2048);
        break;
      default:
        C.Find(fsWarning, AAt, "PDF417 option \"" + AArgs[i].Text + "\" is not known; ignored");
        break;
    }
  }
  if (rowHeight == 0) rowHeight = module * 3;
  std::string data = AArgs.back().Text;
  if (length >= 0 && static_cast<size_t>(length) < data.size()) data.resize(static_cast<size_t>(length));
  TMatrixCode code = EncodePdf417(data, o);
  if (code.Ok && o.Columns == 0 && areaW > 0 && code.Width * module > areaW) {
    // Automatic columns stay within the area when they can.
    TPdf417Options narrower = o;
    narrower.Columns = std::clamp((areaW / module - (o.Truncated ? 35 : 69)) / 17, 1, 30);
    const TMatrixCode again = EncodePdf417(data, narrower);
    if (again.Ok) code = again;
  }
  if (!code.Ok) {
    C.Find(fsWarning, AAt, "PDF417 not printed: " + code.Error);
    return;
  }
  const int w = code.Width * module, h = code.Height * rowHeight;
  if ((areaW > 0 && w > areaW) || (areaH > 0 && h > areaH))
    C.Find(fsWarning, AAt,
           "PDF417 of " + Num(w) + " x " + Num(h) + " dots is larger than its " + Num(areaW) + " x " +
               Num(areaH) + "-dot area");
  const int u = centre ? std::max(0, (areaW - w) / 2) : 0, v = centre ? std::max(0, (areaH - h) / 2) : 0;
  DrawCode(AAt, "PDF417", X(IntArg(AArgs, 0, 0)), Y(IntArg(AArgs, 1, 0)), Rotation(IntArg(AArgs, 4, 0)), u, v,
           code.Modules.data(), code.Width, code.Height, module, rowHeight);
}

void TTspl::DataMatrix(const std::vector<TArg>& AArgs, size_t AAt) {
  if (!NeedArgs(AArgs, 5, "DMATRIX", AAt)) return;
  if (!C.ProfileDraws(static_cast<TCodeFamily>(TsplCodeFamily("DMATRIX")), AAt)) return;
  const int areaW = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 2, 0), 0, 20000));
  const int areaH = static_cast<int>(std::clamp<long long>(IntArg(AArgs, 3, 0), 0, 20000));
  int escape = -1, module = 0, rotation = 0, rows = 0, cols = 0, sizes = 0;
  bool rectangle = false;
  for (size_t i = 4; i + 1 < AArgs.size(); ++i) {
    char letter = 0;
    long long v = 0;
    if (IsNumber(AArgs[i].Text)) {
      // row, then col
      (sizes++ == 0 ? rows : cols) =
          static_cast<int>(std::clamp<long long>(std::atoll(AArgs[i].Text.c_str()), 0, 144));
      continue;
    }
    if (!LetterOption(AArgs[i].Text, letter, v)) {
      C.Find(fsWarning, AAt, "DMATRIX option \"" + AArgs[i].Text + "\" is not known; ignored");
      continue;
    }
    if (letter == 'C')
      escape = static_cast<int>(std::clamp<long long>(v, 0, 255));
    else if (letter == 'X')
      module = static_cast<int>(std::clamp<long long>(v, 1, 40));
    else if (letter == 'R')
      rotation = Rotation(v);
    else if (letter == 'A')
      rectangle = v == 1;
    else
      C.Find(fsWarning, AAt, "DMATRIX option \"" + AArgs[i].Text + "\" is not known; ignored");
  }
  if (sizes == 1) cols = rows;
  // With an escape character: e1 FNC1, eX a control character (@ .. _),
  // ednnn a byte, ee the character itself.
  const std::string& text = AArgs.back().Text;
  std::string data;
  bool gs1 = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (escape < 0 || c != escape || i + 1 >= text.size()) {
      data += static_cast<char>(c);
      continue;
    }
    const unsigned char f = static_cast<unsigned char>(text[++i]);
    if (f == '1') {
      if (data.empty())
        gs1 = true;
      else
        data += '\x1d';
    } else if (f == 'd' && i + 3 < text.size() && IsNumber(text.substr(i + 1, 3))) {
      data += static_cast<char>(std::min(255, std::atoi(text.substr(i + 1, 3).c_str())));
      i += 3;
    } else if (f >= '@' && f <= '_') {
      data += static_cast<char>(f - '@');
    } else {
      data += static_cast<char>(f);
    }
  }
  const TMatrixCode code = EncodeDataMatrix(data, rectangle, rows, cols, gs1);
  if (!code.Ok) {
    C.Find(fsWarning, AAt, "DataMatrix not printed: " + code.Error);
    return;
  }
  if (module == 0) {
    // No module size: the largest that fits the area.
    module = std::max(1, std::min(areaW > 0 ? areaW / code.Width : 6, areaH > 0 ? areaH / code.Height : 6));
    module = std::min(module, 40);
  }
  DrawCode(AAt, "DMATRIX", X(IntArg(AArgs, 0, 0)), Y(IntArg(AArgs, 1, 0)), rotation, 0, 0,
           code.Modules.data(), code.Width, code.Height, module, module);
}

void TTspl::Aztec(const std::vector<TArg>& AArgs, size_t AAt) {
  if (!NeedArgs(AArgs, 4, "AZTEC", AAt)) return;
  if (!C.ProfileDraws(static_cast<TCodeFamily>(TsplCodeFamily("AZTEC")), AAt)) return;
  // size, ecp, flg, menu, multi, rev: positional, each optional.
  long long v[6] = {6, 0, 0, 0, 1, 0};
  const size_t given = AArgs.size() - 4;
  for (size_t i = 0; i < std::min<size_t>(given, 6); ++i) v[i] = IntArg(AArgs, 3 + i, v[i]);
  const int module = static_cast<int>(std::clamp<long long>(v[0], 1, 20));
  const long long ecp = v[1];
  if (v[3] == 1) C.Find(fsInfo, AAt, "an AZTEC menu (reader programming) symbol is drawn as a data symbol");
  if (v[4] > 1) C.Find(fsInfo, AAt, "AZTEC structured append is not drawn: one symbol holds all the data");
  std::string data = AArgs.back().Text;
  TMatrixCode code;
  if (ecp == 300) {
    code = IsNumber(data) ? EncodeAztecRune(std::atoi(data.c_str()))
                          : TMatrixCode{false, "an Aztec rune is a value from 0 to 255", 0, 0, {}};
  } else if (ecp >= 101 && ecp <= 104) {
    code = EncodeAztec(data, 1, static_cast<int>(ecp - 100), 23);
  } else if (ecp >= 201 && ecp <= 232) {
    code = EncodeAztec(data, 0, static_cast<int>(ecp - 200), 23);
  } else {
    code = EncodeAztec(data, -1, 0, ecp >= 1 && ecp <= 99 ? static_cast<int>(ecp) : 23);
  }
  if (!code.Ok) {
    C.Find(fsWarning, AAt, "Aztec code not printed: " + code.Error);
    return;
  }
  if (v[5] == 1)
    for (uint8_t& m : code.Modules) m = !m;
  DrawCode(AAt, "AZTEC", X(IntArg(AArgs, 0, 0)), Y(IntArg(AArgs, 1, 0)), Rotation(IntArg(AArgs, 2, 0)), 0, 0,
           code.Modules.data(), code.Width, code.Height, module, module);
}

void TTspl::MaxiCode(const std::vector<TArg>& AArgs, size_t AAt) {
  if (!NeedArgs(AArgs, 4, "MAXICODE", AAt)) return;
  if (!C.ProfileDraws(static_cast<TCodeFamily>(TsplCodeFamily("MAXICODE")), AAt)) return;
  const long long mode = IntArg(AArgs, 2, 0);
  std::vector<std::string> fields;
  for (size_t i = 3; i + 1 < AArgs.size(); ++i) {
    char letter = 0;
    long long len = 0;
    if (LetterOption(AArgs[i].Text, letter, len) && letter == 'L') continue;  // the content's length
    fields.push_back(AArgs[i].Text);
  }
  std::string data = AArgs.back().Text;
  if (mode == 2 || mode == 3) {
    // class, country, postal code ("99999,9999" in the United States).
    if (fields.size() < 3) {
      C.Find(fsWarning, AAt, "MAXICODE mode " + Num(mode) + " needs class, country and postal code");
      return;
    }
    std::string post = fields[2];
    for (size_t i = 3; i < fields.size(); ++i) post += fields[i];
    data = post + '\x1d' + fields[1] + '\x1d' + fields[0] + '\x1d' + data;
  }
  const TMatrixCode code = EncodeMaxiCode(static_cast<int>(mode), data);
  if (!code.Ok) {
    C.Find(fsWarning, AAt, "MaxiCode not printed: " + code.Error);
    return;
  }
  DrawCode(AAt, "MAXICODE", X(IntArg(AArgs, 0, 0)), Y(IntArg(AArgs, 1, 0)), 0, 0, 0, code.Modules.data(),
           code.Width, code.Height, 1, 1);
}

size_t TTspl::Bitmap(size_t AAt, size_t AArgsFrom) {
  // BITMAP x,y,width in bytes,height,mode,data: the data is binary and
  // starts right after the fifth comma.
  size_t i = AArgsFrom;
  std::vector<long long> v;
  std::string cur;
  while (i < C.Size && v.size() < 5 && i - AArgsFrom < 80) {
    const uint8_t c = At(i++);
    if (c == ',') {
      TArg a;
      a.Text = cur;
      long long n = 0;
      if (!Int(a, n)) break;
      v.push_back(n);
      cur.clear();
    } else if (c == '\r' || c == '\n') {
      break;
    } else {
      cur += static_cast<char>(c);
    }
  }
  if (v.size() < 5) {
    C.Add(AAt, i - AAt, "BITMAP", "malformed");
    C.Find(fsWarning, AAt, "BITMAP needs x,y,width,height,mode, before its data");
    return i;
  }
  const long long bytes = std::clamp<long long>(v[2], 0, 100000),
                  rows = std::clamp<long long>(v[3], 0, 100000);
  const size_t need = static_cast<size_t>(bytes * rows);
  const size_t avail = C.Size - i;
  static const char* const kModes[] = {"overwrite", "OR", "XOR"};
  const int mode = v[4] >= 0 && v[4] <= 2 ? static_cast<int>(v[4]) : 0;
  C.Add(AAt, i - AAt + std::min(need, avail), "BITMAP",
        Num(v[0]) + "," + Num(v[1]) + " " + Num(bytes * 8) + " x " + Num(rows) + " dots, " + kModes[mode]);
  if (v[4] < 0 || v[4] > 2) C.Find(fsWarning, AAt, "BITMAP mode " + Num(v[4]) + " is not 0, 1 or 2");
  int drawRows = static_cast<int>(rows);
  if (need > avail) {
    C.Find(fsWarning, AAt,
           "BITMAP needs " + Num(need) + " bytes of data, the job has " + Num(avail) + " left");
    drawRows = bytes > 0 ? static_cast<int>(avail / bytes) : 0;
  }
  if (bytes > 0 && drawRows > 0) {
    const TDotMode dm = mode == 0 ? dmCopy : mode == 1 ? dmSet : dmXor;
    Label(AAt).DrawPacked(X(v[0]), Y(v[1]), C.Data + i, static_cast<int>(bytes), static_cast<int>(bytes * 8),
                          drawRows, false, dm);
    CheckClip(AAt, "BITMAP");
  }
  return i + std::min(need, avail);
}

// DOWNLOAD [F|E,]"NAME",SIZE,DATA stores SIZE bytes of the job under NAME;
// DOWNLOAD [F|E,]"NAME.BAS" stores the program lines up to EOP.
size_t TTspl::Download(size_t AAt, size_t AArgsFrom) {
  size_t lineEnd = AArgsFrom;
  while (lineEnd < C.Size && At(lineEnd) != '\r' && At(lineEnd) != '\n') ++lineEnd;
  auto malformed = [&](const std::string& AWhy) {
    C.Add(AAt, lineEnd - AAt, "DOWNLOAD", "malformed", lsNotDrawn);
    C.Find(fsWarning, AAt, "DOWNLOAD " + AWhy);
    return lineEnd;
  };
  auto blanks = [&](size_t& AI) {
    while (AI < lineEnd && (At(AI) == ' ' || At(AI) == '\t')) ++AI;
  };
  size_t i = AArgsFrom;
  blanks(i);
  if (i < lineEnd && (std::toupper(At(i)) == 'F' || std::toupper(At(i)) == 'E')) {
    size_t j = i + 1;
    blanks(j);
    if (j < lineEnd && At(j) == ',') {
      i = j + 1;
      blanks(i);
    }
  }
  if (i >= lineEnd || At(i) != '"') return malformed("needs a file name in quotes");
  const size_t nameFrom = ++i;
  while (i < lineEnd && At(i) != '"' && i - nameFrom < 64) ++i;
  if (i >= lineEnd || At(i) != '"' || i == nameFrom) return malformed("has no closed file name");
  const std::string name(reinterpret_cast<const char*>(C.Data) + nameFrom, i - nameFrom);
  ++i;
  blanks(i);
  if (i < lineEnd && At(i) == ',') {
    // The data form: the size, a comma, then that many bytes of any value.
    ++i;
    blanks(i);
    unsigned long long size = 0;
    const size_t digits = i;
    while (i < C.Size && std::isdigit(At(i)) && i - digits < 12) size = size * 10 + (At(i++) - '0');
    blanks(i);
    if (i == digits || i >= C.Size || At(i) != ',') return malformed("\"" + name + "\" needs SIZE,DATA");
    ++i;
    const size_t avail = C.Size - i;
    if (size > avail) {
      C.Add(AAt, C.Size - AAt, "DOWNLOAD",
            "\"" + name + "\", " + Num(static_cast<long long>(size)) + " bytes", lsNotDrawn);
      C.Find(fsWarning, AAt,
             "DOWNLOAD \"" + name + "\" announces " + Num(static_cast<long long>(size)) +
                 " bytes, the job has " + Num(static_cast<long long>(avail)) +
                 " left; the file is not stored");
      return C.Size;
    }
    // A .BAS file sent this way is a program like one sent line by line.
    const std::string key = FileKey(name);
    const bool program = key.size() > 4 && key.compare(key.size() - 4, 4, ".BAS") == 0;
    FFiles[key] = {i, static_cast<size_t>(size), program};
    C.Add(AAt, i - AAt + size, "DOWNLOAD",
          "\"" + name + "\", " + Num(static_cast<long long>(size)) + " bytes", lsNoVisibleEffect);
    return i + size;
  }
  if (i != lineEnd) return malformed("\"" + name + "\" is followed by something other than SIZE,DATA");
  // The program form: lines up to one that is EOP.
  size_t at = lineEnd, bodyEnd = C.Size, next = C.Size;
  int lines = 0;
  while (at < C.Size) {
    while (at < C.Size && (At(at) == '\r' || At(at) == '\n')) ++at;
    if (at >= C.Size) break;
    size_t end = at;
    while (end < C.Size && At(end) != '\r' && At(end) != '\n') ++end;
    size_t a = at, b = end;
    while (a < b && (At(a) == ' ' || At(a) == '\t')) ++a;
    while (b > a && (At(b - 1) == ' ' || At(b - 1) == '\t')) --b;
    if (b - a == 3 && std::toupper(At(a)) == 'E' && std::toupper(At(a + 1)) == 'O' &&
        std::toupper(At(a + 2)) == 'P') {
      bodyEnd = at;
      next = end;
      break;
    }
    ++lines;
    at = end;
  }
  if (bodyEnd == C.Size)
    C.Find(fsWarning, AAt, "DOWNLOAD program \"" + name + "\" has no EOP; the rest of the job is its body");
  FFiles[FileKey(name)] = {lineEnd, bodyEnd - lineEnd, true};
  C.Add(AAt, next - AAt, "DOWNLOAD", "program \"" + name + "\", " + Num(lines) + " lines", lsNoVisibleEffect);
  return next;
}

// PUTBMP x,y,"NAME"[,bpp,contrast] and PUTPCX x,y,"NAME": a picture the
// job downloaded, its top left corner at x,y.
void TTspl::PutPicture(const std::string& AWord, const std::vector<TArg>& AArgs, size_t AAt) {
  TListingStatus& status = C.Listing.Lines().back().Status;
  if (!NeedArgs(AArgs, 3, AWord, AAt)) {
    status = lsNotDrawn;
    return;
  }
  const auto f = FFiles.find(FileKey(AArgs[2].Text));
  if (f == FFiles.end() || f->second.Program) {
    status = lsNotDrawn;
    C.Find(fsWarning, AAt,
           AWord + " \"" + AArgs[2].Text +
               "\": the job downloads no such file (one stored in the printer is not drawn)");
    return;
  }
  const TPicture pic = AWord == "PUTBMP"
                           ? ReadBmp(C.Data + f->second.From, f->second.Size, C.Options.MaxLabelDots)
                           : ReadPcx(C.Data + f->second.From, f->second.Size, C.Options.MaxLabelDots);
  if (!pic.Error.empty()) {
    status = lsNotDrawn;
    C.Find(fsWarning, AAt, AWord + " \"" + AArgs[2].Text + "\": " + pic.Error);
    return;
  }
  Label(AAt).DrawMask(X(IntArg(AArgs, 0, 0)), Y(IntArg(AArgs, 1, 0)), pic.Dots.data(), pic.Width, pic.Height);
  CheckClip(AAt, AWord);
}

void TTspl::Print(const std::vector<TArg>& AArgs, size_t AAt) {
  const long long sets = IntArg(AArgs, 0, 1), copies = IntArg(AArgs, 1, 1);
  FPrinted = true;
  FDrawnSincePrint = false;
  if (sets < 1 || copies < 0) {
    C.Find(fsWarning, AAt, "PRINT " + Num(sets) + "," + Num(copies) + " prints nothing");
    return;
  }
  Label(AAt);
  FDrawnSincePrint = false;
  for (long long k = 0; k < sets && k <= C.Options.MaxPages; ++k) {
    TRenderedPage page;
    page.Job = C.Job;
    page.Language = rlTspl;
    page.Copies = static_cast<int>(std::min<long long>(copies, 1000000));
    page.Page = *FLabel;
    if (k == 0) page.Marks = std::move(FMarks);
    FMarks.clear();
    C.AddPage(std::move(page), AAt);
  }
}

void TTspl::CodePage(const std::vector<TArg>& AArgs, size_t AAt) {
  if (!NeedArgs(AArgs, 1, "CODEPAGE", AAt)) return;
  std::string name;
  for (char c : AArgs[0].Text) name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name == "UTF-8" || name == "UTF8") {
    FUtf8 = true;
    return;
  }
  FUtf8 = false;
  const TCodePage* page = FindTsplCodePage(name);
  if (!page) {
    C.Find(fsWarning, AAt,
           "CODEPAGE " + AArgs[0].Text + " is not a code page this printer has; PC437 is drawn");
    page = &DefaultCodePage();
  }
  FCodePage = page;
  FChineseMode = false;
  C.Listing.Lines().back().Arguments += " (" + page->Name + ")";
}

void TTspl::Command(const std::string& AWord, size_t AAt, size_t AArgsFrom, size_t AEnd, size_t& ANext) {
  std::string word;
  for (char c : AWord) word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ANext = AEnd;
  if (word == "BITMAP") {
    ANext = Bitmap(AAt, AArgsFrom);
    return;
  }
  if (word == "DOWNLOAD") {
    ANext = Download(AAt, AArgsFrom);
    return;
  }
  std::vector<TArg> args;
  const bool parsed = ParseArgs(AArgsFrom, AEnd, args);
  std::string shown = TextToUtf8(TextState(), C.Data + AArgsFrom, AEnd - AArgsFrom);
  while (!shown.empty() && shown.front() == ' ') shown.erase(0, 1);
  C.Add(AAt, AEnd - AAt, word, shown);
  if (!parsed) {
    C.Find(fsWarning, AAt, word + " parameters are malformed (an unclosed string or a missing comma)");
    return;
  }
  if (word == "SIZE") {
    int w = 0, h = 0;
    if (args.size() != 2 || !Dimension(args[0].Text, w) || !Dimension(args[1].Text, h) || w <= 0 || h <= 0) {
      C.Find(fsWarning, AAt, "SIZE needs a width and a height (mm, inch or dot)");
      return;
    }
    if (w > C.Options.MaxLabelDots || h > C.Options.MaxLabelDots) {
      C.Find(fsWarning, AAt,
             "SIZE " + Num(w) + " x " + Num(h) + " dots is larger than " + Num(C.Options.MaxLabelDots) +
                 " dots; it is cut down");
      w = std::min(w, C.Options.MaxLabelDots);
      h = std::min(h, C.Options.MaxLabelDots);
    }
    FWidth = w;
    FHeight = h;
    if (FLabel) {
      // A new size starts a new, empty label.
      FLabel.reset();
    }
  } else if (word == "GAP" || word == "BLINE") {
    C.Listing.Lines().back().Status = lsNoVisibleEffect;
    int a = 0, b = 0;
    if (args.size() != 2 || !Dimension(args[0].Text, a) || !Dimension(args[1].Text, b))
      C.Find(fsWarning, AAt, word + " needs two distances");
  } else if (word == "DIRECTION") {
    FDirection = static_cast<int>(IntArg(args, 0, 0));
    if (FDirection != 0 && FDirection != 1) C.Find(fsWarning, AAt, "DIRECTION is 0 or 1");
  } else if (word == "REFERENCE") {
    if (!NeedArgs(args, 2, word, AAt)) return;
    FRefX = static_cast<int>(std::clamp<long long>(IntArg(args, 0, 0), -10000, 10000));
    FRefY = static_cast<int>(std::clamp<long long>(IntArg(args, 1, 0), -10000, 10000));
  } else if (word == "CLS") {
    Label(AAt).Clear();
    FLabel->ResetClipped();
    FDrawnSincePrint = false;
  } else if (word == "TEXT") {
    Text(args, AAt);
  } else if (word == "BLOCK") {
    Block(args, AAt);
  } else if (word == "BARCODE") {
    Barcode(args, AAt);
  } else if (word == "QRCODE") {
    QrCode(args, AAt);
  } else if (word == "PDF417") {
    Pdf417(args, AAt);
  } else if (word == "DMATRIX") {
    DataMatrix(args, AAt);
  } else if (word == "AZTEC") {
    Aztec(args, AAt);
  } else if (word == "MAXICODE") {
    MaxiCode(args, AAt);
  } else if (word == "BAR" || word == "ERASE" || word == "REVERSE") {
    if (!NeedArgs(args, 4, word, AAt)) return;
    const int w = static_cast<int>(std::clamp<long long>(IntArg(args, 2, 0), 0, 20000));
    const int h = static_cast<int>(std::clamp<long long>(IntArg(args, 3, 0), 0, 20000));
    Label(AAt).FillRect(X(IntArg(args, 0, 0)), Y(IntArg(args, 1, 0)), w, h,
                        word == "BAR"     ? dmSet
                        : word == "ERASE" ? dmClear
                                          : dmXor);
    CheckClip(AAt, word);
  } else if (word == "BOX") {
    if (!NeedArgs(args, 5, word, AAt)) return;
    const int x0 = X(IntArg(args, 0, 0)), y0 = Y(IntArg(args, 1, 0));
    const int x1 = X(std::clamp<long long>(IntArg(args, 2, 0), -20000, 20000));
    const int y1 = Y(std::clamp<long long>(IntArg(args, 3, 0), -20000, 20000));
    const int t = static_cast<int>(std::clamp<long long>(IntArg(args, 4, 1), 1, 1000));
    TRenderPage& page = Label(AAt);
    const int w = std::max(0, x1 - x0), h = std::max(0, y1 - y0);
    page.FillRect(x0, y0, w, std::min(t, h));
    page.FillRect(x0, y0 + h - std::min(t, h), w, std::min(t, h));
    page.FillRect(x0, y0, std::min(t, w), h);
    page.FillRect(x0 + w - std::min(t, w), y0, std::min(t, w), h);
    CheckClip(AAt, word);
  } else if (word == "CIRCLE") {
    if (!NeedArgs(args, 4, word, AAt)) return;
    const int d = static_cast<int>(std::clamp<long long>(IntArg(args, 2, 0), 0, 4000));
    const int t = static_cast<int>(std::clamp<long long>(IntArg(args, 3, 1), 1, 4000));
    const int x0 = X(IntArg(args, 0, 0)), y0 = Y(IntArg(args, 1, 0));
    TRenderPage& page = Label(AAt);
    const double r = d / 2.0, inner = std::max(0.0, r - t);
    for (int y = 0; y < d; ++y)
      for (int x = 0; x < d; ++x) {
        const double dx = x + 0.5 - r, dy = y + 0.5 - r, q = dx * dx + dy * dy;
        if (q <= r * r && q >= inner * inner) page.SetDot(x0 + x, y0 + y, true, dmSet);
      }
    CheckClip(AAt, word);
  } else if (word == "ELLIPSE") {
    if (!NeedArgs(args, 5, word, AAt)) return;
    const int w = static_cast<int>(std::clamp<long long>(IntArg(args, 2, 0), 0, C.Options.MaxLabelDots));
    const int h = static_cast<int>(std::clamp<long long>(IntArg(args, 3, 0), 0, C.Options.MaxLabelDots));
    const int t = static_cast<int>(std::clamp<long long>(IntArg(args, 4, 1), 1, C.Options.MaxLabelDots));
    const int x0 = X(IntArg(args, 0, 0)), y0 = Y(IntArg(args, 1, 0));
    TRenderPage& page = Label(AAt);
    // The ring between the ellipse in the w x h box and the one t dots inside it.
    const double a = w / 2.0, b = h / 2.0, ia = a - t, ib = b - t;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const double dx = x + 0.5 - a, dy = y + 0.5 - b;
        if ((dx * dx) / (a * a) + (dy * dy) / (b * b) > 1) continue;
        if (ia > 0 && ib > 0 && (dx * dx) / (ia * ia) + (dy * dy) / (ib * ib) < 1) continue;
        page.SetDot(x0 + x, y0 + y, true, dmSet);
      }
    CheckClip(AAt, word);
  } else if (word == "PUTBMP" || word == "PUTPCX") {
    PutPicture(word, args, AAt);
  } else if (word == "RUN" ||
             (FFiles.count(FileKey(word + ".BAS")) && FFiles[FileKey(word + ".BAS")].Program)) {
    // A downloaded program, by RUN "NAME.BAS" or by its name.
    const std::string key =
        word == "RUN" ? FileKey(args.empty() ? std::string() : args[0].Text) : FileKey(word + ".BAS");
    const auto f = FFiles.find(key);
    if (f == FFiles.end() || !f->second.Program) {
      C.Listing.Lines().back().Status = lsNotDrawn;
      C.Find(fsWarning, AAt,
             "RUN: the job downloads no program \"" + (args.empty() ? std::string() : args[0].Text) + "\"");
      return;
    }
    if (FRunDepth >= 4) {
      C.Listing.Lines().back().Status = lsNotDrawn;
      if (!FDepthReported) C.Find(fsWarning, AAt, "programs calling programs more than 4 deep are not run");
      FDepthReported = true;
      return;
    }
    if (FProgramLines >= kMaxProgramLines) {
      C.Listing.Lines().back().Status = lsNotDrawn;
      ProgramLimit(AAt);
      return;
    }
    ++FRunDepth;
    TRenderLanguage next = rlAuto;
    RunLines(f->second.From, f->second.From + f->second.Size, next);
    --FRunDepth;
  } else if (word == "PRINT") {
    Print(args, AAt);
  } else if (word == "CODEPAGE") {
    CodePage(args, AAt);
  } else if (word == "SOUND") {
    C.Listing.Lines().back().Status = lsNoVisibleEffect;
    FMarks.push_back({0, "sound " + Num(IntArg(args, 0, 0)) + "," + Num(IntArg(args, 1, 0))});
  } else if (word == "CUT") {
    C.Listing.Lines().back().Status = lsNoVisibleEffect;
    FMarks.push_back({FHeight, "cut"});
  } else if (word == "DENSITY" || word == "SPEED" || word == "SET" || word == "OFFSET" || word == "SHIFT" ||
             word == "HOME" || word == "FORMFEED" || word == "FEED" || word == "BACKFEED" ||
             word == "BACKUP" || word == "LIMITFEED" || word == "EOP" || word == "INITIALPRINTER" ||
             word == "SELFTEST" || word == "KILL" || word == "MOVE" || word == "CLEAR") {
    // Printer settings and paper movement: no dots on the label (a self
    // test prints a page of its own, which is not drawn).
    C.Listing.Lines().back().Status = word == "SELFTEST" ? lsNotDrawn : lsNoVisibleEffect;
  } else {
    C.Listing.Lines().back().Status = lsNotDrawn;
    C.Listing.Lines().back().Mnemonic = "?";
    C.Listing.Lines().back().Arguments = word + " " + shown;
    C.Find(fsWarning, AAt, "unknown command " + word);
  }
}

size_t TTspl::Run(size_t AAt, TRenderLanguage& ANext) {
  ANext = rlAuto;
  AAt = RunLines(AAt, C.Size, ANext);
  if (FAnyCommand && !FPrinted)
    C.Find(fsError, C.Size, "the TSPL job has no PRINT: the printer prints nothing");
  else if (FDrawnSincePrint)
    C.Find(fsWarning, C.Size, "drawing after the last PRINT is not printed");
  return AAt;
}

size_t TTspl::RunLines(size_t AAt, size_t ATo, TRenderLanguage& ANext) {
  while (AAt < ATo) {
    const uint8_t b = At(AAt);
    if (b == '\r' || b == '\n' || b == ' ' || b == '\t') {
      ++AAt;
      continue;
    }
    uint8_t value = 0;
    bool sumOk = false;
    if (b == 0x10 && SwitchFrameAt(C.Data + AAt, C.Size - AAt, value, sumOk)) {
      const TRenderLanguage lang = ApplySwitchFrame(C, AAt);
      AAt += 8;
      if (lang == rlEscPos && FRunDepth == 0) {
        ANext = rlEscPos;
        break;
      }
      continue;
    }
    size_t end = AAt;
    while (end < ATo && At(end) != '\r' && At(end) != '\n') ++end;
    size_t w = AAt;
    while (w < end && (std::isalnum(At(w)) || At(w) == '_')) ++w;
    FAnyCommand = true;
    if (w == AAt || w - AAt > 20) {
      C.Add(AAt, end - AAt, "?", TextToUtf8(TextState(), C.Data + AAt, std::min<size_t>(end - AAt, 40)),
            lsNotDrawn);
      C.Find(fsWarning, AAt, "not a TSPL command: " + HexBytes(C.Data + AAt, std::min<size_t>(end - AAt, 8)));
      AAt = end;
      continue;
    }
    const std::string word(reinterpret_cast<const char*>(C.Data) + AAt, w - AAt);
    if (FRunDepth > 0 && ++FProgramLines > kMaxProgramLines) {
      ProgramLimit(AAt);
      break;
    }
    size_t next = end;
    Command(word, AAt, w, end, next);
    AAt = std::max(next, AAt + 1);
  }
  return AAt;
}

}  // namespace

size_t RunTspl(TJobContext& AContext, size_t AFrom, TRenderLanguage& ANext) {
  TTspl interpreter(AContext);
  return interpreter.Run(AFrom, ANext);
}
