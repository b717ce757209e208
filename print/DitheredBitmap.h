// Picture -> one-bit image: nearest-neighbour scaling to a given width,
// grey conversion and Floyd-Steinberg error diffusion, and the one-bit BMP
// file written beside the picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "PictureDecoder.h"
#include "PrintTask.h"

// A one-bit image. Rows run top to bottom, RowBytes = (Width + 7) / 8 bytes
// each, the leftmost pixel in the most significant bit; 1 is white, 0 black;
// the bits after the last pixel of a row are 0.
struct TMonoBitmap {
  int Width = 0;
  int Height = 0;
  int RowBytes = 0;
  std::vector<uint8_t> Bits;

  const uint8_t* Row(int AY) const {
    return Bits.data() + static_cast<size_t>(AY) * static_cast<size_t>(RowBytes);
  }
  uint8_t* Row(int AY) { return Bits.data() + static_cast<size_t>(AY) * static_cast<size_t>(RowBytes); }
  bool IsWhite(int AX, int AY) const { return (Row(AY)[AX / 8] >> (7 - AX % 8)) & 1; }
};

// The largest one-bit image the conversion makes (bytes); a bigger one is
// refused before anything is decoded.
inline constexpr size_t cMaxMonoBitmapBytes = size_t{64} << 20;

// round(0.3 R + 0.59 G + 0.11 B) in extended precision, halves to even.
int GreyValue(uint8_t ARed, uint8_t AGreen, uint8_t ABlue);

// Floyd-Steinberg error diffusion with two integer rows (7/16 right, 3/16,
// 5/16 and 1/16 below; divisions truncate toward zero; every sum clamped to
// 0..255 at once). Rows of grey values go in top to bottom.
class TErrorDiffusion {
 public:
  // A width or height of 0 or less throws "Scan line index out of range".
  TErrorDiffusion(int AWidth, int AHeight);
  // AGrey: Width grey values (0..255) of the next row.
  void AddRow(const int* AGrey);
  // Every row must have been added.
  TMonoBitmap Finish();

 private:
  void DitherCurrent(bool AHasNext);

  TMonoBitmap FImage;
  std::vector<int> FCurrent;
  std::vector<int> FNext;
  int FRowsIn = 0;
  int FRowsOut = 0;
};

// Target height of a picture ASourceWidth x ASourceHeight scaled to AWidth.
long long ScaledHeight(long long ASourceWidth, long long ASourceHeight, long long AWidth);

// Decodes, scales to AWidth (nearest neighbour), and dithers a picture.
// Throws EPrintError: the decoder's error, or "Scan line index out of range"
// when the image would have no rows (a width or scaled height of 0 or less).
TMonoBitmap DitherPicture(TPictureFormat AFormat, const TPictureInput& AInput, int AWidth);

// The format chosen by the file name's extension (".jpg" or ".png", any
// letter case); anything else throws "Unsupported file format".
TPictureFormat PictureFormatOf(const std::string& AFileName);

// AFileName with its extension replaced by "_dithered.bmp".
std::string DitheredBitmapFileName(const std::string& AFileName);

// Loads the picture file, scales it to AWidth dots and dithers it; saves the
// result as a one-bit BMP beside the picture (DitheredBitmapFileName) and
// returns it.
TMonoBitmap ConvertToDitheredBitmap(const std::string& AFileName, int AWidth);

// A bottom-up one-bit BMP (palette 0 black, 1 white, rows padded to 4 bytes).
TPrintBytes MonoBitmapToBmp(const TMonoBitmap& AImage);

// Creates or overwrites AFileName with the bytes. Throws
// `Cannot create file "<full path>". <reason>`; a file that could not be
// written completely is removed.
void WritePrintFile(const std::string& AFileName, const uint8_t* AData, size_t ASize);

// WritePrintFile for the dump files in the shared temporary folder: a
// symbolic link in place of the file is refused (ELOOP), so nobody else can
// redirect the write onto another of the user's files.
void WriteDumpFile(const std::string& AFileName, const uint8_t* AData, size_t ASize);
