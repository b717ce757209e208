#include "CodeDrawing.h"

#include <zint.h>

#include <algorithm>
#include <memory>

namespace {

struct TSymbolDeleter {
  void operator()(zint_symbol* ASymbol) const { ZBarcode_Delete(ASymbol); }
};
using TSymbol = std::unique_ptr<zint_symbol, TSymbolDeleter>;

// Encodes and rasterises at one dot per module, without quiet zones or
// human-readable text; false with the message on failure.
bool Encode(zint_symbol* ASymbol, const std::string& AData, std::string& AError) {
  ASymbol->scale = 0.5f;
  ASymbol->show_hrt = 0;
  ASymbol->output_options |= BARCODE_NO_QUIET_ZONES;
  if (AData.empty() || AData.size() > 4000) {
    AError = AData.empty() ? "no data" : "data too long";
    return false;
  }
  const int r = ZBarcode_Encode_and_Buffer(ASymbol, reinterpret_cast<const unsigned char*>(AData.data()),
                                           static_cast<int>(AData.size()), 0);
  if (r >= ZINT_ERROR || !ASymbol->bitmap || ASymbol->bitmap_width <= 0 || ASymbol->bitmap_height <= 0) {
    AError = ASymbol->errtxt[0] ? ASymbol->errtxt : "cannot be encoded";
    return false;
  }
  return true;
}

bool IsEanUpc(int AZintSymbology) {
  switch (AZintSymbology) {
    case BARCODE_EANX:
    case BARCODE_EANX_CHK:
    case BARCODE_EAN14:
    case BARCODE_UPCA:
    case BARCODE_UPCA_CHK:
    case BARCODE_UPCE:
    case BARCODE_UPCE_CHK:
    case BARCODE_ISBNX:
      return true;
    default:
      return false;
  }
}

}  // namespace

TLinearCode EncodeLinearCode(int AZintSymbology, const std::string& AData, int AOption2, bool AGs1) {
  TLinearCode code;
  TSymbol s(ZBarcode_Create());
  if (!s) {
    code.Error = "out of memory";
    return code;
  }
  // EAN and UPC take digits only, on printers as in both command languages.
  // libzint reads a '+' as the start of an add-on, and its 2.11 overruns its
  // bitmap drawing an add-on at the scale used here.
  if (IsEanUpc(AZintSymbology) &&
      std::any_of(AData.begin(), AData.end(), [](char c) { return c < '0' || c > '9'; })) {
    code.Error = "EAN and UPC data must be digits";
    return code;
  }
  s->symbology = AZintSymbology;
  s->option_2 = AOption2;
  s->height = 1;
  if (AGs1) s->input_mode = GS1_MODE;
  if (!Encode(s.get(), AData, code.Error)) return code;
  // The top row crosses every bar (guard bars of EAN/UPC only reach lower).
  code.Modules.resize(static_cast<size_t>(s->bitmap_width));
  for (int x = 0; x < s->bitmap_width; ++x) code.Modules[x] = s->bitmap[x * 3] < 128 ? 1 : 0;
  code.Text = reinterpret_cast<const char*>(s->text);
  code.Ok = true;
  return code;
}

TMatrixCode EncodeQrCode(const std::string& AData, int AEcc, int AVersion) {
  TMatrixCode code;
  TSymbol s(ZBarcode_Create());
  if (!s) {
    code.Error = "out of memory";
    return code;
  }
  s->symbology = BARCODE_QRCODE;
  s->option_1 = std::clamp(AEcc, 1, 4);
  s->option_2 = std::clamp(AVersion, 0, 40);
  if (!Encode(s.get(), AData, code.Error)) return code;
  if (s->bitmap_width != s->bitmap_height) {
    code.Error = "not a square symbol";
    return code;
  }
  code.Size = s->bitmap_width;
  code.Modules.resize(static_cast<size_t>(code.Size) * code.Size);
  for (size_t i = 0; i < code.Modules.size(); ++i) code.Modules[i] = s->bitmap[i * 3] < 128 ? 1 : 0;
  code.Ok = true;
  return code;
}

bool IsTwoWidthSymbology(int AZintSymbology) {
  switch (AZintSymbology) {
    case BARCODE_CODE39:
    case BARCODE_EXCODE39:
    case BARCODE_CODABAR:
    case BARCODE_C25STANDARD:
    case BARCODE_C25INTER:
    case BARCODE_C25IATA:
    case BARCODE_C25LOGIC:
    case BARCODE_C25IND:
    case BARCODE_ITF14:
      return true;
    default:
      return false;
  }
}

std::vector<uint8_t> LinearCodeDots(const TLinearCode& ACode, bool ATwoWidth, int ANarrow, int AWide) {
  ANarrow = std::clamp(ANarrow, 1, 64);
  AWide = std::clamp(AWide, ANarrow, 128);
  std::vector<uint8_t> dots;
  size_t i = 0;
  while (i < ACode.Modules.size()) {
    size_t run = 1;
    while (i + run < ACode.Modules.size() && ACode.Modules[i + run] == ACode.Modules[i]) ++run;
    const size_t width = ATwoWidth ? (run > 1 ? AWide : ANarrow) : run * ANarrow;
    dots.insert(dots.end(), width, ACode.Modules[i]);
    i += run;
  }
  return dots;
}
