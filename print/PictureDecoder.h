// Streaming JPEG (libjpeg-turbo) and PNG (libpng) decoders: they deliver the
// picture one 24-bit RGB row at a time, top to bottom, so a large photo is
// never held whole in memory. Transparency is composited over white.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "PrintTask.h"

enum TPictureFormat { pfJpeg, pfPng };

// The largest picture the conversion takes (pixels): a header that claims
// more is refused before any image memory is allocated or any row decoded.
inline constexpr uint64_t kMaxPicturePixels = 200'000'000;

// Thrown when the operator stops a conversion through its progress report.
class EPrintCancelled : public EPrintError {
 public:
  using EPrintError::EPrintError;
};

// Where the encoded picture comes from: an open file or a block of memory.
struct TPictureInput {
  FILE* File = nullptr;
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  // When not 0: pictures with more pixels are refused right after their
  // header, before any image data is decoded ("Picture too large: ...").
  uint64_t MaxPixels = kMaxPicturePixels;
  // When not 0, a JPEG may be shrunk on load by the DCT (to num/8 of its
  // size, num 1 to 7) as long as it stays at least this many pixels wide
  // (num * width >= 8 * MinScaledWidth). PNG pictures are never shrunk.
  int MinScaledWidth = 0;
};

class TPictureDecoder {
 public:
  // Receives the source row index and Width() * 3 bytes of RGB.
  using TRowSink = std::function<void(int ARow, const uint8_t* ARgb)>;
  // Receives the work done and the whole work (rows read, over all passes);
  // returning false stops decoding with EPrintCancelled("Cancelled").
  using TProgress = std::function<bool(long long ADone, long long ATotal)>;

  virtual ~TPictureDecoder() = default;
  // The size of the rows DecodeRows delivers (a shrunk JPEG's reduced size).
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // The picture's own size, as its header gives it.
  int SourceWidth() const { return FSourceWidth; }
  int SourceHeight() const { return FSourceHeight; }
  void SetProgress(TProgress AProgress) { FProgress = std::move(AProgress); }
  // Decodes the whole picture and hands every row r with ANeeded[r] set to
  // ASink, in increasing order; the other rows are decoded (the formats
  // need that) but not converted. ANeeded has Height() entries. Throws
  // EPrintError with the decoder's message when the data is corrupt or
  // truncated.
  virtual void DecodeRows(const std::vector<bool>& ANeeded, const TRowSink& ASink) = 0;

 protected:
  // Reports one more unit of work; throws EPrintCancelled when told to stop.
  void Progress(long long ADone, long long ATotal) const;

  int FWidth = 0;
  int FHeight = 0;
  int FSourceWidth = 0;
  int FSourceHeight = 0;
  TProgress FProgress;
};

// "Picture too large: W x H pixels (the limit is N pixels)".
std::string PictureTooLargeMessage(uint64_t AWidth, uint64_t AHeight, uint64_t ALimit);

// Reads the header; throws EPrintError with the decoder's message when the
// input is not a picture of that format. The input must outlive the decoder.
std::unique_ptr<TPictureDecoder> OpenPictureDecoder(TPictureFormat AFormat, const TPictureInput& AInput);
