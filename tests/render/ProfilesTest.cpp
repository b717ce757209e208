// Printer profiles: every built-in profile draws the sample receipt and the
// sample label at its own width and resolution, the default stays the
// seed's printer, width stays a shorthand, and lint says what a profile's
// printer cannot draw.
#include <gtest/gtest.h>

#include "PrintPresets.h"
#include "PrinterProfile.h"
#include "RenderTestSupport.h"

namespace {

TRenderResult RenderFor(const std::string& AProfile, const std::vector<uint8_t>& AJob, int AWidth = 0) {
  TRenderOptions o;
  o.Profile = AProfile;
  o.Width = AWidth;
  return RenderCommandBytes(AJob, o);
}

TEST(Profiles, TheTable) {
  const std::vector<std::string> names = {"gbk-80", "gbk-58", "epson-80", "epson-58", "tspl-203", "tspl-300"};
  for (const std::string& n : names) {
    const TPrinterProfile* p = FindPrinterProfile(n);
    ASSERT_NE(p, nullptr) << n;
    EXPECT_EQ(p->Name, n);
    EXPECT_NE(PrinterProfileNames().find(n), std::string::npos) << n;
    EXPECT_FALSE(p->Description.empty()) << n;
    // Printable width in whole bytes of a raster row.
    EXPECT_EQ(p->Width % 8, 0) << n;
    EXPECT_GE(p->RasterBufferBytes, static_cast<size_t>(p->Width / 8) * 1000) << n;
  }
  EXPECT_EQ(DefaultPrinterProfile().Name, "gbk-80");
  EXPECT_EQ(FindPrinterProfile("GBK-80"), nullptr);
  EXPECT_EQ(FindPrinterProfile(""), nullptr);
  EXPECT_EQ(TRenderOptions().Profile, "gbk-80");
  // The start-up states that make Western jobs print right on Epson-style
  // printers and Chinese ones on the seed's printers.
  EXPECT_TRUE(FindPrinterProfile("gbk-80")->StartChineseMode);
  EXPECT_FALSE(FindPrinterProfile("epson-80")->StartChineseMode);
  EXPECT_EQ(FindPrinterProfile("epson-58")->StartCodePage, 0);
  EXPECT_EQ(FindPrinterProfile("tspl-203")->DotsPerMm(), 8);
  EXPECT_EQ(FindPrinterProfile("tspl-300")->DotsPerMm(), 12);
}

TEST(Profiles, EveryProfileDrawsTheSampleReceiptAndLabel) {
  const std::vector<uint8_t> receipt = DecodePrintBase64(SampleReceiptBase64());
  const std::vector<uint8_t> label = DecodePrintBase64(SampleLabelBase64());
  const TRenderResult seed = RenderCommandBytes(receipt);
  ASSERT_EQ(seed.Pages.size(), 1u);
  for (const TPrinterProfile& p : PrinterProfiles()) {
    const TRenderResult r = RenderFor(p.Name, receipt);
    ASSERT_EQ(r.Pages.size(), 1u) << p.Name;
    EXPECT_EQ(r.Pages[0].Page.Width(), p.Width) << p.Name;
    EXPECT_EQ(r.Pages[0].Language, rlEscPos) << p.Name;
    EXPECT_GT(r.Pages[0].Page.BlackDots(), 5000u) << p.Name;
    EXPECT_FALSE(r.HasErrors()) << p.Name << ": " << r.FindingsText();
    // Its text is GBK: printers in Chinese mode read hanzi, the others
    // their code page's characters (and no invalid GBK byte).
    const bool hanzi = r.ListingText().find("结帐单") != std::string::npos;
    EXPECT_EQ(hanzi, p.StartChineseMode) << p.Name;
    EXPECT_FALSE(HasFinding(r, "invalid")) << p.Name << ": " << r.FindingsText();

    // SIZE 40 mm,20 mm at the profile's dots per millimetre.
    const TRenderResult l = RenderFor(p.Name, label);
    ASSERT_EQ(l.Pages.size(), 1u) << p.Name;
    EXPECT_EQ(l.Pages[0].Language, rlTspl) << p.Name;
    EXPECT_EQ(l.Pages[0].Page.Width(), 40 * p.DotsPerMm()) << p.Name;
    EXPECT_EQ(l.Pages[0].Page.Height(), 20 * p.DotsPerMm()) << p.Name;
    EXPECT_EQ(l.Pages[0].Copies, 5) << p.Name;
    EXPECT_GT(l.Pages[0].Page.BlackDots(), 1000u) << p.Name;
    EXPECT_FALSE(l.HasErrors()) << p.Name << ": " << l.FindingsText();
  }
  // The default profile is today's printer, dot for dot.
  const TRenderResult gbk = RenderFor("gbk-80", receipt);
  EXPECT_EQ(gbk.Pages[0].Page.Bits(), seed.Pages[0].Page.Bits());
  EXPECT_EQ(gbk.ListingText(), seed.ListingText());
}

TEST(Profiles, LabelFontsFollowTheResolution) {
  // TSPL's font 3 is 16 x 24 dots at 203 dpi and 24 x 32 at 300 dpi; a
  // scalable font's points become dots at the profile's resolution.
  struct TCase {
    const char* Profile;
    const char* Font;
    int CellW, CellH;
  };
  const TCase cases[] = {{"tspl-203", "\"3\",0,1,1", 16, 24},
                         {"tspl-300", "\"3\",0,1,1", 24, 32},
                         {"tspl-203", "\"ROMAN.TTF\",0,18,18", 25, 50},
                         {"tspl-300", "\"ROMAN.TTF\",0,18,18", 37, 75}};
  for (const TCase& c : cases) {
    const std::string job =
        std::string("SIZE 40 mm,20 mm\r\nCLS\r\nTEXT 0,0,") + c.Font + ",\"H\"\r\nPRINT 1\r\n";
    const TRenderResult r = RenderFor(c.Profile, Bytes(job));
    ASSERT_EQ(r.Pages.size(), 1u) << c.Profile;
    const TBox box = InkBox(r.Pages[0].Page);
    EXPECT_LE(box.X1, c.CellW) << c.Profile << " " << c.Font;
    EXPECT_LE(box.Y1, c.CellH) << c.Profile << " " << c.Font;
    EXPECT_GT(box.Height(), c.CellH / 2) << c.Profile << " " << c.Font;
  }
}

TEST(Profiles, WidthOverridesTheProfile) {
  const std::vector<uint8_t> job = Bytes("W\n");
  struct TCase {
    const char* Profile;
    int Width;  // option (0: the profile's)
    int Page;
  };
  const TCase cases[] = {
      {"gbk-80", 0, 576},     {"gbk-80", 384, 384}, {"gbk-58", 0, 384},
      {"epson-58", 576, 576}, {"epson-80", 0, 576}, {"tspl-300", 0, 1248},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderFor(c.Profile, job, c.Width);
    ASSERT_EQ(r.Pages.size(), 1u) << c.Profile;
    EXPECT_EQ(r.Pages[0].Page.Width(), c.Page) << c.Profile << " " << c.Width;
  }
}

TEST(Profiles, UnknownProfileIsAFindingAndDrawsTheDefault) {
  const TRenderResult r = RenderFor("tm-t88", DecodePrintBase64(SampleReceiptBase64()));
  EXPECT_TRUE(HasFinding(r, "unknown printer profile \"tm-t88\"")) << r.FindingsText();
  EXPECT_TRUE(HasFinding(r, "gbk-80, gbk-58, epson-80")) << r.FindingsText();
  ASSERT_EQ(r.Pages.size(), 1u);
  EXPECT_EQ(r.Pages[0].Page.Width(), 576);
}

TEST(Profiles, RasterBufferFollowsTheProfile) {
  // 2100 rows at 384 dots: more than the GBK 58 mm printer's 2000 rows,
  // within the Epson's 2303.
  std::string job = std::string("\x1dv0\x00\x30\x00\x34\x08", 8);
  job.append(48u * 2100u, '\x00');
  const std::vector<uint8_t> bytes(job.begin(), job.end());
  EXPECT_TRUE(
      HasFinding(RenderFor("gbk-58", bytes), "larger than the printer's buffer (2000 rows at 384 dots)"));
  EXPECT_FALSE(HasFinding(RenderFor("epson-58", bytes), "buffer"));
}

TEST(Profiles, LintSaysWhatTheProfilesPrinterCannotDraw) {
  // PDF417 (GS ( k cn 48, print): the Epson-style printers have it, the
  // seed's GBK printers do not.
  const std::vector<uint8_t> pdf417 = Bytes(std::string("\x1d(k\x03\x00\x30\x51\x30", 8));
  struct TCase {
    const char* Profile;
    bool Lacks;
  };
  const TCase cases[] = {{"gbk-80", true}, {"gbk-58", true}, {"epson-80", false}, {"epson-58", false}};
  for (const TCase& c : cases) {
    const TRenderResult r = RenderFor(c.Profile, pdf417);
    EXPECT_EQ(HasFinding(r, std::string("PDF417 is not a code the ") + c.Profile + " printer draws"), c.Lacks)
        << c.Profile << ": " << r.FindingsText();
  }
  // What every profile has is never flagged.
  for (const TPrinterProfile& p : PrinterProfiles()) {
    const TRenderResult r = RenderFor(p.Name, Bytes(std::string("\x1dk\x04"
                                                                "CODE39\x00",
                                                                10)));
    EXPECT_FALSE(HasFinding(r, "is not a code")) << p.Name << ": " << r.FindingsText();
  }
}

}  // namespace
