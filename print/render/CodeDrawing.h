// Code drawing: barcodes and two-dimensional symbols encoded by libzint,
// turned into the printer's dots (module widths, narrow and wide elements,
// heights). Every input is checked here before libzint sees it: its
// length, its characters and the options each symbology takes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PrinterProfile.h"

// A one-dimensional symbol: its modules left to right (1 = bar).
struct TLinearCode {
  bool Ok = false;
  std::string Error;  // libzint's message when not Ok
  std::vector<uint8_t> Modules;
  std::string Text;  // human-readable line (UTF-8), check digits included
};

// A two-dimensional symbol: Width x Height cells, row by row (1 = dark). A
// cell is one module, except for MaxiCode, whose hexagons come as dots.
// Stacked symbols (PDF417, stacked DataBar) have one cell row per module
// row; the caller gives the rows their height.
struct TMatrixCode {
  bool Ok = false;
  std::string Error;
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Modules;
};

// AZintSymbology is one of libzint's BARCODE_* numbers; AOption2 goes to
// its option_2 (check digits for the 2-of-5 family). AGs1 reads the data as
// GS1 ("[01]..." application identifiers).
TLinearCode EncodeLinearCode(int AZintSymbology, const std::string& AData, int AOption2 = 0,
                             bool AGs1 = false);
// AEcc 1..4 = L, M, Q, H; AVersion 0 = the smallest that fits.
TMatrixCode EncodeQrCode(const std::string& AData, int AEcc, int AVersion = 0);
// Micro QR: AEcc 1..3 = L, M, Q (Micro QR has no H).
TMatrixCode EncodeMicroQrCode(const std::string& AData, int AEcc);

struct TPdf417Options {
  int Columns = 0;     // data columns 1..30, 0 = chosen by the encoder
  int Rows = 0;        // rows 3..90, 0 = chosen by the encoder
  int EccLevel = -1;   // 0..8; -1: from EccPercent, or the encoder's choice
  int EccPercent = 0;  // error correction as a share of the data codewords (10..400)
  bool Truncated = false;
};
TMatrixCode EncodePdf417(const std::string& AData, const TPdf417Options& AOptions);

// ECC 200: ARows x AColumns a fixed size (0, 0: the smallest that fits;
// ARectangle picks among the rectangular sizes, AColumns 0 = any width).
// AGs1: the data starts with FNC1 and holds application identifiers, FNC1
// (byte 0x1D) between variable-length fields.
TMatrixCode EncodeDataMatrix(const std::string& AData, bool ARectangle, int ARows, int AColumns,
                             bool AGs1 = false);

// ACompact: -1 either, 0 full range, 1 compact; ALayers 0 = the fewest that
// fit (compact 1..4, full 1..32); AEccPercent 5..95 (23 is the norm).
TMatrixCode EncodeAztec(const std::string& AData, int ACompact, int ALayers, int AEccPercent);
// An Aztec rune: one value 0..255.
TMatrixCode EncodeAztecRune(int AValue);

// MaxiCode, modes 2 to 6, at its fixed size (about 28 x 27 mm at 8 dots per
// millimetre); the cells are dots. Modes 2 and 3 take their structured
// carrier message as AIM writes it: postal code, country and class of
// service, each followed by GS (0x1D), then the rest; an optional
// "[)>" RS "01" GS "yy" header comes first.
TMatrixCode EncodeMaxiCode(int AMode, const std::string& AData);

// GS1 DataBar, one row (omnidirectional, truncated, limited) or stacked.
enum TDataBarKind {
  dbOmnidirectional,
  dbTruncated,
  dbLimited,
  dbExpanded,
  dbStacked,
  dbStackedOmnidirectional,
  dbExpandedStacked
};
// AData: for the fixed-length kinds the 13 digits of the item number
// (a 14th, the check digit, is verified); for the expanded kinds GS1 data
// with bracketed application identifiers ("[01]...[10]..."). AColumns: the
// segment pairs per row of an expanded stacked symbol (0 = the encoder's).
// The rows are expanded to their heights in modules.
TMatrixCode EncodeDataBar(TDataBarKind AKind, const std::string& AData, int AColumns = 0);
// The same for the one-row kinds as bars and spaces, with the
// human-readable "(01)..." line.
TLinearCode EncodeDataBarLinear(TDataBarKind AKind, const std::string& AData);

// GS1 data as printers take it, turned into bracketed application
// identifiers: "(01)0950...(10)AB" (parentheses around each identifier) or
// unbracketed "0109501...10AB" with AFnc1 (one byte or "{1") ending each
// variable-length field. False with the reason when an identifier is not
// known or its data is malformed.
bool Gs1ToBracketed(const std::string& AData, const std::string& AFnc1, std::string& AOut,
                    std::string& AError);

// True for symbologies made of narrow and wide elements only (Code 39,
// Codabar, the 2-of-5 family), whose wide element has its own width.
bool IsTwoWidthSymbology(int AZintSymbology);

// Bars and spaces as dots: each module ANarrow dots wide; in a two-width
// symbology a wide element (more than one module in libzint's pattern) is
// AWide dots. Returns one entry per dot column, 1 = bar.
std::vector<uint8_t> LinearCodeDots(const TLinearCode& ACode, bool ATwoWidth, int ANarrow, int AWide);

// The family (TCodeFamily bit) of what a command draws, so that a job can
// be checked against what its printer has; 0 when the command draws no
// code the renderer knows.
// ESC/POS GS k m (0..6 and 65..78).
uint32_t EscPosBarcodeFamily(int AM);
// ESC/POS GS ( k cn; AQrModel 49 / 50 / 51 (model 1, model 2, Micro QR) for cn 49.
uint32_t EscPosSymbolFamily(int ACn, int AQrModel = 50);
// TSPL: BARCODE with its type ("128", "EAN13", ...), QRCODE, PDF417,
// DMATRIX, AZTEC, MAXICODE (AType unused).
uint32_t TsplCodeFamily(const std::string& ACommand, const std::string& AType = std::string());
