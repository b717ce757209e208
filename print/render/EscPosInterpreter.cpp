#include "EscPosInterpreter.h"

#include <zint.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "CodeDrawing.h"

namespace {

const uint8_t ESC = 0x1B, GS = 0x1D, FS = 0x1C, DLE = 0x10;

std::string Num(long long AValue) { return std::to_string(AValue); }

// Something waiting in the line buffer: a character or a bit image, as
// dots already scaled.
struct TLineItem {
  int X = 0;
  int W = 0;  // advance, spacing included
  int H = 0;
  int DotsW = 0;  // width of Mask
  std::vector<uint8_t> Mask;
  int Underline = 0;
  bool Reverse = false;
};

class TEscPos {
 public:
  explicit TEscPos(TJobContext& AContext) : C(AContext) { Reset(); }

  size_t Run(size_t AFrom, TRenderLanguage& ANext);

 private:
  // State that ESC @ resets.
  void Reset() {
    FFontB = false;
    FBold = false;
    FUnderline = 0;
    FScaleW = FScaleH = 1;
    FAlign = 0;
    FLineSpacing = kDefaultLineSpacing;
    FCharSpacing = 0;
    FLeftMargin = 0;
    FAreaWidth = C.Options.Width;
    FReverse = false;
    FChineseMode = true;
    FChineseDoubleW = FChineseDoubleH = false;
    FChineseUnderline = 0;
    FBarHeight = 162;
    FBarModule = 3;
    FHriPosition = 0;
    FHriFontB = false;
    FTabs.clear();
  }

  uint8_t At(size_t AOffset) const { return C.Data[AOffset]; }
  bool Has(size_t AOffset, size_t ACount) const { return AOffset <= C.Size && C.Size - AOffset >= ACount; }

  TRenderPage& Page() {
    if (!FPage) {
      FPage = std::make_unique<TRenderedPage>();
      FPage->Job = C.Job;
      FPage->Language = rlEscPos;
      FPage->Page = TRenderPage(C.Options.Width, 0, C.Options.MaxPageHeight);
      FY = 0;
    }
    return FPage->Page;
  }
  void CheckLimit(size_t AOffset) {
    if (FPage && FPage->Page.HeightLimitHit() && !C.PageLimitReported) {
      C.PageLimitReported = true;
      C.Find(fsWarning, AOffset,
             "the page reached its height limit of " + Num(C.Options.MaxPageHeight) +
                 " rows; the rest is not drawn");
    }
  }
  void Feed(int ADots, size_t AOffset) {
    Page();
    FY += std::max(0, ADots);
    if (FY > C.Options.MaxPageHeight) FY = C.Options.MaxPageHeight + 1;
    FPage->Page.EnsureHeight(FY);
    CheckLimit(AOffset);
  }
  void Mark(const std::string& AText) {
    Page();
    FPage->Marks.push_back({FY, AText});
  }
  void FinishPage(size_t AOffset) {
    if (FPage) C.AddPage(std::move(*FPage), AOffset);
    FPage.reset();
  }
  int AreaWidth() const { return std::max(0, std::min(FAreaWidth, C.Options.Width - FLeftMargin)); }
  // Left edge of something AW dots wide under the current alignment.
  int AlignedX(int AW) const {
    const int free = std::max(0, AreaWidth() - AW);
    return FLeftMargin + (FAlign == 1 ? free / 2 : FAlign == 2 ? free : 0);
  }

  void PutItem(TLineItem&& AItem, size_t AOffset);
  // Prints the line buffer; AFeed < 0: the line spacing (at least the line's height).
  void PrintLine(int AFeed, size_t AOffset);
  void Text(size_t& AAt);
  size_t Escape(size_t AAt, TRenderLanguage& ANext);
  size_t GroupSeparator(size_t AAt);
  size_t FileSeparator(size_t AAt);
  void Raster(size_t AAt, const uint8_t* ARows, int ARowBytes, int AWidth, int AHeight, int AScaleX,
              int AScaleY);
  void Barcode(size_t AAt, int AType, const std::string& AData);
  void QrPrint(size_t AAt);
  size_t Graphics(size_t AAt, size_t AHeader, size_t ALength);
  size_t TwoD(size_t AAt, size_t ALength);
  void DrawHri(const std::string& AText, int AX, int AY);
  void Unknown(size_t AAt, size_t ALength, const std::string& AWhat) {
    C.Add(AAt, ALength, "?", AWhat);
    C.Find(fsWarning, AAt,
           "unknown command " + HexBytes(C.Data + AAt, std::min<size_t>(ALength, 4)) + ": " + AWhat);
  }
  size_t Truncated(size_t AAt, const std::string& AName) {
    C.Add(AAt, C.Size - AAt, AName, "truncated");
    C.Find(fsWarning, AAt, AName + " is cut short by the end of the job");
    return C.Size;
  }

  TJobContext& C;
  std::unique_ptr<TRenderedPage> FPage;
  int FY = 0;
  std::vector<TLineItem> FLine;
  int FX = 0;  // next position in the line, from the left margin

  bool FFontB, FBold, FReverse, FChineseMode, FChineseDoubleW, FChineseDoubleH, FHriFontB;
  int FUnderline, FScaleW, FScaleH, FAlign, FLineSpacing, FCharSpacing, FLeftMargin, FAreaWidth;
  int FChineseUnderline, FBarHeight, FBarModule, FHriPosition;
  std::vector<int> FTabs;
  // GS ( k QR settings and symbol data.
  int FQrModule = 3, FQrEcc = 1;
  std::string FQrData;
  bool FQrStored = false;
  // GS ( L graphics in the print buffer.
  std::vector<uint8_t> FGraphic;
  int FGraphicW = 0, FGraphicH = 0, FGraphicSX = 1, FGraphicSY = 1;
  bool FWidthReported = false;
};

void TEscPos::PutItem(TLineItem&& AItem, size_t AOffset) {
  if (FX + AItem.W > AreaWidth() && FX > 0) PrintLine(-1, AOffset);
  if (FX + AItem.W > AreaWidth() && !FWidthReported) {
    FWidthReported = true;
    C.Find(fsWarning, AOffset,
           "text or image " + Num(AItem.W) + " dots wide does not fit the printable width of " +
               Num(AreaWidth()) + " dots");
  }
  AItem.X = FX;
  FX += AItem.W;
  FLine.push_back(std::move(AItem));
}

void TEscPos::PrintLine(int AFeed, size_t AOffset) {
  int height = 0, used = 0;
  for (const TLineItem& i : FLine) {
    height = std::max(height, i.H);
    used = std::max(used, i.X + i.W);
  }
  TRenderPage& page = Page();
  if (!FLine.empty()) {
    // Alignment counts the characters, not the spacing after the last one.
    const int x0 = AlignedX(used - (FLine.back().W - FLine.back().DotsW));
    for (const TLineItem& i : FLine) {
      const int x = x0 + i.X, y = FY + height - i.H;
      if (i.Reverse) {
        page.FillRect(x, y, i.W, i.H);
        page.DrawMask(x, y, i.Mask.data(), i.DotsW, i.H, 1, 1, dmClear);
      } else {
        page.DrawMask(x, y, i.Mask.data(), i.DotsW, i.H);
      }
      if (i.Underline > 0) page.FillRect(x, FY + height - i.Underline, i.W, i.Underline);
    }
  }
  FLine.clear();
  FX = 0;
  Feed(AFeed < 0 ? std::max(FLineSpacing, height) : std::max(AFeed, height), AOffset);
}

void TEscPos::Text(size_t& AAt) {
  const size_t from = AAt;
  bool invalidReported = false;
  while (AAt < C.Size && At(AAt) >= 0x20 && At(AAt) != 0x7F && !C.Stopped()) {
    const TDecodedChar d = DecodePrinterChar(C.Charset, C.Data + AAt, C.Size - AAt, FChineseMode);
    if (!d.Valid && !invalidReported) {
      invalidReported = true;
      C.Find(fsWarning, AAt,
             std::string("invalid ") + (C.Charset == csGbk ? "GBK" : "UTF-8") + " byte " +
                 HexBytes(C.Data + AAt, std::min<size_t>(d.Length + 1, C.Size - AAt)));
    }
    int cw, ch, sw = FScaleW, sh = FScaleH, underline = FUnderline;
    if (d.Wide) {
      cw = ch = kChineseCell;
      if (FChineseDoubleW) sw = std::max(sw, 2);
      if (FChineseDoubleH) sh = std::max(sh, 2);
      underline = std::max(underline, FChineseUnderline);
    } else {
      cw = FFontB ? kFontBWidth : kFontAWidth;
      ch = FFontB ? kFontBHeight : kFontAHeight;
    }
    const TGlyphMask g = TTextDrawing::Shared().Glyph(d.Code, cw, ch, FBold, d.Wide);
    TLineItem item;
    item.DotsW = cw * sw;
    item.H = ch * sh;
    item.W = item.DotsW + (d.Wide ? 0 : FCharSpacing * sw);
    item.Mask.assign(static_cast<size_t>(item.DotsW) * item.H, 0);
    for (int y = 0; y < item.H; ++y)
      for (int x = 0; x < item.DotsW; ++x)
        item.Mask[static_cast<size_t>(y) * item.DotsW + x] =
            g.Dots[static_cast<size_t>(std::min(y / sh, g.Height - 1)) * g.Width +
                   std::min(x / sw, g.Width - 1)];
    item.Underline = underline > 0 ? underline : 0;
    item.Reverse = FReverse;
    PutItem(std::move(item), AAt);
    AAt += std::min(d.Length, C.Size - AAt);
  }
  C.Add(from, AAt - from, "TEXT",
        "\"" + PrinterTextToUtf8(C.Charset, C.Data + from, AAt - from, FChineseMode) + "\"");
}

void TEscPos::Raster(size_t AAt, const uint8_t* ARows, int ARowBytes, int AWidth, int AHeight, int AScaleX,
                     int AScaleY) {
  if (!FLine.empty()) PrintLine(-1, AAt);
  const int w = AWidth * AScaleX;
  if (w > AreaWidth())
    C.Find(
        fsWarning, AAt,
        "image " + Num(w) + " dots wide does not fit the printable width of " + Num(AreaWidth()) + " dots");
  const int x = AlignedX(w);
  TRenderPage& page = Page();
  page.DrawPacked(x, FY, ARows, ARowBytes, AWidth, AHeight, true, dmSet, AScaleX, AScaleY);
  Feed(AHeight * AScaleY, AAt);
}

void TEscPos::DrawHri(const std::string& AText, int AX, int AY) {
  const int cw = FHriFontB ? kFontBWidth : kFontAWidth, ch = FHriFontB ? kFontBHeight : kFontAHeight;
  int x = AX;
  for (size_t i = 0; i < AText.size();) {
    const TDecodedChar d = DecodePrinterChar(csUtf8, reinterpret_cast<const uint8_t*>(AText.data()) + i,
                                             AText.size() - i, false);
    const TGlyphMask g = TTextDrawing::Shared().Glyph(d.Code, cw, ch, false, false);
    Page().DrawMask(x, AY, g.Dots.data(), cw, ch);
    x += cw;
    i += d.Length;
  }
}

void TEscPos::Barcode(size_t AAt, int AType, const std::string& AData) {
  if (!FLine.empty()) PrintLine(-1, AAt);
  static const int kSymbology[] = {BARCODE_UPCA,    BARCODE_UPCE,   BARCODE_EANX,
                                   BARCODE_EANX,    BARCODE_CODE39, BARCODE_C25INTER,
                                   BARCODE_CODABAR, BARCODE_CODE93, BARCODE_CODE128};
  const int symbology = kSymbology[AType];
  std::string data = AData;
  if (AType == 4 && data.size() >= 2 && data.front() == '*' && data.back() == '*')
    data = data.substr(1, data.size() - 2);
  if (AType == 8) {
    // {A {B {C pick a code set ({C takes one byte per digit pair), {1 is
    // FNC1, {{ a brace; libzint chooses the code sets itself.
    std::string plain;
    char set = 'B';
    for (size_t i = 0; i < data.size(); ++i) {
      const char c = data[i];
      if (c == '{' && i + 1 < data.size()) {
        const char f = data[++i];
        if (f == 'A' || f == 'B' || f == 'C')
          set = f;
        else if (f == '{')
          plain += '{';
        else if (f != '1' && f != '2' && f != '3' && f != '4' && f != 'S')
          C.Find(fsWarning, AAt, std::string("CODE128 data has an unknown function {") + f);
        continue;
      }
      if (set == 'C') {
        const unsigned v = static_cast<unsigned char>(c);
        if (v > 99) {
          C.Find(fsWarning, AAt, "CODE128 code set C takes bytes 0 to 99, not " + Num(v));
          continue;
        }
        plain += static_cast<char>('0' + v / 10);
        plain += static_cast<char>('0' + v % 10);
      } else {
        plain += c;
      }
    }
    data = plain;
  }
  const TLinearCode code = EncodeLinearCode(symbology, data);
  if (!code.Ok) {
    C.Find(fsWarning, AAt, "barcode not printed: " + code.Error);
    return;
  }
  static const int kWide[] = {0, 0, 5, 8, 10, 13, 15};
  const int module = FBarModule >= 68 && FBarModule <= 76 ? FBarModule - 66 : std::clamp(FBarModule, 1, 6);
  const std::vector<uint8_t> dots = LinearCodeDots(code, IsTwoWidthSymbology(symbology), module,
                                                   module <= 6 ? kWide[module] : module * 5 / 2);
  const int w = static_cast<int>(dots.size());
  if (w > AreaWidth())
    C.Find(
        fsWarning, AAt,
        "barcode " + Num(w) + " dots wide does not fit the printable width of " + Num(AreaWidth()) + " dots");
  const int x = AlignedX(w);
  const int hriH = FHriFontB ? kFontBHeight : kFontAHeight;
  const std::string hri = code.Text.empty() ? data : code.Text;
  const int hriW = static_cast<int>(hri.size()) * (FHriFontB ? kFontBWidth : kFontAWidth);
  if (FHriPosition == 1 || FHriPosition == 3) {
    DrawHri(hri, AlignedX(hriW), FY);
    Feed(hriH + 2, AAt);
  }
  TRenderPage& page = Page();
  for (int i = 0; i < w; ++i)
    if (dots[i]) page.FillRect(x + i, FY, 1, FBarHeight);
  Feed(FBarHeight, AAt);
  if (FHriPosition == 2 || FHriPosition == 3) {
    Feed(2, AAt);
    DrawHri(hri, AlignedX(hriW), FY);
    Feed(hriH, AAt);
  }
}

void TEscPos::QrPrint(size_t AAt) {
  if (!FLine.empty()) PrintLine(-1, AAt);
  if (!FQrStored) {
    C.Find(fsWarning, AAt, "QR code printed with no data stored");
    return;
  }
  const TMatrixCode code = EncodeQrCode(FQrData, FQrEcc);
  if (!code.Ok) {
    C.Find(fsWarning, AAt, "QR code not printed: " + code.Error);
    return;
  }
  const int w = code.Size * FQrModule;
  if (w > AreaWidth())
    C.Find(
        fsWarning, AAt,
        "QR code " + Num(w) + " dots wide does not fit the printable width of " + Num(AreaWidth()) + " dots");
  Page().DrawMask(AlignedX(w), FY, code.Modules.data(), code.Size, code.Size, FQrModule, FQrModule);
  Feed(w, AAt);
}

// GS ( L / GS 8 L: AHeader bytes before m fn, ALength parameter bytes.
size_t TEscPos::Graphics(size_t AAt, size_t AHeader, size_t ALength) {
  const std::string name = AHeader == 5 ? "GS ( L" : "GS 8 L";
  const size_t end = AAt + AHeader + ALength;
  if (!Has(AAt, AHeader + ALength)) return Truncated(AAt, name);
  if (ALength < 2) {
    C.Add(AAt, end - AAt, name, "too short");
    C.Find(fsWarning, AAt, name + " without its function");
    return end;
  }
  const uint8_t* p = C.Data + AAt + AHeader;
  const uint8_t fn = p[1];
  if (fn == 50 || fn == 2) {
    C.Add(AAt, end - AAt, name, "print the stored graphics");
    if (FGraphic.empty()) {
      C.Find(fsWarning, AAt, "no graphics stored to print");
      return end;
    }
    Raster(AAt, FGraphic.data(), (FGraphicW + 7) / 8, FGraphicW, FGraphicH, FGraphicSX, FGraphicSY);
    return end;
  }
  if (fn == 112 && ALength >= 10) {
    const int bx = p[3], by = p[4], w = p[6] | (p[7] << 8), h = p[8] | (p[9] << 8);
    const size_t rowBytes = (static_cast<size_t>(w) + 7) / 8;
    const size_t need = rowBytes * static_cast<size_t>(h);
    C.Add(AAt, end - AAt, name,
          "store raster graphics " + Num(w) + " x " + Num(h) + " dots, scale " + Num(bx) + " x " + Num(by));
    if (ALength - 10 < need || w == 0 || h == 0) {
      C.Find(fsWarning, AAt,
             name + " graphics of " + Num(w) + " x " + Num(h) + " dots need " + Num(need) +
                 " bytes, the command has " + Num(ALength - 10));
      return end;
    }
    if (need > C.Options.PrinterBufferBytes)
      C.Find(fsWarning, AAt,
             "graphics of " + Num(h) + " rows at " + Num(w) + " dots are larger than the printer's buffer (" +
                 Num(C.Options.PrinterBufferBytes) + " bytes)");
    FGraphic.assign(p + 10, p + 10 + need);
    FGraphicW = w;
    FGraphicH = h;
    FGraphicSX = bx == 2 ? 2 : 1;
    FGraphicSY = by == 2 ? 2 : 1;
    return end;
  }
  C.Add(AAt, end - AAt, name, "function " + Num(fn) + " (not drawn)");
  C.Find(fsInfo, AAt, name + " function " + Num(fn) + " is not drawn");
  return end;
}

size_t TEscPos::TwoD(size_t AAt, size_t ALength) {
  const size_t end = AAt + 5 + ALength;
  if (!Has(AAt, 5 + ALength)) return Truncated(AAt, "GS ( k");
  if (ALength < 2) {
    C.Add(AAt, end - AAt, "GS ( k", "too short");
    C.Find(fsWarning, AAt, "GS ( k without its function");
    return end;
  }
  const uint8_t* p = C.Data + AAt + 5;
  const uint8_t cn = p[0], fn = p[1];
  if (cn != 49) {
    C.Add(AAt, end - AAt, "GS ( k", "symbol " + Num(cn) + " function " + Num(fn) + " (not drawn)");
    C.Find(fsInfo, AAt, "2D symbol " + Num(cn) + " is not drawn");
    return end;
  }
  switch (fn) {
    case 65:
      C.Add(AAt, end - AAt, "GS ( k", "QR model " + Num(ALength >= 3 ? p[2] - 48 : 0));
      break;
    case 67:
      if (ALength >= 3) FQrModule = std::clamp<int>(p[2], 1, 16);
      C.Add(AAt, end - AAt, "GS ( k", "QR module size " + Num(FQrModule));
      break;
    case 69: {
      if (ALength >= 3 && p[2] >= 48 && p[2] <= 51) FQrEcc = p[2] - 47;
      static const char* const kLevel[] = {"", "L", "M", "Q", "H"};
      C.Add(AAt, end - AAt, "GS ( k", std::string("QR error correction ") + kLevel[FQrEcc]);
      break;
    }
    case 80:
      FQrData.assign(reinterpret_cast<const char*>(p) + std::min<size_t>(3, ALength),
                     reinterpret_cast<const char*>(p) + ALength);
      FQrStored = true;
      C.Add(AAt, end - AAt, "GS ( k", "QR store " + Num(FQrData.size()) + " bytes");
      break;
    case 81:
      C.Add(AAt, end - AAt, "GS ( k", "QR print");
      QrPrint(AAt);
      break;
    default:
      C.Add(AAt, end - AAt, "GS ( k", "QR function " + Num(fn));
      break;
  }
  return end;
}

size_t TEscPos::Escape(size_t AAt, TRenderLanguage&) {
  if (!Has(AAt, 2)) return Truncated(AAt, "ESC");
  const uint8_t c = At(AAt + 1);
  auto one = [&](const char* AName, std::string AArgs, size_t ALen) -> size_t {
    C.Add(AAt, ALen, AName, std::move(AArgs));
    return AAt + ALen;
  };
  auto need = [&](size_t ALen) { return Has(AAt, ALen); };
  switch (c) {
    case '@':
      // The line buffer keeps its characters: the printers that take these
      // jobs print a line whose LF comes after ESC @.
      Reset();
      return one("ESC @", "initialise", 2);
    case '!': {
      if (!need(3)) return Truncated(AAt, "ESC !");
      const uint8_t n = At(AAt + 2);
      FFontB = n & 1;
      FBold = n & 8;
      FScaleH = (n & 16) ? 2 : 1;
      FScaleW = (n & 32) ? 2 : 1;
      FUnderline = (n & 128) ? 1 : 0;
      return one("ESC !",
                 Num(n) + (FFontB ? " font B" : " font A") + (FBold ? " bold" : "") +
                     ((n & 16) ? " double-height" : "") + ((n & 32) ? " double-width" : "") +
                     ((n & 128) ? " underline" : ""),
                 3);
    }
    case 'E':
    case 'G':
      if (!need(3)) return Truncated(AAt, c == 'E' ? "ESC E" : "ESC G");
      FBold = At(AAt + 2) & 1;
      return one(c == 'E' ? "ESC E" : "ESC G", FBold ? "1 (emphasis on)" : "0 (emphasis off)", 3);
    case '-': {
      if (!need(3)) return Truncated(AAt, "ESC -");
      const uint8_t n = At(AAt + 2);
      FUnderline = (n == 1 || n == '1') ? 1 : (n == 2 || n == '2') ? 2 : 0;
      return one("ESC -", Num(FUnderline) + "-dot underline", 3);
    }
    case 'a': {
      if (!need(3)) return Truncated(AAt, "ESC a");
      const uint8_t n = At(AAt + 2);
      FAlign = (n == 1 || n == '1') ? 1 : (n == 2 || n == '2') ? 2 : 0;
      static const char* const kAlign[] = {"left", "centred", "right"};
      return one("ESC a", Num(n) + " (" + kAlign[FAlign] + ")", 3);
    }
    case '2':
      FLineSpacing = kDefaultLineSpacing;
      return one("ESC 2", "default line spacing", 2);
    case '3':
      if (!need(3)) return Truncated(AAt, "ESC 3");
      FLineSpacing = At(AAt + 2);
      return one("ESC 3", Num(FLineSpacing) + " dots line spacing", 3);
    case 'd':
    case 'e': {
      if (!need(3)) return Truncated(AAt, c == 'd' ? "ESC d" : "ESC e");
      const int n = At(AAt + 2);
      C.Add(AAt, 3, c == 'd' ? "ESC d" : "ESC e", "print and feed " + Num(n) + " lines");
      const bool had = !FLine.empty();
      if (had) PrintLine(-1, AAt);
      if (c == 'd') Feed(FLineSpacing * std::max(0, n - (had ? 1 : 0)), AAt);
      return AAt + 3;
    }
    case 'J': {
      if (!need(3)) return Truncated(AAt, "ESC J");
      const int n = At(AAt + 2);
      C.Add(AAt, 3, "ESC J", "print and feed " + Num(n) + " dots");
      if (!FLine.empty())
        PrintLine(n, AAt);
      else
        Feed(n, AAt);
      return AAt + 3;
    }
    case ' ':
      if (!need(3)) return Truncated(AAt, "ESC SP");
      FCharSpacing = At(AAt + 2);
      return one("ESC SP", Num(FCharSpacing) + " dots right spacing", 3);
    case 'M':
      if (!need(3)) return Truncated(AAt, "ESC M");
      FFontB = (At(AAt + 2) & 1) != 0;
      return one("ESC M", FFontB ? "font B" : "font A", 3);
    case '$':
    case '\\': {
      if (!need(4)) return Truncated(AAt, c == '$' ? "ESC $" : "ESC \\");
      const int n = At(AAt + 2) | (At(AAt + 3) << 8);
      if (c == '$')
        FX = std::min(n, AreaWidth());
      else
        FX = std::clamp(FX + static_cast<int16_t>(n), 0, AreaWidth());
      return one(c == '$' ? "ESC $" : "ESC \\",
                 (c == '$' ? "position " : "move ") + Num(c == '$' ? n : static_cast<int16_t>(n)), 4);
    }
    case 'D': {
      size_t i = AAt + 2;
      FTabs.clear();
      while (i < C.Size && At(i) != 0 && i - AAt < 34) FTabs.push_back(At(i++));
      if (i >= C.Size || At(i) != 0) return Truncated(AAt, "ESC D");
      return one("ESC D", Num(FTabs.size()) + " tab stops", i + 1 - AAt);
    }
    case '*': {
      if (!need(5)) return Truncated(AAt, "ESC *");
      const int m = At(AAt + 2), n = At(AAt + 3) | (At(AAt + 4) << 8);
      if (m != 0 && m != 1 && m != 32 && m != 33) {
        Unknown(AAt, 3, "ESC * mode " + Num(m));
        return AAt + 3;
      }
      const int rows = m >= 32 ? 3 : 1;
      const size_t bytes = static_cast<size_t>(n) * rows;
      const size_t len = 5 + bytes;
      C.Add(AAt, std::min(len, C.Size - AAt), "ESC *", Num(rows * 8) + "-dot image, " + Num(n) + " columns");
      if (!need(len)) {
        C.Find(fsWarning, AAt, "ESC * image is cut short by the end of the job");
        return C.Size;
      }
      const int sx = (m == 0 || m == 32) ? 2 : 1, sy = m < 32 ? 3 : 1;
      TLineItem item;
      item.DotsW = n * sx;
      item.W = item.DotsW;
      item.H = rows * 8 * sy;
      item.Mask.assign(static_cast<size_t>(item.DotsW) * item.H, 0);
      const uint8_t* d = C.Data + AAt + 5;
      for (int col = 0; col < n; ++col)
        for (int r = 0; r < rows * 8; ++r) {
          if (!((d[col * rows + r / 8] >> (7 - r % 8)) & 1)) continue;
          for (int yy = 0; yy < sy; ++yy)
            for (int xx = 0; xx < sx; ++xx)
              item.Mask[static_cast<size_t>(r * sy + yy) * item.DotsW + col * sx + xx] = 1;
        }
      PutItem(std::move(item), AAt);
      return AAt + len;
    }
    case 'B': {
      if (!need(4)) return Truncated(AAt, "ESC B");
      const int n = At(AAt + 2), t = At(AAt + 3);
      Mark("buzzer " + Num(n) + " x " + Num(t * 50) + " ms");
      return one("ESC B", "buzzer " + Num(n) + " times, " + Num(t * 50) + " ms", 4);
    }
    case 'p': {
      if (!need(5)) return Truncated(AAt, "ESC p");
      Mark("cash drawer pin " + Num(At(AAt + 2) & 1 ? 5 : 2));
      return one("ESC p",
                 "drawer pulse pin " + Num(At(AAt + 2) & 1 ? 5 : 2) + ", " + Num(At(AAt + 3) * 2) + "/" +
                     Num(At(AAt + 4) * 2) + " ms",
                 5);
    }
    case 't':
    case 'R':
    case '{':
    case 'V':
    case 'U':
    case 'c':
    case '%':
    case '=':
    case 'r':
    case 'T': {
      // Code table, character set, upside-down, rotation, unidirectional,
      // panel keys, user characters on/off, peripheral, colour, direction:
      // listed, no dots change.
      size_t len = 3;
      if (c == 'c') len = 4;
      if (!need(len)) return Truncated(AAt, std::string("ESC ") + static_cast<char>(c));
      return one((std::string("ESC ") + static_cast<char>(c)).c_str(),
                 Num(At(AAt + len - 1)) + " (no dots change)", len);
    }
    case 'L':
    case 'S':
    case 'i':
    case 'm':
    case '<':
      return one((std::string("ESC ") + static_cast<char>(c)).c_str(), "(no dots change)", 2);
    default:
      Unknown(AAt, 2, "ESC " + HexBytes(C.Data + AAt + 1, 1));
      return AAt + 2;
  }
}

size_t TEscPos::GroupSeparator(size_t AAt) {
  if (!Has(AAt, 2)) return Truncated(AAt, "GS");
  const uint8_t c = At(AAt + 1);
  auto one = [&](const char* AName, std::string AArgs, size_t ALen) -> size_t {
    C.Add(AAt, ALen, AName, std::move(AArgs));
    return AAt + ALen;
  };
  auto need = [&](size_t ALen) { return Has(AAt, ALen); };
  switch (c) {
    case '!': {
      if (!need(3)) return Truncated(AAt, "GS !");
      const uint8_t n = At(AAt + 2);
      FScaleW = ((n >> 4) & 7) + 1;
      FScaleH = (n & 7) + 1;
      return one("GS !", Num(n) + " (width x" + Num(FScaleW) + ", height x" + Num(FScaleH) + ")", 3);
    }
    case 'B':
      if (!need(3)) return Truncated(AAt, "GS B");
      FReverse = At(AAt + 2) & 1;
      return one("GS B", FReverse ? "1 (white on black)" : "0 (black on white)", 3);
    case 'L':
      if (!need(4)) return Truncated(AAt, "GS L");
      FLeftMargin = std::min(At(AAt + 2) | (At(AAt + 3) << 8), C.Options.Width);
      return one("GS L", "left margin " + Num(FLeftMargin) + " dots", 4);
    case 'W':
      if (!need(4)) return Truncated(AAt, "GS W");
      FAreaWidth = At(AAt + 2) | (At(AAt + 3) << 8);
      return one("GS W", "printable width " + Num(FAreaWidth) + " dots", 4);
    case 'h':
      if (!need(3)) return Truncated(AAt, "GS h");
      FBarHeight = std::max<int>(1, At(AAt + 2));
      return one("GS h", "barcode height " + Num(FBarHeight) + " dots", 3);
    case 'w':
      if (!need(3)) return Truncated(AAt, "GS w");
      FBarModule = At(AAt + 2);
      return one("GS w", "barcode module " + Num(FBarModule) + " dots", 3);
    case 'H': {
      if (!need(3)) return Truncated(AAt, "GS H");
      const int n = At(AAt + 2);
      FHriPosition = (n >= 48 ? n - 48 : n) & 3;
      static const char* const kPos[] = {"none", "above", "below", "above and below"};
      return one("GS H", std::string("human-readable ") + kPos[FHriPosition], 3);
    }
    case 'f':
      if (!need(3)) return Truncated(AAt, "GS f");
      FHriFontB = (At(AAt + 2) & 1) != 0;
      return one("GS f", FHriFontB ? "human-readable font B" : "human-readable font A", 3);
    case 'v': {
      if (!need(8)) return Truncated(AAt, "GS v 0");
      if (At(AAt + 2) != '0') {
        Unknown(AAt, 3, "GS v " + HexBytes(C.Data + AAt + 2, 1));
        return AAt + 3;
      }
      const int m = At(AAt + 3), x = At(AAt + 4) | (At(AAt + 5) << 8), y = At(AAt + 6) | (At(AAt + 7) << 8);
      const size_t bytes = static_cast<size_t>(x) * y;
      const size_t avail = C.Size - AAt - 8;
      const int sx = (m & 1) ? 2 : 1, sy = (m & 2) ? 2 : 1;
      C.Add(AAt, 8 + std::min(bytes, avail), "GS v 0",
            "raster " + Num(x * 8) + " x " + Num(y) + " dots" + (sx > 1 ? ", double width" : "") +
                (sy > 1 ? ", double height" : ""));
      if (bytes > C.Options.PrinterBufferBytes)
        C.Find(fsWarning, AAt,
               "raster of " + Num(y) + " rows at " + Num(x * 8) +
                   " dots is larger than the printer's buffer (" + Num(C.Options.PrinterBufferBytes / 72) +
                   " rows at 576 dots)");
      int rows = y;
      if (bytes > avail) {
        C.Find(fsWarning, AAt,
               "GS v 0 raster needs " + Num(bytes) + " bytes, the job has " + Num(avail) + " left");
        rows = x > 0 ? static_cast<int>(avail / x) : 0;
      }
      if (x > 0 && rows > 0) Raster(AAt, C.Data + AAt + 8, x, x * 8, rows, sx, sy);
      return AAt + 8 + std::min(bytes, avail);
    }
    case 'k': {
      if (!need(3)) return Truncated(AAt, "GS k");
      const int m = At(AAt + 2);
      static const char* const kNames[] = {"UPC-A", "UPC-E",   "EAN-13", "EAN-8",  "CODE39",
                                           "ITF",   "CODABAR", "CODE93", "CODE128"};
      if (m <= 6) {
        size_t i = AAt + 3;
        while (i < C.Size && At(i) != 0 && i - AAt < 300) ++i;
        if (i >= C.Size || At(i) != 0) {
          C.Add(AAt, std::min(C.Size, i) - AAt, "GS k", std::string(kNames[m]) + " without its NUL");
          C.Find(fsWarning, AAt, "GS k data has no terminating NUL");
          return std::min(C.Size, i);
        }
        const std::string data(reinterpret_cast<const char*>(C.Data) + AAt + 3, i - AAt - 3);
        C.Add(AAt, i + 1 - AAt, "GS k", std::string(kNames[m]) + " \"" + data + "\"");
        Barcode(AAt, m, data);
        return i + 1;
      }
      if (m >= 65 && m <= 73) {
        if (!need(4)) return Truncated(AAt, "GS k");
        const size_t n = At(AAt + 3);
        if (!need(4 + n)) return Truncated(AAt, "GS k");
        const std::string data(reinterpret_cast<const char*>(C.Data) + AAt + 4, n);
        C.Add(AAt, 4 + n, "GS k",
              std::string(kNames[m - 65]) + " \"" + PrinterTextToUtf8(csGbk, C.Data + AAt + 4, n, false) +
                  "\"");
        Barcode(AAt, m - 65, data);
        return AAt + 4 + n;
      }
      Unknown(AAt, 3, "GS k barcode type " + Num(m));
      return AAt + 3;
    }
    case '(': {
      if (!need(5)) return Truncated(AAt, "GS (");
      const uint8_t f = At(AAt + 2);
      const size_t len = At(AAt + 3) | (At(AAt + 4) << 8);
      if (f == 'L') return Graphics(AAt, 5, len);
      if (f == 'k') return TwoD(AAt, len);
      const std::string name = std::string("GS ( ") + static_cast<char>(f >= 0x20 && f < 0x7F ? f : '?');
      if (!need(5 + len)) return Truncated(AAt, name);
      C.Add(AAt, 5 + len, name, "(no dots change)");
      return AAt + 5 + len;
    }
    case '8': {
      if (!need(7)) return Truncated(AAt, "GS 8");
      if (At(AAt + 2) != 'L') {
        Unknown(AAt, 3, "GS 8 " + HexBytes(C.Data + AAt + 2, 1));
        return AAt + 3;
      }
      const size_t len = static_cast<size_t>(At(AAt + 3)) | (static_cast<size_t>(At(AAt + 4)) << 8) |
                         (static_cast<size_t>(At(AAt + 5)) << 16) | (static_cast<size_t>(At(AAt + 6)) << 24);
      return Graphics(AAt, 7, len);
    }
    case 'V': {
      if (!need(3)) return Truncated(AAt, "GS V");
      const int m = At(AAt + 2);
      size_t len = 3;
      int feed = 0;
      if (m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104) {
        if (!need(4)) return Truncated(AAt, "GS V");
        len = 4;
        feed = At(AAt + 3);
      } else if (m != 0 && m != 1 && m != 48 && m != 49) {
        Unknown(AAt, 3, "GS V mode " + Num(m));
        return AAt + 3;
      }
      C.Add(
          AAt, len, "GS V",
          std::string((m & 1) ? "partial" : "full") + " cut" + (feed ? ", feed " + Num(feed) + " dots" : ""));
      if (!FLine.empty()) PrintLine(-1, AAt);
      Feed(feed, AAt);
      Mark((m & 1) ? "partial cut" : "full cut");
      FinishPage(AAt);
      return AAt + len;
    }
    case 'S':
      C.Add(AAt, 2, "GS S", "cut");
      if (!FLine.empty()) PrintLine(-1, AAt);
      Mark("cut");
      FinishPage(AAt);
      return AAt + 2;
    case 'P':
      if (!need(4)) return Truncated(AAt, "GS P");
      return one("GS P", "motion units (no dots change)", 4);
    case 'a':
    case 'r':
    case 'I':
    case 'b':
    case 'T':
    case 'E':
    case 'g':
      if (!need(3)) return Truncated(AAt, "GS");
      return one((std::string("GS ") + static_cast<char>(c)).c_str(), Num(At(AAt + 2)) + " (no dots change)",
                 3);
    case '$':
    case '\\':
      if (!need(4)) return Truncated(AAt, "GS");
      return one((std::string("GS ") + static_cast<char>(c)).c_str(), "(page mode position, no dots change)",
                 4);
    default:
      Unknown(AAt, 2, "GS " + HexBytes(C.Data + AAt + 1, 1));
      return AAt + 2;
  }
}

size_t TEscPos::FileSeparator(size_t AAt) {
  if (!Has(AAt, 2)) return Truncated(AAt, "FS");
  const uint8_t c = At(AAt + 1);
  switch (c) {
    case '&':
      FChineseMode = true;
      C.Add(AAt, 2, "FS &", "Chinese characters on");
      return AAt + 2;
    case '.':
      FChineseMode = false;
      C.Add(AAt, 2, "FS .", "Chinese characters off");
      return AAt + 2;
    case '!': {
      if (!Has(AAt, 3)) return Truncated(AAt, "FS !");
      const uint8_t n = At(AAt + 2);
      FChineseDoubleW = n & 4;
      FChineseDoubleH = n & 8;
      FChineseUnderline = (n & 128) ? 1 : 0;
      C.Add(AAt, 3, "FS !",
            Num(n) + " Chinese" + (FChineseDoubleW ? " double-width" : "") +
                (FChineseDoubleH ? " double-height" : "") + (FChineseUnderline ? " underline" : ""));
      return AAt + 3;
    }
    case '-':
      if (!Has(AAt, 3)) return Truncated(AAt, "FS -");
      FChineseUnderline = (At(AAt + 2) == 1 || At(AAt + 2) == '1')   ? 1
                          : (At(AAt + 2) == 2 || At(AAt + 2) == '2') ? 2
                                                                     : 0;
      C.Add(AAt, 3, "FS -", Num(FChineseUnderline) + "-dot Chinese underline");
      return AAt + 3;
    case 'W':
    case 'C':
      if (!Has(AAt, 3)) return Truncated(AAt, "FS");
      if (c == 'W') FChineseDoubleW = FChineseDoubleH = At(AAt + 2) & 1;
      C.Add(AAt, 3, std::string("FS ") + static_cast<char>(c), Num(At(AAt + 2)));
      return AAt + 3;
    case 'S':
      if (!Has(AAt, 4)) return Truncated(AAt, "FS S");
      C.Add(AAt, 4, "FS S", "Chinese spacing (no dots change)");
      return AAt + 4;
    case 'p':
      if (!Has(AAt, 4)) return Truncated(AAt, "FS p");
      C.Add(AAt, 4, "FS p", "stored image " + Num(At(AAt + 2)) + " (not drawn)");
      C.Find(fsInfo, AAt, "FS p prints an image stored in the printer, which the job does not carry");
      return AAt + 4;
    default:
      Unknown(AAt, 2, "FS " + HexBytes(C.Data + AAt + 1, 1));
      return AAt + 2;
  }
}

size_t TEscPos::Run(size_t AAt, TRenderLanguage& ANext) {
  ANext = rlAuto;
  while (AAt < C.Size && !C.Stopped()) {
    const uint8_t b = At(AAt);
    if (b >= 0x20 && b != 0x7F) {
      Text(AAt);
      continue;
    }
    switch (b) {
      case 0x0A:
        C.Add(AAt, 1, "LF", "print and feed a line");
        PrintLine(-1, AAt);
        ++AAt;
        break;
      case 0x0D:
        C.Add(AAt, 1, "CR");
        ++AAt;
        break;
      case 0x09: {
        C.Add(AAt, 1, "HT");
        const int cell = ((FFontB ? kFontBWidth : kFontAWidth) + FCharSpacing) * FScaleW;
        int next = -1;
        for (int t : FTabs)
          if (t * cell > FX) {
            next = t * cell;
            break;
          }
        if (FTabs.empty()) next = (FX / (8 * cell) + 1) * 8 * cell;
        if (next >= 0 && next <= AreaWidth()) FX = next;
        ++AAt;
        break;
      }
      case 0x0C:
        C.Add(AAt, 1, "FF", "print");
        if (!FLine.empty()) PrintLine(-1, AAt);
        ++AAt;
        break;
      case 0x00: {
        size_t n = 1;
        while (AAt + n < C.Size && At(AAt + n) == 0) ++n;
        C.Add(AAt, n, "NUL", n > 1 ? Num(n) + " bytes (ignored)" : "(ignored)");
        AAt += n;
        break;
      }
      case ESC:
        AAt = Escape(AAt, ANext);
        break;
      case GS:
        AAt = GroupSeparator(AAt);
        break;
      case FS:
        AAt = FileSeparator(AAt);
        break;
      case DLE: {
        uint8_t value = 0;
        bool sumOk = false;
        if (SwitchFrameAt(C.Data + AAt, C.Size - AAt, value, sumOk)) {
          const TRenderLanguage lang = ApplySwitchFrame(C, AAt);
          AAt += 8;
          if (lang == rlTspl) {
            if (!FLine.empty()) PrintLine(-1, AAt);
            FinishPage(AAt);
            ANext = rlTspl;
            return AAt;
          }
          break;
        }
        if (Has(AAt, 3) && (At(AAt + 1) == 4 || At(AAt + 1) == 5)) {
          C.Add(AAt, 3, At(AAt + 1) == 4 ? "DLE EOT" : "DLE ENQ", Num(At(AAt + 2)) + " (real-time)");
          AAt += 3;
          break;
        }
        if (Has(AAt, 5) && At(AAt + 1) == 0x14) {
          C.Add(AAt, 5, "DLE DC4", "real-time function " + Num(At(AAt + 2)));
          AAt += 5;
          break;
        }
        Unknown(AAt, 1, "DLE");
        ++AAt;
        break;
      }
      default:
        Unknown(AAt, 1, "control byte " + HexBytes(C.Data + AAt, 1));
        ++AAt;
        break;
    }
  }
  if (!FLine.empty() && !C.OutOfBudget()) {
    C.Find(fsInfo, C.Size, "the job ends with a line that no LF prints");
    PrintLine(0, C.Size);
  }
  FinishPage(C.Size);
  return AAt;
}

}  // namespace

size_t RunEscPos(TJobContext& AContext, size_t AFrom, TRenderLanguage& ANext) {
  TEscPos interpreter(AContext);
  return interpreter.Run(AFrom, ANext);
}
