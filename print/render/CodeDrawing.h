// Code drawing: barcodes and QR codes encoded by libzint, turned into the
// printer's dots (module widths, narrow and wide elements, heights).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A one-dimensional symbol: its modules left to right (1 = bar).
struct TLinearCode {
  bool Ok = false;
  std::string Error;  // libzint's message when not Ok
  std::vector<uint8_t> Modules;
  std::string Text;  // human-readable line (UTF-8), check digits included
};

// A two-dimensional symbol: Size x Size modules, row by row (1 = dark).
struct TMatrixCode {
  bool Ok = false;
  std::string Error;
  int Size = 0;
  std::vector<uint8_t> Modules;
};

// AZintSymbology is one of libzint's BARCODE_* numbers; AOption2 goes to
// its option_2 (check digits for the 2-of-5 family). AGs1 reads the data as
// GS1 ("[01]..." application identifiers).
TLinearCode EncodeLinearCode(int AZintSymbology, const std::string& AData, int AOption2 = 0,
                             bool AGs1 = false);
// AEcc 1..4 = L, M, Q, H; AVersion 0 = the smallest that fits.
TMatrixCode EncodeQrCode(const std::string& AData, int AEcc, int AVersion = 0);

// True for symbologies made of narrow and wide elements only (Code 39,
// Codabar, the 2-of-5 family), whose wide element has its own width.
bool IsTwoWidthSymbology(int AZintSymbology);

// Bars and spaces as dots: each module ANarrow dots wide; in a two-width
// symbology a wide element (more than one module in libzint's pattern) is
// AWide dots. Returns one entry per dot column, 1 = bar.
std::vector<uint8_t> LinearCodeDots(const TLinearCode& ACode, bool ATwoWidth, int ANarrow, int AWide);
