// Feeds arbitrary bytes to the JPEG and PNG decoders and the conversion to a
// one-bit image. The first byte picks the format and the target width; the
// rest is the file. Decoder errors are expected; crashes, leaks and undefined
// behaviour are not.
#include <cstddef>
#include <cstdint>

#include "BitmapPrintJob.h"
#include "DitheredBitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize < 2) return 0;
  const TPictureFormat format = (AData[0] & 1) ? pfPng : pfJpeg;
  const int width = 1 + (AData[0] >> 1) % 96;
  TPictureInput input;
  input.Data = AData + 1;
  input.Size = ASize - 1;
  // Keeps each run short: a tiny file may claim a huge picture.
  input.MaxPixels = uint64_t{1} << 22;
  // The file's length picks the scaling and the dither, so every path is
  // reached without spending input bytes on it.
  TPictureOptions options;
  options.Scale = (ASize & 1) ? psArea : psNearest;
  options.Dither = static_cast<TDitherMethod>((ASize >> 1) % 5);
  if ((ASize >> 4) & 1) options.Gamma = 2.2;
  try {
    const TMonoBitmap image = DitherPicture(format, input, width, options);
    if (image.Width != width || image.Height <= 0 ||
        image.Bits.size() != static_cast<size_t>(image.RowBytes) * static_cast<size_t>(image.Height))
      __builtin_trap();
    const TPrintBytes job = MakeEscPosRasterJob(image);
    const TPrintBytes bmp = MonoBitmapToBmp(image);
    if (job.size() != 10 + image.Bits.size() || bmp.size() < 62) __builtin_trap();
    const TPrintBytes banded = MakeEscPosRasterJob(image, 7);
    if (banded.size() != job.size() + 8 * ((static_cast<size_t>(image.Height) + 6) / 7 - 1)) __builtin_trap();
  } catch (const EPrintError&) {
  }
  return 0;
}
