#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "BitmapPrintJob.h"
#include "DitheredBitmap.h"

namespace {

TMonoBitmap DitherGrey(int AWidth, const std::vector<std::vector<int>>& ARows) {
  TErrorDiffusion d(AWidth, static_cast<int>(ARows.size()));
  for (const auto& row : ARows) d.AddRow(row.data());
  return d.Finish();
}

TPrintBytes Rows(const TMonoBitmap& AImage) { return AImage.Bits; }

// The raster part of a job: ESC/POS after its 8-byte header, before CR LF.
TPrintBytes EscPosRaster(const TMonoBitmap& AImage) {
  const TPrintBytes job = MakeEscPosRasterJob(AImage);
  return TPrintBytes(job.begin() + 8, job.end() - 2);
}

TPrintBytes TsplRaster(const TMonoBitmap& AImage) {
  const TPrintBytes job = MakeTsplBitmapJob(AImage, 50, 50);
  const std::string head = "SIZE 50 mm,50 mm\n\rCLS\n\rBITMAP 0,0," + std::to_string(AImage.RowBytes) + "," +
                           std::to_string(AImage.Height) + ",1,";
  const std::string tail = "PRINT 1,1\n\r";
  EXPECT_EQ(std::string(job.begin(), job.begin() + static_cast<long>(head.size())), head);
  EXPECT_EQ(std::string(job.end() - static_cast<long>(tail.size()), job.end()), tail);
  return TPrintBytes(job.begin() + static_cast<long>(head.size()),
                     job.end() - static_cast<long>(tail.size()));
}

TEST(Dither, GreyValueRoundsHalvesToEven) {
  struct TCase {
    uint8_t R, G, B;
    int Grey;
  };
  const TCase cases[] = {
      {0, 0, 0, 0},
      {255, 255, 255, 255},
      {128, 128, 128, 128},
      {255, 0, 0, 76},
      {0, 255, 0, 150},
      {0, 0, 255, 28},
      {10, 20, 30, 18},
      // 15 * 0.299 is exactly 4.5 in extended precision: rounds to the even 4.
      {15, 0, 0, 4},
      {5, 0, 0, 2},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(GreyValue(c.R, c.G, c.B), c.Grey) << int(c.R) << "," << int(c.G) << "," << int(c.B);
}

TEST(Dither, ErrorDiffusionVectors) {
  struct TCase {
    const char* Name;
    int Width;
    std::vector<std::vector<int>> Grey;
    TPrintBytes Image, EscPos, Tspl;
  };
  const std::vector<int> grey128x8(8, 128);
  const TCase cases[] = {
      {"2 x 8 of grey 128", 8, {grey128x8, grey128x8}, {0xAA, 0x55}, {0x55, 0xAA}, {0xAA, 0x55}},
      {"four pixels of 128", 4, {{128, 128, 128, 128}}, {0xA0}, {0x50}, {0xA0}},
      {"five pixels of 200", 5, {{200, 200, 200, 200, 200}}, {0xF8}, {0x00}, {0xF8}},
      // -35 / 16 truncates to -2 (not -3), which keeps 130 at the threshold.
      {"division toward zero", 2, {{250, 130}}, {0xC0}, {0x00}, {0xC0}},
      // 250 + 43 is clamped to 255 at once, so no error is carried further.
      {"clamp after each sum", 3, {{100, 250, 120}}, {0x40}, {0xA0}, {0x40}},
      {"nine pixels: second byte", 9, {std::vector<int>(9, 0)}, {0x00, 0x00}, {0xFF, 0x80}, {0x00, 0x00}},
      // Row 0 is all black; its errors 127, 55 and 24 reach row 1 as
      // 5/16 + 3/16 -> +49, 1/16 + 5/16 + 3/16 -> +28, 1/16 + 5/16 -> +10,
      // which lifts every pixel of row 1 to exactly 128.
      {"3/16, 5/16 and 1/16 below",
       3,
       {{127, 0, 0}, {79, 100, 118}},
       {0x00, 0xA0},
       {0xE0, 0x40},
       {0x00, 0xA0}},
      // Below: 10 - 275/16 = 10 - 17 is clamped to 0 before 3 * 76 / 16 = 14
      // is added; that 14 pushes 98/16 = 6 to its right, lifting
      // 102 - 3 + 23 = 122 to exactly 128. Unclamped (7, then +3) or with
      // floored divisions (-4 for -55/16) the second pixel would stay black.
      {"truncate and clamp below", 2, {{200, 100}, {10, 102}}, {0x80, 0x40}, {0x40, 0x80}, {0x80, 0x40}},
      // The last term a pixel gets from above is 3/16: 5 - 10 is clamped to
      // 0, so it passes no error right and 145 - 17 = 128 stays white.
      {"clamp after 3/16 below", 2, {{0, 200}, {5, 145}}, {0x40, 0x40}, {0x80, 0x80}, {0x40, 0x40}},
      // -275/16 truncates to -17: 145 - 17 = 128 is white (floored, 127 black).
      {"division toward zero below", 1, {{200}, {145}}, {0x80, 0x80}, {0x00, 0x00}, {0x80, 0x80}},
      // Row 2 gets row 1's error only: 100 -> 131 (white, -124), then
      // 150 - 38 = 112 is black.
      {"error travels one row",
       1,
       {{100}, {100}, {150}},
       {0x00, 0x80, 0x00},
       {0x80, 0x00, 0x80},
       {0x00, 0x80, 0x00}},
  };
  for (const TCase& c : cases) {
    const TMonoBitmap image = DitherGrey(c.Width, c.Grey);
    EXPECT_EQ(image.Width, c.Width) << c.Name;
    EXPECT_EQ(image.RowBytes, (c.Width + 7) / 8) << c.Name;
    EXPECT_EQ(Rows(image), c.Image) << c.Name;
    EXPECT_EQ(EscPosRaster(image), c.EscPos) << c.Name;
    EXPECT_EQ(TsplRaster(image), c.Tspl) << c.Name;
  }
}

TEST(Dither, RowCountMustMatch) {
  TErrorDiffusion missing(4, 2);
  const int row[4] = {0, 0, 0, 0};
  missing.AddRow(row);
  EXPECT_THROW(missing.Finish(), EPrintError);
  TErrorDiffusion extra(4, 1);
  extra.AddRow(row);
  EXPECT_THROW(extra.AddRow(row), EPrintError);
  // No rows or no columns: refused before any buffer is made.
  for (const auto& [w, h] : {std::pair{0, 1}, std::pair{-1, 1}, std::pair{4, 0}, std::pair{4, -2}}) {
    try {
      TErrorDiffusion empty(w, h);
      ADD_FAILURE() << w << " x " << h << " accepted";
    } catch (const EPrintError& e) {
      EXPECT_STREQ(e.what(), "Scan line index out of range") << w << " x " << h;
    }
  }
}

TEST(Dither, PaddingOfWidths575And576) {
  for (int width : {575, 576}) {
    for (int grey : {0, 255}) {
      const TMonoBitmap image = DitherGrey(width, {std::vector<int>(static_cast<size_t>(width), grey),
                                                   std::vector<int>(static_cast<size_t>(width), grey)});
      ASSERT_EQ(image.RowBytes, 72);
      const TPrintBytes esc = MakeEscPosRasterJob(image);
      ASSERT_EQ(esc.size(), 8u + 2 * 72 + 2);
      EXPECT_EQ(TPrintBytes(esc.begin(), esc.begin() + 8),
                (TPrintBytes{0x1D, 0x76, 0x30, 0x00, 0x48, 0x00, 0x02, 0x00}));
      EXPECT_EQ(TPrintBytes(esc.end() - 2, esc.end()), (TPrintBytes{0x0D, 0x0A}));
      const TPrintBytes tspl = TsplRaster(image);
      for (int y = 0; y < 2; ++y) {
        const uint8_t last = esc[8 + static_cast<size_t>(y) * 72 + 71];
        const uint8_t tsplLast = tspl[static_cast<size_t>(y) * 72 + 71];
        const uint8_t firstDots = esc[8 + static_cast<size_t>(y) * 72];
        EXPECT_EQ(firstDots, grey == 0 ? 0xFF : 0x00);
        if (width == 576) {
          // The last byte carries the rightmost eight dots like any other.
          EXPECT_EQ(last, grey == 0 ? 0xFF : 0x00) << width;
          EXPECT_EQ(tsplLast, grey == 0 ? 0x00 : 0xFF) << width;
        } else {
          // One padding dot, never printed; TSPL keeps the padding bit 0.
          EXPECT_EQ(last, grey == 0 ? 0xFE : 0x00) << width;
          EXPECT_EQ(tsplLast, grey == 0 ? 0x00 : 0xFE) << width;
        }
      }
    }
  }
}

TEST(Dither, JobHeadersAndTrailers) {
  TMonoBitmap image;
  image.Width = 576;
  image.Height = 300;
  image.RowBytes = 72;
  image.Bits.assign(72 * 300, 0x0F);

  const TPrintBytes esc = MakeEscPosRasterJob(image);
  ASSERT_EQ(esc.size(), 8u + 72 * 300 + 2);
  EXPECT_EQ(TPrintBytes(esc.begin(), esc.begin() + 8),
            (TPrintBytes{0x1D, 0x76, 0x30, 0x00, 0x48, 0x00, 0x2C, 0x01}));
  EXPECT_EQ(esc[8], 0xF0);
  EXPECT_EQ(esc[8 + 72 * 300 - 1], 0xF0);

  const TPrintBytes tspl = MakeTsplBitmapJob(image, 50, 50);
  const std::string head = "SIZE 50 mm,50 mm\n\rCLS\n\rBITMAP 0,0,72,300,1,";
  const std::string tail = "PRINT 1,1\n\r";
  ASSERT_EQ(tspl.size(), head.size() + 72 * 300 + tail.size());
  EXPECT_EQ(std::string(tspl.begin(), tspl.begin() + static_cast<long>(head.size())), head);
  EXPECT_EQ(std::string(tspl.end() - static_cast<long>(tail.size()), tspl.end()), tail);
  EXPECT_EQ(tspl[head.size()], 0x0F);

  const TPrintBytes label = MakeTsplBitmapJob(image, 40, -3);
  EXPECT_EQ(std::string(label.begin(), label.begin() + 19), "SIZE 40 mm,-3 mm\n\rC");

  // A height beyond the 16-bit field would make the printer read the rest
  // of the rows as commands.
  TMonoBitmap tall;
  tall.Width = 8;
  tall.Height = 65536;
  tall.RowBytes = 1;
  tall.Bits.assign(65536, 0xFF);
  EXPECT_THROW(MakeEscPosRasterJob(tall), EPrintError);
  tall.Height = 65535;
  tall.Bits.resize(65535);
  const TPrintBytes most = MakeEscPosRasterJob(tall);
  EXPECT_EQ(TPrintBytes(most.begin() + 4, most.begin() + 8), (TPrintBytes{0x01, 0x00, 0xFF, 0xFF}));
  EXPECT_NO_THROW(MakeTsplBitmapJob(
      [] {
        TMonoBitmap t;
        t.Width = 8;
        t.Height = 70000;
        t.RowBytes = 1;
        t.Bits.assign(70000, 0);
        return t;
      }(),
      50, 50));
}

TEST(Dither, ScaledHeightTruncates) {
  struct TCase {
    long long SourceWidth, SourceHeight, Width, Height;
  };
  const TCase cases[] = {
      {1000, 500, 576, 288}, {1000, 501, 576, 288}, {4032, 3024, 576, 432}, {2000, 2000, 576, 576},
      {3, 1, 2, 0},          {100, 7, 0, 0},        {100, 7, -5, 0},        {1, 65500, 576, 37728000},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ScaledHeight(c.SourceWidth, c.SourceHeight, c.Width), c.Height)
        << c.SourceWidth << "x" << c.SourceHeight;
}

TEST(Dither, ExtensionRules) {
  struct TCase {
    const char* Name;
    int Format;  // -1: rejected
  };
  const TCase cases[] = {
      {"photo.jpg", pfJpeg},      {"photo.JPG", pfJpeg},
      {"/a/b/Photo.JpG", pfJpeg}, {"logo.png", pfPng},
      {"LOGO.PNG", pfPng},        {"photo.jpeg", -1},
      {"photo.bmp", -1},          {"jpg", -1},
      {"photo.jpg.txt", -1},      {"", -1},
      {"photo.gif", -1},
  };
  for (const TCase& c : cases) {
    if (c.Format < 0) {
      try {
        PictureFormatOf(c.Name);
        ADD_FAILURE() << c.Name << " accepted";
      } catch (const EPrintError& e) {
        EXPECT_STREQ(e.what(), "Unsupported file format") << c.Name;
      }
    } else {
      EXPECT_EQ(PictureFormatOf(c.Name), c.Format) << c.Name;
    }
  }
  EXPECT_EQ(DitheredBitmapFileName("logo.png"), "logo_dithered.bmp");
  EXPECT_EQ(DitheredBitmapFileName("/pics/v1.2/photo.JPG"), "/pics/v1.2/photo_dithered.bmp");
}

TEST(Dither, DialogIntegers) {
  struct TCase {
    const char* Text;
    int Value;
  };
  const TCase good[] = {{"576", 576},
                        {"0", 0},
                        {"-8", -8},
                        {"+50", 50},
                        {"  72", 72},
                        {"2147483647", 2147483647},
                        {"-2147483648", -2147483647 - 1},
                        {"007", 7}};
  for (const TCase& c : good) EXPECT_EQ(DialogTextToInt(c.Text), c.Value) << c.Text;
  for (const char* bad : {"", " ", "abc", "57 6", "576 ", "5.5", "-", "+", "2147483648", "-2147483649",
                          "99999999999999999999", "0x10"}) {
    try {
      DialogTextToInt(bad);
      ADD_FAILURE() << "'" << bad << "' accepted";
    } catch (const EPrintError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid integer value");
    }
  }
}

}  // namespace
