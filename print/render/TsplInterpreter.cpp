#include "TsplInterpreter.h"

#include <zint.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "CodeDrawing.h"

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

TTsplFont FontOf(const std::string& AName, int AXMul, int AYMul, bool& AScalable) {
  AScalable = false;
  static const struct {
    const char* Name;
    int W, H;
  } kFonts[] = {{"1", 8, 12},  {"2", 12, 20}, {"3", 16, 24}, {"4", 24, 32},
                {"5", 32, 48}, {"6", 14, 19}, {"7", 21, 27}, {"8", 14, 25}};
  for (const auto& f : kFonts)
    if (AName == f.Name) return {f.W, f.H, true};
  std::string upper;
  for (char c : AName) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "ROMAN.TTF" || upper == "0") {
    // Scalable: the multiplications are point sizes.
    AScalable = true;
    const int h = std::clamp(AYMul, 1, 180) * 203 / 72;
    const int w = std::clamp(AXMul, 1, 180) * 203 / 72;
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

class TTspl {
 public:
  explicit TTspl(TJobContext& AContext) : C(AContext) {}
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
  static bool Dimension(const std::string& AText, int& ADots);

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
  size_t Bitmap(size_t AAt, size_t AArgsFrom);
  void Print(const std::vector<TArg>& AArgs, size_t AAt);
  void Command(const std::string& AWord, size_t AAt, size_t AArgsFrom, size_t AEnd, size_t& ANext);

  TJobContext& C;
  std::unique_ptr<TRenderPage> FLabel;
  int FWidth = 0, FHeight = 0;  // from SIZE (0: none yet)
  int FRefX = 0, FRefY = 0;
  int FDirection = 0;
  bool FAnyCommand = false, FPrinted = false, FDrawnSincePrint = false;
  bool FSizeAssumedReported = false;
  std::vector<TPageMark> FMarks;
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

bool TTspl::Dimension(const std::string& AText, int& ADots) {
  char* end = nullptr;
  const double v = std::strtod(AText.c_str(), &end);
  if (end == AText.c_str() || !(v >= 0) || v > 10000) return false;
  std::string unit(end);
  unit.erase(std::remove(unit.begin(), unit.end(), ' '), unit.end());
  for (char& c : unit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (unit == "mm")
    ADots = static_cast<int>(std::lround(v * 8));
  else if (unit == "dot" || unit == "dots")
    ADots = static_cast<int>(std::lround(v));
  else if (unit.empty())
    ADots = static_cast<int>(std::lround(v * 203));
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
    const TDecodedChar d = DecodePrinterChar(C.Charset, p + i, AText.size() - i, true);
    if (!d.Valid && !invalidReported) {
      invalidReported = true;
      C.Find(fsWarning, AAt, std::string("invalid ") + (C.Charset == csGbk ? "GBK" : "UTF-8") + " text");
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
                                static_cast<int>(IntArg(AArgs, 5, 12)), scalable);
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
                                static_cast<int>(IntArg(AArgs, 7, 12)), scalable);
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
    const TDecodedChar d = DecodePrinterChar(C.Charset, p + i, text.size() - i, true);
    const int cw = (d.Wide ? font.H : font.W) * sx;
    if (lineW + cw > bw && !line.empty()) {
      if (lastSpace != std::string::npos && d.Code != ' ') {
        std::string rest = line.substr(lastSpace + 1);
        line.erase(lastSpace);
        lines.push_back(line);
        line = rest;
        lineW = 0;
        for (size_t k = 0; k < line.size();) {
          const TDecodedChar e = DecodePrinterChar(
              C.Charset, reinterpret_cast<const uint8_t*>(line.data()) + k, line.size() - k, true);
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
  } else if (type == "EAN13" || type == "EAN8") {
    symbology = BARCODE_EANX;
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
  DrawRotatedMask(Label(AAt), X(IntArg(AArgs, 0, 0)), Y(IntArg(AArgs, 1, 0)), Rotation(IntArg(AArgs, 5, 0)),
                  u, 0, mask.data(), maskW, total, 1, 1);
  CheckClip(AAt, "BARCODE");
}

void TTspl::QrCode(const std::vector<TArg>& AArgs, size_t AAt) {
  if (!NeedArgs(AArgs, 7, "QRCODE", AAt)) return;
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
  const TMatrixCode code = EncodeQrCode(data, ecc);
  if (!code.Ok) {
    C.Find(fsWarning, AAt, "QR code not printed: " + code.Error);
    return;
  }
  DrawRotatedMask(Label(AAt), X(IntArg(AArgs, 0, 0)), Y(IntArg(AArgs, 1, 0)), Rotation(IntArg(AArgs, 5, 0)),
                  0, 0, code.Modules.data(), code.Size, code.Size, cell, cell);
  CheckClip(AAt, "QRCODE");
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
  for (long long k = 0; k < sets && k <= C.Options.MaxPages && !C.Stopped(); ++k) {
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

void TTspl::Command(const std::string& AWord, size_t AAt, size_t AArgsFrom, size_t AEnd, size_t& ANext) {
  std::string word;
  for (char c : AWord) word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ANext = AEnd;
  if (word == "BITMAP") {
    ANext = Bitmap(AAt, AArgsFrom);
    return;
  }
  std::vector<TArg> args;
  const bool parsed = ParseArgs(AArgsFrom, AEnd, args);
  std::string shown = PrinterTextToUtf8(C.Charset, C.Data + AArgsFrom, AEnd - AArgsFrom, true);
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
  } else if (word == "PRINT") {
    Print(args, AAt);
  } else if (word == "SOUND") {
    FMarks.push_back({0, "sound " + Num(IntArg(args, 0, 0)) + "," + Num(IntArg(args, 1, 0))});
  } else if (word == "CUT") {
    FMarks.push_back({FHeight, "cut"});
  } else if (word == "DENSITY" || word == "SPEED" || word == "SET" || word == "OFFSET" || word == "SHIFT" ||
             word == "CODEPAGE" || word == "HOME" || word == "FORMFEED" || word == "FEED" ||
             word == "BACKFEED" || word == "BACKUP" || word == "LIMITFEED" || word == "EOP" ||
             word == "INITIALPRINTER" || word == "SELFTEST" || word == "KILL" || word == "MOVE" ||
             word == "CLEAR") {
    // Printer settings and paper movement: no dots on the label.
  } else {
    C.Listing.Lines().back().Mnemonic = "?";
    C.Listing.Lines().back().Arguments = word + " " + shown;
    C.Find(fsWarning, AAt, "unknown command " + word);
  }
}

size_t TTspl::Run(size_t AAt, TRenderLanguage& ANext) {
  ANext = rlAuto;
  while (AAt < C.Size && !C.Stopped()) {
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
      if (lang == rlEscPos) {
        ANext = rlEscPos;
        break;
      }
      continue;
    }
    size_t end = AAt;
    while (end < C.Size && At(end) != '\r' && At(end) != '\n') ++end;
    size_t w = AAt;
    while (w < end && (std::isalnum(At(w)) || At(w) == '_')) ++w;
    FAnyCommand = true;
    if (w == AAt || w - AAt > 20) {
      C.Add(AAt, end - AAt, "?",
            PrinterTextToUtf8(C.Charset, C.Data + AAt, std::min<size_t>(end - AAt, 40), true));
      C.Find(fsWarning, AAt, "not a TSPL command: " + HexBytes(C.Data + AAt, std::min<size_t>(end - AAt, 8)));
      AAt = end;
      continue;
    }
    const std::string word(reinterpret_cast<const char*>(C.Data) + AAt, w - AAt);
    size_t next = end;
    Command(word, AAt, w, end, next);
    AAt = std::max(next, AAt + 1);
  }
  if (C.OutOfBudget()) return AAt;
  if (FAnyCommand && !FPrinted)
    C.Find(fsError, C.Size, "the TSPL job has no PRINT: the printer prints nothing");
  else if (FDrawnSincePrint)
    C.Find(fsWarning, C.Size, "drawing after the last PRINT is not printed");
  return AAt;
}

}  // namespace

size_t RunTspl(TJobContext& AContext, size_t AFrom, TRenderLanguage& ANext) {
  TTspl interpreter(AContext);
  return interpreter.Run(AFrom, ANext);
}
