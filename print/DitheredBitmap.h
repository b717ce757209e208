// Picture -> one-bit image: scaling to a given width (nearest neighbour, or
// area averaging), grey conversion, dithering (Floyd-Steinberg by default),
// and the one-bit BMP file written beside the picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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
inline constexpr size_t kMaxMonoBitmapBytes = size_t{64} << 20;

// round(0.3 R + 0.59 G + 0.11 B) in extended precision, halves to even.
int GreyValue(uint8_t ARed, uint8_t AGreen, uint8_t ABlue);

// How the picture is brought to the target width.
enum TPictureScale {
  psNearest,  // one source pixel per dot (rows and columns dropped or repeated)
  psArea      // each dot the mean of the source pixels it covers
};

// How grey becomes one bit.
enum TDitherMethod {
  dmFloydSteinberg,            // left to right on every row
  dmFloydSteinbergSerpentine,  // right to left on odd rows, the kernel mirrored
  dmAtkinson,                  // 1/8 to six neighbours, 2/8 of the error dropped
  dmBayer,                     // ordered, 8 x 8 matrix
  dmThreshold                  // grey >= threshold is white (logos, text, codes)
};

// The conversion's choices; the defaults are the dialog's original
// conversion, byte for byte.
struct TPictureOptions {
  TPictureScale Scale = psNearest;
  TDitherMethod Dither = dmFloydSteinberg;
  // Grey values at or above it are white (error diffusion and threshold);
  // shifts the ordered matrix by Threshold - 128.
  int Threshold = 128;
  // 0: grey values are used as they are. Otherwise the picture is taken as
  // encoded with this gamma: averaging and dithering work in linear light.
  double Gamma = 0;
  // Progress over the decoded source rows; returning false stops the
  // conversion with EPrintCancelled.
  TPictureDecoder::TProgress Progress;
};

// Parses "nearest" / "area" and "fs" / "fs-serpentine" / "atkinson" /
// "bayer" / "threshold"; false for anything else.
bool PictureScaleFromName(const std::string& AName, TPictureScale& AScale);
bool DitherMethodFromName(const std::string& AName, TDitherMethod& AMethod);

// Throws EPrintError when the options cannot work (threshold outside 0..256,
// gamma not a positive finite number up to 10).
void CheckPictureOptions(const TPictureOptions& AOptions);

// Dithering with integer rows of grey values, top to bottom. Error
// diffusion divides truncating toward zero and clamps every sum to 0..255
// at once; Floyd-Steinberg sends 7/16 right, 3/16, 5/16 and 1/16 below.
class TErrorDiffusion {
 public:
  // A width or height of 0 or less throws "Scan line index out of range".
  TErrorDiffusion(int AWidth, int AHeight, TDitherMethod AMethod = dmFloydSteinberg, int AThreshold = 128);
  // AGrey: Width grey values (0..255) of the next row.
  void AddRow(const int* AGrey);
  // Every row must have been added.
  TMonoBitmap Finish();

 private:
  // Dithers the oldest buffered row; AAvailable rows (it included) are
  // buffered, the later ones take its error.
  void DitherOldest(int AAvailable);
  void DiffuseFloydSteinberg(int* ACur, int* ANext, uint8_t* AOut, bool AMirrored);

  TMonoBitmap FImage;
  TDitherMethod FMethod;
  int FThreshold;
  int FLookAhead;                       // rows below that take error: 0, 1 or 2
  std::vector<std::vector<int>> FRows;  // FRows[k]: row FRowsOut + k
  int FBuffered = 0;
  int FRowsIn = 0;
  int FRowsOut = 0;
};

// Area averaging onto AWidth x AHeight: a dot is the mean of the source
// pixels it covers, pixels on its edges weighted by the covered fraction
// (exact integer weights, the mean rounded half up). Source rows stream in
// top to bottom; each finished row of grey values goes to the sink.
class TAreaScaler {
 public:
  using TGreySink = std::function<void(int AY, const int* AGrey)>;
  // AGamma 0: the RGB values are averaged as they are and the grey value of
  // the mean is GreyValue's. Otherwise the mean is taken in linear light and
  // the grey handed on is linear too.
  TAreaScaler(int ASourceWidth, int ASourceHeight, int AWidth, int AHeight, double AGamma, TGreySink ASink);
  // ASourceWidth * 3 bytes of RGB.
  void AddRow(const uint8_t* ARgb);

 private:
  int FSourceWidth, FSourceHeight, FWidth, FHeight;
  TGreySink FSink;
  std::vector<uint16_t> FLinear;  // gamma: 8-bit value -> linear 0..65535
  std::vector<int> FColumnStart;  // per dot: first entry in FColumn / FColumnWeight
  std::vector<int> FColumn;       // source column
  std::vector<uint32_t> FColumnWeight;
  std::vector<uint64_t> FRowSum;  // this source row, per dot and channel
  std::vector<uint64_t> FSum;     // the open target row, per dot and channel
  std::vector<int> FGrey;
  int FSourceRow = 0;
};

// Target height of a picture ASourceWidth x ASourceHeight scaled to AWidth.
long long ScaledHeight(long long ASourceWidth, long long ASourceHeight, long long AWidth);

// Decodes, scales to AWidth, and dithers a picture. The target height
// follows from the picture's own size (ScaledHeight); with area scaling a
// JPEG is shrunk on load to no less than twice the target width. Throws
// EPrintError: the decoder's error, or "Scan line index out of range" when
// the image would have no rows (a width or scaled height of 0 or less);
// EPrintCancelled when the progress report says stop.
TMonoBitmap DitherPicture(TPictureFormat AFormat, const TPictureInput& AInput, int AWidth,
                          const TPictureOptions& AOptions = {});

// The format chosen by the file name's extension (".jpg" or ".png", any
// letter case); anything else throws "Unsupported file format".
TPictureFormat PictureFormatOf(const std::string& AFileName);

// AFileName with its extension replaced by "_dithered.bmp".
std::string DitheredBitmapFileName(const std::string& AFileName);

// Loads the picture file, scales it to AWidth dots and dithers it; saves the
// result as a one-bit BMP beside the picture (DitheredBitmapFileName) and
// returns it.
TMonoBitmap ConvertToDitheredBitmap(const std::string& AFileName, int AWidth,
                                    const TPictureOptions& AOptions = {});

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
