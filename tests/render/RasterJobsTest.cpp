// Every raster job the print library makes from a picture renders dot for
// dot to its dithered picture: ESC/POS GS v 0 on the receipt page, TSPL
// BITMAP on the label.
#include <gtest/gtest.h>

#include "BitmapPrintJob.h"
#include "EscPosInterpreter.h"
#include "PictureFixtures.h"
#include "RenderTestSupport.h"

namespace {

// Dots of the page against the picture placed at (0, 0); everything else
// on the page must be white. A TSPL row carries its padding bits as 0, which
// the printer prints as black dots (APaddingBlack): the job's bytes are the
// print library's, and the page shows what they print.
void ExpectPictureOnPage(const TMonoBitmap& AImage, const TRenderPage& APage, const std::string& AWhat,
                         bool APaddingBlack = false) {
  ASSERT_GE(APage.Height(), AImage.Height) << AWhat;
  size_t wrong = 0, outside = 0;
  for (int y = 0; y < APage.Height(); ++y)
    for (int x = 0; x < APage.Width(); ++x) {
      const bool padding = APaddingBlack && x >= AImage.Width && x < AImage.RowBytes * 8 && y < AImage.Height;
      const bool inside = (x < AImage.Width && y < AImage.Height) || padding;
      const bool expected = padding || (inside && !AImage.IsWhite(x, y));
      if (APage.Dot(x, y) != expected) ++(inside ? wrong : outside);
    }
  EXPECT_EQ(wrong, 0u) << AWhat << ": dots that differ from the picture";
  EXPECT_EQ(outside, 0u) << AWhat << ": black dots outside the picture";
}

TMonoBitmap Picture(const TScratchDir& ADir, int APictureW, int APictureH, int AWidth,
                    const std::string& AName) {
  const std::string file = ADir.File(AName + ".png");
  WritePng(file, TestPattern(APictureW, APictureH), pkRgb);
  return ConvertToDitheredBitmap(file, AWidth);
}

TEST(RasterJobs, EscPosRasterRendersToItsPicture) {
  TScratchDir dir;
  struct TCase {
    int PictureW, PictureH, Width, Page;
  };
  const TCase cases[] = {{640, 480, 576, 576}, {300, 301, 575, 576}, {500, 200, 384, 384},
                         {123, 77, 203, 576},  {16, 9, 8, 384},      {37, 80, 1, 576}};
  for (const TCase& c : cases) {
    const std::string what = std::to_string(c.Width) + " dots on " + std::to_string(c.Page);
    const TMonoBitmap image = Picture(dir, c.PictureW, c.PictureH, c.Width, "p" + std::to_string(c.Width));
    const TRenderResult r = RenderRaw(MakeEscPosRasterJob(image), rlAuto, c.Page);
    ASSERT_EQ(r.Pages.size(), 1u) << what;
    EXPECT_EQ(r.JobLanguages.at(0), rlEscPos);
    const TRenderPage& page = r.Pages[0].Page;
    EXPECT_EQ(page.Width(), c.Page) << what;
    // The raster, then the CR LF that ends the job feeds one line.
    EXPECT_EQ(page.Height(), image.Height + kDefaultLineSpacing) << what;
    ExpectPictureOnPage(image, page, what);
    EXPECT_FALSE(HasFinding(r, "")) << what << ": " << r.FindingsText();
  }
}

TEST(RasterJobs, TsplBitmapRendersToItsPicture) {
  TScratchDir dir;
  struct TCase {
    int PictureW, PictureH, Width, LabelW, LabelH;
  };
  const TCase cases[] = {{640, 480, 576, 72, 60},
                         {300, 301, 575, 72, 80},
                         {500, 200, 384, 50, 30},
                         {123, 77, 203, 40, 20},
                         {16, 9, 8, 10, 10}};
  for (const TCase& c : cases) {
    const std::string what = std::to_string(c.Width) + " dots";
    const TMonoBitmap image = Picture(dir, c.PictureW, c.PictureH, c.Width, "t" + std::to_string(c.Width));
    const TRenderResult r = RenderRaw(MakeTsplBitmapJob(image, c.LabelW, c.LabelH));
    ASSERT_EQ(r.Pages.size(), 1u) << what << r.ListingText();
    EXPECT_EQ(r.JobLanguages.at(0), rlTspl);
    const TRenderPage& page = r.Pages[0].Page;
    EXPECT_EQ(page.Width(), c.LabelW * 8) << what;
    EXPECT_EQ(page.Height(), c.LabelH * 8) << what;
    EXPECT_EQ(r.Pages[0].Copies, 1);
    ExpectPictureOnPage(image, page, what, true);
    EXPECT_FALSE(HasFinding(r, "")) << what << ": " << r.FindingsText();
  }
}

TEST(RasterJobs, PictureEnvelopesFromTheDialogRender) {
  TScratchDir dir;
  const std::string file = dir.File("photo.png");
  WritePng(file, TestPattern(400, 250), pkRgba);
  for (bool escPos : {true, false}) {
    TBitmapPrintSettings s;
    s.PaperWidth = "384";
    s.EscPos = escPos;
    s.DumpDir = dir.File("dump");
    const TBitmapPrintResult job = MakeBitmapPrintTask(file, s);
    const TRenderResult r = RenderEnvelope(job.base64text);
    ASSERT_EQ(r.Pages.size(), 1u);
    EXPECT_TRUE(r.Findings.empty()) << r.FindingsText();
    ExpectPictureOnPage(job.Image, r.Pages[0].Page, escPos ? "ESC/POS envelope" : "TSPL envelope");
  }
}

TEST(RasterJobs, TallRasterIsFlaggedAgainstThePrinterBuffer) {
  TMonoBitmap image;
  image.Width = 576;
  image.Height = 2001;
  image.RowBytes = 72;
  image.Bits.assign(72u * 2001u, 0xFF);
  TFindingSeverity s = fsInfo;
  const TRenderResult tall = RenderRaw(MakeEscPosRasterJob(image));
  EXPECT_TRUE(HasFinding(tall, "larger than the printer's buffer", &s)) << tall.FindingsText();
  EXPECT_EQ(s, fsWarning);
  image.Height = 2000;
  image.Bits.resize(72u * 2000u);
  EXPECT_FALSE(HasFinding(RenderRaw(MakeEscPosRasterJob(image)), "buffer"));
}

// A raster cut into GS v 0 bands prints the same page as the one command,
// whatever the band height, including bands that do not divide the picture.
TEST(RasterJobs, BandedRasterRendersToTheSamePageAsOneCommand) {
  TScratchDir dir;
  const TMonoBitmap image = Picture(dir, 640, 700, 576, "bands");
  const TRenderResult whole = RenderRaw(MakeEscPosRasterJob(image), rlAuto, 576);
  ASSERT_EQ(whole.Pages.size(), 1u);
  for (const int band : {1, 24, 255, 256, 699, 700, 5000}) {
    const TRenderResult banded = RenderRaw(MakeEscPosRasterJob(image, band), rlAuto, 576);
    ASSERT_EQ(banded.Pages.size(), 1u) << band;
    EXPECT_EQ(banded.Pages[0].Page.Height(), whole.Pages[0].Page.Height()) << band;
    EXPECT_EQ(banded.Pages[0].Page.Bits(), whole.Pages[0].Page.Bits()) << band << " rows per band";
    ExpectPictureOnPage(image, banded.Pages[0].Page, std::to_string(band) + " rows per band");
  }
}

}  // namespace
