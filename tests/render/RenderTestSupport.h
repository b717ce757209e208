// Helpers for the renderer's suites: jobs from bytes, page boxes and dot
// counts, PNG files read back with libpng, and zbarimg as the independent
// decoder of the codes drawn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Render.h"

// Bytes from a text with C escapes already applied (std::string keeps NULs).
std::vector<uint8_t> Bytes(const std::string& AText);

// The smallest rectangle holding every black dot of the page (all zero when
// the page is white).
struct TBox {
  int X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;  // X1, Y1 exclusive
  int Width() const { return X1 - X0; }
  int Height() const { return Y1 - Y0; }
  bool Empty() const { return X1 <= X0 || Y1 <= Y0; }
};
TBox InkBox(const TRenderPage& APage, int AX = 0, int AY = 0, int AW = -1, int AH = -1);

// A PNG file read back: width, height, one byte per dot (1 black).
struct TPngDots {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Dots;
};
TPngDots ReadPngDots(const std::string& AFileName);

// zbarimg's decoded data for a picture file (--raw, one symbol per line),
// every symbology enabled; empty when nothing was found.
std::string DecodeWithZbar(const std::string& APngFile);
bool HaveZbar();

// Renders raw bytes and returns the result (with the options given).
TRenderResult RenderRaw(const std::vector<uint8_t>& ABytes, TRenderLanguage ALanguage = rlAuto,
                        int AWidth = 576);
// True when some finding's text contains ANeedle.
bool HasFinding(const TRenderResult& AResult, const std::string& ANeedle,
                TFindingSeverity* ASeverity = nullptr);
