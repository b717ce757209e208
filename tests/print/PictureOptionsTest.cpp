// The conversion's choices beyond the dialog's original one: area scaling,
// the other dithers, gamma, raster bands, the pixel limit and cancelling.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "BitmapPrintJob.h"
#include "DitheredBitmap.h"
#include "PictureFixtures.h"

namespace {

// Grey rows as RGB rows (R = G = B).
std::vector<std::vector<int>> AreaScale(int ASourceWidth, const std::vector<std::vector<uint8_t>>& ARgbRows,
                                        int AWidth, int AHeight, double AGamma = 0) {
  std::vector<std::vector<int>> out;
  TAreaScaler scaler(ASourceWidth, static_cast<int>(ARgbRows.size()), AWidth, AHeight, AGamma,
                     [&](int AY, const int* AGrey) {
                       EXPECT_EQ(AY, static_cast<int>(out.size()));
                       out.emplace_back(AGrey, AGrey + AWidth);
                     });
  for (const auto& row : ARgbRows) scaler.AddRow(row.data());
  return out;
}

std::vector<std::vector<uint8_t>> GreyRows(const std::vector<std::vector<int>>& AGrey) {
  std::vector<std::vector<uint8_t>> rows;
  for (const auto& g : AGrey) {
    std::vector<uint8_t> rgb;
    for (int v : g) rgb.insert(rgb.end(), 3, static_cast<uint8_t>(v));
    rows.push_back(rgb);
  }
  return rows;
}

TEST(AreaScaling, ExactMeansOnSmallTables) {
  struct TCase {
    const char* Name;
    std::vector<std::vector<int>> Source;
    int Width, Height;
    std::vector<std::vector<int>> Expected;
  };
  const TCase cases[] = {
      // 555 / 4 = 138.75.
      {"2 x 2 to 1", {{0, 100}, {200, 255}}, 1, 1, {{139}}},
      // Each dot covers one and a half columns: (2a + b) / 3, (b + 2c) / 3.
      {"3 to 2 columns", {{0, 90, 255}}, 2, 1, {{30, 200}}},
      // Five columns onto three: weights 3 + 2, 1 + 3 + 1, 2 + 3 (fifths):
      // 314 / 5 = 62.8, 7 / 5 = 1.4, 9 / 5 = 1.8.
      {"5 to 3 columns, fractional edges", {{100, 7, 0, 0, 3}}, 3, 1, {{63, 1, 2}}},
      // Upscaling: the middle dot straddles both columns, 127.5 rounds up.
      {"2 to 3 columns", {{0, 255}}, 3, 1, {{0, 128, 255}}},
      {"3 to 2 rows", {{0}, {90}, {255}}, 1, 2, {{30}, {200}}},
      // 3 x 3 to 2 x 2: weights 2 and 1 (thirds) on both axes.
      {"3 x 3 to 2 x 2", {{0, 0, 90}, {0, 0, 90}, {255, 255, 255}}, 2, 2, {{0, 60}, {170, 190}}},
      {"same size", {{1, 2, 3}, {4, 5, 6}}, 3, 2, {{1, 2, 3}, {4, 5, 6}}},
      // Rows of 2 onto 5: row 0 covers dots 0, 1 and half of 2.
      {"2 to 5 rows", {{0}, {200}}, 1, 5, {{0}, {0}, {100}, {200}, {200}}},
  };
  for (const TCase& c : cases) {
    const int sw = static_cast<int>(c.Source[0].size());
    EXPECT_EQ(AreaScale(sw, GreyRows(c.Source), c.Width, c.Height), c.Expected) << c.Name;
  }
}

TEST(AreaScaling, MeansColoursBeforeGreyAndUsesLinearLightWithAGamma) {
  // Red and blue average to (128, 0, 128), whose grey is round(52.48).
  EXPECT_EQ(AreaScale(2, {{255, 0, 0, 0, 0, 255}}, 1, 1), (std::vector<std::vector<int>>{{52}}));
  // With gamma 2, 128 is 0.252 in linear light; the mean with black is
  // 0.126 of full light: grey 32 (not 64 as without a gamma).
  EXPECT_EQ(AreaScale(2, GreyRows({{0, 128}}), 1, 1), (std::vector<std::vector<int>>{{64}}));
  EXPECT_EQ(AreaScale(2, GreyRows({{0, 128}}), 1, 1, 2.0), (std::vector<std::vector<int>>{{32}}));
  // Black and white stay black and white in linear light.
  EXPECT_EQ(AreaScale(2, GreyRows({{0, 0}, {255, 255}}), 2, 2, 2.2),
            (std::vector<std::vector<int>>{{0, 0}, {255, 255}}));
}

TMonoBitmap Dither(TDitherMethod AMethod, int AWidth, const std::vector<std::vector<int>>& ARows,
                   int AThreshold = 128) {
  TErrorDiffusion d(AWidth, static_cast<int>(ARows.size()), AMethod, AThreshold);
  for (const auto& row : ARows) d.AddRow(row.data());
  return d.Finish();
}

TEST(Dithers, FirstRowsMatchHandComputedTables) {
  struct TCase {
    const char* Name;
    TDitherMethod Method;
    int Threshold;
    int Width;
    std::vector<std::vector<int>> Grey;
    TPrintBytes Bits;
  };
  const std::vector<int> g128(8, 128), g64(8, 64);
  const TCase cases[] = {
      {"threshold 128", dmThreshold, 128, 5, {{127, 128, 129, 0, 255}}, {0x68}},
      {"threshold 200", dmThreshold, 200, 5, {{199, 200, 255, 128, 201}}, {0x68}},
      // Matrix rows 0 and 1 give the thresholds 2 130 34 162 10 138 42 170
      // and 194 66 226 98 202 74 234 106: grey 128 is a checkerboard.
      {"bayer 128", dmBayer, 128, 8, {g128, g128, g128, g128}, {0xAA, 0x55, 0xAA, 0x55}},
      // Grey 64: a quarter of the dots white (rows 2 and 3: 50 178 18 146
      // 58 186 26 154 and 242 114 210 82 250 122 218 90).
      {"bayer 64", dmBayer, 128, 8, {g64, g64, g64, g64}, {0xAA, 0x00, 0xAA, 0x00}},
      // Threshold 64 moves the matrix down by 64: grey 64 acts like 128.
      {"bayer 64, threshold 64", dmBayer, 64, 8, {g64, g64}, {0xAA, 0x55}},
      {"bayer 0 and 255", dmBayer, 128, 8, {std::vector<int>(8, 0), std::vector<int>(8, 255)}, {0x00, 0xFF}},
      // Atkinson: 100 -> black, 12 to the next two: 112 black (+14), 126
      // black (+15), 129 white.
      {"atkinson along a row", dmAtkinson, 128, 4, {{100, 100, 100, 100}}, {0x10}},
      // Two to the right: 120 + 12 (from x = 0) + 1 (from x = 1) = 133.
      {"atkinson two to the right", dmAtkinson, 128, 3, {{100, 0, 120}}, {0x20}},
      // Below left: 100 passes 12 to (0, 1), which turns 120 white; its
      // -123 / 8 = -15 clamps (1, 1) to 0.
      {"atkinson below left", dmAtkinson, 128, 2, {{0, 100}, {120, 0}}, {0x00, 0x80}},
      // Two rows down: 200 passes -55 / 8 = -6 (truncated) to both rows
      // below; 134 - 6 = 128 is white and passes -15 down; 143 - 6 - 15 =
      // 122 is black. (Floored division, 134 - 7, would make row 1 black.)
      {"atkinson two rows down", dmAtkinson, 128, 1, {{200}, {134}, {143}}, {0x80, 0x80, 0x00}},
      {"fs threshold 100", dmFloydSteinberg, 100, 2, {{100, 0}}, {0x80}},
      // Serpentine: row 1 runs right to left, so its 7/16 goes left.
      {"serpentine row 1", dmFloydSteinbergSerpentine, 128, 2, {{0, 0}, {100, 100}}, {0x00, 0x80}},
      {"fs row 1", dmFloydSteinberg, 128, 2, {{0, 0}, {100, 100}}, {0x00, 0x40}},
      // Row 1 right to left passes 3/16 below right, 5/16 below and 1/16
      // below left: row 2 becomes 127 142 159 and dithers to 0 1 1.
      {"serpentine below, mirrored",
       dmFloydSteinbergSerpentine,
       128,
       3,
       {{0, 0, 0}, {0, 0, 100}, {120, 120, 120}},
       {0x00, 0x00, 0x60}},
      // Left to right the same rows give row 2 as 120 138 151: 0 1 0.
      {"fs below", dmFloydSteinberg, 128, 3, {{0, 0, 0}, {0, 0, 100}, {120, 120, 120}}, {0x00, 0x00, 0x40}},
  };
  for (const TCase& c : cases) {
    const TMonoBitmap image = Dither(c.Method, c.Width, c.Grey, c.Threshold);
    EXPECT_EQ(image.Bits, c.Bits) << c.Name;
  }
}

TEST(Dithers, SerpentineIsTheMirrorOfItselfOnMirroredPictures) {
  // On a one-row-high picture only row 0 exists (left to right); on row 1 a
  // mirrored picture gives the mirrored bits when row 0 passes no error.
  std::mt19937 rng(5);
  const int w = 37;
  std::vector<int> row1(w);
  for (int& v : row1) v = static_cast<int>(rng() % 256);
  std::vector<int> mirrored(row1.rbegin(), row1.rend());
  const std::vector<int> black(w, 0);
  const TMonoBitmap serp = Dither(dmFloydSteinbergSerpentine, w, {black, row1});
  const TMonoBitmap fs = Dither(dmFloydSteinberg, w, {black, mirrored});
  for (int x = 0; x < w; ++x) EXPECT_EQ(serp.IsWhite(x, 1), fs.IsWhite(w - 1 - x, 1)) << x;
  // Row 0 and every even row run left to right like fs.
  const TMonoBitmap serp0 = Dither(dmFloydSteinbergSerpentine, w, {row1});
  EXPECT_EQ(serp0.Bits, Dither(dmFloydSteinberg, w, {row1}).Bits);
}

TEST(Dithers, OptionNamesAndRanges) {
  TPictureScale scale = psNearest;
  EXPECT_TRUE(PictureScaleFromName("area", scale));
  EXPECT_EQ(scale, psArea);
  EXPECT_FALSE(PictureScaleFromName("bilinear", scale));
  struct TName {
    const char* Name;
    TDitherMethod Method;
  };
  for (const TName& n :
       {TName{"fs", dmFloydSteinberg}, TName{"fs-serpentine", dmFloydSteinbergSerpentine},
        TName{"atkinson", dmAtkinson}, TName{"bayer", dmBayer}, TName{"threshold", dmThreshold}}) {
    TDitherMethod m = dmFloydSteinberg;
    EXPECT_TRUE(DitherMethodFromName(n.Name, m)) << n.Name;
    EXPECT_EQ(m, n.Method) << n.Name;
  }
  TDitherMethod m = dmFloydSteinberg;
  EXPECT_FALSE(DitherMethodFromName("FS", m));
  for (const auto& [threshold, gamma] :
       {std::pair{-1, 0.0}, std::pair{257, 0.0}, std::pair{128, -2.2}, std::pair{128, 11.0}}) {
    TPictureOptions o;
    o.Threshold = threshold;
    o.Gamma = gamma;
    EXPECT_THROW(CheckPictureOptions(o), EPrintError) << threshold << " " << gamma;
  }
  TPictureOptions ok;
  ok.Gamma = 2.2;
  EXPECT_NO_THROW(CheckPictureOptions(ok));
}

// The ESC/POS raster commands of a job: each GS v 0 header parsed, the rows
// collected in order.
struct TBands {
  std::vector<int> Heights;
  int RowBytes = -1;
  TPrintBytes Rows;
  bool Trailer = false;
};

TBands ParseBands(const TPrintBytes& AJob) {
  TBands b;
  size_t at = 0;
  while (at + 8 <= AJob.size() && AJob[at] == 0x1D && AJob[at + 1] == 0x76 && AJob[at + 2] == 0x30 &&
         AJob[at + 3] == 0x00) {
    const int r = AJob[at + 4] | (AJob[at + 5] << 8);
    const int h = AJob[at + 6] | (AJob[at + 7] << 8);
    EXPECT_TRUE(b.RowBytes < 0 || b.RowBytes == r);
    b.RowBytes = r;
    b.Heights.push_back(h);
    at += 8;
    const size_t n = static_cast<size_t>(r) * static_cast<size_t>(h);
    if (at + n > AJob.size()) break;
    b.Rows.insert(b.Rows.end(), AJob.begin() + static_cast<long>(at),
                  AJob.begin() + static_cast<long>(at + n));
    at += n;
  }
  b.Trailer = at + 2 == AJob.size() && AJob[at] == 0x0D && AJob[at + 1] == 0x0A;
  return b;
}

TMonoBitmap RandomImage(int AWidth, int AHeight, unsigned ASeed) {
  TMonoBitmap m;
  m.Width = AWidth;
  m.Height = AHeight;
  m.RowBytes = (AWidth + 7) / 8;
  std::mt19937 rng(ASeed);
  m.Bits.resize(static_cast<size_t>(m.RowBytes) * static_cast<size_t>(AHeight));
  for (uint8_t& b : m.Bits) b = static_cast<uint8_t>(rng());
  return m;
}

TEST(RasterBands, BandsReassembleToTheOneCommandRaster) {
  struct TCase {
    int Width, Height, BandRows;
    std::vector<int> Heights;
  };
  const TCase cases[] = {
      {576, 250, 100, {100, 100, 50}}, {575, 250, 125, {125, 125}}, {576, 250, 250, {250}},
      {576, 250, 1000, {250}},         {13, 5, 1, {1, 1, 1, 1, 1}}, {576, 250, 0, {250}},
  };
  for (const TCase& c : cases) {
    const TMonoBitmap image = RandomImage(c.Width, c.Height, static_cast<unsigned>(c.BandRows + c.Width));
    const TPrintBytes one = MakeEscPosRasterJob(image);
    const TPrintBytes banded = MakeEscPosRasterJob(image, c.BandRows);
    const TBands single = ParseBands(one);
    const TBands bands = ParseBands(banded);
    EXPECT_EQ(bands.Heights, c.Heights) << c.BandRows;
    EXPECT_EQ(bands.RowBytes, (c.Width + 7) / 8) << c.BandRows;
    EXPECT_TRUE(bands.Trailer) << c.BandRows;
    EXPECT_EQ(bands.Rows, single.Rows) << c.BandRows;
    EXPECT_EQ(banded.size(), one.size() + 8 * (c.Heights.size() - 1)) << c.BandRows;
    if (c.Heights.size() == 1) {
      EXPECT_EQ(banded, one) << c.BandRows;
    }
  }
  // Bands lift the 16-bit height limit of a single command.
  const TMonoBitmap tall = RandomImage(8, 70000, 3);
  EXPECT_THROW(MakeEscPosRasterJob(tall), EPrintError);
  const TBands split = ParseBands(MakeEscPosRasterJob(tall, 30000));
  EXPECT_EQ(split.Heights, (std::vector<int>{30000, 30000, 10000}));
  EXPECT_TRUE(split.Trailer);
  EXPECT_EQ(split.Rows.size(), 70000u);
  for (int bad : {-1, 65536}) EXPECT_THROW(MakeEscPosRasterJob(tall, bad), EPrintError) << bad;
}

TEST(RasterBands, PrintTaskUsesBandsForEscPosOnly) {
  TScratchDir dir;
  const std::string pic = dir.File("pic.png");
  WritePng(pic, TestPattern(64, 40), pkRgb);
  TBitmapPrintSettings s;
  s.PaperWidth = "64";
  s.DumpDir = dir.File("dump");
  const TBitmapPrintResult one = MakeBitmapPrintTask(pic, s);
  s.BandRows = 16;
  const TBitmapPrintResult banded = MakeBitmapPrintTask(pic, s);
  EXPECT_EQ(ParseBands(banded.Job).Heights, (std::vector<int>{16, 16, 8}));
  EXPECT_EQ(ParseBands(banded.Job).Rows, ParseBands(one.Job).Rows);
  EXPECT_EQ(ReadFileBytes(dir.File("dump/a.bin")), banded.Job);
  s.EscPos = false;
  const TBitmapPrintResult label = MakeBitmapPrintTask(pic, s);
  EXPECT_EQ(label.Job, MakeTsplBitmapJob(one.Image, 50, 50));
}

// Columns of the image that are black from top to bottom.
int SolidBlackColumns(const TMonoBitmap& AImage) {
  int solid = 0;
  for (int x = 0; x < AImage.Width; ++x) {
    bool allBlack = true;
    for (int y = 0; y < AImage.Height && allBlack; ++y) allBlack = !AImage.IsWhite(x, y);
    solid += allBlack ? 1 : 0;
  }
  return solid;
}

double BlackShare(const TMonoBitmap& AImage) {
  long long black = 0;
  for (int y = 0; y < AImage.Height; ++y)
    for (int x = 0; x < AImage.Width; ++x) black += AImage.IsWhite(x, y) ? 0 : 1;
  return static_cast<double>(black) / (static_cast<double>(AImage.Width) * AImage.Height);
}

TEST(AreaScaling, StripePictureHasNoMoire) {
  // 4000 x 3000, one-pixel black columns every four pixels (a quarter
  // black), to 576 dots: nearest neighbour hits the stripes in whole
  // columns; the mean gives an even grey of about 75 %.
  TScratchDir dir;
  const std::string file = dir.File("stripes.png");
  WriteStripePng(file, 4000, 3000, 4);
  TPictureOptions nearest;
  const TMonoBitmap aliased = ConvertToDitheredBitmap(file, 576, nearest);
  EXPECT_EQ(aliased.Height, 432);
  EXPECT_EQ(SolidBlackColumns(aliased), 144);
  TPictureOptions area;
  area.Scale = psArea;
  for (TDitherMethod m : {dmFloydSteinberg, dmFloydSteinbergSerpentine, dmAtkinson, dmBayer}) {
    area.Dither = m;
    const TMonoBitmap smooth = ConvertToDitheredBitmap(file, 576, area);
    ASSERT_EQ(smooth.Height, 432);
    EXPECT_EQ(SolidBlackColumns(smooth), 0) << m;
    // Atkinson drops a quarter of every error by design, which lightens
    // the mid-tones; the others keep the share of black.
    if (m != dmAtkinson) {
      EXPECT_NEAR(BlackShare(smooth), 0.25, 0.02) << m;
    }
  }
}

TEST(AreaScaling, JpegIsShrunkOnLoadToAtLeastTwiceTheWidth) {
  TScratchDir dir;
  const std::string file = dir.File("big.jpg");
  // Left half black, right half white.
  TRgbaPicture pic(1600, 800, 255);
  for (int y = 0; y < 800; ++y)
    for (int x = 0; x < 800; ++x) pic.Set(x, y, 0, 0, 0);
  WriteJpeg(file, pic, jkRgb);
  const std::vector<uint8_t> bytes = ReadFileBytes(file);
  struct TCase {
    int MinWidth, Width, Height;
  };
  // num / 8 with the smallest num for which num * 1600 >= 8 * MinWidth.
  for (const TCase& c : {TCase{0, 1600, 800}, TCase{200, 200, 100}, TCase{201, 400, 200},
                         TCase{700, 800, 400}, TCase{1500, 1600, 800}}) {
    TPictureInput in;
    in.Data = bytes.data();
    in.Size = bytes.size();
    in.MinScaledWidth = c.MinWidth;
    const auto decoder = OpenPictureDecoder(pfJpeg, in);
    EXPECT_EQ(decoder->Width(), c.Width) << c.MinWidth;
    EXPECT_EQ(decoder->Height(), c.Height) << c.MinWidth;
    EXPECT_EQ(decoder->SourceWidth(), 1600);
    EXPECT_EQ(decoder->SourceHeight(), 800);
  }
  // Area scaling to 100 dots decodes at 200 x 100, and the halves stay put.
  TPictureOptions area;
  area.Scale = psArea;
  area.Dither = dmThreshold;
  const TMonoBitmap image = ConvertToDitheredBitmap(file, 100, area);
  ASSERT_EQ(image.Height, 50);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x) ASSERT_EQ(image.IsWhite(x, y), x >= 50) << x << "," << y;
}

TEST(PixelLimit, OversizedHeadersAreRefusedBeforeDecoding) {
  TScratchDir dir;
  struct TCase {
    const char* File;
    std::string Message;
  };
  WriteOversizedPng(dir.File("huge.png"), 1000000, 1000000);
  WriteOversizedPng(dir.File("wide.png"), 1000000, 201);
  WriteOversizedJpeg(dir.File("huge.jpg"), 65000, 65000);
  const TCase cases[] = {
      {"huge.png", "Picture too large: 1000000 x 1000000 pixels (the limit is 200000000 pixels)"},
      {"wide.png", "Picture too large: 1000000 x 201 pixels (the limit is 200000000 pixels)"},
      {"huge.jpg", "Picture too large: 65000 x 65000 pixels (the limit is 200000000 pixels)"},
  };
  for (const TCase& c : cases) {
    const std::string file = dir.File(c.File);
    for (TPictureScale scale : {psNearest, psArea}) {
      TPictureOptions o;
      o.Scale = scale;
      try {
        ConvertToDitheredBitmap(file, 576, o);
        ADD_FAILURE() << c.File << " accepted";
      } catch (const EPrintError& e) {
        EXPECT_EQ(e.what(), c.Message) << c.File;
      }
      EXPECT_FALSE(FileExists(DitheredBitmapFileName(file))) << c.File;
    }
  }
  // Exactly at the limit the header passes (and the missing data fails).
  WriteOversizedPng(dir.File("edge.png"), 20000, 10000);
  try {
    ConvertToDitheredBitmap(dir.File("edge.png"), 576);
    ADD_FAILURE() << "truncated picture accepted";
  } catch (const EPrintError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Picture too large", 0), std::string::npos) << e.what();
  }
}

TEST(Progress, ReportsEveryRowAndStopsWhenTold) {
  TScratchDir dir;
  const std::string png = dir.File("p.png"), jpg = dir.File("p.jpg");
  WritePng(png, TestPattern(120, 90), pkRgb, true);
  WriteJpeg(jpg, TestPattern(120, 90), jkRgb);
  for (const std::string& file : {png, jpg}) {
    for (TPictureScale scale : {psNearest, psArea}) {
      TPictureOptions o;
      o.Scale = scale;
      long long last = 0, total = 0, calls = 0;
      bool ordered = true;
      o.Progress = [&](long long ADone, long long ATotal) {
        ordered = ordered && ADone == last + 1 && (total == 0 || ATotal == total);
        last = ADone;
        total = ATotal;
        ++calls;
        return true;
      };
      const TMonoBitmap image = ConvertToDitheredBitmap(file, 60, o);
      EXPECT_EQ(image.Height, 45);
      EXPECT_TRUE(ordered) << file;
      EXPECT_GT(calls, 0) << file;
      EXPECT_EQ(last, total) << file;
      std::filesystem::remove(DitheredBitmapFileName(file));

      // Stopped halfway: nothing is written.
      long long seen = 0;
      o.Progress = [&](long long ADone, long long ATotal) {
        seen = ADone;
        return ADone < ATotal / 2;
      };
      try {
        ConvertToDitheredBitmap(file, 60, o);
        ADD_FAILURE() << file << ": not stopped";
      } catch (const EPrintCancelled& e) {
        EXPECT_STREQ(e.what(), "Cancelled");
      }
      EXPECT_EQ(seen, total / 2) << file;
      EXPECT_FALSE(FileExists(DitheredBitmapFileName(file))) << file;
    }
  }
}

}  // namespace
