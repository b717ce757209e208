#include "PrinterProfile.h"

namespace {

// What the seed's cloud receipt printers draw: the 1D codes of GS k and QR.
constexpr uint32_t kGbkCodes = cfUpcEan | cfCode39 | cfItf | cfCodabar | cfCode93 | cfCode128 | cfQr;
// Epson's current receipt printers (TM-T20III, TM-m30, TM-T88VI): the
// GS k codes with GS1 DataBar, and QR (models 1 and 2), PDF417, MaxiCode,
// DataMatrix and Aztec through GS ( k. None of them prints Micro QR.
constexpr uint32_t kEpsonCodes = cfUpcEan | cfCode39 | cfItf | cfCodabar | cfCode93 | cfCode128 |
                                 cfGs1DataBar | cfQr | cfQrModel1 | cfPdf417 | cfMaxiCode | cfDataMatrix |
                                 cfAztec;
// TSPL label printers (TSC TE200/TE300 class): BARCODE with the RSS
// (DataBar) family, QRCODE (models 1 and 2), PDF417, MAXICODE, DMATRIX and
// AZTEC.
constexpr uint32_t kTsplCodes = cfUpcEan | cfCode39 | cfItf | cfCodabar | cfCode93 | cfCode128 |
                                cfGs1DataBar | cfQr | cfQrModel1 | cfPdf417 | cfMaxiCode | cfDataMatrix |
                                cfAztec;

std::vector<TPrinterProfile> MakeProfiles() {
  std::vector<TPrinterProfile> p;
  // The seed's printer: 80 mm GBK receipt printer, Chinese characters on
  // from power-up, 2000 raster rows at full width.
  p.push_back({.Name = "gbk-80",
               .Description = "GBK receipt printer, 80 mm paper (576 dots, 203 dpi), Chinese mode on",
               .Width = 576,
               .StartChineseMode = true,
               .Codes = kGbkCodes,
               .RasterBufferBytes = 2000 * 72});
  p.push_back({.Name = "gbk-58",
               .Description = "GBK receipt printer, 58 mm paper (384 dots, 203 dpi), Chinese mode on",
               .Width = 384,
               .StartChineseMode = true,
               .Codes = kGbkCodes,
               .RasterBufferBytes = 2000 * 48});
  // Epson-style printers start in PC437 with Chinese (Kanji) mode off. The
  // widths are those of Epson's 203 dpi models (TM-T20, TM-m30: 72 mm =
  // 576 dots, 48 columns of font A) rather than the TM-T88's 180 dpi (512
  // dots, 42 columns): the jobs generators make for "Epson" are laid out
  // for 48 and 32 columns. GS v 0 takes up to 2303 rows (the TM-T88's
  // limit, which the later models keep). Fonts: A 12 x 24, B 9 x 17.
  p.push_back({.Name = "epson-80",
               .Description = "Epson-style receipt printer, 80 mm paper (576 dots, 203 dpi), PC437",
               .Width = 576,
               .StartCodePage = 0,
               .StartChineseMode = false,
               .Codes = kEpsonCodes,
               .RasterBufferBytes = 2303 * 72});
  p.push_back({.Name = "epson-58",
               .Description = "Epson-style receipt printer, 58 mm paper (384 dots, 203 dpi), PC437",
               .Width = 384,
               .StartCodePage = 0,
               .StartChineseMode = false,
               .Codes = kEpsonCodes,
               .RasterBufferBytes = 2303 * 48});
  // TSPL label printers: 4-inch heads, 108 mm at 8 dots per mm and 104 mm
  // at 12 dots per mm. They print GBK text in their Chinese fonts; CODEPAGE
  // selects a single-byte table.
  p.push_back({.Name = "tspl-203",
               .Description = "TSPL label printer, 203 dpi (8 dots/mm, 864 dots wide)",
               .Kind = pkLabel,
               .Width = 864,
               .Dpi = 203,
               .StartChineseMode = true,
               .Codes = kTsplCodes,
               .RasterBufferBytes = 864 / 8 * 2400});
  p.push_back({.Name = "tspl-300",
               .Description = "TSPL label printer, 300 dpi (12 dots/mm, 1248 dots wide)",
               .Kind = pkLabel,
               .Width = 1248,
               .Dpi = 300,
               .StartChineseMode = true,
               .Codes = kTsplCodes,
               .RasterBufferBytes = 1248 / 8 * 2400});
  return p;
}

}  // namespace

const std::vector<TPrinterProfile>& PrinterProfiles() {
  static const std::vector<TPrinterProfile> profiles = MakeProfiles();
  return profiles;
}

const TPrinterProfile* FindPrinterProfile(const std::string& AName) {
  for (const TPrinterProfile& p : PrinterProfiles())
    if (p.Name == AName) return &p;
  return nullptr;
}

const TPrinterProfile& DefaultPrinterProfile() { return PrinterProfiles().front(); }

std::string PrinterProfileNames() {
  std::string s;
  for (const TPrinterProfile& p : PrinterProfiles()) s += (s.empty() ? "" : ", ") + p.Name;
  return s;
}

const char* CodeFamilyName(TCodeFamily AFamily) {
  switch (AFamily) {
    case cfUpcEan:
      return "UPC/EAN";
    case cfCode39:
      return "Code 39";
    case cfItf:
      return "Interleaved 2 of 5";
    case cfCodabar:
      return "Codabar";
    case cfCode93:
      return "Code 93";
    case cfCode128:
      return "Code 128";
    case cfGs1DataBar:
      return "GS1 DataBar";
    case cfQr:
      return "QR code";
    case cfQrModel1:
      return "QR code model 1";
    case cfMicroQr:
      return "Micro QR";
    case cfPdf417:
      return "PDF417";
    case cfMaxiCode:
      return "MaxiCode";
    case cfDataMatrix:
      return "DataMatrix";
    case cfAztec:
      return "Aztec";
  }
  return "code";
}
