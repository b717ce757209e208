#include "CodeDrawing.h"

#include <zint.h>

#include <algorithm>
#include <cctype>
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

namespace {

bool AllDigits(const std::string& AData) {
  return std::all_of(AData.begin(), AData.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Encodes without drawing; the modules come from libzint's encoded rows.
bool EncodeOnly(zint_symbol* ASymbol, const std::string& AData, size_t AMaxBytes, std::string& AError) {
  ASymbol->output_options |= BARCODE_NO_QUIET_ZONES;
  ASymbol->show_hrt = 0;
  if (AData.empty()) {
    AError = "no data";
    return false;
  }
  if (AData.size() > AMaxBytes) {
    AError = "data too long (" + std::to_string(AData.size()) + " bytes, at most " +
             std::to_string(AMaxBytes) + ")";
    return false;
  }
  const int r = ZBarcode_Encode(ASymbol, reinterpret_cast<const unsigned char*>(AData.data()),
                                static_cast<int>(AData.size()));
  if (r >= ZINT_ERROR || ASymbol->rows <= 0 || ASymbol->width <= 0 || ASymbol->rows > 200 ||
      ASymbol->width > 144 * 8) {
    AError = ASymbol->errtxt[0] ? ASymbol->errtxt : "cannot be encoded";
    return false;
  }
  return true;
}

bool ModuleSet(const zint_symbol* ASymbol, int ARow, int ACol) {
  return (ASymbol->encoded_data[ARow][ACol >> 3] >> (ACol & 7)) & 1;
}

// The encoded rows as cells; with AHeights each row is repeated as many
// times as it is modules high (rows without a height share what the
// symbol's height leaves).
TMatrixCode FromEncoded(const zint_symbol* ASymbol, bool AHeights) {
  TMatrixCode code;
  std::vector<int> heights(static_cast<size_t>(ASymbol->rows), 1);
  if (AHeights) {
    float fixed = 0;
    int open = 0;
    for (int r = 0; r < ASymbol->rows; ++r) {
      if (ASymbol->row_height[r] > 0)
        fixed += ASymbol->row_height[r];
      else
        ++open;
    }
    const float share = open > 0 ? std::max(1.0f, (ASymbol->height - fixed) / open) : 1.0f;
    for (int r = 0; r < ASymbol->rows; ++r) {
      const float h = ASymbol->row_height[r] > 0 ? ASymbol->row_height[r] : share;
      heights[r] = std::clamp(static_cast<int>(h + 0.5f), 1, 200);
    }
  }
  code.Width = ASymbol->width;
  for (int h : heights) code.Height += h;
  code.Modules.reserve(static_cast<size_t>(code.Width) * code.Height);
  for (int r = 0; r < ASymbol->rows; ++r)
    for (int k = 0; k < heights[r]; ++k)
      for (int x = 0; x < code.Width; ++x) code.Modules.push_back(ModuleSet(ASymbol, r, x) ? 1 : 0);
  code.Ok = true;
  return code;
}

TMatrixCode Failed(std::string AError) {
  TMatrixCode code;
  code.Error = std::move(AError);
  return code;
}

}  // namespace

TMatrixCode EncodeQrCode(const std::string& AData, int AEcc, int AVersion) {
  TSymbol s(ZBarcode_Create());
  if (!s) return Failed("out of memory");
  s->symbology = BARCODE_QRCODE;
  s->option_1 = std::clamp(AEcc, 1, 4);
  s->option_2 = std::clamp(AVersion, 0, 40);
  std::string error;
  // 7089 digits is the largest QR code; libzint refuses what does not fit.
  if (!EncodeOnly(s.get(), AData, 7089, error)) return Failed(error);
  if (s->width != s->rows) return Failed("not a square symbol");
  return FromEncoded(s.get(), false);
}

TMatrixCode EncodeMicroQrCode(const std::string& AData, int AEcc) {
  TSymbol s(ZBarcode_Create());
  if (!s) return Failed("out of memory");
  s->symbology = BARCODE_MICROQR;
  s->option_1 = std::clamp(AEcc, 1, 3);
  std::string error;
  // M4 holds at most 35 digits.
  if (!EncodeOnly(s.get(), AData, 35, error)) return Failed(error);
  return FromEncoded(s.get(), false);
}

TMatrixCode EncodePdf417(const std::string& AData, const TPdf417Options& AOptions) {
  if (AOptions.Columns < 0 || AOptions.Columns > 30) return Failed("PDF417 has 1 to 30 columns");
  if (AOptions.Rows != 0 && (AOptions.Rows < 3 || AOptions.Rows > 90))
    return Failed("PDF417 has 3 to 90 rows");
  if (AOptions.Columns > 0 && AOptions.Rows > 0 && AOptions.Columns * AOptions.Rows > 928)
    return Failed("PDF417 holds at most 928 codewords (columns x rows)");
  const int symbology = AOptions.Truncated ? BARCODE_PDF417COMP : BARCODE_PDF417;
  int level = AOptions.EccLevel;
  if (level < 0 && AOptions.EccPercent > 0) {
    // A share of the data codewords: measured on a first encoding.
    TSymbol probe(ZBarcode_Create());
    if (!probe) return Failed("out of memory");
    probe->symbology = symbology;
    probe->option_1 = 0;
    std::string error;
    if (!EncodeOnly(probe.get(), AData, 2710, error)) return Failed(error);
    const int overhead = AOptions.Truncated ? 35 : 69;
    const int columns = std::max(1, (probe->width - overhead) / 17);
    const int dataWords = std::max(1, probe->rows * columns - 2);
    const int need = (dataWords * AOptions.EccPercent + 99) / 100;
    level = 0;
    while (level < 8 && (2 << level) < need) ++level;
  }
  TSymbol s(ZBarcode_Create());
  if (!s) return Failed("out of memory");
  s->symbology = symbology;
  s->option_1 = level < 0 ? -1 : std::min(level, 8);
  s->option_2 = AOptions.Columns;
  s->option_3 = AOptions.Rows;
  std::string error;
  // 2710 digits is the most a PDF417 symbol holds.
  if (!EncodeOnly(s.get(), AData, 2710, error)) return Failed(error);
  return FromEncoded(s.get(), false);
}

namespace {

// ECC 200 sizes as libzint numbers them (option_2): squares 1..24, the
// rectangles 25..30.
const int kDmSquares[] = {10, 12, 14, 16, 18, 20, 22, 24, 26,  32,  36,  40,
                          44, 48, 52, 64, 72, 80, 88, 96, 104, 120, 132, 144};
const int kDmRectangles[][2] = {{8, 18}, {8, 32}, {12, 26}, {12, 36}, {16, 36}, {16, 48}};

}  // namespace

TMatrixCode EncodeDataMatrix(const std::string& AData, bool ARectangle, int ARows, int AColumns, bool AGs1) {
  std::vector<int> sizes;
  if (!ARectangle) {
    if (ARows != 0 || AColumns != 0) {
      for (int i = 0; i < 24; ++i)
        if (kDmSquares[i] == ARows && (AColumns == 0 || AColumns == ARows)) sizes.push_back(i + 1);
      if (sizes.empty())
        return Failed("DataMatrix has no square size of " + std::to_string(ARows) + " x " +
                      std::to_string(AColumns) + " modules");
    }
  } else {
    for (int i = 0; i < 6; ++i)
      if ((ARows == 0 || kDmRectangles[i][0] == ARows) && (AColumns == 0 || kDmRectangles[i][1] == AColumns))
        sizes.push_back(25 + i);
    if (sizes.empty())
      return Failed("DataMatrix has no rectangle of " + std::to_string(ARows) + " x " +
                    std::to_string(AColumns) + " modules");
  }
  std::string data = AData;
  if (AGs1) {
    std::string error;
    if (!Gs1ToBracketed(AData, "\x1d", data, error)) return Failed(error);
  }
  std::string error = "cannot be encoded";
  // Squares of any size: libzint picks; otherwise each allowed size in turn.
  if (sizes.empty()) sizes.push_back(0);
  for (int size : sizes) {
    TSymbol s(ZBarcode_Create());
    if (!s) return Failed("out of memory");
    s->symbology = BARCODE_DATAMATRIX;
    s->option_2 = size;
    s->option_3 = DM_SQUARE;
    if (AGs1) s->input_mode = GS1_MODE;
    // 3116 digits fill the largest symbol.
    if (EncodeOnly(s.get(), data, 3116, error)) return FromEncoded(s.get(), false);
  }
  return Failed(error);
}

TMatrixCode EncodeAztec(const std::string& AData, int ACompact, int ALayers, int AEccPercent) {
  if (ALayers < 0 || ALayers > (ACompact == 1 ? 4 : 32)) return Failed("Aztec layers out of range");
  TSymbol s(ZBarcode_Create());
  if (!s) return Failed("out of memory");
  s->symbology = BARCODE_AZTEC;
  if (ALayers > 0) {
    s->option_2 = ACompact == 1 ? ALayers : ALayers + 4;
  } else {
    // libzint's levels: more than 10, 23, 36 or 50 percent.
    const int p = std::clamp(AEccPercent, 5, 95);
    s->option_1 = p <= 10 ? 1 : p <= 23 ? 2 : p <= 36 ? 3 : 4;
  }
  std::string error;
  // 3832 digits fill the largest symbol.
  if (!EncodeOnly(s.get(), AData, 3832, error)) return Failed(error);
  if (ACompact == 1 && s->width > 27) return Failed("the data does not fit a compact Aztec symbol");
  return FromEncoded(s.get(), false);
}

TMatrixCode EncodeAztecRune(int AValue) {
  if (AValue < 0 || AValue > 255) return Failed("an Aztec rune is a value from 0 to 255");
  TSymbol s(ZBarcode_Create());
  if (!s) return Failed("out of memory");
  s->symbology = BARCODE_AZRUNE;
  std::string error;
  if (!EncodeOnly(s.get(), std::to_string(AValue), 3, error)) return Failed(error);
  return FromEncoded(s.get(), false);
}

TMatrixCode EncodeMaxiCode(int AMode, const std::string& AData) {
  if (AMode < 2 || AMode > 6) return Failed("MaxiCode modes are 2 to 6");
  TSymbol s(ZBarcode_Create());
  if (!s) return Failed("out of memory");
  s->symbology = BARCODE_MAXICODE;
  s->option_1 = AMode;
  std::string secondary = AData;
  if (AMode <= 3) {
    // [)> RS 01 GS yy, then postal code GS country GS class GS message.
    static const std::string kHeader =
        "[)>\x1e"
        "01\x1d";
    std::string header, rest = AData;
    if (rest.compare(0, kHeader.size(), kHeader) == 0 && rest.size() >= kHeader.size() + 2) {
      header = rest.substr(0, kHeader.size() + 2);
      rest.erase(0, kHeader.size() + 2);
    }
    std::string fields[3];
    for (std::string& f : fields) {
      const size_t gs = rest.find('\x1d');
      if (gs == std::string::npos)
        return Failed("MaxiCode mode " + std::to_string(AMode) +
                      " needs postal code, country and class of service, each ended by GS");
      f = rest.substr(0, gs);
      rest.erase(0, gs + 1);
    }
    const std::string& post = fields[0];
    if (AMode == 2 && (post.empty() || post.size() > 9 || !AllDigits(post)))
      return Failed("MaxiCode mode 2 takes a postal code of 1 to 9 digits");
    if (AMode == 3 && (post.empty() || post.size() > 6 || !std::all_of(post.begin(), post.end(), [](char c) {
                         return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                c == ' ';
                       })))
      return Failed("MaxiCode mode 3 takes a postal code of 1 to 6 letters and digits");
    for (int i = 1; i < 3; ++i)
      if (fields[i].size() != 3 || !AllDigits(fields[i]))
        return Failed("MaxiCode country and class of service are three digits each");
    const std::string primary = post + fields[1] + fields[2];
    std::copy(primary.begin(), primary.end(), s->primary);
    s->primary[primary.size()] = '\0';
    secondary = header + rest;
  }
  s->scale = 0.75f;
  s->show_hrt = 0;
  s->output_options |= BARCODE_NO_QUIET_ZONES;
  // 138 digits fill a mode 4 symbol; an empty secondary message is fine in
  // modes 2 and 3.
  if (secondary.size() > 138) return Failed("data too long for MaxiCode (at most 138 characters)");
  if (AMode > 3 && secondary.empty()) return Failed("no data");
  const int r = ZBarcode_Encode_and_Buffer(s.get(), reinterpret_cast<const unsigned char*>(secondary.data()),
                                           static_cast<int>(secondary.size()), 0);
  if (r >= ZINT_ERROR || !s->bitmap || s->bitmap_width <= 0 || s->bitmap_height <= 0 ||
      s->bitmap_width > 1000 || s->bitmap_height > 1000)
    return Failed(s->errtxt[0] ? s->errtxt : "cannot be encoded");
  TMatrixCode code;
  code.Width = s->bitmap_width;
  code.Height = s->bitmap_height;
  code.Modules.resize(static_cast<size_t>(code.Width) * code.Height);
  for (size_t i = 0; i < code.Modules.size(); ++i) code.Modules[i] = s->bitmap[i * 3] < 128 ? 1 : 0;
  code.Ok = true;
  return code;
}

namespace {

int DataBarSymbology(TDataBarKind AKind) {
  switch (AKind) {
    case dbOmnidirectional:
    case dbTruncated:
      return BARCODE_DBAR_OMN;
    case dbLimited:
      return BARCODE_DBAR_LTD;
    case dbExpanded:
      return BARCODE_DBAR_EXP;
    case dbStacked:
      return BARCODE_DBAR_STK;
    case dbStackedOmnidirectional:
      return BARCODE_DBAR_OMNSTK;
    case dbExpandedStacked:
      return BARCODE_DBAR_EXPSTK;
  }
  return BARCODE_DBAR_OMN;
}

bool IsExpanded(TDataBarKind AKind) { return AKind == dbExpanded || AKind == dbExpandedStacked; }

// The item number of the fixed-length kinds: 13 digits, or 14 with the
// check digit; DataBar Limited starts with 0 or 1.
bool CheckDataBarInput(TDataBarKind AKind, const std::string& AData, std::string& AError) {
  if (IsExpanded(AKind)) {
    if (AData.empty() || AData.front() != '[') {
      AError = "GS1 DataBar Expanded data starts with an application identifier";
      return false;
    }
    if (!std::all_of(AData.begin(), AData.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
      AError = "GS1 data is printable ASCII";
      return false;
    }
    return true;
  }
  if ((AData.size() != 13 && AData.size() != 14) || !AllDigits(AData)) {
    AError = "GS1 DataBar takes the 13 digits of the item number";
    return false;
  }
  if (AKind == dbLimited && AData[0] != '0' && AData[0] != '1') {
    AError = "GS1 DataBar Limited item numbers start with 0 or 1";
    return false;
  }
  return true;
}

}  // namespace

TMatrixCode EncodeDataBar(TDataBarKind AKind, const std::string& AData, int AColumns) {
  std::string error;
  if (!CheckDataBarInput(AKind, AData, error)) return Failed(error);
  TSymbol s(ZBarcode_Create());
  if (!s) return Failed("out of memory");
  s->symbology = DataBarSymbology(AKind);
  if (IsExpanded(AKind)) s->input_mode = GS1_MODE;
  if (AKind == dbExpandedStacked) s->option_2 = std::clamp(AColumns, 0, 11);
  // 74 digits fill an expanded symbol; the brackets come on top.
  if (!EncodeOnly(s.get(), AData, 200, error)) return Failed(error);
  return FromEncoded(s.get(), true);
}

TLinearCode EncodeDataBarLinear(TDataBarKind AKind, const std::string& AData) {
  TLinearCode code;
  if (AKind != dbOmnidirectional && AKind != dbTruncated && AKind != dbLimited && AKind != dbExpanded) {
    code.Error = "a stacked DataBar has more than one row";
    return code;
  }
  if (!CheckDataBarInput(AKind, AData, code.Error)) return code;
  if (AData.size() > 200) {
    code.Error = "data too long";
    return code;
  }
  TSymbol s(ZBarcode_Create());
  if (!s) {
    code.Error = "out of memory";
    return code;
  }
  s->symbology = DataBarSymbology(AKind);
  if (IsExpanded(AKind)) s->input_mode = GS1_MODE;
  if (!EncodeOnly(s.get(), AData, 200, code.Error)) return code;
  if (s->rows != 1) {
    code.Error = "not a one-row symbol";
    return code;
  }
  code.Modules.resize(static_cast<size_t>(s->width));
  for (int x = 0; x < s->width; ++x) code.Modules[x] = ModuleSet(s.get(), 0, x) ? 1 : 0;
  // libzint keeps the human-readable line even when it does not draw it.
  code.Text = reinterpret_cast<const char*>(s->text);
  if (code.Text.empty() && !IsExpanded(AKind)) code.Text = "(01)" + AData;
  code.Ok = true;
  return code;
}

namespace {

// Application identifiers by their first two digits: how many digits the
// identifier has and, for the predefined lengths, how many data characters
// follow (0: variable, ended by FNC1 or the end).
bool AiShape(const std::string& AText, size_t AAt, int& AAiLength, int& ADataLength) {
  if (AAt + 2 > AText.size() || !std::isdigit(static_cast<unsigned char>(AText[AAt])) ||
      !std::isdigit(static_cast<unsigned char>(AText[AAt + 1])))
    return false;
  const int p = (AText[AAt] - '0') * 10 + (AText[AAt + 1] - '0');
  ADataLength = 0;
  if (p == 0) {
    AAiLength = 2, ADataLength = 18;
  } else if (p >= 1 && p <= 3) {
    AAiLength = 2, ADataLength = 14;
  } else if (p == 4) {
    AAiLength = 2, ADataLength = 16;
  } else if (p >= 11 && p <= 19) {
    AAiLength = 2, ADataLength = 6;
  } else if (p == 20) {
    AAiLength = 2, ADataLength = 2;
  } else if (p == 10 || p == 21 || p == 22 || p == 30 || p == 37 || (p >= 90 && p <= 99)) {
    AAiLength = 2;
  } else if (p >= 23 && p <= 25) {
    AAiLength = 3;
  } else if (p >= 31 && p <= 36) {
    AAiLength = 4, ADataLength = 6;
  } else if (p == 39 || p == 70 || p == 72 || (p >= 80 && p <= 82)) {
    AAiLength = 4;
  } else if (p == 41) {
    AAiLength = 3, ADataLength = 13;
  } else if (p == 40 || (p >= 42 && p <= 43) || p == 71) {
    AAiLength = 3;
  } else {
    return false;
  }
  return AAt + AAiLength <= AText.size() && std::all_of(AText.begin() + static_cast<long>(AAt),
                                                        AText.begin() + static_cast<long>(AAt + AAiLength),
                                                        [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool Gs1ToBracketed(const std::string& AData, const std::string& AFnc1, std::string& AOut,
                    std::string& AError) {
  AOut.clear();
  // Split off the FNC1 separators first.
  std::string text;
  std::vector<size_t> ends;  // positions in text where an FNC1 stood
  for (size_t i = 0; i < AData.size();) {
    if (!AFnc1.empty() && AData.compare(i, AFnc1.size(), AFnc1) == 0) {
      ends.push_back(text.size());
      i += AFnc1.size();
      continue;
    }
    text += AData[i++];
  }
  if (text.empty()) {
    AError = "no GS1 data";
    return false;
  }
  if (text[0] == '(' || text[0] == '[') {
    for (char c : text) AOut += c == '(' ? '[' : c == ')' ? ']' : c;
    return true;
  }
  size_t i = 0;
  while (i < text.size()) {
    int aiLength = 0, dataLength = 0;
    if (!AiShape(text, i, aiLength, dataLength)) {
      AError = "no known GS1 application identifier at \"" + text.substr(i, 4) + "\"";
      return false;
    }
    AOut += "[" + text.substr(i, static_cast<size_t>(aiLength)) + "]";
    i += static_cast<size_t>(aiLength);
    size_t end;
    if (dataLength > 0) {
      end = i + static_cast<size_t>(dataLength);
      if (end > text.size()) {
        AError = "GS1 field " + AOut.substr(AOut.rfind('[')) + " needs " + std::to_string(dataLength) +
                 " characters";
        return false;
      }
    } else {
      end = text.size();
      for (size_t e : ends)
        if (e > i) {
          end = e;
          break;
        }
    }
    AOut += text.substr(i, end - i);
    i = end;
  }
  return true;
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

uint32_t EscPosBarcodeFamily(int AM) {
  if (AM >= 65 && AM <= 79) AM -= 65;
  switch (AM) {
    case 0:
    case 1:
    case 2:
    case 3:
      return cfUpcEan;
    case 4:
      return cfCode39;
    case 5:
      return cfItf;
    case 6:
      return cfCodabar;
    case 7:
      return cfCode93;
    case 8:
    case 9:
      return cfCode128;
    case 10:
    case 11:
    case 12:
    case 13:
      return cfGs1DataBar;
    default:
      return 0;
  }
}

uint32_t EscPosSymbolFamily(int ACn, int AQrModel) {
  switch (ACn) {
    case 48:
      return cfPdf417;
    case 49:
      return AQrModel == 49 ? cfQrModel1 : AQrModel == 51 ? cfMicroQr : cfQr;
    case 50:
      return cfMaxiCode;
    case 51:
      return cfGs1DataBar;
    case 53:
      return cfAztec;
    case 54:
      return cfDataMatrix;
    default:
      return 0;
  }
}

uint32_t TsplCodeFamily(const std::string& ACommand, const std::string& AType) {
  std::string c, t;
  for (char ch : ACommand) c += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (char ch : AType) t += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (c == "QRCODE") return cfQr;
  if (c == "PDF417") return cfPdf417;
  if (c == "DMATRIX") return cfDataMatrix;
  if (c == "AZTEC") return cfAztec;
  if (c == "MAXICODE") return cfMaxiCode;
  if (c != "BARCODE") return 0;
  if (t == "128" || t == "128M" || t == "EAN128") return cfCode128;
  if (t == "EAN13" || t == "EAN8" || t == "UPCA" || t == "UPCE") return cfUpcEan;
  if (t == "39" || t == "39S" || t == "39C") return cfCode39;
  if (t == "93") return cfCode93;
  if (t == "25" || t == "25C" || t == "25S" || t == "25I" || t == "ITF14") return cfItf;
  if (t == "CODA") return cfCodabar;
  return 0;
}
