// The page a job prints on: a one-bit image (white paper, black dots) of a
// fixed width whose height grows with what is drawn, up to a limit. Dot
// (0, 0) is the first dot the printer prints. Drawing outside the page is
// clipped and remembered, never an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How a dot combines with what is already on the page.
enum TDotMode {
  dmSet,   // black where the source is black, the rest unchanged
  dmCopy,  // black and white both written
  dmXor,   // black source dots flip the page
  dmClear  // black source dots become white
};

class TRenderPage {
 public:
  TRenderPage() = default;
  // AWidth dots wide, AHeight rows (more appear as drawing needs them, up to
  // AMaxHeight rows).
  TRenderPage(int AWidth, int AHeight, int AMaxHeight);

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int MaxHeight() const { return FMaxHeight; }
  int RowBytes() const { return FRowBytes; }
  // Rows top to bottom, RowBytes() each, leftmost dot in the most
  // significant bit, 1 = black dot.
  const std::vector<uint8_t>& Bits() const { return FBits; }
  const uint8_t* Row(int AY) const { return FBits.data() + static_cast<size_t>(AY) * FRowBytes; }

  // Grows the page to at least AHeight rows; false when that passes the
  // limit (the page then stops at the limit).
  bool EnsureHeight(int AHeight);
  // True once something was drawn beyond the width, the height limit, or
  // (for fixed pages) the bottom.
  bool Clipped() const { return FClipped; }
  bool HeightLimitHit() const { return FLimitHit; }
  void ResetClipped() { FClipped = false; }
  // A fixed page (a label) never grows.
  void SetFixed(bool AFixed) { FFixed = AFixed; }

  bool Dot(int AX, int AY) const;
  void SetDot(int AX, int AY, bool ABlack, TDotMode AMode = dmCopy);
  void FillRect(int AX, int AY, int AW, int AH, TDotMode AMode = dmSet);
  // A mask of AW x AH bytes (nonzero = black), each source dot drawn as an
  // AScaleX x AScaleY block at (AX, AY).
  void DrawMask(int AX, int AY, const uint8_t* AMask, int AW, int AH, int AScaleX = 1, int AScaleY = 1,
                TDotMode AMode = dmSet);
  // Packed rows (leftmost dot in the MSB) of AW x AH dots; ABlackIsOne says
  // which bit value is a black dot.
  void DrawPacked(int AX, int AY, const uint8_t* ARows, int ARowBytes, int AW, int AH, bool ABlackIsOne,
                  TDotMode AMode, int AScaleX = 1, int AScaleY = 1);
  void Clear();
  size_t BlackDots() const;
  size_t BlackDotsIn(int AX, int AY, int AW, int AH) const;

 private:
  int FWidth = 0;
  int FHeight = 0;
  int FMaxHeight = 0;
  int FRowBytes = 0;
  bool FFixed = false;
  bool FClipped = false;
  bool FLimitHit = false;
  std::vector<uint8_t> FBits;
};

// The page as PNG (one bit per dot, black and white), through libpng.
std::vector<uint8_t> PageToPng(const TRenderPage& APage);
// One byte per dot: 0 black, 255 white (for a display).
std::vector<uint8_t> PageToGrey8(const TRenderPage& APage);
// Portable bitmap (P4).
std::vector<uint8_t> PageToPbm(const TRenderPage& APage);
// Writes bytes to a file; throws std::runtime_error with the reason.
void WriteRenderFile(const std::string& AFileName, const std::vector<uint8_t>& ABytes);
