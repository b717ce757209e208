#include "EscPosInterpreter.h"

#include <zint.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "CodeDrawing.h"
#include "CodePages.h"

namespace {

const uint8_t ESC = 0x1B, GS = 0x1D, FS = 0x1C, DLE = 0x10, CAN = 0x18;

// The print area of page mode when no ESC W sets one: the printable width
// and this many rows.
constexpr int kPageModeDefaultHeight = 1662;

// A character downloaded by ESC &: Width columns of Bytes bytes each (top
// dot in the most significant bit of the first byte).
struct TUserChar {
  int Width = -1;  // -1: not defined
  int Bytes = 0;
  std::vector<uint8_t> Columns;
};

std::string Num(long long AValue) { return std::to_string(AValue); }

const char* SymbolName(int ACn) {
  switch (ACn) {
    case 48:
      return "PDF417";
    case 49:
      return "QR code";
    case 50:
      return "MaxiCode";
    case 51:
      return "GS1 DataBar";
    case 52:
      return "composite symbol";
    case 53:
      return "Aztec code";
    case 54:
      return "DataMatrix";
    default:
      return "2D symbol";
  }
}

// Epson's GS1 data: "(" and ")" around each application identifier (HRI
// only), {1 FNC1, "*" skipped, {( {) {* {{ the characters themselves.
bool EpsonGs1(const std::string& AData, std::string& AOut, std::string& AError) {
  std::string t;
  for (size_t i = 0; i < AData.size(); ++i) {
    const char c = AData[i];
    if (c == '{' && i + 1 < AData.size()) {
      const char f = AData[++i];
      if (f == '1')
        t += '\x1d';
      else if (f == '(' || f == ')' || f == '*' || f == '{')
        t += f;
      else {
        AError = std::string("GS1 data has an unknown function {") + f;
        return false;
      }
    } else if (c == '(') {
      t += '[';
    } else if (c == ')') {
      t += ']';
    } else if (c != '*') {
      t += c;
    }
  }
  if (!t.empty() && t[0] == '[') {
    t.erase(std::remove(t.begin(), t.end(), '\x1d'), t.end());
    AOut = t;
    return true;
  }
  if (!t.empty() && t[0] == '\x1d') t.erase(0, 1);
  return Gs1ToBracketed(t, "\x1d", AOut, AError);
}

// Something waiting in the line buffer: a character or a bit image, as
// dots already scaled.
struct TLineItem {
  int X = 0;
  int W = 0;  // advance, spacing included
  int H = 0;
  int DotsW = 0;  // width of Mask
  std::vector<uint8_t> Mask;
  // A character: its cached glyph, each dot drawn ScaleX x ScaleY (Mask
  // stays empty).
  std::shared_ptr<const TGlyphMask> Glyph;
  int ScaleX = 1, ScaleY = 1;
  int Underline = 0;
  bool Reverse = false;
};

class TEscPos {
 public:
  explicit TEscPos(TJobContext& AContext) : C(AContext), P(AContext.Options.PrinterProfile()) { Reset(); }

  size_t Run(size_t AFrom, TRenderLanguage& ANext);

 private:
  // State that ESC @ resets.
  void Reset() {
    ResetCommandModes();
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
    FChineseMode = P.StartChineseMode;
    FCodePage = FindEscPosCodePage(P.StartCodePage);
    if (!FCodePage) FCodePage = &DefaultCodePage();
    FInternational = P.StartInternational;
    FChineseDoubleW = FChineseDoubleH = false;
    FChineseUnderline = 0;
    FBarHeight = 162;
    FBarModule = 3;
    FHriPosition = 0;
    FHriFontB = false;
    FTabs.clear();
    F2D = T2DSettings();
  }

  // Upside-down and italic printing, downloaded characters and page mode
  // (ESC @ clears them all and returns to standard mode).
  void ResetCommandModes() {
    FUpsideDown = FLineUpsideDown = false;
    FItalic = false;
    FUserSet = false;
    for (auto& font : FUserChars)
      for (TUserChar& u : font) u = TUserChar();
    if (FPageMode) LeavePageMode(false, 0);
    FPageDirection = 0;
    SetDefaultPrintArea();
  }
  void SetDefaultPrintArea() {
    FAreaX = FAreaY = 0;
    FAreaW = C.Options.Width;
    FAreaH = std::min(kPageModeDefaultHeight, C.Options.MaxPageHeight);
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
    // In page mode the page is the print area, which clips what passes it.
    if (FPageMode) return;
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
    // A page-mode canvas grows only where something is drawn.
    if (!FPageMode) FPage->Page.EnsureHeight(FY);
    CheckLimit(AOffset);
  }
  void Mark(const std::string& AText) {
    Page();
    FPage->Marks.push_back({FY, AText});
  }
  // A page ends at a cut (ACut) and at the end of the job. Paper fed after
  // the last cut, with nothing printed on it, is no page of its own: the
  // printer makes none.
  void FinishPage(size_t AOffset, bool ACut = false) {
    if (FPageMode) {
      // Page mode prints on FF or ESC FF only.
      if (PageModeHasData()) C.Find(fsWarning, AOffset, "page mode data that no FF prints is not printed");
      LeavePageMode(false, AOffset);
    }
    if (FPage && !ACut && FCutSeen && FPage->Marks.empty() && FPage->Page.BlackDots() == 0) FPage.reset();
    if (FPage) C.AddPage(std::move(*FPage), AOffset);
    FPage.reset();
    FCutSeen = FCutSeen || ACut;
  }
  int AreaWidth() const {
    if (FPageMode) return PageModeLineWidth();
    return std::max(0, std::min(FAreaWidth, C.Options.Width - FLeftMargin));
  }
  // Left edge of something AW dots wide under the current alignment (page
  // mode places at the print position, no alignment).
  int AlignedX(int AW) const {
    if (FPageMode) return 0;
    const int free = std::max(0, AreaWidth() - AW);
    return FLeftMargin + (FAlign == 1 ? free / 2 : FAlign == 2 ? free : 0);
  }

  // Page mode: the print area's line length and line count in the print
  // direction (directions 1 and 3 run along the paper).
  int PageModeLineWidth() const { return (FPageDirection & 1) ? FAreaH : FAreaW; }
  int PageModeLines() const { return (FPageDirection & 1) ? FAreaW : FAreaH; }
  void EnterPageMode(size_t AOffset);
  // Turns what was drawn in the print direction onto the page-mode sheet.
  void FoldPageCanvas();
  void NewPageCanvas();
  // Prints the sheet onto the receipt (AKeep: the sheet stays for ESC FF).
  void PrintPageSheet(bool AKeep, size_t AOffset);
  // Back to standard mode; APrint: the sheet is printed first (FF),
  // otherwise its data is discarded (ESC S, ESC @).
  void LeavePageMode(bool APrint, size_t AOffset);
  void DrawLineItems(TRenderPage& ATarget, int AX0, int ATop, int AHeight) const;
  bool PageModeHasData() const {
    return !FLine.empty() || FSheetDirty || (FPage && FPage->Page.BlackDots() > 0);
  }
  // Page mode: what the line holds goes onto the page where it is before
  // the vertical position moves; the next data starts where it ended.
  void PlacePendingItems(size_t AOffset) {
    if (FLine.empty()) return;
    const int x = FX;
    PrintLine(0, AOffset);
    FBaseline = FY;
    FX = x;
  }
  void PutItem(TLineItem&& AItem, size_t AOffset);
  // Prints the line buffer; AFeed < 0: the line spacing (at least the line's height).
  void PrintLine(int AFeed, size_t AOffset);
  void Text(size_t& AAt);
  void Slant(TLineItem& AItem);
  void UserText(const TUserChar& AChar, size_t AAt);
  size_t Escape(size_t AAt, TRenderLanguage& ANext);
  size_t GroupSeparator(size_t AAt);
  size_t FileSeparator(size_t AAt);
  size_t DefineUserChars(size_t AAt);
  // The downloaded character for a byte of text, when the set is in use.
  const TUserChar* UserChar(uint8_t AByte) const {
    if (!FUserSet || AByte < 0x20 || AByte > 0x7E) return nullptr;
    const TUserChar& u = FUserChars[FFontB ? 1 : 0][AByte - 0x20];
    return u.Width >= 0 ? &u : nullptr;
  }
  void Raster(size_t AAt, const uint8_t* ARows, int ARowBytes, int AWidth, int AHeight, int AScaleX,
              int AScaleY);
  void Barcode(size_t AAt, int AType, const std::string& AData);
  // Draws a two-dimensional symbol, each cell AScaleX x AScaleY dots, or
  // nothing when it is wider than the printable area (an error finding).
  void PrintSymbol(size_t AAt, const std::string& AName, const TMatrixCode& ACode, int AScaleX, int AScaleY);
  void SymbolPrint(size_t AAt, int ACn);
  size_t Graphics(size_t AAt, size_t AHeader, size_t ALength);
  size_t TwoD(size_t AAt, size_t ALength);
  void DrawHri(const std::string& AText, int AX, int AY);
  void Unknown(size_t AAt, size_t ALength, const std::string& AWhat) {
    C.Add(AAt, ALength, "?", AWhat, lsNotDrawn);
    C.Find(fsWarning, AAt,
           "unknown command " + HexBytes(C.Data + AAt, std::min<size_t>(ALength, 4)) + ": " + AWhat);
  }
  size_t Truncated(size_t AAt, const std::string& AName) {
    C.Add(AAt, C.Size - AAt, AName, "truncated");
    C.Find(fsWarning, AAt, AName + " is cut short by the end of the job");
    return C.Size;
  }

  TTextState TextState() const {
    TTextState t;
    t.Charset = C.Charset;
    t.ChineseMode = FChineseMode;
    t.CodePage = FCodePage;
    t.International = FInternational;
    return t;
  }

  TJobContext& C;
  const TPrinterProfile& P;
  std::unique_ptr<TRenderedPage> FPage;
  int FY = 0;
  std::vector<TLineItem> FLine;
  int FX = 0;  // next position in the line, from the left margin

  bool FFontB, FBold, FReverse, FChineseMode, FChineseDoubleW, FChineseDoubleH, FHriFontB;
  int FUnderline, FScaleW, FScaleH, FAlign, FLineSpacing, FCharSpacing, FLeftMargin, FAreaWidth;
  int FChineseUnderline, FBarHeight, FBarModule, FHriPosition;
  std::vector<int> FTabs;
  const TCodePage* FCodePage = nullptr;  // ESC t
  int FInternational = 0;                // ESC R
  uint64_t FUnknownTables[4] = {};       // ESC t numbers already reported
  // GS ( k settings of each symbol and the symbol storage areas (by cn -
  // 48); ESC @ resets them.
  struct T2DSettings {
    int QrModel = 50, QrModule = 3, QrEcc = 1;
    int PdfColumns = 0, PdfRows = 0, PdfModule = 3, PdfRowHeight = 3, PdfEccLevel = -1, PdfEccPercent = 10;
    bool PdfTruncated = false;
    int MaxiMode = 2;
    int DataBarModule = 2, DataBarMaxWidth = 0, DataBarType = 72;
    bool AztecCompact = false;
    int AztecLayers = 0, AztecModule = 3, AztecEcc = 23;
    bool DmRectangle = false;
    int DmD1 = 0, DmD2 = 0, DmModule = 3;
    std::string Data[7];
    bool Stored[7] = {};
  } F2D;
  // GS ( L graphics in the print buffer.
  std::vector<uint8_t> FGraphic;
  int FGraphicW = 0, FGraphicH = 0, FGraphicSX = 1, FGraphicSY = 1;
  bool FWidthReported = false;
  bool FCutSeen = false;
  // ESC { (the line in progress keeps the mode it started with), ESC 4.
  bool FUpsideDown = false, FLineUpsideDown = false, FItalic = false;
  // ESC % and the characters ESC & downloaded, for font A and font B.
  bool FUserSet = false;
  TUserChar FUserChars[2][95];
  // Page mode: the print area (ESC W), the print direction (ESC T), the
  // receipt page put aside while the page is composed, the sheet (the
  // page's dots as printed) and the canvas being drawn in the direction.
  bool FPageMode = false;
  int FAreaX = 0, FAreaY = 0, FAreaW = 0, FAreaH = 0, FPageDirection = 0;
  int FSheetBottom = 0;
  bool FSheetDirty = false;   // dots on the sheet since it was last cleared
  bool FAreaCleared = false;  // CAN cleared the area and nothing came since
  int FBaseline = -1;         // GS $: where the next line's bottom goes (-1: none)
  std::unique_ptr<TRenderedPage> FReceipt;
  int FReceiptY = 0;
  std::unique_ptr<TRenderPage> FSheet;
};

void TEscPos::PutItem(TLineItem&& AItem, size_t AOffset) {
  if (FX + AItem.W > AreaWidth() && FX > 0) PrintLine(-1, AOffset);
  if (FX + AItem.W > AreaWidth() && !FWidthReported) {
    FWidthReported = true;
    C.Find(fsWarning, AOffset,
           "text or image " + Num(AItem.W) + " dots wide does not fit the printable width of " +
               Num(AreaWidth()) + " dots");
  }
  if (FLine.empty()) FLineUpsideDown = FUpsideDown && !FPageMode;
  AItem.X = FX;
  FX += AItem.W;
  FLine.push_back(std::move(AItem));
}

void TEscPos::DrawLineItems(TRenderPage& ATarget, int AX0, int ATop, int AHeight) const {
  for (const TLineItem& i : FLine) {
    const int x = AX0 + i.X, y = ATop + AHeight - i.H;
    if (i.Reverse) ATarget.FillRect(x, y, i.W, i.H);
    const TDotMode mode = i.Reverse ? dmClear : dmSet;
    if (i.Glyph)
      DrawGlyph(ATarget, x, y, *i.Glyph, i.ScaleX, i.ScaleY, mode);
    else
      ATarget.DrawMask(x, y, i.Mask.data(), i.DotsW, i.H, 1, 1, mode);
    if (i.Underline > 0) ATarget.FillRect(x, ATop + AHeight - i.Underline, i.W, i.Underline);
  }
}

void TEscPos::PrintLine(int AFeed, size_t AOffset) {
  int height = 0, used = 0;
  for (const TLineItem& i : FLine) {
    height = std::max(height, i.H);
    used = std::max(used, i.X + i.W);
  }
  TRenderPage& page = Page();
  if (FPageMode && FBaseline >= 0) {
    // GS $ placed the bottom of this line.
    FY = std::max(0, FBaseline - height);
    FBaseline = -1;
  }
  // Once the page is at its height limit nothing more can show: the line
  // only advances (its cost stays that of reading it).
  if (!FLine.empty() && FY < page.MaxHeight()) {
    // Alignment counts the characters, not the spacing after the last one.
    const int x0 = AlignedX(used - (FLine.back().W - FLine.back().DotsW));
    if (FLineUpsideDown) {
      // The whole line turned by 180 degrees within the printable width:
      // its first character ends up at the right, upside down.
      TRenderPage strip(page.Width(), height, height);
      DrawLineItems(strip, x0, 0, height);
      page.EnsureHeight(FY + height);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < strip.Width(); ++x)
          if (strip.Dot(x, y)) page.SetDot(strip.Width() - 1 - x, FY + height - 1 - y, true, dmSet);
    } else {
      DrawLineItems(page, x0, FY, height);
    }
  }
  FLine.clear();
  FX = 0;
  FLineUpsideDown = false;
  Feed(AFeed < 0 ? std::max(FLineSpacing, height) : std::max(AFeed, height), AOffset);
}

void TEscPos::NewPageCanvas() {
  FPage = std::make_unique<TRenderedPage>();
  FPage->Job = C.Job;
  FPage->Language = rlEscPos;
  // It grows as it is drawn on, up to the area's extent, and costs nothing
  // while empty.
  FPage->Page = TRenderPage(PageModeLineWidth(), 0, PageModeLines());
  FY = 0;
  FX = 0;
  FBaseline = -1;
}

void TEscPos::EnterPageMode(size_t AOffset) {
  if (!FLine.empty()) PrintLine(-1, AOffset);
  Page();
  FReceipt = std::move(FPage);
  FReceiptY = FY;
  FSheet = std::make_unique<TRenderPage>(C.Options.Width, 0, C.Options.MaxPageHeight);
  FSheetBottom = 0;
  FPageMode = true;
  NewPageCanvas();
}

void TEscPos::FoldPageCanvas() {
  if (!FPageMode || !FPage) return;
  const TRenderPage& canvas = FPage->Page;
  const int w = FAreaW, h = FAreaH;
  bool drawn = false;
  for (int v = 0; v < canvas.Height(); ++v)
    for (int u = 0; u < canvas.Width(); ++u) {
      if (canvas.Row(v)[u >> 3] == 0) {
        u |= 7;
        continue;
      }
      if (!canvas.Dot(u, v)) continue;
      drawn = true;
      int x = u, y = v;
      switch (FPageDirection) {
        case 1:  // bottom to top, from the lower left
          x = v;
          y = h - 1 - u;
          break;
        case 2:  // right to left, from the lower right
          x = w - 1 - u;
          y = h - 1 - v;
          break;
        case 3:  // top to bottom, from the upper right
          x = w - 1 - v;
          y = u;
          break;
        default:
          break;
      }
      FSheet->SetDot(FAreaX + x, FAreaY + y, true, dmSet);
    }
  // An area that received dots prints down to its bottom.
  if (drawn) {
    FSheetBottom = std::max(FSheetBottom, FAreaY + FAreaH);
    FSheetDirty = true;
    FAreaCleared = false;
  }
  for (TPageMark& m : FPage->Marks) FReceipt->Marks.push_back({FReceiptY + FAreaY, std::move(m.Text)});
  FPage->Marks.clear();
  FPage->Page = TRenderPage(PageModeLineWidth(), 0, PageModeLines());
}

void TEscPos::PrintPageSheet(bool AKeep, size_t AOffset) {
  if (!FLine.empty()) PrintLine(-1, AOffset);
  FoldPageCanvas();
  // The printer prints the page down to the bottom of its print area.
  const int rows = std::min(std::max(FSheetBottom, FAreaY + FAreaH), C.Options.MaxPageHeight);
  TRenderPage& receipt = FReceipt->Page;
  if (FReceiptY <= C.Options.MaxPageHeight) {
    receipt.EnsureHeight(FReceiptY + rows);
    if (FSheetDirty)
      for (int y = 0; y < std::min(rows, FSheet->Height()); ++y)
        for (int x = 0; x < FSheet->Width(); ++x) {
          if (FSheet->Row(y)[x >> 3] == 0) {
            x |= 7;
            continue;
          }
          if (FSheet->Dot(x, y)) receipt.SetDot(x, FReceiptY + y, true, dmSet);
        }
  }
  FReceiptY = std::min(FReceiptY + rows, C.Options.MaxPageHeight + 1);
  if (receipt.HeightLimitHit() && !C.PageLimitReported) {
    C.PageLimitReported = true;
    C.Find(fsWarning, AOffset,
           "the page reached its height limit of " + Num(C.Options.MaxPageHeight) +
               " rows; the rest is not drawn");
  }
  if (!AKeep) {
    FSheet->Clear();
    FSheetBottom = 0;
    FSheetDirty = false;
  }
}

void TEscPos::LeavePageMode(bool APrint, size_t AOffset) {
  if (APrint) {
    PrintPageSheet(false, AOffset);
  } else {
    FLine.clear();
    FX = 0;
  }
  FPage = std::move(FReceipt);
  FY = FReceiptY;
  FSheet.reset();
  FPageMode = false;
  FBaseline = -1;
  // FF and ESC S give the print area back its default.
  SetDefaultPrintArea();
}

void TEscPos::Text(size_t& AAt) {
  const size_t from = AAt;
  bool invalidReported = false;
  const TTextState state = TextState();
  while (AAt < C.Size && At(AAt) >= 0x20 && At(AAt) != 0x7F && !C.Stopped()) {
    if (const TUserChar* u = UserChar(At(AAt))) {
      UserText(*u, AAt);
      ++AAt;
      continue;
    }
    const TDecodedChar d = DecodeText(state, C.Data + AAt, C.Size - AAt);
    if (!d.Valid && !invalidReported) {
      invalidReported = true;
      if (C.Charset == csUtf8 || FChineseMode)
        C.Find(fsWarning, AAt,
               std::string("invalid ") + (C.Charset == csGbk ? "GBK" : "UTF-8") + " byte " +
                   HexBytes(C.Data + AAt, std::min<size_t>(d.Length + 1, C.Size - AAt)));
      else
        C.Find(fsWarning, AAt,
               "byte " + HexBytes(C.Data + AAt, 1) + " has no character in code page " + FCodePage->Name);
    }
    int cw, ch, sw = FScaleW, sh = FScaleH, underline = FUnderline;
    if (d.Wide) {
      cw = ch = P.ChineseCell;
      if (FChineseDoubleW) sw = std::max(sw, 2);
      if (FChineseDoubleH) sh = std::max(sh, 2);
      underline = std::max(underline, FChineseUnderline);
    } else {
      cw = FFontB ? P.FontBWidth : P.FontAWidth;
      ch = FFontB ? P.FontBHeight : P.FontAHeight;
    }
    TLineItem item;
    item.Glyph = TTextDrawing::Shared().CachedGlyph(d.Code, cw, ch, FBold, d.Wide);
    item.ScaleX = sw;
    item.ScaleY = sh;
    item.DotsW = item.Glyph->Width * sw;
    item.H = item.Glyph->Height * sh;
    item.W = item.DotsW + (d.Wide ? 0 : FCharSpacing * sw);
    item.Underline = underline > 0 ? underline : 0;
    item.Reverse = FReverse;
    if (FItalic) Slant(item);
    PutItem(std::move(item), AAt);
    AAt += std::min(d.Length, C.Size - AAt);
  }
  C.Add(from, AAt - from, "TEXT", "\"" + TextToUtf8(state, C.Data + from, AAt - from) + "\"");
}

// Italic: rows shifted right the more the higher they are, the top by a
// quarter of the height; the glyph may reach into the next cell.
void TEscPos::Slant(TLineItem& AItem) {
  const int shift = AItem.H / 4;
  if (shift <= 0 || AItem.DotsW <= 0) return;
  if (AItem.Glyph) {
    // A cached glyph is drawn scaled; slanting needs its dots at size.
    const TGlyphMask& g = *AItem.Glyph;
    AItem.Mask.assign(static_cast<size_t>(AItem.DotsW) * AItem.H, 0);
    for (int y = 0; y < AItem.H; ++y)
      for (int x = 0; x < AItem.DotsW; ++x)
        AItem.Mask[static_cast<size_t>(y) * AItem.DotsW + x] =
            g.Dots[static_cast<size_t>(std::min(y / AItem.ScaleY, g.Height - 1)) * g.Width +
                   std::min(x / AItem.ScaleX, g.Width - 1)];
    AItem.Glyph.reset();
  }
  const int w = AItem.DotsW + shift;
  std::vector<uint8_t> mask(static_cast<size_t>(w) * AItem.H, 0);
  for (int y = 0; y < AItem.H; ++y) {
    const int s = (AItem.H - 1 - y) * shift / std::max(1, AItem.H - 1);
    for (int x = 0; x < AItem.DotsW; ++x)
      mask[static_cast<size_t>(y) * w + x + s] = AItem.Mask[static_cast<size_t>(y) * AItem.DotsW + x];
  }
  AItem.Mask = std::move(mask);
  AItem.DotsW = w;
}

// A downloaded character: its columns in the font's cell, scaled like
// the built-in characters, followed by the right-side spacing.
void TEscPos::UserText(const TUserChar& AChar, size_t AAt) {
  const int ch = FFontB ? P.FontBHeight : P.FontAHeight;
  TLineItem item;
  item.DotsW = AChar.Width * FScaleW;
  item.H = ch * FScaleH;
  item.W = item.DotsW + FCharSpacing * FScaleW;
  item.Mask.assign(static_cast<size_t>(item.DotsW) * item.H, 0);
  const int rows = std::min(ch, AChar.Bytes * 8);
  for (int col = 0; col < AChar.Width; ++col)
    for (int r = 0; r < rows; ++r) {
      if (!((AChar.Columns[static_cast<size_t>(col) * AChar.Bytes + r / 8] >> (7 - r % 8)) & 1)) continue;
      for (int yy = 0; yy < FScaleH; ++yy)
        for (int xx = 0; xx < FScaleW; ++xx)
          item.Mask[static_cast<size_t>(r * FScaleH + yy) * item.DotsW + col * FScaleW + xx] = 1;
    }
  item.Underline = FUnderline;
  item.Reverse = FReverse;
  if (FItalic) Slant(item);
  PutItem(std::move(item), AAt);
}

// ESC & y c1 c2, then for each character c1..c2 its width x and x columns
// of y bytes. The characters belong to the font selected now.
size_t TEscPos::DefineUserChars(size_t AAt) {
  if (!Has(AAt, 5)) return Truncated(AAt, "ESC &");
  const int y = At(AAt + 2), c1 = At(AAt + 3), c2 = At(AAt + 4);
  const int cellW = FFontB ? P.FontBWidth : P.FontAWidth, cellH = FFontB ? P.FontBHeight : P.FontAHeight;
  if (y < 1 || y > 3 || c1 < 0x20 || c2 > 0x7E || c1 > c2) {
    C.Add(AAt, 5, "ESC &", "malformed", lsNotDrawn);
    C.Find(fsWarning, AAt,
           "ESC & takes 1 to 3 bytes a column and codes 32 to 126, not y " + Num(y) + ", codes " + Num(c1) +
               " to " + Num(c2));
    return AAt + 5;
  }
  // The whole definition must be in the job before any of it is stored.
  size_t i = AAt + 5;
  for (int c = c1; c <= c2; ++c) {
    if (i >= C.Size) return Truncated(AAt, "ESC &");
    const size_t bytes = static_cast<size_t>(At(i)) * y;
    if (C.Size - i - 1 < bytes) return Truncated(AAt, "ESC &");
    i += 1 + bytes;
  }
  C.Add(AAt, i - AAt, "ESC &",
        Num(c2 - c1 + 1) + " downloaded characters " + Num(c1) + " to " + Num(c2) + ", font " +
            (FFontB ? "B" : "A"));
  bool wideReported = false;
  i = AAt + 5;
  for (int c = c1; c <= c2; ++c) {
    const int x = At(i);
    TUserChar& u = FUserChars[FFontB ? 1 : 0][c - 0x20];
    u.Width = std::min(x, cellW);
    u.Bytes = y;
    u.Columns.assign(C.Data + i + 1, C.Data + i + 1 + static_cast<size_t>(u.Width) * y);
    if ((x > cellW || y * 8 < cellH - 7) && !wideReported) {
      wideReported = true;
      C.Find(fsWarning, AAt,
             "ESC & character " + Num(c) + " is " + Num(x) + " x " + Num(y * 8) +
                 " dots; the font's cell is " + Num(cellW) + " x " + Num(cellH));
    }
    i += 1 + static_cast<size_t>(x) * y;
  }
  return i;
}

void TEscPos::Raster(size_t AAt, const uint8_t* ARows, int ARowBytes, int AWidth, int AHeight, int AScaleX,
                     int AScaleY) {
  if (!FLine.empty()) PrintLine(-1, AAt);
  if (FPageMode && FBaseline >= 0) {
    // Page mode stands an image on the vertical position GS $ set.
    FY = std::max(0, FBaseline - AHeight * AScaleY);
    FBaseline = -1;
  }
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
  static const int kSymbology[] = {BARCODE_UPCA,     BARCODE_UPCE,     BARCODE_EANX,     BARCODE_EANX,
                                   BARCODE_CODE39,   BARCODE_C25INTER, BARCODE_CODABAR,  BARCODE_CODE93,
                                   BARCODE_CODE128,  BARCODE_GS1_128,  BARCODE_DBAR_OMN, BARCODE_DBAR_OMN,
                                   BARCODE_DBAR_LTD, BARCODE_DBAR_EXP};
  int symbology = kSymbology[AType];
  if (!C.ProfileDraws(static_cast<TCodeFamily>(EscPosBarcodeFamily(AType)), AAt)) return;
  std::string data = AData;
  // EAN-8 is 7 digits and its check digit, or the 7 alone.
  if (AType == 3) {
    if (data.size() == 8) symbology = BARCODE_EANX_CHK;
    const bool digits = std::all_of(data.begin(), data.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits && data.size() != 7 && data.size() != 8) {
      C.Find(fsWarning, AAt, "barcode not printed: EAN-8 takes 7 digits, or 8 with the check digit");
      return;
    }
  }
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
  TLinearCode code;
  if (AType == 9 || AType == 13) {
    std::string gs1, error;
    if (!EpsonGs1(data, gs1, error))
      code.Error = error;
    else if (AType == 9)
      code = EncodeLinearCode(BARCODE_GS1_128, gs1, 0, true);
    else
      code = EncodeDataBarLinear(dbExpanded, gs1);
  } else if (AType >= 10 && AType <= 12) {
    code = EncodeDataBarLinear(AType == 10 ? dbOmnidirectional : AType == 11 ? dbTruncated : dbLimited, data);
  } else {
    code = EncodeLinearCode(symbology, data);
  }
  if (!code.Ok) {
    C.Find(fsWarning, AAt, "barcode not printed: " + code.Error);
    return;
  }
  static const int kWide[] = {0, 0, 5, 8, 10, 13, 15};
  const int module = FBarModule >= 68 && FBarModule <= 76 ? FBarModule - 66 : std::clamp(FBarModule, 1, 6);
  const std::vector<uint8_t> dots = LinearCodeDots(code, IsTwoWidthSymbology(symbology), module,
                                                   module <= 6 ? kWide[module] : module * 5 / 2);
  const int w = static_cast<int>(dots.size());
  if (w > AreaWidth()) {
    C.Find(fsError, AAt,
           "barcode " + Num(w) + " dots wide does not fit the printable width of " + Num(AreaWidth()) +
               " dots: nothing is printed");
    return;
  }
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

void TEscPos::PrintSymbol(size_t AAt, const std::string& AName, const TMatrixCode& ACode, int AScaleX,
                          int AScaleY) {
  const int w = ACode.Width * AScaleX;
  if (w > AreaWidth()) {
    C.Find(fsError, AAt,
           AName + " " + Num(w) + " dots wide does not fit the printable width of " + Num(AreaWidth()) +
               " dots: nothing is printed");
    return;
  }
  Page().DrawMask(AlignedX(w), FY, ACode.Modules.data(), ACode.Width, ACode.Height, AScaleX, AScaleY);
  Feed(ACode.Height * AScaleY, AAt);
}

void TEscPos::SymbolPrint(size_t AAt, int ACn) {
  if (!FLine.empty()) PrintLine(-1, AAt);
  const int slot = ACn - 48;
  const std::string name = SymbolName(ACn);
  if (!C.ProfileDraws(static_cast<TCodeFamily>(EscPosSymbolFamily(ACn, F2D.QrModel)), AAt)) return;
  if (!F2D.Stored[slot]) {
    C.Find(fsWarning, AAt, name + " printed with no data stored");
    return;
  }
  const std::string& data = F2D.Data[slot];
  TMatrixCode code;
  int sx = 1, sy = 1;
  switch (ACn) {
    case 48: {
      TPdf417Options o;
      o.Columns = F2D.PdfColumns;
      o.Rows = F2D.PdfRows;
      o.EccLevel = F2D.PdfEccLevel;
      o.EccPercent = F2D.PdfEccPercent;
      o.Truncated = F2D.PdfTruncated;
      code = EncodePdf417(data, o);
      if (code.Ok && o.Columns == 0 && code.Width * F2D.PdfModule > AreaWidth()) {
        // Automatic columns fill at most the printable area.
        o.Columns = std::clamp((AreaWidth() / F2D.PdfModule - (o.Truncated ? 35 : 69)) / 17, 1, 30);
        code = EncodePdf417(data, o);
      }
      sx = F2D.PdfModule;
      sy = F2D.PdfModule * F2D.PdfRowHeight;
      break;
    }
    case 49:
      if (F2D.QrModel == 51) {
        if (F2D.QrEcc == 4) C.Find(fsInfo, AAt, "Micro QR has no error correction level H; Q is used");
        code = EncodeMicroQrCode(data, std::min(F2D.QrEcc, 3));
      } else {
        if (F2D.QrModel == 49)
          C.Find(fsInfo, AAt, "QR code model 1 is drawn as model 2 (the same data; libzint has no model 1)");
        code = EncodeQrCode(data, F2D.QrEcc);
      }
      sx = sy = F2D.QrModule;
      break;
    case 50:
      code = EncodeMaxiCode(F2D.MaxiMode, data);
      break;
    case 51: {
      const int type = F2D.DataBarType;
      if (type == 76) {
        std::string gs1, error;
        if (!EpsonGs1(data, gs1, error)) {
          code.Error = error;
          break;
        }
        // Segment pairs per row from the widest the symbol may be.
        int columns = 0;
        if (F2D.DataBarMaxWidth > 0)
          columns = std::clamp(F2D.DataBarMaxWidth / F2D.DataBarModule / 49, 1, 11);
        code = EncodeDataBar(dbExpandedStacked, gs1, columns);
      } else {
        code = EncodeDataBar(type == 73 ? dbStackedOmnidirectional : dbStacked, data);
      }
      sx = sy = F2D.DataBarModule;
      break;
    }
    case 53:
      code = EncodeAztec(data, F2D.AztecCompact ? 1 : 0, F2D.AztecLayers, F2D.AztecEcc);
      sx = sy = F2D.AztecModule;
      break;
    case 54:
      code = EncodeDataMatrix(data, F2D.DmRectangle, F2D.DmD1, F2D.DmD2);
      sx = sy = F2D.DmModule;
      break;
    default:
      return;
  }
  if (!code.Ok) {
    C.Find(fsWarning, AAt, name + " not printed: " + code.Error);
    return;
  }
  PrintSymbol(AAt, name, code, sx, sy);
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
  C.Add(AAt, end - AAt, name, "function " + Num(fn) + " (not drawn)", lsNotDrawn);
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
  // Parameter i after cn fn, or -1 when the command is too short for it.
  auto arg = [&](size_t AIndex) -> int { return ALength > AIndex + 2 ? p[AIndex + 2] : -1; };
  auto list = [&](const std::string& AText) { C.Add(AAt, end - AAt, "GS ( k", AText); };
  auto badValue = [&](const std::string& AWhat, int AValue) {
    C.Find(fsWarning, AAt,
           std::string(SymbolName(cn)) + " " + AWhat + " " + Num(AValue) + " is out of range; ignored");
  };
  if (cn < 48 || cn > 54 || cn == 52) {
    list(std::string(cn == 52 ? "composite symbol" : "symbol " + Num(cn)) + " function " + Num(fn) +
         " (not drawn)");
    C.Find(fsInfo, AAt,
           (cn == 52 ? std::string("composite symbols are") : "2D symbol " + Num(cn) + " is") + " not drawn");
    return end;
  }
  const std::string name = SymbolName(cn);
  const int slot = cn - 48;
  if (fn == 80) {
    // Store: m (48), for GS1 DataBar the symbol type, then the data.
    size_t from = 3;
    if (cn == 51) {
      const int type = arg(1);
      if (type == 72 || type == 73 || type == 76)
        F2D.DataBarType = type;
      else
        badValue("type", type);
      from = 4;
    }
    F2D.Data[slot].assign(reinterpret_cast<const char*>(p) + std::min(from, ALength),
                          reinterpret_cast<const char*>(p) + ALength);
    F2D.Stored[slot] = true;
    list(name + " store " + Num(F2D.Data[slot].size()) + " bytes");
    return end;
  }
  if (fn == 81) {
    list(name + " print");
    SymbolPrint(AAt, cn);
    return end;
  }
  if (fn == 82) {
    list(name + " transmit size information (no dots change)");
    return end;
  }
  const int n = arg(0);
  switch (cn) {
    case 48:  // PDF417
      switch (fn) {
        case 65:
          if (n >= 0 && n <= 30)
            F2D.PdfColumns = n;
          else
            badValue("columns", n);
          list("PDF417 columns " + (F2D.PdfColumns ? Num(F2D.PdfColumns) : std::string("automatic")));
          return end;
        case 66:
          if (n == 0 || (n >= 3 && n <= 90))
            F2D.PdfRows = n;
          else
            badValue("rows", n);
          list("PDF417 rows " + (F2D.PdfRows ? Num(F2D.PdfRows) : std::string("automatic")));
          return end;
        case 67:
          if (n >= 2 && n <= 8)
            F2D.PdfModule = n;
          else
            badValue("module width", n);
          list("PDF417 module width " + Num(F2D.PdfModule) + " dots");
          return end;
        case 68:
          if (n >= 2 && n <= 8)
            F2D.PdfRowHeight = n;
          else
            badValue("row height", n);
          list("PDF417 row height " + Num(F2D.PdfRowHeight) + " x module width");
          return end;
        case 69: {
          const int v = arg(1);
          if (n == 48 && v >= 48 && v <= 56) {
            F2D.PdfEccLevel = v - 48;
          } else if (n == 49 && v >= 1 && v <= 40) {
            F2D.PdfEccLevel = -1;
            F2D.PdfEccPercent = v * 10;
          } else {
            badValue("error correction", v);
          }
          list(F2D.PdfEccLevel >= 0 ? "PDF417 error correction level " + Num(F2D.PdfEccLevel)
                                    : "PDF417 error correction " + Num(F2D.PdfEccPercent) + "% of the data");
          return end;
        }
        case 70:
          if (n == 0 || n == 48 || n == 1 || n == 49)
            F2D.PdfTruncated = n & 1;
          else
            badValue("option", n);
          list(F2D.PdfTruncated ? "PDF417 truncated" : "PDF417 standard");
          return end;
        default:
          break;
      }
      break;
    case 49:  // QR code
      switch (fn) {
        case 65:
          if (n < 49 || n > 51) {
            badValue("model", n);
          } else if (!C.Options.PrinterProfile().HasCode(
                         static_cast<TCodeFamily>(EscPosSymbolFamily(49, n)))) {
            // The printer ignores a model it does not have and keeps the one in force.
            C.Find(fsWarning, AAt,
                   std::string(n == 51 ? "Micro QR" : "QR code model 1") + " is not a code the " +
                       C.Options.PrinterProfile().Name + " printer draws: the model selection is ignored");
          } else {
            F2D.QrModel = n;
          }
          list(F2D.QrModel == 51 ? std::string("QR model Micro QR") : "QR model " + Num(F2D.QrModel - 48));
          return end;
        case 67:
          if (n >= 1 && n <= 16)
            F2D.QrModule = n;
          else
            badValue("module size", n);
          list("QR module size " + Num(F2D.QrModule));
          return end;
        case 69: {
          if (n >= 48 && n <= 51)
            F2D.QrEcc = n - 47;
          else
            badValue("error correction", n);
          static const char* const kLevel[] = {"", "L", "M", "Q", "H"};
          list(std::string("QR error correction ") + kLevel[F2D.QrEcc]);
          return end;
        }
        default:
          break;
      }
      break;
    case 50:  // MaxiCode
      if (fn == 65) {
        if (n >= 50 && n <= 54)
          F2D.MaxiMode = n - 48;
        else
          badValue("mode", n);
        list("MaxiCode mode " + Num(F2D.MaxiMode));
        return end;
      }
      break;
    case 51:  // GS1 DataBar (stacked)
      if (fn == 67) {
        if (n >= 2 && n <= 8)
          F2D.DataBarModule = n;
        else
          badValue("module width", n);
        list("GS1 DataBar module width " + Num(F2D.DataBarModule) + " dots");
        return end;
      }
      if (fn == 71) {
        const int w = n < 0 ? -1 : n | (std::max(0, arg(1)) << 8);
        if (w == 0 || (w >= 106 && w <= 3200))
          F2D.DataBarMaxWidth = w;
        else
          badValue("maximum width", w);
        list("GS1 DataBar Expanded Stacked maximum width " +
             (F2D.DataBarMaxWidth ? Num(F2D.DataBarMaxWidth) + " dots" : std::string("automatic")));
        return end;
      }
      break;
    case 53:  // Aztec
      if (fn == 66) {
        const int layers = arg(1);
        const bool compact = n == 1 || n == 49;
        if ((n == 0 || n == 48 || compact) && layers >= 0 && layers <= (compact ? 4 : 32)) {
          F2D.AztecCompact = compact;
          F2D.AztecLayers = layers;
        } else {
          badValue("mode and layers", layers);
        }
        list(std::string("Aztec ") + (F2D.AztecCompact ? "compact" : "full range") + ", " +
             (F2D.AztecLayers ? Num(F2D.AztecLayers) + " layers" : std::string("layers automatic")));
        return end;
      }
      if (fn == 67) {
        if (n >= 2 && n <= 16)
          F2D.AztecModule = n;
        else
          badValue("module size", n);
        list("Aztec module size " + Num(F2D.AztecModule));
        return end;
      }
      if (fn == 69) {
        if (n >= 5 && n <= 95)
          F2D.AztecEcc = n;
        else
          badValue("error correction", n);
        list("Aztec error correction " + Num(F2D.AztecEcc) + "%");
        return end;
      }
      break;
    case 54:  // DataMatrix
      if (fn == 66) {
        const int d1 = arg(1), d2 = arg(2);
        if ((n == 0 || n == 48 || n == 1 || n == 49) && d1 >= 0 && d2 >= 0) {
          F2D.DmRectangle = n & 1;
          F2D.DmD1 = d1;
          F2D.DmD2 = d2;
        } else {
          badValue("symbol type", n);
        }
        list(std::string("DataMatrix ") + (F2D.DmRectangle ? "rectangle" : "square") +
             (F2D.DmD1 || F2D.DmD2 ? " " + Num(F2D.DmD1) + " x " + Num(F2D.DmD2)
                                   : std::string(", size automatic")));
        return end;
      }
      if (fn == 67) {
        if (n >= 2 && n <= 16)
          F2D.DmModule = n;
        else
          badValue("module size", n);
        list("DataMatrix module size " + Num(F2D.DmModule));
        return end;
      }
      break;
    default:
      break;
  }
  list(name + " function " + Num(fn) + " (no dots change)");
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
    case 'd': {
      if (!need(3)) return Truncated(AAt, "ESC d");
      const int n = At(AAt + 2);
      C.Add(AAt, 3, "ESC d", "print and feed " + Num(n) + " lines");
      const bool had = !FLine.empty();
      if (had) PrintLine(-1, AAt);
      Feed(FLineSpacing * std::max(0, n - (had ? 1 : 0)), AAt);
      return AAt + 3;
    }
    case 'e': {
      // Prints the line, then feeds the paper back n lines, never above the
      // top of the page: what follows prints over what is above.
      if (!need(3)) return Truncated(AAt, "ESC e");
      const int n = At(AAt + 2);
      C.Add(AAt, 3, "ESC e", "print and feed back " + Num(n) + " lines");
      if (!FLine.empty()) PrintLine(0, AAt);
      Page();
      const int back = FLineSpacing * n;
      if (back > FY) {
        C.Find(fsInfo, AAt,
               "ESC e feeds back " + Num(back) + " dots but the top of the page is " + Num(FY) +
                   " dots above; it stops there");
      }
      FY = std::max(0, FY - back);
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
      C.Add(AAt, 4, "ESC B", "buzzer " + Num(n) + " times, " + Num(t * 50) + " ms", lsNoVisibleEffect);
      return AAt + 4;
    }
    case 'p': {
      if (!need(5)) return Truncated(AAt, "ESC p");
      Mark("cash drawer pin " + Num(At(AAt + 2) & 1 ? 5 : 2));
      C.Add(AAt, 5, "ESC p",
            "drawer pulse pin " + Num(At(AAt + 2) & 1 ? 5 : 2) + ", " + Num(At(AAt + 3) * 2) + "/" +
                Num(At(AAt + 4) * 2) + " ms",
            lsNoVisibleEffect);
      return AAt + 5;
    }
    case 't': {
      if (!need(3)) return Truncated(AAt, "ESC t");
      const int n = At(AAt + 2);
      const TCodePage* page = FindEscPosCodePage(n);
      // Each unknown table is reported once per job.
      const uint64_t bit = uint64_t{1} << (n % 64);
      if (!page && !(FUnknownTables[n / 64] & bit)) {
        FUnknownTables[n / 64] |= bit;
        C.Find(fsWarning, AAt,
               "ESC t " + Num(n) + " selects a code page this printer does not have; PC437 is drawn");
      }
      FCodePage = page ? page : &DefaultCodePage();
      return one("ESC t", Num(n) + " (" + (page ? page->Name : std::string("unknown, PC437")) + ")", 3);
    }
    case 'R': {
      if (!need(3)) return Truncated(AAt, "ESC R");
      const int n = At(AAt + 2);
      const char* name = InternationalSetName(n);
      if (!name)
        C.Find(fsWarning, AAt, "ESC R " + Num(n) + " selects no international character set; USA is drawn");
      FInternational = name ? n : 0;
      return one("ESC R", Num(n) + " (" + (name ? name : "unknown, USA") + ")", 3);
    }
    case 'V':
    case 'U':
    case 'c':
    case '=':
    case 'r': {
      // Rotation, unidirectional, panel keys, peripheral, colour: listed;
      // rotation and colour are not drawn, the rest leaves no mark on the
      // paper.
      size_t len = 3;
      if (c == 'c') len = 4;
      if (!need(len)) return Truncated(AAt, std::string("ESC ") + static_cast<char>(c));
      const bool notDrawn = c == 'V' || c == 'r';
      C.Add(AAt, len, std::string("ESC ") + static_cast<char>(c),
            Num(At(AAt + len - 1)) + " (no dots change)", notDrawn ? lsNotDrawn : lsNoVisibleEffect);
      return AAt + len;
    }
    case '<':
      C.Add(AAt, 2, "ESC <", "return home", lsNoVisibleEffect);
      return AAt + 2;
    case 'i':
    case 'm':
      // The older partial cuts (one point or three points left uncut).
      C.Add(AAt, 2, c == 'i' ? "ESC i" : "ESC m", "partial cut");
      if (FPageMode) {
        C.Listing.Lines().back().Status = lsNoVisibleEffect;
        return AAt + 2;
      }
      if (!FLine.empty()) PrintLine(-1, AAt);
      Mark("partial cut");
      FinishPage(AAt, true);
      return AAt + 2;
    case '{': {
      if (!need(3)) return Truncated(AAt, "ESC {");
      FUpsideDown = At(AAt + 2) & 1;
      return one("ESC {", FUpsideDown ? "1 (upside down)" : "0 (upside down off)", 3);
    }
    case '4':
    case '5': {
      // Italic on and off. ESC/POS generators send ESC 4 n (n = 0 or 1);
      // printers of the ESC/P tradition take ESC 4 and ESC 5 alone. A byte
      // 0 or 1 after ESC 4 is its parameter; anything else is not.
      size_t len = 2;
      if (c == '4' && need(3) && At(AAt + 2) <= 1) {
        len = 3;
        FItalic = At(AAt + 2) == 1;
      } else {
        FItalic = c == '4';
      }
      return one(
          c == '4' ? "ESC 4" : "ESC 5",
          std::string(len == 3 ? Num(At(AAt + 2)) + " " : "") + (FItalic ? "(italic)" : "(italic off)"), len);
    }
    case '%': {
      if (!need(3)) return Truncated(AAt, "ESC %");
      FUserSet = At(AAt + 2) & 1;
      return one("ESC %", FUserSet ? "1 (downloaded characters)" : "0 (built-in characters)", 3);
    }
    case '&':
      return DefineUserChars(AAt);
    case '?': {
      if (!need(3)) return Truncated(AAt, "ESC ?");
      const int n = At(AAt + 2);
      if (n >= 0x20 && n <= 0x7E)
        for (auto& font : FUserChars) font[n - 0x20] = TUserChar();
      return one("ESC ?", "cancel downloaded character " + Num(n), 3);
    }
    case 'L':
      C.Add(AAt, 2, "ESC L", "page mode");
      if (!FPageMode) EnterPageMode(AAt);
      return AAt + 2;
    case 'S':
      C.Add(AAt, 2, "ESC S", "standard mode");
      if (FPageMode) {
        if (PageModeHasData()) C.Find(fsWarning, AAt, "ESC S discards the page mode data that no FF printed");
        LeavePageMode(false, AAt);
      }
      return AAt + 2;
    case 0x0C:
      C.Add(AAt, 2, "ESC FF", "print the page");
      if (FPageMode)
        PrintPageSheet(true, AAt);
      else
        C.Listing.Lines().back().Status = lsNoVisibleEffect;
      return AAt + 2;
    case 'W': {
      if (!need(10)) return Truncated(AAt, "ESC W");
      auto word = [&](size_t AIndex) { return At(AAt + AIndex) | (At(AAt + AIndex + 1) << 8); };
      const int x = word(2), y = word(4), w = word(6), h = word(8);
      C.Add(AAt, 10, "ESC W", "print area " + Num(w) + " x " + Num(h) + " dots at " + Num(x) + "," + Num(y));
      if (w == 0 || h == 0 || x >= C.Options.Width || y + h > C.Options.MaxPageHeight) {
        C.Find(fsWarning, AAt,
               "ESC W print area " + Num(w) + " x " + Num(h) + " at " + Num(x) + "," + Num(y) +
                   " does not fit the page");
        if (w == 0 || h == 0 || x >= C.Options.Width) return AAt + 10;
      }
      if (FPageMode) {
        if (!FLine.empty()) PrintLine(-1, AAt);
        FoldPageCanvas();
      }
      FAreaCleared = false;
      FAreaX = x;
      FAreaY = std::min(y, C.Options.MaxPageHeight - 1);
      FAreaW = std::min(w, C.Options.Width - x);
      FAreaH = std::min(h, C.Options.MaxPageHeight - FAreaY);
      if (FPageMode) NewPageCanvas();
      return AAt + 10;
    }
    case 'T': {
      if (!need(3)) return Truncated(AAt, "ESC T");
      const int n = At(AAt + 2);
      const int d = (n >= 48 ? n - 48 : n) & 3;
      static const char* const kDirection[] = {"left to right", "bottom to top", "right to left",
                                               "top to bottom"};
      C.Add(AAt, 3, "ESC T", Num(n) + " (page mode " + kDirection[d] + ")",
            FPageMode ? lsDone : lsNoVisibleEffect);
      if (FPageMode && d != FPageDirection) {
        if (!FLine.empty()) PrintLine(-1, AAt);
        FoldPageCanvas();
        FPageDirection = d;
        NewPageCanvas();
      } else {
        FPageDirection = d;
      }
      return AAt + 3;
    }
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
                   " dots is larger than the printer's buffer (" +
                   Num(C.Options.PrinterBufferBytes / std::max(1, C.Options.Width / 8)) + " rows at " +
                   Num(C.Options.Width) + " dots)");
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
      static const char* const kNames[] = {"UPC-A",
                                           "UPC-E",
                                           "EAN-13",
                                           "EAN-8",
                                           "CODE39",
                                           "ITF",
                                           "CODABAR",
                                           "CODE93",
                                           "CODE128",
                                           "GS1-128",
                                           "GS1 DataBar Omnidirectional",
                                           "GS1 DataBar Truncated",
                                           "GS1 DataBar Limited",
                                           "GS1 DataBar Expanded"};
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
      if (m >= 65 && m <= 79) {
        if (!need(4)) return Truncated(AAt, "GS k");
        const size_t n = At(AAt + 3);
        if (!need(4 + n)) return Truncated(AAt, "GS k");
        if (m == 79) {
          // Code 128 with automatic code sets, on the newest printers.
          C.Add(AAt, 4 + n, "GS k", "type 79 (not drawn)");
          C.Find(fsInfo, AAt, "GS k barcode type 79 is not drawn");
          return AAt + 4 + n;
        }
        const std::string data(reinterpret_cast<const char*>(C.Data) + AAt + 4, n);
        C.Add(AAt, 4 + n, "GS k",
              std::string(kNames[m - 65]) + " \"" +
                  TextToUtf8(TTextState{csGbk, false, nullptr, 0}, C.Data + AAt + 4, n) + "\"");
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
      // Test print, character effects, page-mode area and lines print
      // something; the other functions set the printer up.
      const bool prints = f == 'A' || f == 'N' || f == 'P' || f == 'Q';
      C.Add(AAt, 5 + len, name, "(no dots change)", prints ? lsNotDrawn : lsNoVisibleEffect);
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
      if (FPageMode) {
        // A cut waits for standard mode.
        C.Listing.Lines().back().Status = lsNoVisibleEffect;
        return AAt + len;
      }
      if (!FLine.empty()) PrintLine(-1, AAt);
      Feed(feed, AAt);
      Mark((m & 1) ? "partial cut" : "full cut");
      FinishPage(AAt, true);
      return AAt + len;
    }
    case 'S':
      C.Add(AAt, 2, "GS S", "cut");
      if (FPageMode) {
        C.Listing.Lines().back().Status = lsNoVisibleEffect;
        return AAt + 2;
      }
      if (!FLine.empty()) PrintLine(-1, AAt);
      Mark("cut");
      FinishPage(AAt, true);
      return AAt + 2;
    case 'P':
      if (!need(4)) return Truncated(AAt, "GS P");
      C.Add(AAt, 4, "GS P", "motion units (no dots change)", lsNoVisibleEffect);
      return AAt + 4;
    case 'a':
    case 'r':
    case 'I':
    case 'b':
    case 'T':
    case 'E':
    case 'g':
      if (!need(3)) return Truncated(AAt, "GS");
      C.Add(AAt, 3, std::string("GS ") + static_cast<char>(c), Num(At(AAt + 2)) + " (no dots change)",
            lsNoVisibleEffect);
      return AAt + 3;
    case '$':
    case '\\': {
      // Page mode: the vertical print position (absolute or relative) in
      // the print direction; in standard mode nothing happens.
      if (!need(4)) return Truncated(AAt, c == '$' ? "GS $" : "GS \\");
      const int n = At(AAt + 2) | (At(AAt + 3) << 8);
      const std::string name = c == '$' ? "GS $" : "GS \\";
      if (!FPageMode) {
        C.Add(AAt, 4, name, "page mode position " + Num(c == '$' ? n : static_cast<int16_t>(n)),
              lsNoVisibleEffect);
        return AAt + 4;
      }
      PlacePendingItems(AAt);
      if (c == '$') {
        C.Add(AAt, 4, name, "vertical position " + Num(n));
        if (n < PageModeLines()) FBaseline = n;
      } else {
        const int base = FBaseline >= 0 ? FBaseline : FY;
        const int to = base + static_cast<int16_t>(n);
        C.Add(AAt, 4, name, "move down " + Num(static_cast<int16_t>(n)));
        if (to >= 0 && to < PageModeLines()) {
          if (FBaseline >= 0)
            FBaseline = to;
          else
            FY = to;
        }
      }
      return AAt + 4;
    }
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
      C.Add(AAt, 4, "FS S", "Chinese spacing (no dots change)", lsNotDrawn);
      return AAt + 4;
    case '(': {
      // FS ( A, C, E, L, e: pL pH and that many bytes of function and
      // parameters.
      if (!Has(AAt, 5)) return Truncated(AAt, "FS (");
      const uint8_t f = At(AAt + 2);
      const size_t len = At(AAt + 3) | (At(AAt + 4) << 8);
      const std::string name = std::string("FS ( ") + static_cast<char>(f >= 0x20 && f < 0x7F ? f : '?');
      if (!Has(AAt, 5 + len)) return Truncated(AAt, name);
      const uint8_t* p = C.Data + AAt + 5;
      if (f == 'A' && len >= 2 && p[0] == 48) {
        // Kanji font: A (24 x 24, what is drawn), B or C.
        const int m = p[1] >= 48 ? p[1] - 48 : p[1];
        const char font = m == 1 ? 'B' : m == 2 ? 'C' : 'A';
        C.Add(AAt, 5 + len, name,
              std::string("kanji font ") + font + (font == 'A' ? "" : " (drawn as font A)"),
              font == 'A' ? lsDone : lsNotDrawn);
        return AAt + 5 + len;
      }
      C.Add(AAt, 5 + len, name, "function " + Num(len > 0 ? p[0] : 0),
            f == 'L' || f == 'E' || f == 'e' ? lsNoVisibleEffect : lsNotDrawn);
      return AAt + 5 + len;
    }
    case 'p':
      if (!Has(AAt, 4)) return Truncated(AAt, "FS p");
      C.Add(AAt, 4, "FS p", "stored image " + Num(At(AAt + 2)) + " (not drawn)", lsNotDrawn);
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
        C.Add(AAt, 1, "CR", "", lsNoVisibleEffect);
        ++AAt;
        break;
      case 0x09: {
        C.Add(AAt, 1, "HT");
        const int cell = ((FFontB ? P.FontBWidth : P.FontAWidth) + FCharSpacing) * FScaleW;
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
        if (FPageMode) {
          // Prints the page and returns to standard mode.
          C.Add(AAt, 1, "FF", "print the page, standard mode");
          LeavePageMode(true, AAt);
        } else {
          C.Add(AAt, 1, "FF", "print");
          if (!FLine.empty()) PrintLine(-1, AAt);
        }
        ++AAt;
        break;
      case CAN:
        // Page mode: the print area's data is deleted.
        C.Add(AAt, 1, "CAN", FPageMode ? "cancel the page data" : "(standard mode: ignored)",
              FPageMode ? lsDone : lsNoVisibleEffect);
        if (FPageMode) {
          FLine.clear();
          FX = 0;
          if (FPage) FPage->Page = TRenderPage(PageModeLineWidth(), 0, PageModeLines());
          if (FSheet && !FAreaCleared) FSheet->FillRect(FAreaX, FAreaY, FAreaW, FAreaH, dmClear);
          FAreaCleared = true;
          FY = 0;
          FBaseline = -1;
        }
        ++AAt;
        break;
      case 0x00: {
        size_t n = 1;
        while (AAt + n < C.Size && At(AAt + n) == 0) ++n;
        C.Add(AAt, n, "NUL", n > 1 ? Num(n) + " bytes (ignored)" : "(ignored)", lsNoVisibleEffect);
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
          C.Add(AAt, 3, At(AAt + 1) == 4 ? "DLE EOT" : "DLE ENQ", Num(At(AAt + 2)) + " (real-time)",
                lsNoVisibleEffect);
          AAt += 3;
          break;
        }
        if (Has(AAt, 5) && At(AAt + 1) == 0x14) {
          C.Add(AAt, 5, "DLE DC4", "real-time function " + Num(At(AAt + 2)), lsNoVisibleEffect);
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
