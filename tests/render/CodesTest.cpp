// Every barcode and QR code the renderer draws, in both languages, is read
// back by an independent decoder (zbarimg) as the data that was encoded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "ChildProcess.h"
#include "CodeDrawing.h"
#include "PictureFixtures.h"
#include "RenderTestSupport.h"

namespace {

std::string DecodePage(const TRenderResult& AResult, const TScratchDir& ADir, const std::string& AName) {
  if (AResult.Pages.empty()) return "(no page)";
  const std::string file = ADir.File(AName + ".png");
  WriteRenderFile(file, AResult.Pages[0].Png());
  return DecodeWithZbar(file);
}

// ESC a 1, a blank line, the symbol, blank lines: quiet zones on all sides.
std::vector<uint8_t> Centred(const std::string& ACommands) {
  return Bytes(
      "\x1b"
      "a\x01\n" +
      ACommands + "\n\n");
}

TEST(Codes, EscPosBarcodesDecode) {
  ASSERT_TRUE(HaveZbar()) << "zbarimg (zbar-tools) is needed; scripts/install-deps installs it";
  TScratchDir dir;
  struct TCase {
    const char* Name;
    std::string Commands;
    std::string Decoded;
  };
  const std::string nul(1, '\0');
  const TCase cases[] = {
      {"UPC-A form 1", "\x1dk" + nul + "01234567890" + nul, "012345678905"},
      {"UPC-A form 2",
       "\x1dkA\x0b"
       "01234567890",
       "012345678905"},
      {"UPC-E",
       "\x1dkB\x07"
       "0123456",
       "01234565"},
      {"EAN-13 form 1",
       "\x1dk\x02"
       "400638133393" +
           nul,
       "4006381333931"},
      {"EAN-13 form 2",
       "\x1dkC\x0d"
       "4006381333931",
       "4006381333931"},
      {"EAN-8",
       "\x1dkD\x07"
       "1234567",
       "12345670"},
      {"CODE39 form 1",
       "\x1dk\x04"
       "TESSIVA-39" +
           nul,
       "TESSIVA-39"},
      {"CODE39 form 2",
       "\x1dkE\x08"
       "AB 12/$%",
       "AB 12/$%"},
      {"ITF",
       "\x1dkF\x0a"
       "1234567890",
       "1234567890"},
      {"CODABAR",
       "\x1dkG\x08"
       "A40156B ",
       ""},
      {"CODABAR form 1",
       "\x1dk\x06"
       "A40156B" +
           nul,
       "A40156B"},
      {"CODE93",
       "\x1dkH\x09"
       "CODE-93 X",
       "CODE-93 X"},
      {"CODE128 B", "\x1dkI\x0c{BHello-128!", "Hello-128!"},
      {"CODE128 C", std::string("\x1dkI\x05{C\x0c\x22\x38", 9), "123456"},
      {"CODE128 A", "\x1dkI\x06{ATEST", "TEST"},
      {"module 2 and height 80", "\x1dw\x02\x1dh\x50\x1dkI\x06{BAbcd", "Abcd"},
      {"module 4 with HRI below",
       "\x1dw\x04\x1dH\x02\x1dkE\x04"
       "WIDE",
       "WIDE"},
  };
  for (const TCase& c : cases) {
    if (c.Decoded.empty()) continue;  // rows that only show a malformed case below
    const TRenderResult r = RenderRaw(Centred(c.Commands));
    EXPECT_TRUE(r.Findings.empty()) << c.Name << ": " << r.FindingsText();
    EXPECT_EQ(DecodePage(r, dir, "b"), c.Decoded) << c.Name << "\n" << r.ListingText();
  }
}

TEST(Codes, EscPosBarcodeHeightAndHumanReadableLine) {
  const std::string bar = "\x1dh\x50\x1dkI\x06{BAbcd";
  const TRenderResult plainResult = RenderRaw(Bytes(bar));
  const TRenderPage& plain = plainResult.Pages.at(0).Page;
  EXPECT_EQ(InkBox(plain).Height(), 80);
  const TRenderResult belowResult = RenderRaw(Bytes("\x1dH\x02" + bar));
  const TRenderPage& below = belowResult.Pages.at(0).Page;
  const TBox text = InkBox(below, 0, 82);
  EXPECT_FALSE(text.Empty());
  EXPECT_LE(text.Y1, 82 + 24);
  const TRenderResult bothResult = RenderRaw(Bytes("\x1dH\x03" + bar));
  const TRenderPage& both = bothResult.Pages.at(0).Page;
  EXPECT_GT(both.BlackDotsIn(0, 0, 576, 24), 0u);
  EXPECT_EQ(both.Height(), 24 + 2 + 80 + 2 + 24);
}

TEST(Codes, EscPosQrCodesDecode) {
  ASSERT_TRUE(HaveZbar());
  TScratchDir dir;
  struct TCase {
    const char* Name;
    int Module;
    char Ecc;
    std::string Data;
  };
  const TCase cases[] = {
      {"small, L", 3, '0', "https://tessiva.example/q?id=42"},
      {"module 6, H", 6, '3', "PRINT_TASK 0031"},
      {"long, M", 2, '1', std::string(300, 'x') + "END"},
      {"UTF-8 text, Q", 4, '2', "\xE7\xBB\x93\xE5\xB8\x90\xE5\x8D\x95 26"},
  };
  for (const TCase& c : cases) {
    const size_t store = c.Data.size() + 3;
    std::string cmd = std::string("\x1d(k\x04\x00\x31\x41\x32\x00", 9);
    cmd += std::string("\x1d(k\x03\x00\x31\x43", 7) + static_cast<char>(c.Module);
    cmd += std::string("\x1d(k\x03\x00\x31\x45", 7) + c.Ecc;
    cmd += std::string("\x1d(k", 3) + static_cast<char>(store & 0xFF) + static_cast<char>(store >> 8) +
           "\x31\x50\x30" + c.Data;
    cmd += std::string("\x1d(k\x03\x00\x31\x51\x30", 8);
    const TRenderResult r = RenderRaw(Centred(cmd));
    EXPECT_TRUE(r.Findings.empty()) << c.Name << ": " << r.FindingsText();
    EXPECT_EQ(DecodePage(r, dir, "q"), c.Data) << c.Name;
    // Modules are Module dots square: the symbol's side is a multiple of it.
    const TBox box = InkBox(r.Pages.at(0).Page);
    EXPECT_EQ(box.Width() % c.Module, 0) << c.Name;
    EXPECT_EQ(box.Width(), box.Height()) << c.Name;
  }
}

TEST(Codes, BadCodesAreFindingsNotCrashes) {
  struct TCase {
    const char* Name;
    std::string Job;
    const char* Finding;
  };
  const std::string nul(1, '\0');
  const TCase cases[] = {
      {"EAN-13 with letters",
       "\x1dkC\x0d"
       "40063813339AB",
       "barcode not printed"},
      // A '+' would ask libzint for an add-on (which its 2.11 draws past its bitmap).
      {"EAN-8 with an add-on",
       "\x1dkD\x0d"
       "40063813+3393",
       "EAN and UPC data must be digits"},
      {"UPC-A with an add-on",
       "\x1dkA\x0e"
       "03600029145+12",
       "EAN and UPC data must be digits"},
      {"too wide",
       "\x1dw\x06\x1dkE\x14"
       "ABCDEFGHIJKLMNOPQRST",
       "does not fit the printable width"},
      {"no NUL",
       "\x1dk\x04"
       "ABC",
       "no terminating NUL"},
      {"QR print before store", std::string("\x1d(k\x03\x00\x31\x51\x30", 8), "no data stored"},
      {"GS k cut short", "\x1dkI\x20{Babc", "cut short"},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job));
    EXPECT_TRUE(HasFinding(r, c.Finding)) << c.Name << ": " << r.FindingsText();
  }
}

}  // namespace

namespace {

TEST(Codes, TsplBarcodesAndQrCodesDecode) {
  ASSERT_TRUE(HaveZbar());
  TScratchDir dir;
  struct TCase {
    const char* Name;
    std::string Command;
    std::string Decoded;
  };
  const TCase cases[] = {
      {"128", "BARCODE 40,40,\"128\",80,1,0,2,2,\"TSPL-128 ok\"", "TSPL-128 ok"},
      {"128M of the sample", "BARCODE 40,40,\"128M\",60,0,0,2,2,\"!104!096ABCD!101EFGH\"", "ABCDEFGH"},
      {"128M code C", "BARCODE 40,40,\"128M\",60,0,0,2,2,\"!105123456!100AB\"", "123456AB"},
      {"EAN13", "BARCODE 40,40,\"EAN13\",80,1,0,2,2,\"400638133393\"", "4006381333931"},
      {"EAN8", "BARCODE 40,40,\"EAN8\",80,1,0,2,2,\"1234567\"", "12345670"},
      {"UPCA", "BARCODE 40,40,\"UPCA\",80,1,0,2,2,\"01234567890\"", "012345678905"},
      {"39 narrow 2 wide 5", "BARCODE 40,40,\"39\",80,1,0,2,5,\"LABEL-39\"", "LABEL-39"},
      {"93", "BARCODE 40,40,\"93\",80,1,0,2,2,\"LABEL93\"", "LABEL93"},
      {"CODA", "BARCODE 40,40,\"CODA\",80,1,0,2,5,\"A123456B\"", "A123456B"},
      {"25", "BARCODE 40,40,\"25\",80,1,0,2,5,\"12345678\"", "12345678"},
      {"25C adds its check digit", "BARCODE 40,40,\"25C\",80,1,0,2,5,\"1234567\"", "12345670"},
      {"rotated 90", "BARCODE 200,40,\"128\",80,1,90,2,2,\"TURNED\"", "TURNED"},
      {"rotated 180", "BARCODE 400,200,\"128\",80,1,180,2,2,\"UPSIDE\"", "UPSIDE"},
      {"QR L", "QRCODE 60,40,L,4,A,0,\"https://tessiva.example/label\"", "https://tessiva.example/label"},
      {"QR H rotated", "QRCODE 300,40,H,5,A,90,\"ROTATED QR\"", "ROTATED QR"},
      {"QR manual mode", "QRCODE 60,40,M,4,M,0,\"AMANUAL123\"", "MANUAL123"},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes("SIZE 70 mm,40 mm\r\nCLS\r\n" + c.Command + "\r\nPRINT 1\r\n"));
    bool onlyInfo = true;
    for (const TFinding& f : r.Findings) onlyInfo = onlyInfo && f.Severity == fsInfo;
    EXPECT_TRUE(onlyInfo) << c.Name << ": " << r.FindingsText();
    EXPECT_EQ(DecodePage(r, dir, "t"), c.Decoded) << c.Name;
  }
}

TEST(Codes, TsplNarrowAndWideSetTheElementWidths) {
  // Code 39 is narrow and wide elements only: with narrow 2 and wide 6 every
  // run of bar dots is 2 or 6 long.
  const TRenderResult r =
      RenderRaw(Bytes("SIZE 70 mm,20 mm\r\nCLS\r\nBARCODE 0,0,\"39\",40,0,0,2,6,\"AB\"\r\nPRINT 1\r\n"));
  const TRenderPage& page = r.Pages.at(0).Page;
  int run = 0;
  std::vector<int> runs;
  for (int x = 0; x <= page.Width(); ++x) {
    const bool black = x < page.Width() && page.Dot(x, 0);
    if (black) ++run;
    if (!black && run) runs.push_back(run), run = 0;
  }
  ASSERT_FALSE(runs.empty());
  for (int n : runs) EXPECT_TRUE(n == 2 || n == 6) << n;
  // 128 uses the narrow width as its module: every run is a multiple of 3.
  const TRenderResult m =
      RenderRaw(Bytes("SIZE 70 mm,20 mm\r\nCLS\r\nBARCODE 0,0,\"128\",40,0,0,3,9,\"AB\"\r\nPRINT 1\r\n"));
  const TBox box = InkBox(m.Pages.at(0).Page);
  EXPECT_EQ(box.Width() % 3, 0);
  EXPECT_EQ(box.Height(), 40);
}

}  // namespace

// The two-dimensional symbols, GS1 DataBar and the rules every code keeps
// (nothing printed when it does not fit, when nothing was stored or the
// data is wrong), read back by zxing-cpp's ZXingReader and zbarimg.
namespace {

// One symbol ZXingReader found: its format and the bytes it holds.
struct TZxingSymbol {
  std::string Format;
  std::string Bytes;
};

bool HaveZxing() { return !tessiva::test::FindProgram("ZXingReader").empty(); }

// APure: the picture holds the symbol alone (ZXingReader -ispure).
std::vector<TZxingSymbol> DecodeWithZxing(const std::string& APngFile, bool APure = false) {
  std::vector<std::string> args = {"ZXingReader"};
  if (APure) args.push_back("-ispure");
  args.push_back(APngFile);
  const tessiva::test::TRunResult r = tessiva::test::RunProcess(args);
  std::vector<TZxingSymbol> found;
  size_t at = 0;
  while (at < r.Stdout.size()) {
    size_t eol = r.Stdout.find('\n', at);
    if (eol == std::string::npos) eol = r.Stdout.size();
    const std::string line = r.Stdout.substr(at, eol - at);
    at = eol + 1;
    auto value = [&](const char* AKey) -> const char* {
      const size_t n = std::strlen(AKey);
      if (line.compare(0, n, AKey) != 0) return nullptr;
      size_t i = n;
      while (i < line.size() && line[i] == ' ') ++i;
      return line.c_str() + i;
    };
    if (const char* hex = value("Bytes:")) {
      // A new symbol starts with its bytes ("Text:" comes first, "Format:" after).
      TZxingSymbol s;
      for (const char* p = hex; *p;) {
        char* end = nullptr;
        const long b = std::strtol(p, &end, 16);
        if (end == p) break;
        s.Bytes += static_cast<char>(b);
        p = end;
      }
      found.push_back(s);
    } else if (const char* format = value("Format:")) {
      if (!found.empty()) found.back().Format = format;
    }
  }
  return found;
}

// The symbols on a page: the page cut down to its ink and a white margin of
// 40 dots, as a scanner aimed at the code sees it (ZXingReader misses a
// DataMatrix or Aztec code in the corner of a large white label). Read
// twice: as a picture, and as the symbol alone (zxing-cpp 1.4 stops on an
// assertion when it finds a stacked DataBar on more than one line, unless
// told the picture is the symbol alone).
std::vector<TZxingSymbol> DecodePageWithZxing(const TRenderPage& APage, const TScratchDir& ADir) {
  const TBox box = InkBox(APage);
  if (box.Empty()) return {};
  const int margin = 40;
  TRenderPage crop(box.Width() + 2 * margin, box.Height() + 2 * margin, box.Height() + 2 * margin);
  for (int y = box.Y0; y < box.Y1; ++y)
    for (int x = box.X0; x < box.X1; ++x)
      if (APage.Dot(x, y)) crop.SetDot(x - box.X0 + margin, y - box.Y0 + margin, true);
  const std::string file = ADir.File("zxing.png");
  WriteRenderFile(file, PageToPng(crop));
  std::vector<TZxingSymbol> found = DecodeWithZxing(file);
  for (TZxingSymbol& z : DecodeWithZxing(file, true)) found.push_back(std::move(z));
  return found;
}

std::string DescribeSymbols(const std::vector<TZxingSymbol>& ASymbols) {
  std::string s;
  for (const TZxingSymbol& z : ASymbols) s += "[" + z.Format + " \"" + z.Bytes + "\"] ";
  return s.empty() ? "(nothing)" : s;
}

// The new codes are drawn for printers that have them: Epson-style
// receipt printers and TSPL label printers.
TRenderResult RenderFor(const std::vector<uint8_t>& ABytes, const char* AProfile) {
  TRenderOptions o;
  o.Profile = AProfile;
  return RenderCommandBytes(ABytes, o);
}
TRenderResult RenderEpson(const std::vector<uint8_t>& ABytes) { return RenderFor(ABytes, "epson-80"); }
TRenderResult RenderLabel(const std::vector<uint8_t>& ABytes) { return RenderFor(ABytes, "tspl-203"); }
TRenderResult RenderLabel(const std::string& AJob) { return RenderLabel(Bytes(AJob)); }

// GS ( k with its parameter bytes.
std::string Gsk(int ACn, int AFn, const std::string& AParams = std::string()) {
  const size_t n = AParams.size() + 2;
  std::string s = "\x1d(k";
  s += static_cast<char>(n & 0xFF);
  s += static_cast<char>(n >> 8);
  s += static_cast<char>(ACn);
  s += static_cast<char>(AFn);
  return s + AParams;
}
std::string Store(int ACn, const std::string& AData) { return Gsk(ACn, 80, "0" + AData); }
std::string PrintSymbol(int ACn) { return Gsk(ACn, 81, "0"); }
std::string Byte(int AValue) { return std::string(1, static_cast<char>(AValue)); }

// The GS1 check digit of a 13-digit item number (mod 10, weights 3 and 1
// from the right).
char Gs1CheckDigit(const std::string& ADigits) {
  int sum = 0;
  for (size_t i = 0; i < ADigits.size(); ++i) {
    const int d = ADigits[ADigits.size() - 1 - i] - '0';
    sum += (i % 2 == 0) ? d * 3 : d;
  }
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

// "(01)000...(10)AB" as decoders give GS1 data: the identifiers without
// brackets, GS after a variable-length field that is not the last.
std::string Gs1Plain(const std::string& ABracketed) {
  std::string out;
  for (size_t i = 0; i < ABracketed.size(); ++i) {
    const char c = ABracketed[i];
    if (c == '(' || c == ')') continue;
    out += c;
  }
  return out;
}

TEST(Codes, EscPosTwoDimensionalSymbolsDecode) {
  ASSERT_TRUE(HaveZxing()) << "ZXingReader (zxing-cpp-tools) is needed; scripts/install-deps installs it";
  TScratchDir dir;
  struct TCase {
    const char* Name;
    std::string Commands;
    const char* Format;  // as ZXingReader names it
    std::string Data;
  };
  const std::string pdfText = "PDF417 receipt 0001, total 12.50";
  const std::string longText = std::string(400, 'p') + "|END";
  const std::string maxiMessage = "MaxiCode receipt 42";
  const std::string scm = std::string("152382802\x1d") + "840\x1d" + "001\x1d" + "Parcel 7";
  const std::string dbItem = "0001234567890";
  const std::string dbExpanded = "(01)00012345678905(10)ABC123";
  const TCase cases[] = {
      {"PDF417, defaults", Store(48, pdfText) + PrintSymbol(48), "PDF417", pdfText},
      {"PDF417 4 columns, module 2, row height 4, level 3",
       Gsk(48, 65, Byte(4)) + Gsk(48, 67, Byte(2)) + Gsk(48, 68, Byte(4)) + Gsk(48, 69, "0" + Byte(51)) +
           Store(48, pdfText) + PrintSymbol(48),
       "PDF417", pdfText},
      {"PDF417 12 rows, 50% error correction",
       Gsk(48, 66, Byte(12)) + Gsk(48, 69, "1" + Byte(5)) + Store(48, pdfText) + PrintSymbol(48), "PDF417",
       pdfText},
      {"PDF417 truncated", Gsk(48, 70, Byte(1)) + Store(48, pdfText) + PrintSymbol(48), "PDF417", pdfText},
      {"PDF417, 404 bytes: columns chosen to fit the paper", Store(48, longText) + PrintSymbol(48), "PDF417",
       longText},
      {"QR model 1 (drawn as model 2)",
       Gsk(49, 65, "1" + Byte(0)) + Gsk(49, 67, Byte(4)) + Store(49, "model one") + PrintSymbol(49), "QRCode",
       "model one"},
      {"MaxiCode mode 4", Gsk(50, 65, "4") + Store(50, maxiMessage) + PrintSymbol(50), "MaxiCode",
       maxiMessage},
      {"MaxiCode mode 2 (structured carrier message)", Store(50, scm) + PrintSymbol(50), "MaxiCode", scm},
      {"GS1 DataBar Stacked", Gsk(51, 67, Byte(4)) + Gsk(51, 80, "0" + Byte(72) + dbItem) + PrintSymbol(51),
       "DataBar", dbItem + Gs1CheckDigit(dbItem)},
      {"GS1 DataBar Stacked Omnidirectional",
       Gsk(51, 67, Byte(3)) + Gsk(51, 80, "0" + Byte(73) + dbItem) + PrintSymbol(51), "DataBar",
       dbItem + Gs1CheckDigit(dbItem)},
      {"GS1 DataBar Expanded Stacked",
       Gsk(51, 67, Byte(3)) + Gsk(51, 71, Byte(250) + Byte(0)) + Gsk(51, 80, "0" + Byte(76) + dbExpanded) +
           PrintSymbol(51),
       "DataBarExpanded", dbExpanded},
      {"Aztec, automatic", Gsk(53, 67, Byte(5)) + Store(53, "Aztec on a receipt") + PrintSymbol(53), "Aztec",
       "Aztec on a receipt"},
      {"Aztec compact, 3 layers",
       Gsk(53, 66, "1" + Byte(3)) + Gsk(53, 67, Byte(6)) + Store(53, "compact 3") + PrintSymbol(53), "Aztec",
       "compact 3"},
      {"Aztec full range, 50%",
       Gsk(53, 66, "0" + Byte(0)) + Gsk(53, 69, Byte(50)) + Gsk(53, 67, Byte(4)) +
           Store(53, "full range 50%") + PrintSymbol(53),
       "Aztec", "full range 50%"},
      {"DataMatrix square", Gsk(54, 67, Byte(6)) + Store(54, "DataMatrix 0042") + PrintSymbol(54),
       "DataMatrix", "DataMatrix 0042"},
      {"DataMatrix 32 x 32",
       Gsk(54, 66, "0" + Byte(32) + Byte(32)) + Gsk(54, 67, Byte(4)) + Store(54, "fixed size") +
           PrintSymbol(54),
       "DataMatrix", "fixed size"},
      {"DataMatrix rectangle 16 x 36",
       Gsk(54, 66, "1" + Byte(16) + Byte(36)) + Gsk(54, 67, Byte(5)) + Store(54, "rectangle") +
           PrintSymbol(54),
       "DataMatrix", "rectangle"},
      {"GS k 75 DataBar Omnidirectional", "\x1dw\x03\x1dh\x50\x1dkK\x0d" + dbItem, "DataBar",
       dbItem + Gs1CheckDigit(dbItem)},
      {"GS k 76 DataBar Truncated", "\x1dw\x03\x1dh\x30\x1dkL\x0d" + dbItem, "DataBar",
       dbItem + Gs1CheckDigit(dbItem)},
      {"GS k 78 DataBar Expanded",
       "\x1dw\x02\x1dh\x50\x1dkN" + Byte(static_cast<int>(dbExpanded.size())) + dbExpanded, "DataBarExpanded",
       dbExpanded},
      {"GS k 74 GS1-128", "\x1dw\x02\x1dkJ" + Byte(static_cast<int>(dbExpanded.size())) + dbExpanded,
       "Code128", Gs1Plain(dbExpanded)},
      {"EAN-8 with its check digit",
       "\x1dkD\x08"
       "12345670",
       "EAN-8", "12345670"},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderFor(Centred(c.Commands), "epson-80");
    bool onlyInfo = true;
    for (const TFinding& f : r.Findings) onlyInfo = onlyInfo && f.Severity == fsInfo;
    EXPECT_TRUE(onlyInfo) << c.Name << ": " << r.FindingsText();
    ASSERT_FALSE(r.Pages.empty()) << c.Name;
    const std::vector<TZxingSymbol> got = DecodePageWithZxing(r.Pages[0].Page, dir);
    bool found = false;
    for (const TZxingSymbol& z : got) found = found || (z.Format == c.Format && z.Bytes == c.Data);
    EXPECT_TRUE(found) << c.Name << ": expected [" << c.Format << " \"" << c.Data << "\"], ZXingReader read "
                       << DescribeSymbols(got) << "\n"
                       << r.ListingText();
  }
}

TEST(Codes, EscPosNewCodesReadByZbarToo) {
  // zbarimg reads the one-row codes among them: a second decoder.
  ASSERT_TRUE(HaveZbar());
  TScratchDir dir;
  const std::string dbItem = "0001234567890";
  const struct {
    const char* Name;
    std::string Commands;
    std::string Decoded;
  } cases[] = {
      {"EAN-8 with its check digit",
       "\x1dkD\x08"
       "12345670",
       "12345670"},
      {"DataBar Omnidirectional", "\x1dw\x03\x1dh\x50\x1dkK\x0d" + dbItem,
       "01" + dbItem + Gs1CheckDigit(dbItem)},
      {"Micro-free QR model 2 still", Gsk(49, 67, Byte(4)) + Store(49, "zbar reads QR") + PrintSymbol(49),
       "zbar reads QR"},
  };
  for (const auto& c : cases) {
    const TRenderResult r = RenderFor(Centred(c.Commands), "epson-80");
    EXPECT_EQ(DecodePage(r, dir, "zb"), c.Decoded) << c.Name << ": " << r.FindingsText();
  }
}

// zxing-cpp 1.4 and zbarimg have no DataBar Limited reader: its dots are
// checked against the symbol's shape instead. 79 modules, the first a space
// and the last five spaces (the right guard is one bar, five spaces), so the
// bars span 73 modules; omnidirectional DataBar is 96 modules.
TEST(Codes, DataBarLimitedHasItsShape) {
  const TRenderResult limited =
      RenderEpson(Bytes("\x1dw\x03\x1dh\x30\x1dkM\x0d"
                        "1234567890123"));
  ASSERT_FALSE(limited.Pages.empty()) << limited.FindingsText();
  EXPECT_TRUE(limited.Findings.empty()) << limited.FindingsText();
  const TBox box = InkBox(limited.Pages[0].Page);
  EXPECT_EQ(box.Width(), 73 * 3);
  EXPECT_EQ(box.Height(), 48);
  const TRenderResult omni =
      RenderEpson(Bytes("\x1dw\x03\x1dh\x30\x1dkK\x0d"
                        "1234567890123"));
  EXPECT_GT(InkBox(omni.Pages.at(0).Page).Width(), box.Width());
  // The human-readable line carries the identifier and the check digit.
  const TRenderResult hri =
      RenderEpson(Bytes("\x1dH\x02\x1dkM\x0d"
                        "1234567890123"));
  bool listed = false;
  for (const TListingLine& l : hri.Listing)
    listed = listed || l.Arguments.find("Limited") != std::string::npos;
  EXPECT_TRUE(listed) << hri.ListingText();
  EXPECT_GT(hri.Pages.at(0).Page.Height(), limited.Pages[0].Page.Height());
}

TEST(Codes, EanEightWithItsCheckDigitIsAnEanEight) {
  // Eight digits are an EAN-8 of 67 modules, not a zero-padded EAN-13 (95).
  const TRenderResult eight =
      RenderRaw(Bytes("\x1dw\x01\x1dkD\x08"
                      "12345670"));
  const TRenderResult seven =
      RenderRaw(Bytes("\x1dw\x01\x1dkD\x07"
                      "1234567"));
  ASSERT_FALSE(eight.Pages.empty());
  ASSERT_FALSE(seven.Pages.empty());
  EXPECT_EQ(InkBox(eight.Pages[0].Page).Width(), 67);
  EXPECT_EQ(eight.Pages[0].Page.Bits(), seven.Pages[0].Page.Bits());
  // A wrong check digit is refused, as the printer refuses it.
  EXPECT_TRUE(HasFinding(RenderRaw(Bytes("\x1dkD\x08"
                                         "12345671")),
                         "barcode not printed"));
  const TRenderResult label = RenderRaw(
      Bytes("SIZE 40 mm,20 mm\r\nCLS\r\nBARCODE 10,10,\"EAN8\",40,0,0,1,1,\"12345670\"\r\nPRINT 1\r\n"));
  EXPECT_EQ(InkBox(label.Pages.at(0).Page).Width(), 67);
}

// Each symbol's storage: printing with nothing stored prints nothing, data
// that is wrong or too long is a finding, never a crash.
TEST(Codes, EscPosSymbolStoreAndPrintKeepThePrintersRules) {
  struct TCase {
    const char* Name;
    std::string Job;
    const char* Finding;
  };
  const TCase cases[] = {
      {"PDF417 print before store", PrintSymbol(48), "PDF417 printed with no data stored"},
      {"MaxiCode print before store", PrintSymbol(50), "MaxiCode printed with no data stored"},
      {"DataBar print before store", PrintSymbol(51), "GS1 DataBar printed with no data stored"},
      {"Aztec print before store", PrintSymbol(53), "Aztec code printed with no data stored"},
      {"DataMatrix print before store", PrintSymbol(54), "DataMatrix printed with no data stored"},
      {"ESC @ clears the store", Store(53, "gone") + "\x1b@" + PrintSymbol(53), "no data stored"},
      {"PDF417 too long", Store(48, std::string(3000, 'x')) + PrintSymbol(48),
       "PDF417 not printed: data too long"},
      {"PDF417 30 x 90 is more than 928 codewords",
       Gsk(48, 65, Byte(30)) + Gsk(48, 66, Byte(90)) + Store(48, "x") + PrintSymbol(48), "928 codewords"},
      {"MaxiCode too long", Gsk(50, 65, "4") + Store(50, std::string(200, 'M')) + PrintSymbol(50),
       "MaxiCode not printed"},
      {"MaxiCode mode 2 without its fields", Store(50, "no fields") + PrintSymbol(50), "postal code"},
      {"MaxiCode mode 2 with letters in the postal code",
       Store(50, std::string("ABC\x1d") + "840\x1d" + "001\x1dx") + PrintSymbol(50), "1 to 9 digits"},
      {"DataBar with 12 digits", Gsk(51, 80, "0" + Byte(72) + "000123456789") + PrintSymbol(51), "13 digits"},
      {"DataBar Expanded without identifiers",
       "\x1dkN\x05"
       "AB123",
       "no known GS1 application identifier"},
      {"DataBar Limited starting with 2",
       "\x1dkM\x0d"
       "2234567890123",
       "start with 0 or 1"},
      {"DataBar with letters",
       "\x1dkK\x0d"
       "00012345678AB",
       "13 digits"},
      {"Aztec compact with too much data",
       Gsk(53, 66, "1" + Byte(1)) + Store(53, std::string(100, 'A')) + PrintSymbol(53),
       "Aztec code not printed"},
      {"DataMatrix with no such size",
       Gsk(54, 66, "0" + Byte(11) + Byte(11)) + Store(54, "x") + PrintSymbol(54), "no square size"},
      {"DataMatrix too long", Store(54, std::string(4000, '7')) + PrintSymbol(54), "data too long"},
      {"composite symbol", Gsk(52, 80, "0x"), "composite symbols are not drawn"},
      {"QR model out of range", Gsk(49, 65, "7" + Byte(0)), "model 55 is out of range"},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderEpson(Bytes(c.Job));
    EXPECT_TRUE(HasFinding(r, c.Finding)) << c.Name << ": " << r.FindingsText();
    for (const TRenderedPage& p : r.Pages) EXPECT_EQ(p.Page.BlackDots(), 0u) << c.Name;
  }
}

// A code wider than the paper or reaching outside the label prints nothing
// and is an error, in both languages.
TEST(Codes, CodesThatDoNotFitPrintNothing) {
  struct TCase {
    const char* Name;
    std::string Job;
    int Width;
  };
  const std::string label = "SIZE 40 mm,30 mm\r\nCLS\r\n";
  const TCase cases[] = {
      {"barcode",
       "\x1dw\x06\x1dkE\x14"
       "ABCDEFGHIJKLMNOPQRST",
       576},
      {"DataBar Expanded",
       "\x1dw\x06\x1dkN\x1c"
       "(01)00012345678905(10)ABC123",
       576},
      {"QR code", Gsk(49, 67, Byte(16)) + Store(49, std::string(200, 'q')) + PrintSymbol(49), 576},
      {"PDF417 of 30 columns",
       Gsk(48, 65, Byte(30)) + Gsk(48, 67, Byte(4)) + Store(48, "wide") + PrintSymbol(48), 576},
      {"Aztec", Gsk(53, 67, Byte(16)) + Store(53, std::string(300, 'a')) + PrintSymbol(53), 576},
      {"DataMatrix 144 x 144",
       Gsk(54, 66, "0" + Byte(144) + Byte(144)) + Gsk(54, 67, Byte(5)) + Store(54, "big") + PrintSymbol(54),
       576},
      {"MaxiCode on a narrow margin",
       std::string("\x1dW\xc8\x00", 4) + Gsk(50, 65, "4") + Store(50, "narrow") + PrintSymbol(50), 576},
      {"TSPL BARCODE", label + "BARCODE 200,10,\"128\",40,0,0,3,3,\"ABCDEFGHIJ\"\r\nPRINT 1\r\n", 0},
      {"TSPL QRCODE below the label", label + "QRCODE 10,200,L,6,A,0,\"below\"\r\nPRINT 1\r\n", 0},
      {"TSPL QRCODE rotated off the left edge", label + "QRCODE 20,10,L,6,A,90,\"left\"\r\nPRINT 1\r\n", 0},
      {"TSPL PDF417", label + "PDF417 250,10,300,100,0,W4,\"right edge\"\r\nPRINT 1\r\n", 0},
      {"TSPL DMATRIX", label + "DMATRIX 300,200,100,100,x8,\"corner\"\r\nPRINT 1\r\n", 0},
      {"TSPL AZTEC", label + "AZTEC 300,10,0,10,\"edge\"\r\nPRINT 1\r\n", 0},
      {"TSPL MAXICODE", label + "MAXICODE 200,100,4,\"off\"\r\nPRINT 1\r\n", 0},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = c.Width ? RenderEpson(Bytes(c.Job)) : RenderLabel(Bytes(c.Job));
    TFindingSeverity severity = fsInfo;
    EXPECT_TRUE(HasFinding(r, "does not fit", &severity)) << c.Name << ": " << r.FindingsText();
    EXPECT_EQ(severity, fsError) << c.Name;
    EXPECT_TRUE(r.HasErrors()) << c.Name;
    for (const TRenderedPage& p : r.Pages) EXPECT_EQ(p.Page.BlackDots(), 0u) << c.Name;
  }
}

TEST(Codes, TsplTwoDimensionalSymbolsDecode) {
  ASSERT_TRUE(HaveZxing());
  TScratchDir dir;
  struct TCase {
    const char* Name;
    std::string Command;
    const char* Format;
    std::string Data;
  };
  const TCase cases[] = {
      {"PDF417 plain", "PDF417 40,40,600,300,0,\"TSPL PDF417 label\"", "PDF417", "TSPL PDF417 label"},
      {"PDF417 options", "PDF417 40,40,600,300,0,E4,W3,H12,C3,\"options E4 W3 H12 C3\"", "PDF417",
       "options E4 W3 H12 C3"},
      {"PDF417 truncated, rotated 90", "PDF417 300,20,300,500,90,T1,W3,H10,\"turned truncated\"", "PDF417",
       "turned truncated"},
      {"PDF417 centred in its area", "PDF417 20,20,500,250,0,M1,W2,H8,\"middle\"", "PDF417", "middle"},
      {"DMATRIX", "DMATRIX 40,40,200,200,\"DMATRIX EXAMPLE 1\"", "DataMatrix", "DMATRIX EXAMPLE 1"},
      {"DMATRIX module 6, rotated", "DMATRIX 300,40,200,200,x6,r90,\"turned\"", "DataMatrix", "turned"},
      {"DMATRIX rectangle", "DMATRIX 40,40,400,200,x5,a1,\"wide one\"", "DataMatrix", "wide one"},
      {"DMATRIX fixed 24 x 24", "DMATRIX 40,40,300,300,x6,24,24,\"size 24\"", "DataMatrix", "size 24"},
      {"DMATRIX escapes", "DMATRIX 40,40,300,300,c126,x6,\"A~JB~d065~~\"", "DataMatrix", "A\nBA~"},
      {"AZTEC plain", "AZTEC 40,40,0,\"ABCD1234\"", "Aztec", "ABCD1234"},
      {"AZTEC size 5, compact 2 layers", "AZTEC 40,40,0,5,102,\"compact\"", "Aztec", "compact"},
      {"AZTEC rotated 180, full 5 layers", "AZTEC 300,300,180,4,205,0,0,1,0,\"full range\"", "Aztec",
       "full range"},
      {"AZTEC 40% check words", "AZTEC 40,40,0,4,40,\"forty percent\"", "Aztec", "forty percent"},
      {"QRCODE model 1 (drawn as model 2), mask 3", "QRCODE 40,40,M,5,A,0,M1,S3,\"model one label\"",
       "QRCode", "model one label"},
      {"MAXICODE mode 4", "MAXICODE 40,40,4,\"TSPL MaxiCode\"", "MaxiCode", "TSPL MaxiCode"},
      {"MAXICODE mode 2, US postal code", "MAXICODE 40,40,2,300,840,06810,7317,\"parcel\"", "MaxiCode",
       std::string("068107317\x1d") + "840\x1d" + "300\x1d" + "parcel"},
      {"MAXICODE mode 3", "MAXICODE 40,40,3,001,276,B1050,\"paket\"", "MaxiCode",
       std::string("B1050 \x1d") + "276\x1d" + "001\x1d" + "paket"},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderLabel("SIZE 80 mm,70 mm\r\nCLS\r\n" + c.Command + "\r\nPRINT 1\r\n");
    bool onlyInfo = true;
    for (const TFinding& f : r.Findings) onlyInfo = onlyInfo && f.Severity == fsInfo;
    EXPECT_TRUE(onlyInfo) << c.Name << ": " << r.FindingsText();
    ASSERT_FALSE(r.Pages.empty()) << c.Name;
    const std::vector<TZxingSymbol> got = DecodePageWithZxing(r.Pages[0].Page, dir);
    bool found = false;
    for (const TZxingSymbol& z : got) found = found || (z.Format == c.Format && z.Bytes == c.Data);
    EXPECT_TRUE(found) << c.Name << ": expected [" << c.Format << " \"" << c.Data << "\"], ZXingReader read "
                       << DescribeSymbols(got);
  }
}

TEST(Codes, TsplSymbolOptionsShapeTheDots) {
  // PDF417 W and H: every bar run is a multiple of the module width, and the
  // symbol's height a multiple of the row height.
  const TRenderResult pdf =
      RenderLabel(Bytes("SIZE 80 mm,40 mm\r\nCLS\r\nPDF417 10,10,600,300,0,W3,H7,C2,\"AB\"\r\nPRINT 1\r\n"));
  const TBox box = InkBox(pdf.Pages.at(0).Page);
  EXPECT_EQ(box.Width() % 3, 0);
  EXPECT_EQ(box.Height() % 7, 0);
  // Two data columns: start 17, left indicator 17, 2 x 17, right 17, stop 18 modules.
  EXPECT_EQ(box.Width(), (17 * 5 + 18) * 3);
  // An inverted Aztec (rev 1) is the plain one with every module flipped.
  const TRenderResult plain =
      RenderLabel(Bytes("SIZE 40 mm,40 mm\r\nCLS\r\nAZTEC 10,10,0,3,0,0,0,1,0,\"inv\"\r\nPRINT 1\r\n"));
  const TRenderResult inverted =
      RenderLabel(Bytes("SIZE 40 mm,40 mm\r\nCLS\r\nAZTEC 10,10,0,3,0,0,0,1,1,\"inv\"\r\nPRINT 1\r\n"));
  const TRenderPage& a = plain.Pages.at(0).Page;
  const TRenderPage& b = inverted.Pages.at(0).Page;
  const TBox side = InkBox(a);
  ASSERT_FALSE(side.Empty());
  for (int y = side.Y0; y < side.Y1; ++y)
    for (int x = side.X0; x < side.X1; ++x) ASSERT_NE(a.Dot(x, y), b.Dot(x, y)) << x << "," << y;
  EXPECT_EQ(b.BlackDotsIn(0, 0, b.Width(), side.Y0), 0u);
}

// QR model 1 has no decoder here (zxing-cpp 1.4 reads model 2 and Micro QR
// only); what is drawn has the three finder patterns of a QR code: 7 x 7
// modules, dark ring, light ring, dark 3 x 3 centre.
TEST(Codes, QrModelOneHasItsFinderPatterns) {
  const int module = 4;
  const TRenderResult r = RenderEpson(Bytes(Gsk(49, 65, "1" + Byte(0)) + Gsk(49, 67, Byte(module)) +
                                            Store(49, "model one") + PrintSymbol(49)));
  EXPECT_TRUE(HasFinding(r, "model 1 is drawn as model 2"));
  const TRenderPage& page = r.Pages.at(0).Page;
  const TBox box = InkBox(page);
  const int side = box.Width() / module;
  auto dark = [&](int AMx, int AMy) {
    return page.Dot(box.X0 + AMx * module + 1, box.Y0 + AMy * module + 1);
  };
  const int corners[][2] = {{0, 0}, {side - 7, 0}, {0, side - 7}};
  for (const auto& c : corners)
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 7; ++x) {
        const bool ring = x == 0 || y == 0 || x == 6 || y == 6;
        const bool centre = x >= 2 && x <= 4 && y >= 2 && y <= 4;
        EXPECT_EQ(dark(c[0] + x, c[1] + y), ring || centre) << c[0] << "," << c[1] << " + " << x << "," << y;
      }
}

// Micro QR: no built-in printer has it, and a printer ignores a model it
// does not have, so the symbol comes out as model 2. The Micro QR symbol
// itself, drawn as the interpreter draws a matrix code, is read back as
// Micro QR.
TEST(Codes, MicroQr) {
  ASSERT_TRUE(HaveZxing());
  TScratchDir dir;
  const TRenderResult r = RenderEpson(
      Centred(Gsk(49, 65, "3" + Byte(0)) + Gsk(49, 67, Byte(6)) + Store(49, "20261211") + PrintSymbol(49)));
  EXPECT_TRUE(
      HasFinding(r, "Micro QR is not a code the epson-80 printer draws: the model selection is ignored"))
      << r.FindingsText();
  ASSERT_FALSE(r.Pages.empty());
  const std::vector<TZxingSymbol> printed = DecodePageWithZxing(r.Pages[0].Page, dir);
  ASSERT_FALSE(printed.empty());
  EXPECT_EQ(printed[0].Format, "QRCode");
  EXPECT_EQ(printed[0].Bytes, "20261211");
  const struct {
    std::string Data;
    int Ecc;
  } cases[] = {{"20261211", 1}, {"TESSIVA", 2}, {"micro 7", 3}, {std::string(35, '9'), 1}};
  for (const auto& c : cases) {
    const TMatrixCode code = EncodeMicroQrCode(c.Data, c.Ecc);
    ASSERT_TRUE(code.Ok) << c.Data << ": " << code.Error;
    EXPECT_EQ(code.Width, code.Height);
    TRenderPage page(code.Width * 6 + 80, code.Height * 6 + 80, code.Height * 6 + 80);
    page.DrawMask(40, 40, code.Modules.data(), code.Width, code.Height, 6, 6);
    const std::vector<TZxingSymbol> got = DecodePageWithZxing(page, dir);
    bool found = false;
    for (const TZxingSymbol& z : got) found = found || (z.Format == "MicroQRCode" && z.Bytes == c.Data);
    EXPECT_TRUE(found) << c.Data << ": " << DescribeSymbols(got);
  }
  // Past the largest Micro QR symbol (35 digits, 15 bytes): refused.
  EXPECT_FALSE(EncodeMicroQrCode(std::string(36, '9'), 1).Ok);
  EXPECT_FALSE(EncodeMicroQrCode(std::string(16, 'b') + "\xff", 1).Ok);
}

// A printer without a code prints nothing for it; the job's other codes
// and text still print.
TEST(Codes, APrinterWithoutTheCodePrintsNothing) {
  const struct {
    const char* Name;
    const char* Profile;
    std::string Job;
    const char* Finding;
  } cases[] = {
      {"PDF417 on gbk-80", "gbk-80", Store(48, "pdf") + PrintSymbol(48),
       "PDF417 is not a code the gbk-80 printer draws"},
      {"MaxiCode on gbk-58", "gbk-58", Gsk(50, 65, "4") + Store(50, "maxi") + PrintSymbol(50),
       "MaxiCode is not a code the gbk-58 printer draws"},
      {"DataBar on gbk-80", "gbk-80",
       "\x1dkK\x0d"
       "0001234567890",
       "GS1 DataBar is not a code the gbk-80 printer draws"},
      {"DMATRIX on gbk-80", "gbk-80",
       "SIZE 40 mm,30 mm\r\nCLS\r\nDMATRIX 10,10,100,100,\"dm\"\r\nPRINT 1\r\n",
       "DataMatrix is not a code the gbk-80 printer draws"},
  };
  for (const auto& c : cases) {
    const TRenderResult r = RenderFor(Bytes(c.Job), c.Profile);
    EXPECT_TRUE(HasFinding(r, c.Finding)) << c.Name << ": " << r.FindingsText();
    for (const TRenderedPage& p : r.Pages) EXPECT_EQ(p.Page.BlackDots(), 0u) << c.Name;
  }
}

TEST(Codes, EachCommandNamesItsCodeFamily) {
  struct TCase {
    uint32_t Got;
    uint32_t Family;
  };
  const TCase cases[] = {
      {EscPosBarcodeFamily(2), cfUpcEan},
      {EscPosBarcodeFamily(68), cfUpcEan},
      {EscPosBarcodeFamily(4), cfCode39},
      {EscPosBarcodeFamily(70), cfItf},
      {EscPosBarcodeFamily(71), cfCodabar},
      {EscPosBarcodeFamily(72), cfCode93},
      {EscPosBarcodeFamily(73), cfCode128},
      {EscPosBarcodeFamily(74), cfCode128},
      {EscPosBarcodeFamily(75), cfGs1DataBar},
      {EscPosBarcodeFamily(78), cfGs1DataBar},
      {EscPosBarcodeFamily(90), 0},
      {EscPosSymbolFamily(48), cfPdf417},
      {EscPosSymbolFamily(49, 49), cfQrModel1},
      {EscPosSymbolFamily(49, 50), cfQr},
      {EscPosSymbolFamily(49, 51), cfMicroQr},
      {EscPosSymbolFamily(50), cfMaxiCode},
      {EscPosSymbolFamily(51), cfGs1DataBar},
      {EscPosSymbolFamily(53), cfAztec},
      {EscPosSymbolFamily(54), cfDataMatrix},
      {EscPosSymbolFamily(52), 0},
      {TsplCodeFamily("PDF417"), cfPdf417},
      {TsplCodeFamily("dmatrix"), cfDataMatrix},
      {TsplCodeFamily("AZTEC"), cfAztec},
      {TsplCodeFamily("MAXICODE"), cfMaxiCode},
      {TsplCodeFamily("QRCODE"), cfQr},
      {TsplCodeFamily("BARCODE", "ean13"), cfUpcEan},
      {TsplCodeFamily("BARCODE", "128M"), cfCode128},
      {TsplCodeFamily("TEXT"), 0},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) EXPECT_EQ(cases[i].Got, cases[i].Family) << i;
}

}  // namespace
