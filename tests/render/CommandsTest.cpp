// Commands that move the paper, turn or slant what is printed, bring their
// own characters or pictures, or compose a page: each drawn where a printer
// puts its dots, compared dot for dot with the plain form or with the
// picture the test made. And the listing says what a command left on paper.
#include <gtest/gtest.h>

#include <cmath>

#include "RenderTestSupport.h"

namespace {

const TRenderPage& FirstPage(const TRenderResult& AResult) {
  static const TRenderPage empty;
  EXPECT_FALSE(AResult.Pages.empty()) << AResult.ListingText();
  return AResult.Pages.empty() ? empty : AResult.Pages[0].Page;
}

// --- ESC/POS ---------------------------------------------------------------

TEST(EscPosCommands, UpsideDownTurnsEachLineWholeAndKeepsTheLinesInOrder) {
  const TRenderResult plainA = RenderRaw(Bytes("AB\n")), plainC = RenderRaw(Bytes("CD\n"));
  const TRenderResult turned =
      RenderRaw(Bytes(std::string("\x1b{\x01"
                                  "AB\nCD\n\x1b{\x00"
                                  "AB\n",
                                  16)));
  const TRenderPage& a = FirstPage(plainA);
  const TRenderPage& c = FirstPage(plainC);
  const TRenderPage& t = FirstPage(turned);
  ASSERT_EQ(t.Height(), 90);
  ASSERT_GT(a.BlackDots(), 50u);
  // Line k of the job occupies rows 30k .. 30k + 24; each is its plain
  // line turned by 180 degrees within the printable width.
  struct TBand {
    const TRenderPage* Plain;
    int Top;
    bool Turned;
  };
  for (const TBand& b : {TBand{&a, 0, true}, TBand{&c, 30, true}, TBand{&a, 60, false}}) {
    size_t mismatches = 0;
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 576; ++x) {
        const bool want = b.Turned ? b.Plain->Dot(575 - x, 23 - y) : b.Plain->Dot(x, y);
        mismatches += t.Dot(x, b.Top + y) != want;
      }
    EXPECT_EQ(mismatches, 0u) << "band at " << b.Top;
  }
  EXPECT_EQ(t.BlackDots(), 2 * a.BlackDots() + c.BlackDots());
  EXPECT_TRUE(turned.Findings.empty()) << turned.FindingsText();
}

TEST(EscPosCommands, DownloadedCharactersAreDrawnWhileTheSetIsOn) {
  // 'A' as three columns of 24 dots: a full column, the top dot, the
  // bottom dot; 'B' one column of the top byte only.
  const std::string define(
      "\x1b&\x03\x41\x42"
      "\x03\xff\xff\xff\x80\x00\x00\x00\x00\x01"
      "\x01\xff\x00\x00",
      19);
  const size_t plainA = FirstPage(RenderRaw(Bytes("A\n"))).BlackDots();
  const size_t plainC = FirstPage(RenderRaw(Bytes("C\n"))).BlackDots();
  struct TCase {
    const char* Name;
    std::string Job;
    size_t Dots;
  };
  const TCase cases[] = {
      {"set on", define + "\x1b%\x01" + "A\n", 26},
      {"two downloaded characters", define + "\x1b%\x01" + "AB\n", 26 + 8},
      {"a code not downloaded prints as usual", define + "\x1b%\x01" + "C\n", plainC},
      {"set off", define + std::string("\x1b%\x00", 3) + "A\n", plainA},
      {"set never selected", define + "A\n", plainA},
      {"ESC ? cancels one character", define + "\x1b%\x01\x1b?A" + "AB\n", plainA + 8},
      {"ESC @ clears the definitions", define + "\x1b@\x1b%\x01" + "A\n", plainA},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job));
    EXPECT_EQ(FirstPage(r).BlackDots(), c.Dots) << c.Name;
    EXPECT_TRUE(r.Findings.empty()) << c.Name << ": " << r.FindingsText();
  }
  // Where the columns land: column 0 full, column 1 its top dot, column 2
  // its bottom dot; the next character starts three dots on.
  const TRenderResult r = RenderRaw(Bytes(define + "\x1b%\x01" + "AA\n"));
  const TRenderPage& p = FirstPage(r);
  EXPECT_EQ(p.BlackDotsIn(0, 0, 1, 24), 24u);
  EXPECT_TRUE(p.Dot(1, 0));
  EXPECT_EQ(p.BlackDotsIn(1, 0, 1, 24), 1u);
  EXPECT_TRUE(p.Dot(2, 23));
  EXPECT_EQ(p.BlackDotsIn(3, 0, 1, 24), 24u);
  // A definition cut short stores nothing and reads nothing past the job.
  const TRenderResult cut = RenderRaw(Bytes(define.substr(0, 12)));
  EXPECT_TRUE(HasFinding(cut, "ESC & is cut short"));
}

TEST(EscPosCommands, ReverseFeedPrintsOverWhatIsAbove) {
  const TRenderPage a = FirstPage(RenderRaw(Bytes("A\n")));
  const TRenderPage b = FirstPage(RenderRaw(Bytes("B\n")));
  size_t both = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 12; ++x) both += a.Dot(x, y) || b.Dot(x, y);
  struct TCase {
    const char* Name;
    std::string Job;
    int Height;
    int BTop;    // where B's line starts
    bool OverA;  // an A is printed there too
  };
  const TCase cases[] = {
      {"one line back",
       "A\n\x1b"
       "e\x01"
       "B\n",
       30, 0, true},
      {"back no further than the top",
       "A\n\x1b"
       "e\x05"
       "B\n",
       30, 0, true},
      {"zero lines",
       std::string("A\n\x1b"
                   "e\x00"
                   "B\n",
                   7),
       60, 30, false},
      {"two back of three",
       "A\nA\nA\n\x1b"
       "e\x02"
       "B\n",
       90, 30, true},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job));
    const TRenderPage& p = FirstPage(r);
    EXPECT_EQ(p.Height(), c.Height) << c.Name;
    size_t wrong = 0;
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 12; ++x) wrong += p.Dot(x, c.BTop + y) != (b.Dot(x, y) || (c.OverA && a.Dot(x, y)));
    EXPECT_EQ(wrong, 0u) << c.Name;
  }
  EXPECT_EQ(FirstPage(RenderRaw(Bytes("A\n\x1b"
                                      "e\x01"
                                      "B\n")))
                .BlackDots(),
            both);
  EXPECT_TRUE(HasFinding(RenderRaw(Bytes("A\n\x1b"
                                         "e\x05"
                                         "B\n")),
                         "stops there"));
}

TEST(EscPosCommands, ItalicSlantsAndItsParameterIsNotText) {
  const TRenderResult plain = RenderRaw(Bytes("H\n"));
  struct TCase {
    const char* Name;
    std::string Job;
    size_t CommandLength;
    bool Slanted;
  };
  const TCase cases[] = {
      {"ESC 4 1",
       "\x1b"
       "4\x01"
       "H\n",
       3, true},
      {"ESC 4 0",
       std::string("\x1b"
                   "4\x00"
                   "H\n",
                   5),
       3, false},
      {"ESC 4 alone",
       "\x1b"
       "4H\n",
       2, true},
      {"ESC 5 ends it",
       "\x1b"
       "4\x01\x1b"
       "5H\n",
       3, false},
  };
  const TRenderPage& p0 = FirstPage(plain);
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job));
    const TRenderPage& p = FirstPage(r);
    ASSERT_GE(r.Listing.size(), 2u) << c.Name;
    EXPECT_EQ(r.Listing[0].Length, c.CommandLength) << c.Name;
    // Nothing of the command is printed as text.
    bool text = false;
    for (const TListingLine& l : r.Listing)
      if (l.Mnemonic == "TEXT") {
        EXPECT_EQ(l.Arguments, "\"H\"") << c.Name;
        text = true;
      }
    EXPECT_TRUE(text) << c.Name;
    EXPECT_TRUE(r.Findings.empty()) << c.Name << ": " << r.FindingsText();
    // Slanting moves dots, it neither adds nor removes them.
    EXPECT_EQ(p.BlackDots(), p0.BlackDots()) << c.Name;
    const TBox top = InkBox(p, 0, 0, 576, 8), top0 = InkBox(p0, 0, 0, 576, 8);
    const TBox bottom = InkBox(p, 0, 16, 576, 8), bottom0 = InkBox(p0, 0, 16, 576, 8);
    if (c.Slanted) {
      EXPECT_GE(top.X0 - top0.X0, 4) << c.Name;
      EXPECT_LE(bottom.X0 - bottom0.X0, 2) << c.Name;
    } else {
      EXPECT_EQ(p.Bits(), p0.Bits()) << c.Name;
    }
  }
}

TEST(EscPosCommands, KanjiFontSelectionIsParsedWhole) {
  const TRenderResult plain = RenderRaw(Bytes("AB\n"));
  for (const std::string& select :
       {std::string("\x1c(A\x02\x00\x30\x00", 7), std::string("\x1c(A\x02\x00\x30\x31", 7),
        std::string("\x1c(C\x02\x00\x30\x02", 7)}) {
    const TRenderResult r = RenderRaw(Bytes(select + "AB\n"));
    ASSERT_EQ(r.Listing.size(), 3u) << r.ListingText();
    EXPECT_EQ(r.Listing[0].Length, 7u);
    EXPECT_EQ(r.Listing[1].Arguments, "\"AB\"");
    EXPECT_EQ(FirstPage(r).Bits(), FirstPage(plain).Bits());
    EXPECT_TRUE(r.Findings.empty()) << r.FindingsText();
  }
  EXPECT_TRUE(HasFinding(RenderRaw(Bytes(std::string("\x1c(A\x09\x00\x30", 6))), "cut short"));
}

// ESC L, ESC W 100,40 200 x 100, ESC T d, GS $ 60, ESC $ 20, "H", FF, then
// "X" in standard mode.
std::string PageModeJob(int ADirection, const std::string& AText = "H") {
  std::string j("\x1bL\x1bW\x64\x00\x28\x00\xc8\x00\x64\x00", 12);
  j += std::string("\x1bT", 2) + static_cast<char>(ADirection);
  j += std::string("\x1d$\x3c\x00\x1b$\x14\x00", 8);
  j += AText + "\x0c";
  return j;
}

TEST(EscPosCommands, PageModeDrawsAtItsPositionsInEachDirection) {
  const size_t h = FirstPage(RenderRaw(Bytes("H\n"))).BlackDots();
  // The character's cell: u 20..32 along the line, v 36..60 across it,
  // in the 200 x 100 area at (100, 40), turned as the direction says.
  struct TCase {
    int Direction;
    int X0, Y0, X1, Y1;
  };
  const TCase cases[] = {
      {0, 120, 76, 132, 100},
      {1, 136, 108, 160, 120},
      {2, 268, 80, 280, 104},
      {3, 240, 60, 264, 72},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(PageModeJob(c.Direction) + "X\n"));
    const TRenderPage& p = FirstPage(r);
    ASSERT_EQ(r.Pages.size(), 1u);
    const TBox area = InkBox(p, 0, 0, 576, 140);
    ASSERT_FALSE(area.Empty()) << c.Direction;
    EXPECT_GE(area.X0, c.X0) << c.Direction;
    EXPECT_GE(area.Y0, c.Y0) << c.Direction;
    EXPECT_LE(area.X1, c.X1) << c.Direction;
    EXPECT_LE(area.Y1, c.Y1) << c.Direction;
    EXPECT_EQ(p.BlackDotsIn(0, 0, 576, 140), h) << c.Direction;
    // The page is printed down to the area's bottom; standard mode goes on below it.
    const TBox after = InkBox(p, 0, 140);
    EXPECT_GE(after.Y0, 140) << c.Direction;
    EXPECT_LE(after.Y1, 164) << c.Direction;
    EXPECT_LE(after.X1, 12) << c.Direction;
    EXPECT_TRUE(r.Findings.empty()) << c.Direction << ": " << r.FindingsText();
  }
}

TEST(EscPosCommands, PageModeMovesDownWithinALine) {
  // "AB" with its bottom at 30, GS \ 30 down, then "C": C starts where B
  // ended, its bottom at 60.
  const TRenderResult r =
      RenderRaw(Bytes(std::string("\x1bL\x1d$\x1e\x00"
                                  "AB\x1d\\\x1e\x00"
                                  "C\x0c",
                                  14)));
  const TRenderPage& p = FirstPage(r);
  const TBox ab = InkBox(p, 0, 0, 24, 90), c = InkBox(p, 24, 0, 60, 90);
  EXPECT_GE(ab.Y0, 6);
  EXPECT_LE(ab.Y1, 30);
  EXPECT_GE(c.X0, 24);
  EXPECT_LE(c.X1, 36);
  EXPECT_GE(c.Y0, 36);
  EXPECT_LE(c.Y1, 60);
  EXPECT_EQ(p.BlackDots(), FirstPage(RenderRaw(Bytes("ABC\n"))).BlackDots());
  EXPECT_TRUE(r.Findings.empty()) << r.FindingsText();
  // An image stands on the position too: 8 x 8 dots ending at row 40.
  const TRenderResult image = RenderRaw(Bytes(
      std::string("\x1bL\x1d$\x28\x00\x1dv0\x00\x01\x00\x08\x00", 14) + std::string(8, '\xff') + "\x0c"));
  const TBox box = InkBox(FirstPage(image));
  EXPECT_EQ(box.X0, 0);
  EXPECT_EQ(box.Y0, 32);
  EXPECT_EQ(box.X1, 8);
  EXPECT_EQ(box.Y1, 40);
}

TEST(EscPosCommands, PageModeDataIsPrintedByFfOnly) {
  const size_t x = FirstPage(RenderRaw(Bytes("X\n"))).BlackDots();
  const size_t i = FirstPage(RenderRaw(Bytes("I\n"))).BlackDots();
  struct TCase {
    const char* Name;
    std::string Job;
    size_t Dots;
    const char* Finding;
  };
  const TCase cases[] = {
      {"ESC S discards the page", "\x1bLH\x1bSX\n", x, "discards"},
      {"CAN clears the area", "\x1bLH\x18I\x0c", i, nullptr},
      {"no FF: nothing printed", "\x1bLH\n", 0, "no FF prints"},
      {"ESC FF prints and stays in page mode", "\x1bLX\x1b\x0c\x18I\x0c", x + i, nullptr},
      {"a cut waits for standard mode", std::string("\x1bLX\x1dV\x00\x0c", 7), x, nullptr},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job), rlEscPos);
    size_t dots = 0;
    for (const TRenderedPage& p : r.Pages) dots += p.Page.BlackDots();
    EXPECT_EQ(dots, c.Dots) << c.Name << "\n" << r.ListingText();
    if (c.Finding) {
      EXPECT_TRUE(HasFinding(r, c.Finding)) << c.Name << ": " << r.FindingsText();
    } else {
      EXPECT_TRUE(r.Findings.empty()) << c.Name << ": " << r.FindingsText();
    }
  }
}

TEST(EscPosCommands, PaperFedAfterTheLastCutIsNoPage) {
  struct TCase {
    const char* Name;
    std::string Job;
    size_t Pages;
  };
  const TCase cases[] = {
      {"LF after the cut", std::string("A\n\x1dV\x00\n", 6), 1},
      {"ESC d after the cut",
       std::string("A\n\x1dV\x41\x10\x1b"
                   "d\x05",
                   9),
       1},
      {"GS S then feeds", "A\n\x1dS\n\n\n", 1},
      {"text after the cut is a page",
       std::string("A\n\x1dV\x00"
                   "B\n",
                   7),
       2},
      {"a buzzer after the cut is a page",
       std::string("A\n\x1dV\x00\x1b"
                   "B\x01\x01",
                   9),
       2},
      {"feeds with no cut are a page", "\n\n\n", 1},
      {"two cuts make two pieces", std::string("A\n\x1dV\x00\x1dV\x00\n", 9), 2},
      {"ESC i cuts",
       "A\n\x1bi"
       "B\n",
       2},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job), rlEscPos);
    EXPECT_EQ(r.Pages.size(), c.Pages) << c.Name << "\n" << r.ListingText();
  }
}

TEST(EscPosCommands, EveryPrefixIsListedWholeAndNothingPastItIsRead) {
  // The listing covers each prefix byte for byte (the ASan build checks
  // the reads).
  const std::string job(
      "\x1c(A\x02\x00\x30\x01\x1b{\x01"
      "A\n\x1b&\x03\x41\x41\x02\xff\xff\xff\x80\x00\x00\x1b%\x01"
      "A\x1b?A\x1b"
      "4\x01\x1b"
      "5\x1b"
      "e\x01\x1bL\x1bW\x00\x00\x00\x00\x40\x00\x40\x00\x1bT\x01\x1d$\x10\x00\x1d\\\x08\x00"
      "B\x18\x1b\x0c\x0c\x1bL\x1bS\x1bi",
      73);
  for (size_t n = 0; n <= job.size(); ++n) {
    const TRenderResult r = RenderRaw(Bytes(job.substr(0, n)), rlEscPos);
    size_t covered = 0;
    for (const TListingLine& l : r.Listing) {
      EXPECT_EQ(l.Offset, covered) << n;
      covered = l.Offset + l.Length;
    }
    EXPECT_EQ(covered, n) << r.ListingText();
  }
}

// --- Listing ---------------------------------------------------------------

TEST(ListingStatus, TellsNoVisibleEffectFromNotDrawn) {
  struct TCase {
    const char* Name;
    std::string Job;
    TRenderLanguage Language;
    const char* Mnemonic;
    TListingStatus Status;
  };
  const TCase cases[] = {
      {"text", "A\n", rlEscPos, "TEXT", lsDone},
      {"alignment",
       "\x1b"
       "a\x01",
       rlEscPos, "ESC a", lsDone},
      {"buzzer",
       "\x1b"
       "B\x01\x01",
       rlEscPos, "ESC B", lsNoVisibleEffect},
      {"cash drawer", std::string("\x1bp\x00\x10\x10", 5), rlEscPos, "ESC p", lsNoVisibleEffect},
      {"motion units", std::string("\x1dP\x00\x00", 4), rlEscPos, "GS P", lsNoVisibleEffect},
      {"real-time status", "\x10\x04\x01", rlEscPos, "DLE EOT", lsNoVisibleEffect},
      {"unknown command", "\x1b\x07", rlEscPos, "?", lsNotDrawn},
      {"stored image", std::string("\x1cp\x01\x00", 4), rlEscPos, "FS p", lsNotDrawn},
      {"90-degree rotation", "\x1bV\x01", rlEscPos, "ESC V", lsNotDrawn},
      {"kanji font B", std::string("\x1c(A\x02\x00\x30\x01", 7), rlEscPos, "FS ( A", lsNotDrawn},
      {"TSPL bar", "SIZE 20 mm,10 mm\r\nBAR 0,0,4,4\r\nPRINT 1\r\n", rlTspl, "BAR", lsDone},
      {"TSPL speed", "SPEED 4\r\n", rlTspl, "SPEED", lsNoVisibleEffect},
      {"TSPL sound", "SOUND 2,100\r\n", rlTspl, "SOUND", lsNoVisibleEffect},
      {"TSPL self test", "SELFTEST\r\n", rlTspl, "SELFTEST", lsNotDrawn},
      {"TSPL unknown", "FROB 1\r\n", rlTspl, "?", lsNotDrawn},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job), c.Language);
    bool found = false;
    for (const TListingLine& l : r.Listing) {
      if (l.Mnemonic != c.Mnemonic) continue;
      found = true;
      EXPECT_EQ(l.Status, c.Status) << c.Name;
      const std::string line = FormatListingLine(l);
      const std::string suffix =
          c.Status == lsDone ? "" : std::string("  [") + ListingStatusText(c.Status) + "]";
      EXPECT_EQ(line.substr(line.size() - suffix.size()), suffix) << c.Name << ": " << line;
      if (c.Status == lsDone) {
        EXPECT_EQ(line.find('['), std::string::npos) << line;
      }
    }
    EXPECT_TRUE(found) << c.Name << "\n" << r.ListingText();
  }
  EXPECT_STREQ(ListingStatusText(lsNoVisibleEffect), "accepted, no visible effect");
  EXPECT_STREQ(ListingStatusText(lsNotDrawn), "not drawn here");
}

// --- TSPL ------------------------------------------------------------------

TRenderResult Label(const std::string& ABody) {
  return RenderRaw(Bytes("SIZE 50 mm,30 mm\r\nCLS\r\n" + ABody + "PRINT 1\r\n"), rlTspl);
}

void Put16(std::string& AS, unsigned AV) {
  AS += static_cast<char>(AV & 0xFF);
  AS += static_cast<char>((AV >> 8) & 0xFF);
}
void Put32(std::string& AS, uint32_t AV) {
  Put16(AS, AV & 0xFFFF);
  Put16(AS, AV >> 16);
}

// A 1-bit BMP of the picture (rows of '#' and '.', '#' = palette index 1),
// with the two palette colours given, bottom-up or top-down.
std::string MonoBmp(const std::vector<std::string>& ARows, uint32_t AColour0, uint32_t AColour1,
                    bool ATopDown) {
  const int w = static_cast<int>(ARows[0].size()), h = static_cast<int>(ARows.size());
  const int rowBytes = (w + 31) / 32 * 4;
  std::string b = "BM";
  Put32(b, 62 + rowBytes * h);
  Put32(b, 0);
  Put32(b, 62);
  Put32(b, 40);
  Put32(b, w);
  Put32(b, ATopDown ? static_cast<uint32_t>(-h) : static_cast<uint32_t>(h));
  Put16(b, 1);
  Put16(b, 1);
  for (int i = 0; i < 6; ++i) Put32(b, 0);
  Put32(b, AColour0);
  Put32(b, AColour1);
  for (int k = 0; k < h; ++k) {
    const std::string& row = ARows[ATopDown ? k : h - 1 - k];
    std::string bytes(rowBytes, '\0');
    for (int x = 0; x < w; ++x)
      if (row[x] == '#') bytes[x / 8] = static_cast<char>(bytes[x / 8] | (0x80 >> (x % 8)));
    b += bytes;
  }
  return b;
}

std::string Download(const std::string& AName, const std::string& AData) {
  return "DOWNLOAD \"" + AName + "\"," + std::to_string(AData.size()) + "," + AData + "\r\n";
}

TEST(TsplCommands, PutBmpDrawsTheStoredPictureDotForDot) {
  const std::vector<std::string> picture = {
      "##........#",
      ".#.#.#.#.#.",
      "###.....###",
      "#.........#",
  };
  const uint32_t white = 0xFFFFFF, black = 0;
  struct TCase {
    const char* Name;
    std::string File;
    bool HashIsBlack;
  };
  const TCase cases[] = {
      {"index 1 black, bottom-up", MonoBmp(picture, white, black, false), true},
      {"index 1 black, top-down", MonoBmp(picture, white, black, true), true},
      {"index 0 black", MonoBmp(picture, black, white, false), false},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = Label(Download("LOGO.BMP", c.File) + "PUTBMP 30,40,\"LOGO.BMP\"\r\n");
    const TRenderPage& p = FirstPage(r);
    size_t wrong = 0;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 11; ++x)
        wrong += p.Dot(30 + x, 40 + y) != ((picture[y][x] == '#') == c.HashIsBlack);
    EXPECT_EQ(wrong, 0u) << c.Name;
    // Nothing outside the picture.
    EXPECT_EQ(p.BlackDots(), p.BlackDotsIn(30, 40, 11, 4)) << c.Name;
    EXPECT_TRUE(r.Findings.empty()) << c.Name << ": " << r.FindingsText();
  }
}

TEST(TsplCommands, PutPcxDecodesRunsAndDrawsTheStoredPicture) {
  // 16 x 2 dots, 2 bytes a line: line 0 a run of two 0x00 bytes, line 1
  // 0x0F then 0xF0 (a byte of 0xC0 and above is always a run).
  std::string pcx(128, '\0');
  pcx[0] = 0x0A;
  pcx[1] = 5;
  pcx[2] = 1;
  pcx[3] = 1;
  pcx[8] = 15;
  pcx[10] = 1;
  pcx[65] = 1;
  pcx[66] = 2;
  pcx += std::string("\xc2\x00\x0f\xc1\xf0", 5);
  const TRenderResult r = Label(Download("P.PCX", pcx) + "PUTPCX 8,4,\"P.PCX\"\r\n");
  const TRenderPage& p = FirstPage(r);
  EXPECT_TRUE(r.Findings.empty()) << r.FindingsText();
  // A 0 bit prints (the palette is left empty), a 1 bit is paper.
  EXPECT_EQ(p.BlackDotsIn(8, 4, 16, 1), 16u);
  for (int x = 0; x < 16; ++x) EXPECT_EQ(p.Dot(8 + x, 5), x < 4 || x >= 12) << x;
  EXPECT_EQ(p.BlackDots(), 24u);
}

TEST(TsplCommands, StoredFilesThatCannotBeDrawnAreFindings) {
  const std::string bmp = MonoBmp({"#."}, 0xFFFFFF, 0, false);
  std::string fourBit = bmp;
  fourBit[28] = 4;
  struct TCase {
    const char* Name;
    std::string Body;
    const char* Finding;
  };
  const TCase cases[] = {
      {"never downloaded", "PUTBMP 0,0,\"NONE.BMP\"\r\n", "downloads no such file"},
      {"not a BMP", Download("X.BMP", "hello") + "PUTBMP 0,0,\"X.BMP\"\r\n", "not a BMP"},
      {"BMP cut short", Download("X.BMP", bmp.substr(0, bmp.size() - 2)) + "PUTBMP 0,0,\"X.BMP\"\r\n",
       "cut short"},
      {"BMP palette missing", Download("X.BMP", fourBit) + "PUTBMP 0,0,\"X.BMP\"\r\n",
       "palette is cut short"},
      {"PCX header cut short",
       Download("P.PCX", std::string("\x0a\x05\x01\x01", 4) + std::string(60, '\0')) +
           "PUTPCX 0,0,\"P.PCX\"\r\n",
       "not a run-length encoded PCX"},
      {"DOWNLOAD longer than the job", "DOWNLOAD \"BIG.BMP\",99999,BM", "the file is not stored"},
      {"DOWNLOAD without a name", "DOWNLOAD 12,abc\r\n", "needs a file name"},
  };
  for (const TCase& c : cases) {
    const std::string job = "SIZE 50 mm,30 mm\r\nCLS\r\n" + c.Body + "PRINT 1\r\n";
    const TRenderResult r = RenderRaw(Bytes(job), rlTspl);
    EXPECT_TRUE(HasFinding(r, c.Finding)) << c.Name << ": " << r.FindingsText();
    for (const TListingLine& l : r.Listing) EXPECT_LE(l.Offset + l.Length, job.size()) << c.Name;
  }
}

TEST(TsplCommands, DownloadedProgramsRunWhenCalled) {
  const std::string program = "DOWNLOAD \"DEMO.BAS\"\r\nBAR 0,0,8,8\r\nBAR 20,0,2,2\r\nEOP\r\n";
  struct TCase {
    const char* Name;
    std::string Body;
    size_t Dots;
  };
  const TCase cases[] = {
      {"stored, not run", program, 0},
      {"called by name", program + "DEMO\r\n", 68},
      {"RUN", program + "RUN \"DEMO.BAS\"\r\n", 68},
      {"sent as data", Download("DEMO.BAS", "BAR 0,0,8,8\r\nBAR 20,0,2,2\r\n") + "DEMO\r\n", 68},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = Label(c.Body);
    EXPECT_EQ(FirstPage(r).BlackDots(), c.Dots) << c.Name;
    EXPECT_TRUE(r.Findings.empty()) << c.Name << ": " << r.FindingsText();
  }
  EXPECT_TRUE(HasFinding(Label("RUN \"NONE.BAS\"\r\n"), "no program"));
  // A program that calls itself stops; one that calls itself many times
  // over is cut off by the line budget, not left to multiply.
  const TRenderResult loop = Label("DOWNLOAD \"LOOP.BAS\"\r\nBAR 0,0,1,1\r\nLOOP\r\nEOP\r\nLOOP\r\n");
  EXPECT_TRUE(HasFinding(loop, "more than 4 deep"));
  std::string calls;
  for (int i = 0; i < 40; ++i) calls += "FAN\r\n";
  const TRenderResult fan = Label("DOWNLOAD \"FAN.BAS\"\r\n" + calls + "EOP\r\nFAN\r\n");
  EXPECT_TRUE(HasFinding(fan, "the rest of the calls are not run")) << fan.FindingsText();
}

TEST(TsplCommands, EveryPrefixOfADownloadStaysInsideTheJob) {
  const std::string bmp = MonoBmp({"#.#.", ".#.#"}, 0xFFFFFF, 0, false);
  std::string pcx(128, '\0');
  pcx[0] = 0x0A;
  pcx[2] = 1;
  pcx[3] = 1;
  pcx[8] = 7;
  pcx[65] = 1;
  pcx[66] = 1;
  pcx += "\xc1\xf0";
  const std::string job =
      "SIZE 20 mm,10 mm\r\nCLS\r\n" + Download("A.BMP", bmp) + Download("B.PCX", pcx) +
      "DOWNLOAD \"P.BAS\"\r\nPUTBMP 0,0,\"A.BMP\"\r\nEOP\r\nP\r\nPUTPCX 10,0,\"B.PCX\"\r\n"
      "ELLIPSE 0,0,40,20,2\r\nPRINT 1\r\n";
  for (size_t n = 0; n <= job.size(); ++n) {
    const TRenderResult r = RenderRaw(Bytes(job.substr(0, n)), rlTspl);
    for (const TListingLine& l : r.Listing) EXPECT_LE(l.Offset + l.Length, n);
  }
  const TRenderResult whole = RenderRaw(Bytes(job), rlTspl);
  EXPECT_TRUE(whole.Findings.empty()) << whole.FindingsText();
  EXPECT_EQ(FirstPage(whole).BlackDotsIn(0, 0, 4, 2), 4u);
}

TEST(TsplCommands, CirclesAndEllipsesAreRingsOfTheirThickness) {
  struct TCase {
    const char* Command;
    double Cx, Cy, A, B;  // centre and half axes
    int Thickness;
  };
  const TCase cases[] = {
      {"CIRCLE 100,60,41,1\r\n", 120.5, 80.5, 20.5, 20.5, 1},
      {"CIRCLE 100,60,60,4\r\n", 130, 90, 30, 30, 4},
      {"ELLIPSE 50,60,80,40,2\r\n", 90, 80, 40, 20, 2},
      {"ELLIPSE 10,10,30,90,3\r\n", 25, 55, 15, 45, 3},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = Label(c.Command);
    const TRenderPage& p = FirstPage(r);
    EXPECT_TRUE(r.Findings.empty()) << c.Command << r.FindingsText();
    const TBox box = InkBox(p);
    EXPECT_EQ(box.X0, static_cast<int>(c.Cx - c.A)) << c.Command;
    EXPECT_EQ(box.X1, static_cast<int>(c.Cx + c.A)) << c.Command;
    EXPECT_EQ(box.Y0, static_cast<int>(c.Cy - c.B)) << c.Command;
    EXPECT_EQ(box.Y1, static_cast<int>(c.Cy + c.B)) << c.Command;
    // Every dot lies in the ring: inside the outline, no deeper than the
    // thickness (a dot's centre is half a dot from its corner).
    size_t outside = 0;
    for (int y = box.Y0; y < box.Y1; ++y)
      for (int x = box.X0; x < box.X1; ++x) {
        if (!p.Dot(x, y)) continue;
        const double dx = x + 0.5 - c.Cx, dy = y + 0.5 - c.Cy;
        const double q = std::sqrt(dx * dx / (c.A * c.A) + dy * dy / (c.B * c.B));
        const double depth = (1 - q) * std::min(c.A, c.B);
        if (q > 1.0001 || depth > c.Thickness + 0.75) ++outside;
      }
    EXPECT_EQ(outside, 0u) << c.Command;
    // The middle is empty and the ring is closed: each row through the
    // centre meets it on both sides.
    EXPECT_FALSE(p.Dot(static_cast<int>(c.Cx), static_cast<int>(c.Cy))) << c.Command;
    const int row = static_cast<int>(c.Cy);
    EXPECT_GT(p.BlackDotsIn(box.X0, row, static_cast<int>(c.A), 1), 0u) << c.Command;
    EXPECT_GT(p.BlackDotsIn(static_cast<int>(c.Cx), row, static_cast<int>(c.A) + 1, 1), 0u) << c.Command;
  }
}

}  // namespace
