// Every barcode and QR code the renderer draws, in both languages, is read
// back by an independent decoder (zbarimg) as the data that was encoded.
#include <gtest/gtest.h>

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
