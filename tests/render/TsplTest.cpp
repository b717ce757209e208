// TSPL labels: the page is the label (SIZE in dots), drawn in its own
// coordinates; text boxes, rotation, shapes, PRINT sets and copies, and the
// findings of a label job.
#include <gtest/gtest.h>

#include "PrintPresets.h"
#include "RenderTestSupport.h"

namespace {

TRenderResult Label(const std::string& ABody, const std::string& ASize = "SIZE 50 mm,30 mm\r\nCLS\r\n") {
  return RenderRaw(Bytes(ASize + ABody + "PRINT 1\r\n"));
}

TEST(Tspl, SizeUnitsAndPrintSets) {
  struct TCase {
    std::string Job;
    int Width, Height, Pages, Copies;
  };
  const TCase cases[] = {
      {"SIZE 40 mm,20 mm\r\nCLS\r\nPRINT 1,5\r\n", 320, 160, 1, 5},
      {"SIZE 2,1\r\nCLS\r\nPRINT 3\r\n", 406, 203, 3, 1},
      {"SIZE 100 dot,80 dot\nCLS\nPRINT 2,2\n", 100, 80, 2, 2},
      {"size 50 mm, 30 mm\n\rcls\n\rprint 1,1\n\r", 400, 240, 1, 1},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job));
    ASSERT_EQ(static_cast<int>(r.Pages.size()), c.Pages) << c.Job << r.FindingsText();
    for (const TRenderedPage& p : r.Pages) {
      EXPECT_EQ(p.Page.Width(), c.Width) << c.Job;
      EXPECT_EQ(p.Page.Height(), c.Height) << c.Job;
      EXPECT_EQ(p.Copies, c.Copies) << c.Job;
      EXPECT_EQ(p.Language, rlTspl);
    }
    EXPECT_TRUE(r.Findings.empty()) << c.Job << r.FindingsText();
  }
}

TEST(Tspl, TextBoxesFontsAndMultiplication) {
  struct TCase {
    const char* Name;
    std::string Command;
    int X0, Y0, X1, Y1;  // the ink must lie within
  };
  const TCase cases[] = {
      {"font 1", "TEXT 20,30,\"1\",0,1,1,\"H\"\r\n", 20, 30, 28, 42},
      {"font 3", "TEXT 20,30,\"3\",0,1,1,\"H\"\r\n", 20, 30, 36, 54},
      {"font 5 x2", "TEXT 20,30,\"5\",0,2,2,\"H\"\r\n", 20, 30, 84, 126},
      {"TSS24.BF2 Chinese", "TEXT 20,30,\"TSS24.BF2\",0,1,1,\"\xD6\xD0\"\r\n", 20, 30, 44, 54},
      {"font 24 as in the sample", "TEXT 10,10,\"24\",0,1,1,\"TEXT\"\r\n", 10, 10, 58, 34},
      {"centred on x", "TEXT 200,30,\"3\",0,1,1,2,\"HH\"\r\n", 184, 30, 216, 54},
      {"REFERENCE moves the origin", "REFERENCE 100,50\r\nTEXT 0,0,\"3\",0,1,1,\"H\"\r\n", 100, 50, 116, 74},
      {"ROMAN.TTF 12 pt", "TEXT 20,30,\"ROMAN.TTF\",0,12,12,\"H\"\r\n", 20, 30, 37, 64},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = Label(c.Command);
    ASSERT_EQ(r.Pages.size(), 1u) << c.Name;
    const TBox box = InkBox(r.Pages[0].Page);
    ASSERT_FALSE(box.Empty()) << c.Name;
    EXPECT_GE(box.X0, c.X0) << c.Name;
    EXPECT_GE(box.Y0, c.Y0) << c.Name;
    EXPECT_LE(box.X1, c.X1) << c.Name;
    EXPECT_LE(box.Y1, c.Y1) << c.Name;
    EXPECT_GT(box.Width(), (c.X1 - c.X0) / 4) << c.Name;
    EXPECT_GT(box.Height(), (c.Y1 - c.Y0) / 2) << c.Name;
    EXPECT_TRUE(r.Findings.empty()) << c.Name << ": " << r.FindingsText();
  }
  // x and y multiplication replicate dots.
  const size_t one = Label("TEXT 10,10,\"3\",0,1,1,\"W\"\r\n").Pages.at(0).Page.BlackDots();
  const size_t six = Label("TEXT 10,10,\"3\",0,2,3,\"W\"\r\n").Pages.at(0).Page.BlackDots();
  EXPECT_EQ(six, 6 * one);
}

TEST(Tspl, RotationTurnsTheTextAroundItsPoint) {
  // "HHHH" in font 3 is 64 x 24 dots; turned about (200, 120).
  struct TCase {
    int Rotation;
    int X0, Y0, X1, Y1;
  };
  const TCase cases[] = {
      {0, 200, 120, 264, 144}, {90, 176, 120, 200, 184}, {180, 136, 96, 200, 120}, {270, 200, 56, 224, 120}};
  size_t dots = 0;
  for (const TCase& c : cases) {
    const TRenderResult r = Label("TEXT 200,120,\"3\"," + std::to_string(c.Rotation) + ",1,1,\"HHHH\"\r\n");
    const TBox box = InkBox(r.Pages.at(0).Page);
    EXPECT_GE(box.X0, c.X0) << c.Rotation;
    EXPECT_GE(box.Y0, c.Y0) << c.Rotation;
    EXPECT_LE(box.X1, c.X1) << c.Rotation;
    EXPECT_LE(box.Y1, c.Y1) << c.Rotation;
    if (c.Rotation == 0) dots = r.Pages[0].Page.BlackDots();
    EXPECT_EQ(r.Pages[0].Page.BlackDots(), dots) << c.Rotation;
    if (c.Rotation == 90 || c.Rotation == 270) {
      EXPECT_GT(box.Height(), box.Width()) << c.Rotation;
    }
  }
}

TEST(Tspl, ShapesErasingAndReversing) {
  struct TCase {
    const char* Name;
    std::string Commands;
    size_t Dots;
    TBox Box;
  };
  const TCase cases[] = {
      {"BAR", "BAR 10,20,30,4\r\n", 120, {10, 20, 40, 24}},
      {"BOX", "BOX 10,10,50,40,2\r\n", 2 * 40 * 2 + 2 * 26 * 2, {10, 10, 50, 40}},
      {"ERASE", "BAR 0,0,40,40\r\nERASE 10,10,20,20\r\n", 1600 - 400, {0, 0, 40, 40}},
      {"REVERSE", "BAR 0,0,20,20\r\nREVERSE 10,10,20,20\r\n", 400 - 100 + 300, {0, 0, 30, 30}},
      {"CIRCLE", "CIRCLE 100,100,40,40\r\n", 0, {100, 100, 140, 140}},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = Label(c.Commands);
    const TRenderPage& page = r.Pages.at(0).Page;
    if (c.Dots) {
      EXPECT_EQ(page.BlackDots(), c.Dots) << c.Name;
    }
    const TBox box = InkBox(page);
    EXPECT_EQ(box.X0, c.Box.X0) << c.Name;
    EXPECT_EQ(box.Y0, c.Box.Y0) << c.Name;
    EXPECT_EQ(box.X1, c.Box.X1) << c.Name;
    EXPECT_EQ(box.Y1, c.Box.Y1) << c.Name;
    EXPECT_TRUE(r.Findings.empty()) << c.Name << ": " << r.FindingsText();
  }
  // A filled circle covers about pi r^2 dots.
  const size_t disc = Label("CIRCLE 100,100,40,40\r\n").Pages.at(0).Page.BlackDots();
  EXPECT_NEAR(static_cast<double>(disc), 3.14159 * 400, 40);
}

TEST(Tspl, BitmapModes) {
  // 16 x 2 dots: bit 0 prints.
  const std::string data("\x00\xFF\x0F\xF0", 4);
  const std::string base = "BAR 0,0,16,1\r\n";  // row 0 black before the bitmap
  struct TCase {
    int Mode;
    size_t Row0, Row1;
  };
  const TCase cases[] = {{0, 8, 8}, {1, 16, 8}, {2, 8, 8}};
  for (const TCase& c : cases) {
    const TRenderResult r = Label(base + "BITMAP 0,0,2,2," + std::to_string(c.Mode) + "," + data + "\r\n");
    const TRenderPage& page = r.Pages.at(0).Page;
    EXPECT_EQ(page.BlackDotsIn(0, 0, 16, 1), c.Row0) << c.Mode;
    EXPECT_EQ(page.BlackDotsIn(0, 1, 16, 1), c.Row1) << c.Mode;
    EXPECT_TRUE(r.Findings.empty()) << r.FindingsText();
  }
  // Overwrite: the left byte prints, XOR: the right byte stays black.
  EXPECT_TRUE(Label(base + "BITMAP 0,0,2,2,0," + data + "\r\n").Pages[0].Page.Dot(0, 0));
  EXPECT_FALSE(Label(base + "BITMAP 0,0,2,2,0," + data + "\r\n").Pages[0].Page.Dot(8, 0));
  EXPECT_FALSE(Label(base + "BITMAP 0,0,2,2,2," + data + "\r\n").Pages[0].Page.Dot(0, 0));
  EXPECT_TRUE(Label(base + "BITMAP 0,0,2,2,2," + data + "\r\n").Pages[0].Page.Dot(8, 0));
}

TEST(Tspl, SampleLabel) {
  const TRenderResult r = RenderRaw(DecodePrintBase64(SampleLabelBase64()));
  ASSERT_EQ(r.Pages.size(), 1u);
  const TRenderPage& page = r.Pages[0].Page;
  EXPECT_EQ(page.Width(), 320);
  EXPECT_EQ(page.Height(), 160);
  EXPECT_EQ(r.Pages[0].Copies, 5);
  EXPECT_FALSE(r.HasErrors()) << r.FindingsText();
  // "TEXT" at (10, 10) in 12 x 24 cells; the barcode's bars from y = 50 for
  // 60 rows; the second text at y = 120.
  const TBox text = InkBox(page, 0, 0, 320, 40);
  EXPECT_GE(text.X0, 10);
  EXPECT_LE(text.X1, 10 + 4 * 12);
  const TBox bars = InkBox(page, 0, 45, 320, 70);
  EXPECT_EQ(bars.Y0, 50);
  EXPECT_EQ(bars.Y1, 110);
  EXPECT_EQ(bars.X0, 10);
  const TBox second = InkBox(page, 0, 115, 320, 45);
  EXPECT_GE(second.Y0, 120);
  EXPECT_LE(second.Y1, 144);
  EXPECT_LE(second.X1, 10 + 17 * 12);
}

TEST(Tspl, Findings) {
  struct TCase {
    const char* Name;
    std::string Job;
    const char* Finding;
    TFindingSeverity Severity;
  };
  const TCase cases[] = {
      {"no PRINT", "SIZE 40 mm,20 mm\r\nCLS\r\nTEXT 10,10,\"3\",0,1,1,\"A\"\r\n", "has no PRINT", fsError},
      {"outside the label", "SIZE 40 mm,20 mm\r\nCLS\r\nTEXT 300,10,\"3\",0,1,1,\"ABC\"\r\nPRINT 1\r\n",
       "TEXT reaches outside the label", fsWarning},
      {"barcode outside",
       "SIZE 20 mm,20 mm\r\nCLS\r\nBARCODE 10,10,\"128\",40,0,0,3,3,\"ABCDEFGHIJ\"\r\nPRINT 1\r\n",
       "BARCODE does not fit the label", fsError},
      {"unknown command", "SIZE 40 mm,20 mm\r\nCLS\r\nFROB 1,2\r\nPRINT 1\r\n", "unknown command FROB",
       fsWarning},
      {"unclosed string", "SIZE 40 mm,20 mm\r\nCLS\r\nTEXT 1,1,\"3\",0,1,1,\"AB\r\nPRINT 1\r\n", "malformed",
       fsWarning},
      {"bad barcode data",
       "SIZE 40 mm,20 mm\r\nCLS\r\nBARCODE 10,10,\"EAN13\",40,1,0,2,2,\"12AB\"\r\nPRINT 1\r\n",
       "barcode not printed", fsWarning},
      {"bitmap cut short", "SIZE 40 mm,20 mm\r\nCLS\r\nBITMAP 0,0,10,10,0,abc", "needs 100 bytes", fsWarning},
      {"drawing before SIZE", "CLS\r\nBAR 1,1,5,5\r\nPRINT 1\r\n", "drawing before SIZE", fsWarning},
      {"drawing after PRINT", "SIZE 40 mm,20 mm\r\nCLS\r\nPRINT 1\r\nBAR 1,1,5,5\r\n", "after the last PRINT",
       fsWarning},
      {"invalid GBK text",
       "SIZE 40 mm,20 mm\r\nCLS\r\nTEXT 1,1,\"TSS24.BF2\",0,1,1,\"\xFF\xFF\"\r\nPRINT 1\r\n", "invalid GBK",
       fsWarning},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job), rlTspl);
    TFindingSeverity s = fsInfo;
    EXPECT_TRUE(HasFinding(r, c.Finding, &s)) << c.Name << ": " << r.FindingsText();
    EXPECT_EQ(s, c.Severity) << c.Name;
  }
}

TEST(Tspl, ModeFramesSwitchLanguagesInOneJob) {
  // Receipt text, label mode, a label, receipt mode, more receipt text.
  std::vector<uint8_t> job = Bytes("R1\n");
  for (uint8_t b : PrintModeCommand(1)) job.push_back(b);
  for (uint8_t b : Bytes("SIZE 30 mm,10 mm\r\nCLS\r\nBAR 0,0,8,8\r\nPRINT 1\r\n")) job.push_back(b);
  for (uint8_t b : PrintModeCommand(0)) job.push_back(b);
  for (uint8_t b : Bytes("R2\n")) job.push_back(b);
  const TRenderResult r = RenderRaw(job);
  ASSERT_EQ(r.Pages.size(), 3u) << r.ListingText();
  EXPECT_EQ(r.Pages[0].Language, rlEscPos);
  EXPECT_EQ(r.Pages[1].Language, rlTspl);
  EXPECT_EQ(r.Pages[1].Page.Width(), 240);
  EXPECT_EQ(r.Pages[1].Page.BlackDots(), 64u);
  EXPECT_EQ(r.Pages[2].Language, rlEscPos);
  EXPECT_TRUE(r.Findings.empty()) << r.FindingsText();
  // Detection: a TSPL job, a label-mode frame, a receipt.
  EXPECT_EQ(DetectLanguage(job.data(), job.size()), rlEscPos);
  const std::vector<uint8_t> label = DecodePrintBase64(SampleLabelBase64());
  EXPECT_EQ(DetectLanguage(label.data(), label.size()), rlTspl);
  const std::vector<uint8_t> frame = PrintModeCommand(1);
  EXPECT_EQ(DetectLanguage(frame.data(), frame.size()), rlTspl);
  const std::vector<uint8_t> text = Bytes("SIZEABLE receipt\n");
  EXPECT_EQ(DetectLanguage(text.data(), text.size()), rlEscPos);
}

TEST(Tspl, ArbitraryPrefixesNeverStopRendering) {
  const std::string job =
      "SIZE 40 mm,20 mm\r\nCLS\r\nTEXT 10,10,\"3\",90,2,2,\"AB\"\r\nBARCODE "
      "10,50,\"128M\",40,1,0,2,2,\"!105123456\"\r\n"
      "QRCODE 200,10,M,3,A,0,\"hello\"\r\nBITMAP 0,0,2,2,1,\x01\x02\x03\x04\r\nBLOCK "
      "10,10,100,50,\"2\",0,1,1,\"a b c\"\r\n"
      "PRINT 2,3\r\n";
  for (size_t n = 0; n <= job.size(); ++n) {
    const TRenderResult r = RenderRaw(Bytes(job.substr(0, n)), rlTspl);
    for (const TListingLine& l : r.Listing) EXPECT_LE(l.Offset + l.Length, n);
  }
}

}  // namespace
