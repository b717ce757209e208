// Code pages and character sets: ESC t tables checked against published
// code charts, switching mid-line, ESC R's national variants, Chinese mode
// by profile, TSPL CODEPAGE, and the Katakana page's line graphics joining
// from cell to cell.
#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "CodePages.h"
#include "RenderTestSupport.h"
#include "TempDir.h"

namespace {

TRenderResult RenderFor(const std::string& AProfile, const std::string& AJob,
                        TRenderLanguage ALanguage = rlAuto) {
  TRenderOptions o;
  o.Profile = AProfile;
  o.Language = ALanguage;
  return RenderCommandBytes(Bytes(AJob), o);
}

// The arguments of the job's TEXT listing lines, one after the other.
std::string ListedText(const TRenderResult& AResult) {
  std::string s;
  for (const TListingLine& l : AResult.Listing)
    if (l.Mnemonic == "TEXT") s += l.Arguments;
  return s;
}

const TListingLine* ListedCommand(const TRenderResult& AResult, const std::string& AMnemonic) {
  for (const TListingLine& l : AResult.Listing)
    if (l.Mnemonic == AMnemonic) return &l;
  return nullptr;
}

TEST(CodePages, EscTTablesMatchThePublishedCharts) {
  // ESC t n as Epson numbers it; the characters from the code charts the
  // tables are published with (IBM, Microsoft, ISO), not from our tables.
  struct TCase {
    int N;
    const char* Name;
    uint8_t Byte;
    const char* Utf8;
  };
  const TCase cases[] = {
      {0, "PC437", 0x80, "Ç"},
      {0, "PC437", 0xE1, "ß"},
      {0, "PC437", 0xC4, "─"},
      {1, "Katakana", 0xB1, "ｱ"},
      {1, "Katakana", 0xDF, "ﾟ"},
      {1, "Katakana", 0x95, "─"},
      {2, "PC850", 0x9B, "ø"},
      {2, "PC850", 0xD5, "ı"},
      {3, "PC860", 0x84, "ã"},
      {3, "PC860", 0x86, "Á"},
      {4, "PC863", 0x84, "Â"},
      {4, "PC863", 0x86, "¶"},
      {5, "PC865", 0x9D, "Ø"},
      {5, "PC865", 0xAF, "¤"},
      {13, "PC857", 0xA6, "Ğ"},
      {13, "PC857", 0x8D, "ı"},
      {14, "PC737", 0x80, "Α"},
      {15, "ISO8859-7", 0xE1, "α"},
      {16, "WPC1252", 0x80, "€"},
      {16, "WPC1252", 0x9C, "œ"},
      {17, "PC866", 0x80, "А"},
      {17, "PC866", 0xE0, "р"},
      {17, "PC866", 0xF0, "Ё"},
      {18, "PC852", 0x9F, "č"},
      {18, "PC852", 0xA5, "ą"},
      {19, "PC858", 0xD5, "€"},
      {34, "PC855", 0x80, "ђ"},
      {36, "PC862", 0x80, "א"},
      {39, "ISO8859-2", 0xA1, "Ą"},
      {39, "ISO8859-2", 0xB9, "š"},
      {40, "ISO8859-15", 0xA4, "€"},
      {40, "ISO8859-15", 0xBD, "œ"},
      {45, "WPC1250", 0x8A, "Š"},
      {46, "WPC1251", 0xC0, "А"},
      {46, "WPC1251", 0xA8, "Ё"},
      {47, "WPC1253", 0xC1, "Α"},
      {48, "WPC1254", 0xD0, "Ğ"},
      {48, "WPC1254", 0xFD, "ı"},
      {51, "WPC1257", 0xC0, "Ą"},
      {51, "WPC1257", 0xE8, "č"},
      // Epson's PC857 has the euro sign where IBM's page has nothing.
      {13, "PC857", 0xD5, "€"},
  };
  for (const TCase& c : cases) {
    const std::string job =
        std::string("\x1bt", 2) + static_cast<char>(c.N) + "A" + static_cast<char>(c.Byte) + "\n";
    const TRenderResult r = RenderFor("epson-80", job);
    const std::string where = std::string(c.Name) + " byte " + std::to_string(c.Byte);
    EXPECT_EQ(ListedText(r), std::string("\"A") + c.Utf8 + "\"") << where;
    const TListingLine* t = ListedCommand(r, "ESC t");
    ASSERT_NE(t, nullptr) << where;
    EXPECT_EQ(t->Arguments, std::to_string(c.N) + " (" + c.Name + ")") << where;
    EXPECT_TRUE(r.Findings.empty()) << where << ": " << r.FindingsText();
  }
}

TEST(CodePages, TesseractReadsTheTextDrawnInEachTable) {
  // The glyphs drawn, not only the listing: OCR reads each line back.
  ASSERT_FALSE(tessiva::test::FindProgram("tesseract").empty())
      << "tesseract (tesseract-ocr with its rus, ell, ces, fra and deu data) is needed; scripts/install-deps "
         "installs it";
  struct TCase {
    const char* What;
    std::string Job;  // after GS ! 11 (double size, for the OCR)
    const char* Language;
    const char* Text;
  };
  const TCase cases[] = {
      {"PC866", "\x1bt\x11\x8f\xe0\xa8\xa2\xa5\xe2 \xac\xa8\xe0", "rus", "Привет мир"},
      {"WPC1251", "\x1bt\x2e\xcf\xf0\xe8\xe2\xe5\xf2 \xec\xe8\xf0", "rus", "Привет мир"},
      {"ISO8859-7", "\x1bt\x0f\xca\xe1\xeb\xe7\xec\xdd\xf1\xe1", "ell", "Καλημέρα"},
      {"WPC1253", "\x1bt\x2f\xca\xe1\xeb\xe7\xec\xdd\xf1\xe1", "ell", "Καλημέρα"},
      {"PC852", "\x1bt\x12P\xfd\xa1li\xe7 \xa7lu\x9cou\x9fk\xec k\x85\xe5", "ces", "Příliš žluťoučký kůň"},
      {"WPC1250", "\x1bt\x2d\x8elu\x9dou\xe8k\xfd k\xf9\xf2", "ces", "Žluťoučký kůň"},
      {"WPC1252",
       "\x1bt\x10"
       "Caf\xe9 cr\xe8me \x80 12,50",
       "fra", "Café crème € 12,50"},
      {"PC858",
       "\x1bt\x13"
       "Caf\x82 cr\x8ame \xd5 12,50",
       "fra", "Café crème € 12,50"},
      {"ESC R Germany",
       "\x1bR\x02Gr\x7d\x7e"
       "e \x5bpfel",
       "deu", "Grüße Äpfel"},
  };
  tessiva::test::TTempDir dir;
  for (const TCase& c : cases) {
    const TRenderResult r = RenderFor("epson-80", "\x1d!\x11" + c.Job + "\n");
    ASSERT_EQ(r.Pages.size(), 1u) << c.What;
    const std::string png = dir.File("line.png");
    WriteRenderFile(png, r.Pages[0].Png());
    const tessiva::test::TRunResult ocr =
        tessiva::test::RunProcess({"tesseract", png, "stdout", "-l", c.Language, "--psm", "7"});
    std::string text = ocr.Stdout;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\f' || text.back() == ' '))
      text.pop_back();
    EXPECT_EQ(text, c.Text) << c.What << ": " << ocr.Stderr;
  }
}

TEST(CodePages, SwitchingTablesMidLinePrintsOneLine) {
  // PC866 А, WPC1252 €, PC437 Ç on one line.
  const TRenderResult r = RenderFor("epson-80", std::string("\x1bt\x11\x80\x1bt\x10\x80\x1bt\x00\x80\n", 13));
  EXPECT_EQ(ListedText(r), "\"А\"\"€\"\"Ç\"");
  ASSERT_EQ(r.Pages.size(), 1u);
  const TRenderPage& page = r.Pages[0].Page;
  EXPECT_EQ(page.Height(), 30);
  for (int cell = 0; cell < 3; ++cell) EXPECT_GT(page.BlackDotsIn(cell * 12, 0, 12, 24), 10u) << cell;
  EXPECT_EQ(page.BlackDotsIn(36, 0, 576 - 36, 30), 0u);
}

TEST(CodePages, UnknownTablesAreReportedAndDrawnAsPc437) {
  for (int n : {6, 20, 99, 255}) {
    const TRenderResult r = RenderFor("epson-80", std::string("\x1bt", 2) + static_cast<char>(n) + "\x80\n");
    EXPECT_TRUE(HasFinding(r, "ESC t " + std::to_string(n) + " selects a code page"))
        << n << r.FindingsText();
    EXPECT_EQ(ListedText(r), "\"Ç\"") << n;
    const TListingLine* t = ListedCommand(r, "ESC t");
    ASSERT_NE(t, nullptr);
    EXPECT_NE(t->Arguments.find("unknown"), std::string::npos) << t->Arguments;
  }
}

TEST(CodePages, AnUnknownTableIsReportedOncePerJob) {
  std::string job;
  for (int i = 0; i < 20; ++i) job += std::string("\x1bt\x63x\x1bt\x00y", 8);
  const TRenderResult r = RenderFor("epson-80", job + "\n");
  size_t reports = 0;
  for (const TFinding& f : r.Findings) reports += f.Text.find("ESC t 99") != std::string::npos;
  EXPECT_EQ(reports, 1u) << r.FindingsText();
}

TEST(CodePages, InternationalCharacterSets) {
  struct TCase {
    int N;
    const char* Expected;  // "#$@[\]^`{|}~" in that set
  };
  const TCase cases[] = {
      {0, "#$@[\\]^`{|}~"}, {1, "#$à°ç§^`éùè¨"}, {2, "#$§ÄÖÜ^`äöüß"}, {3, "£$@[\\]^`{|}~"},
      {5, "#¤ÉÄÖÅÜéäöåü"},  {7, "₧$@¡Ñ¿^`¨ñ}~"}, {8, "#$@[¥]^`{|}~"}, {12, "#$á¡Ñ¿éüíñóú"},
  };
  for (const TCase& c : cases) {
    const TRenderResult r =
        RenderFor("epson-80", std::string("\x1bR", 2) + static_cast<char>(c.N) + "#$@[\\]^`{|}~\n");
    EXPECT_EQ(ListedText(r), std::string("\"") + c.Expected + "\"") << c.N;
    EXPECT_TRUE(r.Findings.empty()) << c.N << ": " << r.FindingsText();
  }
  // ESC @ goes back to the profile's set; an unknown set is reported.
  const TRenderResult reset = RenderFor("epson-80", "\x1bR\x02@\x1b@@\n");
  EXPECT_EQ(ListedText(reset), "\"§\"\"@\"");
  const TRenderResult unknown = RenderFor("epson-80", "\x1bR\x63@\n");
  EXPECT_TRUE(HasFinding(unknown, "ESC R 99")) << unknown.FindingsText();
  EXPECT_EQ(ListedText(unknown), "\"@\"");
}

TEST(CodePages, ChineseModeBelongsToTheProfile) {
  struct TCase {
    const char* Profile;
    std::string Job;
    const char* Text;
  };
  const TCase cases[] = {
      {"gbk-80", "\xD6\xD0\n", "\"中\""},
      {"gbk-58", "\xD6\xD0\n", "\"中\""},
      {"epson-80", "\xD6\xD0\n", "\"╓╨\""},
      {"epson-80", "\x1c&\xD6\xD0\n", "\"中\""},
      // ESC @ restores the profile's start-up state.
      {"epson-80", "\x1c&\x1b@\xD6\xD0\n", "\"╓╨\""},
      {"gbk-80", "\x1c.\x1b@\xD6\xD0\n", "\"中\""},
      // ESC t applies once Chinese mode is off.
      {"gbk-80", "\x1bt\x11\x1c.\x80\x1c&\xD6\xD0\n", "\"А\"\"中\""},
      {"epson-58", "\x1bt\x10\xE9\n", "\"é\""},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderFor(c.Profile, c.Job);
    EXPECT_EQ(ListedText(r), c.Text) << c.Profile << " " << c.Job;
    EXPECT_FALSE(HasFinding(r, "invalid")) << c.Profile << ": " << r.FindingsText();
  }
  // Western text on an Epson printer is never an invalid GBK byte.
  const TRenderResult western = RenderFor("epson-80",
                                          "\x1bt\x02"
                                          "Caf\x82 cr\x8A"
                                          "me br\x96l\x82"
                                          "e\n");
  EXPECT_EQ(ListedText(western), "\"Café crème brûlée\"");
  EXPECT_TRUE(western.Findings.empty()) << western.FindingsText();
}

TEST(CodePages, ABytesTheTableLacksIsReported) {
  // WPC1252 has no character at 81.
  const TRenderResult r = RenderFor("epson-80", "\x1bt\x10\x81\n");
  EXPECT_TRUE(HasFinding(r, "no character in code page WPC1252")) << r.FindingsText();
}

TEST(CodePages, KatakanaLineGraphicsJoinFromCellToCell) {
  // ESC 3 24: lines 24 dots apart, as tall as the cells, so that vertical
  // rules meet. Row 1: ┌──┐, row 2: │  │, row 3: └──┘.
  const std::string job = std::string("\x1bt\x01\x1b\x33\x18", 6) +
                          "\x98\x95\x95\x99\n"
                          "\x96  \x96\n"
                          "\x9a\x95\x95\x9b\n";
  const TRenderResult r = RenderFor("epson-80", job);
  ASSERT_EQ(r.Pages.size(), 1u);
  const TRenderPage& page = r.Pages[0].Page;
  EXPECT_EQ(ListedText(r), "\"┌──┐\"\"│  │\"\"└──┘\"");
  // Every column from the left rule to the right rule has a dot on the
  // top row's line and on the bottom row's: the rules are unbroken.
  auto rowJoined = [&page](int ATop, int AFromX, int AToX) {
    for (int y = ATop; y < ATop + 24; ++y) {
      bool all = true;
      for (int x = AFromX; x < AToX && all; ++x) all = page.Dot(x, y);
      if (all) return true;
    }
    return false;
  };
  auto columnJoined = [&page](int ALeft, int AFromY, int AToY) {
    for (int x = ALeft; x < ALeft + 12; ++x) {
      bool all = true;
      for (int y = AFromY; y < AToY && all; ++y) all = page.Dot(x, y);
      if (all) return true;
    }
    return false;
  };
  EXPECT_TRUE(rowJoined(0, 6, 42));
  EXPECT_TRUE(rowJoined(48, 6, 42));
  EXPECT_TRUE(columnJoined(0, 12, 60));
  EXPECT_TRUE(columnJoined(36, 12, 60));
  // A rule runs to both edges of its cell, not a font's shorter dash.
  EXPECT_TRUE(rowJoined(0, 12, 36));
  // The space inside the box stays white.
  EXPECT_EQ(page.BlackDotsIn(12, 30, 24, 12), 0u);
  // No box glyph of a missing character (the empty box is drawn inset).
  EXPECT_TRUE(r.Findings.empty()) << r.FindingsText();
}

TEST(CodePages, BoxDrawingGlyphsTouchTheirCellEdges) {
  // Arms reach the edges they point to and only those.
  struct TCase {
    uint32_t Code;
    bool Up, Right, Down, Left;
  };
  const TCase cases[] = {
      {0x2500, false, true, false, true},  {0x2502, true, false, true, false},
      {0x250C, false, true, true, false},  {0x2518, true, false, false, true},
      {0x253C, true, true, true, true},    {0x2550, false, true, false, true},
      {0x2551, true, false, true, false},  {0x2566, false, true, true, true},
      {0x2574, false, false, false, true},
  };
  for (const TCase& c : cases) {
    TGlyphMask m;
    m.Width = 12;
    m.Height = 24;
    m.Dots.assign(12 * 24, 0);
    ASSERT_TRUE(DrawBoxGlyph(c.Code, m, false));
    auto at = [&m](int AX, int AY) { return m.Dots[static_cast<size_t>(AY) * 12 + AX] != 0; };
    bool up = false, down = false, left = false, right = false;
    for (int x = 0; x < 12; ++x) up |= at(x, 0), down |= at(x, 23);
    for (int y = 0; y < 24; ++y) left |= at(0, y), right |= at(11, y);
    EXPECT_EQ(up, c.Up) << std::hex << c.Code;
    EXPECT_EQ(right, c.Right) << std::hex << c.Code;
    EXPECT_EQ(down, c.Down) << std::hex << c.Code;
    EXPECT_EQ(left, c.Left) << std::hex << c.Code;
  }
  TGlyphMask letter;
  letter.Width = 12;
  letter.Height = 24;
  letter.Dots.assign(12 * 24, 0);
  EXPECT_FALSE(DrawBoxGlyph('A', letter, false));
}

TEST(CodePages, KatakanaLettersAreDrawnNotBoxed) {
  // A character no face has is drawn as an empty box; the Katakana page's
  // letters must be real glyphs in the Latin cell.
  TTextDrawing& drawing = TTextDrawing::Shared();
  const TGlyphMask missing = drawing.Glyph(0xE000, 12, 24, false, false);
  for (uint32_t code : {0xFF71u, 0xFF76u, 0xFF9Du}) {
    const TGlyphMask g = drawing.Glyph(code, 12, 24, false, false);
    size_t ink = 0;
    for (uint8_t d : g.Dots) ink += d;
    EXPECT_GT(ink, 8u) << std::hex << code;
    EXPECT_NE(g.Dots, missing.Dots) << std::hex << code;
  }
}

TEST(CodePages, TsplCodepage) {
  struct TCase {
    const char* CodePage;
    const char* Text;  // the TEXT command's byte
    const char* Shown;
    const char* Finding;  // empty: none
  };
  const TCase cases[] = {
      {"1252", "\x80", "€", ""},          {"8859-7", "\xE1", "α", ""},
      {"866", "\x80", "А", ""},           {"437", "\x80", "Ç", ""},
      {"UTF-8", "\xE2\x82\xAC", "€", ""}, {"999", "\x80", "Ç", "CODEPAGE 999 is not a code page"},
  };
  for (const TCase& c : cases) {
    const std::string job = std::string("SIZE 40 mm,20 mm\r\nCLS\r\nCODEPAGE ") + c.CodePage +
                            "\r\nTEXT 10,10,\"3\",0,1,1,\"" + c.Text + "\"\r\nPRINT 1\r\n";
    const TRenderResult r = RenderFor("tspl-203", job);
    const TListingLine* text = ListedCommand(r, "TEXT");
    ASSERT_NE(text, nullptr) << c.CodePage;
    EXPECT_NE(text->Arguments.find(c.Shown), std::string::npos) << c.CodePage << ": " << text->Arguments;
    if (*c.Finding)
      EXPECT_TRUE(HasFinding(r, c.Finding)) << c.CodePage << ": " << r.FindingsText();
    else
      EXPECT_TRUE(r.Findings.empty()) << c.CodePage << ": " << r.FindingsText();
    ASSERT_EQ(r.Pages.size(), 1u);
    EXPECT_GT(r.Pages[0].Page.BlackDots(), 20u) << c.CodePage;
  }
  // Without CODEPAGE a label printer reads GBK, as today.
  const TRenderResult gbk = RenderFor(
      "tspl-203", "SIZE 40 mm,20 mm\r\nCLS\r\nTEXT 10,10,\"TSS24.BF2\",0,1,1,\"\xD6\xD0\"\r\nPRINT 1\r\n");
  const TListingLine* text = ListedCommand(gbk, "TEXT");
  ASSERT_NE(text, nullptr);
  EXPECT_NE(text->Arguments.find("中"), std::string::npos) << text->Arguments;
}

}  // namespace
