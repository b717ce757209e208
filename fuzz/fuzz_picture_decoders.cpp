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
  try {
    const TMonoBitmap image = DitherPicture(format, input, width);
    if (image.Width != width || image.Height <= 0 ||
        image.Bits.size() != static_cast<size_t>(image.RowBytes) * static_cast<size_t>(image.Height))
      __builtin_trap();
    const TPrintBytes job = MakeEscPosRasterJob(image);
    const TPrintBytes bmp = MonoBitmapToBmp(image);
    if (job.size() != 10 + image.Bits.size() || bmp.size() < 62) __builtin_trap();
  } catch (const EPrintError&) {
  }
  return 0;
}
