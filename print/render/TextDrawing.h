// Text drawing: characters of the job's code page (GBK through iconv, or
// UTF-8) drawn with FreeType from real fonts at the printer's cell sizes,
// a monospace Latin face for single-width characters and a Chinese face for
// double-width ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "RenderPage.h"

enum TCharset { csGbk, csUtf8 };

struct TDecodedChar {
  uint32_t Code = 0;  // Unicode code point (U+FFFD when invalid)
  size_t Length = 1;  // bytes taken
  bool Valid = true;
  bool Wide = false;  // drawn in a double-width (Chinese) cell
};

// One character at AData (ASize > 0 bytes available). In GBK, a lead byte
// 81..FE with a trail byte 40..FE (not 7F) is one double-width character
// when AChineseMode is on; otherwise every byte is a single character of
// the printer's code page (PC437 above 7F is shown as its Unicode form).
// In UTF-8 the sequence is decoded; East Asian wide characters are wide.
TDecodedChar DecodePrinterChar(TCharset ACharset, const uint8_t* AData, size_t ASize, bool AChineseMode);
bool IsWideCodePoint(uint32_t ACode);
// Code points as UTF-8 (for listings).
std::string CodePointToUtf8(uint32_t ACode);

// A character drawn into its cell: Width x Height bytes, 1 = black.
struct TGlyphMask {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Dots;
};

class TTextDrawing {
 public:
  // The shared instance (fonts are loaded once; Glyph is thread-safe).
  static TTextDrawing& Shared();
  TTextDrawing();
  ~TTextDrawing();
  TTextDrawing(const TTextDrawing&) = delete;
  TTextDrawing& operator=(const TTextDrawing&) = delete;

  // ACode in a cell of AWidth x AHeight dots; wide characters take the
  // Chinese face. A character no face has is drawn as an empty box.
  TGlyphMask Glyph(uint32_t ACode, int AWidth, int AHeight, bool ABold, bool AWide);
  // The same, shared from the cache without a copy.
  std::shared_ptr<const TGlyphMask> CachedGlyph(uint32_t ACode, int AWidth, int AHeight, bool ABold,
                                                bool AWide);
  const std::string& LatinFontFile() const { return FLatinFile; }
  const std::string& ChineseFontFile() const { return FChineseFile; }
  // False when no font could be loaded (text is then drawn as boxes).
  bool HaveFonts() const;

 private:
  struct TFace;
  TGlyphMask Render(uint32_t ACode, int AWidth, int AHeight, bool ABold, bool AWide);

  std::mutex FLock;
  void* FLibrary = nullptr;  // FT_Library
  std::unique_ptr<TFace> FLatin, FChinese;
  std::string FLatinFile, FChineseFile;
  std::unordered_map<uint64_t, std::shared_ptr<const TGlyphMask>> FCache;
};

// Box-drawing (U+2500..257F) and block elements (U+2580..259F) as a
// printer's font draws them: lines through the middle of the cell that run
// to its edges, so that neighbouring cells join. False for other codes.
bool DrawBoxGlyph(uint32_t ACode, TGlyphMask& AMask, bool ABold);

// A glyph drawn onto the page, each dot an AScaleX x AScaleY block, its
// top-left corner at (AX, AY): the cost is one pass over the rows drawn.
void DrawGlyph(TRenderPage& APage, int AX, int AY, const TGlyphMask& AGlyph, int AScaleX, int AScaleY,
               TDotMode AMode = dmSet);

// The font files used: $TESSIVA_FONT_LATIN / $TESSIVA_FONT_CHINESE, then
// the Debian paths, then fc-match. Empty when none is found.
std::string FindLatinFontFile();
std::string FindChineseFontFile();

// Draws a mask (AW x AH, nonzero = black) scaled by AScaleX x AScaleY, its
// top-left corner at (AU, AV) in a frame that is rotated by ARotation
// degrees (0, 90, 180, 270, clockwise) around (AX, AY) on the page.
void DrawRotatedMask(TRenderPage& APage, int AX, int AY, int ARotation, int AU, int AV, const uint8_t* AMask,
                     int AW, int AH, int AScaleX, int AScaleY, TDotMode AMode = dmSet);
// A filled rectangle in the same rotated frame.
void FillRotatedRect(TRenderPage& APage, int AX, int AY, int ARotation, int AU, int AV, int AW, int AH,
                     TDotMode AMode = dmSet);
