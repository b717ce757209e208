// ESC/POS text: size, emphasis, alignment, line spacing, Chinese cells and
// character sets put glyph boxes where a printer would. Asserts on boxes
// and dot counts, not on whole pictures.
#include <gtest/gtest.h>

#include "EscPosInterpreter.h"
#include "PrintPresets.h"
#include "RenderTestSupport.h"

namespace {

const TRenderPage& OnlyPage(const TRenderResult& AResult) {
  static const TRenderPage empty;
  EXPECT_EQ(AResult.Pages.size(), 1u) << AResult.ListingText();
  return AResult.Pages.empty() ? empty : AResult.Pages[0].Page;
}

TEST(EscPosText, FontCellsAndSizes) {
  struct TCase {
    const char* Name;
    std::string Job;
    int CellW, CellH;  // where the first character must lie
    int LineAdvance;   // page height after one LF
  };
  const TCase cases[] = {
      {"font A", "H\n", 12, 24, 30},
      {"font B", std::string("\x1b!\x01H\n", 5), 9, 17, 30},
      {"ESC ! double width and height", std::string("\x1b!\x30H\n", 5), 24, 48, 48},
      {"GS ! 2 x 3", std::string("\x1d!\x12H\n", 5), 24, 72, 72},
      {"GS ! 8 x 8", std::string("\x1d!\x77H\n", 5), 96, 192, 192},
      {"Chinese (GBK)", "\xD6\xD0\n", 24, 24, 30},
      {"Chinese GS ! x2", "\x1d!\x11\xD6\xD0\n", 48, 48, 48},
      {"FS ! doubles Chinese only", "\x1c!\x0c\xD6\xD0\n", 48, 48, 48},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job));
    const TRenderPage& page = OnlyPage(r);
    const TBox box = InkBox(page);
    ASSERT_FALSE(box.Empty()) << c.Name;
    EXPECT_GE(box.X0, 0) << c.Name;
    EXPECT_LE(box.X1, c.CellW) << c.Name;
    EXPECT_LE(box.Y1, c.CellH) << c.Name;
    // A glyph fills most of its cell.
    EXPECT_GT(box.Width(), c.CellW / 3) << c.Name;
    EXPECT_GT(box.Height(), c.CellH / 2) << c.Name;
    EXPECT_EQ(page.Height(), c.LineAdvance) << c.Name;
    EXPECT_TRUE(r.Findings.empty()) << c.Name << ": " << r.FindingsText();
  }
}

TEST(EscPosText, ScalingReplicatesDotsAndEmphasisAddsThem) {
  const size_t normal = RenderRaw(Bytes("W\n")).Pages.at(0).Page.BlackDots();
  const size_t doubled = RenderRaw(Bytes("\x1d!\x11W\n")).Pages.at(0).Page.BlackDots();
  const size_t tripleWide = RenderRaw(Bytes("\x1d!\x20W\n")).Pages.at(0).Page.BlackDots();
  const size_t bold = RenderRaw(Bytes(std::string("\x1b"
                                                  "E\x01W\n",
                                                  4)))
                          .Pages.at(0)
                          .Page.BlackDots();
  const size_t boldOff = RenderRaw(Bytes(std::string("\x1b"
                                                     "E\x01\x1b"
                                                     "E\x00W\n",
                                                     7)))
                             .Pages.at(0)
                             .Page.BlackDots();
  ASSERT_GT(normal, 20u);
  EXPECT_EQ(doubled, 4 * normal);
  EXPECT_EQ(tripleWide, 3 * normal);
  EXPECT_GT(bold, normal + normal / 5);
  EXPECT_EQ(boldOff, normal);
}

TEST(EscPosText, AlignmentMarginAndWrapping) {
  // "MM" is 24 dots wide: left at 0, centred at (576 - 24) / 2, right at 552.
  struct TCase {
    const char* Name;
    std::string Job;
    int Width;
    int Left, Right;  // the ink must lie within [Left, Right)
  };
  const TCase cases[] = {
      {"left", "MM\n", 576, 0, 24},
      {"centred",
       "\x1b"
       "a\x01MM\n",
       576, 276, 300},
      {"right",
       "\x1b"
       "a\x02MM\n",
       576, 552, 576},
      {"right on 58 mm",
       "\x1b"
       "a2MM\n",
       384, 360, 384},
      {"left margin", std::string("\x1dL\x40\x00MM\n", 6), 576, 64, 88},
      {"spacing does not shift the right edge",
       "\x1b \x06\x1b"
       "a\x02MM\n",
       576, 546, 576},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job), rlEscPos, c.Width);
    const TBox box = InkBox(OnlyPage(r));
    EXPECT_GE(box.X0, c.Left) << c.Name;
    EXPECT_LE(box.X1, c.Right) << c.Name;
    EXPECT_GT(box.X1, c.Right - 12) << c.Name;
  }
  // 48 characters fill the 80 mm line; the 49th wraps to a second line.
  const TRenderResult full = RenderRaw(Bytes(std::string(48, 'X') + "\n"));
  EXPECT_EQ(OnlyPage(full).Height(), 30);
  EXPECT_GT(InkBox(OnlyPage(full)).X1, 564);
  const TRenderResult wrapped = RenderRaw(Bytes(std::string(49, 'X') + "\n"));
  EXPECT_EQ(OnlyPage(wrapped).Height(), 60);
  EXPECT_LE(InkBox(OnlyPage(wrapped), 0, 30).X1, 12);
  // On 58 mm paper 32 characters fit.
  EXPECT_EQ(OnlyPage(RenderRaw(Bytes(std::string(33, 'X') + "\n"), rlEscPos, 384)).Height(), 60);
}

TEST(EscPosText, LineSpacingAndFeeds) {
  struct TCase {
    const char* Name;
    std::string Job;
    int Height;
    int SecondLineTop;  // -1: no second line to check
  };
  const TCase cases[] = {
      {"default", "A\nA\n", 60, 30},
      {"ESC 3 50",
       "\x1b"
       "3\x32"
       "A\nA\n",
       100, 50},
      {"ESC 3 below the character height",
       "\x1b"
       "3\x0a"
       "A\nA\n",
       48, 24},
      {"ESC 2 restores",
       "\x1b"
       "3\x32\x1b"
       "2A\nA\n",
       60, 30},
      {"ESC J 80",
       "A\x1bJ\x50"
       "A\n",
       110, 80},
      {"ESC d 3",
       "A\x1b"
       "d\x03"
       "A\n",
       120, 90},
      {"empty lines feed", "\n\n\n", 90, -1},
      {"ESC @ restores spacing and size",
       "\x1d!\x11\x1b"
       "3\x50\x1b@A\nA\n",
       60, 30},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job));
    const TRenderPage& page = OnlyPage(r);
    EXPECT_EQ(page.Height(), c.Height) << c.Name;
    if (c.SecondLineTop >= 0) {
      const TBox second = InkBox(page, 0, c.SecondLineTop);
      EXPECT_FALSE(second.Empty()) << c.Name;
      EXPECT_TRUE(InkBox(page, 0, c.SecondLineTop - 1 > 0 ? c.SecondLineTop - 1 : 0, 576, 1).Empty() ||
                  c.SecondLineTop == 0)
          << c.Name;
      EXPECT_LT(second.Y1, c.SecondLineTop + 25) << c.Name;
    }
  }
}

TEST(EscPosText, UnderlineReverseAndTabs) {
  const TRenderResult underResult =
      RenderRaw(Bytes("\x1b-\x02"
                      "AB\n"));
  const TRenderPage& under = underResult.Pages.at(0).Page;
  // Two full rows under both cells.
  EXPECT_EQ(under.BlackDotsIn(0, 22, 24, 2), 48u);
  EXPECT_EQ(under.BlackDotsIn(24, 22, 24, 2), 0u);
  const TRenderResult reverseResult =
      RenderRaw(Bytes("\x1d"
                      "B\x01"
                      "A\n"));
  const TRenderPage& reverse = reverseResult.Pages.at(0).Page;
  const size_t plain = RenderRaw(Bytes("A\n")).Pages.at(0).Page.BlackDots();
  EXPECT_EQ(reverse.BlackDotsIn(0, 0, 12, 24), 12u * 24u - plain);
  // HT goes to the next multiple of eight characters.
  const TRenderResult tabResult = RenderRaw(Bytes("A\tB\n"));
  const TBox tab = InkBox(tabResult.Pages.at(0).Page, 12);
  EXPECT_GE(tab.X0, 96);
  EXPECT_LE(tab.X1, 108);
}

TEST(EscPosText, CharacterSetFramesSwitchBetweenGbkAndUtf8) {
  const std::vector<uint8_t> utf8 = CharsetCommand(1), gbk = CharsetCommand(0);
  std::vector<uint8_t> a = Bytes("\xD6\xD0\xCE\xC4\n");  // 中文 in GBK
  std::vector<uint8_t> b = utf8;
  for (uint8_t c : Bytes("\xE4\xB8\xAD\xE6\x96\x87\n")) b.push_back(c);  // 中文 in UTF-8
  for (uint8_t c : gbk) b.push_back(c);
  for (uint8_t c : Bytes("\xD6\xD0\xCE\xC4\n")) b.push_back(c);
  const TRenderResult ra = RenderRaw(a), rb = RenderRaw(b);
  ASSERT_EQ(rb.Pages.size(), 1u);
  const TRenderPage& pa = ra.Pages.at(0).Page;
  const TRenderPage& pb = rb.Pages[0].Page;
  ASSERT_EQ(pb.Height(), 60);
  EXPECT_GT(pa.BlackDots(), 100u);
  EXPECT_EQ(pb.BlackDotsIn(0, 0, 576, 30), pa.BlackDots());
  EXPECT_EQ(pb.BlackDotsIn(0, 30, 576, 30), pa.BlackDots());
  EXPECT_TRUE(rb.Findings.empty()) << rb.FindingsText();
  // GBK bytes read as UTF-8 are invalid, and said so.
  std::vector<uint8_t> wrong = utf8;
  for (uint8_t c : a) wrong.push_back(c);
  EXPECT_TRUE(HasFinding(RenderRaw(wrong), "invalid UTF-8"));
}

TEST(EscPosText, BitImagesAndGraphicsBuffer) {
  // ESC * 33: 24-dot double density, two columns fully black.
  const std::string img("\x1b*\x21\x02\x00\xff\xff\xff\xff\xff\xff\n", 12);
  const TRenderResult pResult = RenderRaw(Bytes(img));
  const TRenderPage& p = pResult.Pages.at(0).Page;
  EXPECT_EQ(p.BlackDots(), 48u);
  EXPECT_EQ(InkBox(p).Width(), 2);
  EXPECT_EQ(InkBox(p).Height(), 24);
  // ESC * 0: 8-dot single density, each dot 2 wide and 3 tall.
  const TRenderResult qResult = RenderRaw(Bytes(std::string("\x1b*\x00\x01\x00\x81\n", 7)));
  const TRenderPage& q = qResult.Pages.at(0).Page;
  EXPECT_EQ(q.BlackDots(), 12u);
  // GS ( L store (16 x 2 dots, scale 2 x 1) then print equals the same rows as GS v 0.
  const std::string store("\x1d(L\x0e\x00\x30\x70\x30\x02\x01\x31\x10\x00\x02\x00\xF0\x0F\xAA\x55", 19);
  const std::string print("\x1d(L\x02\x00\x30\x32", 7);
  const std::string raster("\x1dv0\x01\x02\x00\x02\x00\xF0\x0F\xAA\x55", 12);
  const TRenderResult g = RenderRaw(Bytes(store + print));
  const TRenderResult v = RenderRaw(Bytes(raster));
  ASSERT_EQ(g.Pages.size(), 1u);
  ASSERT_EQ(v.Pages.size(), 1u);
  EXPECT_EQ(g.Pages[0].Page.Bits(), v.Pages[0].Page.Bits());
  EXPECT_EQ(g.Pages[0].Page.BlackDots(), 2u * 16u);
  EXPECT_TRUE(g.Findings.empty()) << g.FindingsText();
}

TEST(EscPosText, SampleReceiptHasItsLines) {
  const std::vector<uint8_t> job = DecodePrintBase64(SampleReceiptBase64());
  const TRenderResult r = RenderRaw(job);
  const TRenderPage& page = OnlyPage(r);
  EXPECT_TRUE(r.Findings.empty()) << r.FindingsText();
  EXPECT_EQ(page.Width(), 576);
  // Title and shop at double size (48 rows each), then 23 lines of 30 dots
  // and two more double-size lines (48 each), then four empty lines.
  // Line 4 is double size too: 5 double-size lines in all.
  EXPECT_EQ(page.Height(), 5 * 48 + 20 * 30 + 4 * 30);
  // The centred title "结帐单": three 48-dot cells centred on 576.
  const TBox title = InkBox(page, 0, 0, 576, 48);
  EXPECT_GE(title.X0, 216);
  EXPECT_LE(title.X1, 360);
  // The first rule of 48 dashes spans the whole line.
  const TBox rule = InkBox(page, 0, 96, 576, 30);
  EXPECT_LT(rule.X0, 12);
  EXPECT_GT(rule.X1, 564);
}

TEST(EscPosText, TextPastTheHeightLimitLeavesThePageAsItWas) {
  // Eightfold GBK text: 3 characters of 192 x 192 dots a line. What the
  // page cannot hold is read, not drawn: a longer job gives the same page.
  TRenderOptions o;
  o.MaxPageHeight = 1000;
  auto job = [](int AChars) {
    std::string s = "\x1d!\x77";
    for (int i = 0; i < AChars; ++i) s += "\xD6\xD0";
    return Bytes(s + "\n");
  };
  const TRenderResult some = RenderCommandBytes(job(30), o);
  const TRenderResult many = RenderCommandBytes(job(3000), o);
  ASSERT_EQ(some.Pages.size(), 1u);
  ASSERT_EQ(many.Pages.size(), 1u);
  EXPECT_EQ(some.Pages[0].Page.Height(), 1000);
  EXPECT_EQ(many.Pages[0].Page.Bits(), some.Pages[0].Page.Bits());
  EXPECT_TRUE(HasFinding(many, "height limit of 1000 rows")) << many.FindingsText();
  // The last line that starts on the page is drawn as far as the page goes.
  EXPECT_GT(some.Pages[0].Page.BlackDotsIn(0, 960, 576, 40), 100u);
}

}  // namespace
