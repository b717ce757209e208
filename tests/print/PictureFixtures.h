// Small pictures made at test time with libjpeg and libpng, and a scratch
// folder per test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DitheredBitmap.h"
#include "TempDir.h"

// An 8-bit RGBA picture in memory, rows top to bottom.
struct TRgbaPicture {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Pixels;  // Width * Height * 4

  TRgbaPicture(int AWidth, int AHeight, uint8_t AGrey = 255);
  uint8_t* At(int AX, int AY) { return &Pixels[(static_cast<size_t>(AY) * Width + AX) * 4]; }
  const uint8_t* At(int AX, int AY) const { return &Pixels[(static_cast<size_t>(AY) * Width + AX) * 4]; }
  void Set(int AX, int AY, uint8_t AR, uint8_t AG, uint8_t AB, uint8_t AA = 255);
};

// A deterministic picture with gradients and hard edges.
TRgbaPicture TestPattern(int AWidth, int AHeight);

enum TPngKind { pkRgb, pkRgba, pkGrey, pkGreyAlpha, pkPalette, pkRgb16 };

// Writes the picture as PNG of that kind (grey kinds take the red channel;
// the palette kind needs at most 256 distinct colours and stores alpha in
// tRNS).
void WritePng(const std::string& AFileName, const TRgbaPicture& APicture, TPngKind AKind,
              bool AInterlaced = false);

enum TJpegKind { jkRgb, jkGrey, jkProgressive, jkCmykAdobe };

// Writes the picture as JPEG, quality 100 (CMYK: the red channel becomes
// the inverted black ink, no colour inks).
void WriteJpeg(const std::string& AFileName, const TRgbaPicture& APicture, TJpegKind AKind);

// A grey PNG, written row by row: black one-pixel columns every APeriod
// pixels (x % APeriod == 0) on white.
void WriteStripePng(const std::string& AFileName, int AWidth, int AHeight, int APeriod);

// A PNG whose header claims AWidth x AHeight pixels, followed by a token
// IDAT chunk: a decoder that trusts the header would allocate for it or
// decode for a long time.
void WriteOversizedPng(const std::string& AFileName, uint32_t AWidth, uint32_t AHeight);

// A small real JPEG whose frame header is rewritten to claim AWidth x
// AHeight pixels.
void WriteOversizedJpeg(const std::string& AFileName, uint16_t AWidth, uint16_t AHeight);

std::vector<uint8_t> ReadFileBytes(const std::string& AFileName);
void WriteFileBytes(const std::string& AFileName, const std::vector<uint8_t>& ABytes);
bool FileExists(const std::string& AFileName);

// A fresh empty folder, removed with the object.
using TScratchDir = tessiva::test::TTempDir;

// Runs a shell command, returns its standard output; AStatus gets the exit
// status.
std::string RunCommand(const std::string& ACommand, int* AStatus = nullptr);

// Each pixel of AImage as ImageMagick reads it back from the BMP file: one
// byte per pixel, 0 or 255.
std::vector<uint8_t> ImageMagickGreyPixels(const std::string& ABmpFile, int* AWidth, int* AHeight);
