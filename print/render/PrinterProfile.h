// Printer profiles: what one kind of printer is, as a row of data. The
// renderer draws a job for a profile: its printable width and resolution,
// the code page and Chinese mode it starts in, its font cells, the codes it
// can draw and the raster buffer lint checks against. Adding a printer is
// adding a row to the table in PrinterProfile.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Families of 1D and 2D codes a printer may draw (bits of
// TPrinterProfile::Codes).
enum TCodeFamily : uint32_t {
  cfUpcEan = 1u << 0,       // UPC-A, UPC-E, EAN-13, EAN-8
  cfCode39 = 1u << 1,       // Code 39
  cfItf = 1u << 2,          // Interleaved 2 of 5 and its family
  cfCodabar = 1u << 3,      // Codabar (NW-7)
  cfCode93 = 1u << 4,       // Code 93
  cfCode128 = 1u << 5,      // Code 128 and GS1-128
  cfGs1DataBar = 1u << 6,   // GS1 DataBar omnidirectional, truncated, limited, expanded, stacked
  cfQr = 1u << 7,           // QR code model 2
  cfQrModel1 = 1u << 8,     // QR code model 1
  cfMicroQr = 1u << 9,      // Micro QR
  cfPdf417 = 1u << 10,      // PDF417 and truncated PDF417
  cfMaxiCode = 1u << 11,    // MaxiCode
  cfDataMatrix = 1u << 12,  // DataMatrix
  cfAztec = 1u << 13,       // Aztec
};

enum TProfileKind { pkReceipt, pkLabel };

struct TPrinterProfile {
  std::string Name;         // "gbk-80"
  std::string Description;  // one line for --help and the console's choice
  TProfileKind Kind = pkReceipt;
  int Width = 576;               // printable width in dots
  int Dpi = 203;                 // dots per inch (8 or 12 dots per mm)
  int StartCodePage = 0;         // ESC t table at start-up and after ESC @
  bool StartChineseMode = true;  // FS & in force at start-up and after ESC @
  int FontAWidth = 12, FontAHeight = 24;
  int FontBWidth = 9, FontBHeight = 17;
  uint32_t Codes = 0;                    // TCodeFamily bits
  size_t RasterBufferBytes = 2000 * 72;  // largest raster the printer holds
  // Which ESC R international character set is in force at start-up.
  int StartInternational = 0;
  int ChineseCell = 24;  // square cell of a double-byte character

  bool HasCode(TCodeFamily AFamily) const { return (Codes & AFamily) != 0; }
  // Dots per millimetre (8 at 203 dpi, 12 at 300 dpi), as printers round it.
  int DotsPerMm() const { return (Dpi * 10 + 127) / 254; }
};

// A code family's name for messages ("PDF417").
const char* CodeFamilyName(TCodeFamily AFamily);

// The built-in profiles, the default (gbk-80, the seed's receipt printer) first.
const std::vector<TPrinterProfile>& PrinterProfiles();
// Null when no profile has that name (names are matched exactly).
const TPrinterProfile* FindPrinterProfile(const std::string& AName);
const TPrinterProfile& DefaultPrinterProfile();
// "gbk-80, gbk-58, ..." for messages and help texts.
std::string PrinterProfileNames();
