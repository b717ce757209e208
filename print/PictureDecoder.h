// Streaming JPEG (libjpeg-turbo) and PNG (libpng) decoders: they deliver the
// picture one 24-bit RGB row at a time, top to bottom, so a large photo is
// never held whole in memory. Transparency is composited over white.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

enum TPictureFormat { pfJpeg, pfPng };

// Where the encoded picture comes from: an open file or a block of memory.
struct TPictureInput {
  FILE* File = nullptr;
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  // When not 0: pictures with more pixels are refused right after their
  // header, before any image data is decoded.
  uint64_t MaxPixels = 0;
};

class TPictureDecoder {
 public:
  // Receives the source row index and Width() * 3 bytes of RGB.
  using TRowSink = std::function<void(int ARow, const uint8_t* ARgb)>;

  virtual ~TPictureDecoder() = default;
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // Decodes the whole picture and hands every row r with ANeeded[r] set to
  // ASink, in increasing order; the other rows are decoded (the formats
  // need that) but not converted. ANeeded has Height() entries. Throws
  // EPrintError with the decoder's message when the data is corrupt or
  // truncated.
  virtual void DecodeRows(const std::vector<bool>& ANeeded, const TRowSink& ASink) = 0;

 protected:
  int FWidth = 0;
  int FHeight = 0;
};

// Reads the header; throws EPrintError with the decoder's message when the
// input is not a picture of that format. The input must outlive the decoder.
std::unique_ptr<TPictureDecoder> OpenPictureDecoder(TPictureFormat AFormat, const TPictureInput& AInput);
