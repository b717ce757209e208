#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BitmapPrintJob.h"
#include "PictureFixtures.h"

namespace {

class PictureFiles : public ::testing::Test {
 protected:
  TScratchDir FDir;

  TBitmapPrintSettings Settings(const std::string& AWidth, bool AEscPos = true) const {
    TBitmapPrintSettings s;
    s.PaperWidth = AWidth;
    s.EscPos = AEscPos;
    s.DumpDir = FDir.File("dump");
    return s;
  }
};

// A picture with at most 4 x 4 x 2 colours (palette-friendly), some fully
// transparent pixels, hard edges and flat areas.
TRgbaPicture FewColours(int AWidth, int AHeight, bool AGreyOnly, bool ATransparent) {
  TRgbaPicture pic(AWidth, AHeight);
  const uint8_t levels[4] = {0, 90, 170, 255};
  for (int y = 0; y < AHeight; ++y)
    for (int x = 0; x < AWidth; ++x) {
      const uint8_t r = levels[(x / 3 + y) % 4];
      const uint8_t g = AGreyOnly ? r : levels[(y / 2) % 4];
      const uint8_t b = AGreyOnly ? r : levels[(x + y / 3) % 4];
      const bool clear = ATransparent && (x * 7 + y * 3) % 11 == 0;
      pic.Set(x, y, r, g, b, clear ? 0 : 255);
    }
  return pic;
}

// The picture as an opaque RGB picture, fully transparent pixels made white.
TRgbaPicture OverWhite(TRgbaPicture APicture) {
  for (int y = 0; y < APicture.Height; ++y)
    for (int x = 0; x < APicture.Width; ++x)
      if (APicture.At(x, y)[3] == 0) APicture.Set(x, y, 255, 255, 255, 255);
  return APicture;
}

TMonoBitmap Dither(const std::string& AFile, int AWidth) { return ConvertToDitheredBitmap(AFile, AWidth); }

void ExpectSameImage(const TMonoBitmap& A, const TMonoBitmap& B, const std::string& AWhat) {
  EXPECT_EQ(A.Width, B.Width) << AWhat;
  EXPECT_EQ(A.Height, B.Height) << AWhat;
  EXPECT_EQ(A.Bits, B.Bits) << AWhat;
}

void ExpectBmpMatches(const std::string& ABmp, const TMonoBitmap& AImage) {
  int w = 0, h = 0;
  const std::vector<uint8_t> grey = ImageMagickGreyPixels(ABmp, &w, &h);
  ASSERT_EQ(w, AImage.Width);
  ASSERT_EQ(h, AImage.Height);
  ASSERT_EQ(grey.size(), static_cast<size_t>(w) * static_cast<size_t>(h));
  int mismatches = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t expected = AImage.IsWhite(x, y) ? 255 : 0;
      if (grey[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] != expected)
        ++mismatches;
    }
  EXPECT_EQ(mismatches, 0) << ABmp;
}

TEST_F(PictureFiles, PngKindsGiveTheSamePixels) {
  // Every PNG flavour of the same pixels must dither alike: palette with
  // tRNS, grey, grey + alpha, 16 bits, interlaced; downscaled, unscaled and
  // upscaled.
  const TRgbaPicture colour = FewColours(41, 29, false, true);
  const TRgbaPicture grey = FewColours(41, 29, true, true);
  struct TCase {
    const char* Name;
    TRgbaPicture Picture;
    TPngKind Kind;
    bool Interlaced;
    bool Grey;
  };
  const TCase cases[] = {
      {"rgba", colour, pkRgba, false, false},
      {"rgba interlaced", colour, pkRgba, true, false},
      {"palette + tRNS", colour, pkPalette, false, false},
      {"palette + tRNS interlaced", colour, pkPalette, true, false},
      {"16-bit rgb interlaced", OverWhite(colour), pkRgb16, true, false},
      {"grey", OverWhite(grey), pkGrey, false, true},
      {"grey + alpha", grey, pkGreyAlpha, false, true},
      {"grey + alpha interlaced", grey, pkGreyAlpha, true, true},
  };
  const std::string refColour = FDir.File("ref-colour.png"), refGrey = FDir.File("ref-grey.png");
  WritePng(refColour, OverWhite(colour), pkRgb);
  WritePng(refGrey, OverWhite(grey), pkRgb);

  for (int width : {17, 41, 100}) {
    const TMonoBitmap wantColour = Dither(refColour, width);
    const TMonoBitmap wantGrey = Dither(refGrey, width);
    ASSERT_EQ(wantColour.Height, 29 * width / 41);
    for (const TCase& c : cases) {
      WritePng(FDir.File("case.png"), c.Picture, c.Kind, c.Interlaced);
      const TMonoBitmap got = Dither(FDir.File("case.png"), width);
      ExpectSameImage(got, c.Grey ? wantGrey : wantColour,
                      std::string(c.Name) + " at " + std::to_string(width));
      if (width == 100) ExpectBmpMatches(FDir.File("case_dithered.bmp"), got);
    }
  }
  // The transparent pixels matter: drawn over black they would differ.
  TRgbaPicture overBlack = colour;
  for (size_t i = 0; i < overBlack.Pixels.size(); i += 4)
    if (overBlack.Pixels[i + 3] == 0)
      overBlack.Pixels[i] = overBlack.Pixels[i + 1] = overBlack.Pixels[i + 2] = 0;
  TRgbaPicture opaqueBlack = overBlack;
  for (size_t i = 3; i < opaqueBlack.Pixels.size(); i += 4) opaqueBlack.Pixels[i] = 255;
  WritePng(FDir.File("black.png"), opaqueBlack, pkRgb);
  WritePng(FDir.File("black-alpha.png"), overBlack, pkRgba);
  EXPECT_NE(Dither(FDir.File("black.png"), 41).Bits, Dither(FDir.File("black-alpha.png"), 41).Bits);
}

TEST_F(PictureFiles, NearestNeighbourDropsAndRepeatsPixels) {
  // Pure black and white: no error to diffuse, so the bits show which source
  // pixel each dot took (the one under the dot's centre).
  TRgbaPicture pic(3, 2, 0);
  pic.Set(1, 0, 255, 255, 255);
  WritePng(FDir.File("up.png"), pic, pkRgb);
  const TMonoBitmap up = Dither(FDir.File("up.png"), 7);
  ASSERT_EQ(up.Height, 4);
  EXPECT_EQ(up.Bits, (std::vector<uint8_t>{0x38, 0x38, 0x00, 0x00}));

  TRgbaPicture stripes(8, 2, 255);
  for (int x = 1; x < 8; x += 2) stripes.Set(x, 1, 0, 0, 0);
  WritePng(FDir.File("down.png"), stripes, pkGrey);
  const TMonoBitmap down = Dither(FDir.File("down.png"), 4);
  ASSERT_EQ(down.Height, 1);
  EXPECT_EQ(down.Bits, (std::vector<uint8_t>{0x00}));  // row 1, odd columns

  // 1000 x 500 and 1000 x 501 both give 288 rows at 576 dots.
  for (int h : {500, 501}) {
    WritePng(FDir.File("tall.png"), TRgbaPicture(1000, h, 255), pkGrey);
    EXPECT_EQ(Dither(FDir.File("tall.png"), 576).Height, 288) << h;
  }
}

TEST_F(PictureFiles, JpegsDecodeLikeImageMagick) {
  // libjpeg-turbo behind ImageMagick decodes the same pixels; unscaled,
  // our dithering of its pixels must equal our conversion of the file.
  const TRgbaPicture pic = TestPattern(45, 31);
  for (TJpegKind kind : {jkRgb, jkGrey, jkProgressive}) {
    const std::string file = FDir.File("photo.JPG");
    WriteJpeg(file, pic, kind);
    int status = 0;
    const std::string rgb = RunCommand("convert '" + file + "' -depth 8 rgb:-", &status);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(rgb.size(), 45u * 31 * 3);
    TErrorDiffusion d(45, 31);
    std::vector<int> row(45);
    for (int y = 0; y < 31; ++y) {
      for (int x = 0; x < 45; ++x) {
        const auto* p = reinterpret_cast<const uint8_t*>(&rgb[(static_cast<size_t>(y) * 45 + x) * 3]);
        row[static_cast<size_t>(x)] = GreyValue(p[0], p[1], p[2]);
      }
      d.AddRow(row.data());
    }
    ExpectSameImage(Dither(file, 45), d.Finish(), "jpeg kind " + std::to_string(kind));
  }
}

TEST_F(PictureFiles, CmykJpegInks) {
  // Left half without ink, right half full black ink.
  TRgbaPicture pic(32, 16, 255);
  for (int y = 0; y < 16; ++y)
    for (int x = 16; x < 32; ++x) pic.Set(x, y, 0, 0, 0);
  const std::string file = FDir.File("cmyk.jpg");
  WriteJpeg(file, pic, jkCmykAdobe);
  const TMonoBitmap image = Dither(file, 32);
  ASSERT_EQ(image.Height, 16);
  for (int y = 0; y < 16; ++y) EXPECT_EQ(image.Row(y)[0] << 8 | image.Row(y)[1] << 0, 0xFFFF) << y;
  for (int y = 0; y < 16; ++y) EXPECT_EQ(image.Row(y)[2] | image.Row(y)[3], 0x00) << y;
}

TEST_F(PictureFiles, WholeJobWithDumpsAndBmp) {
  struct TCase {
    std::string File;
    bool Jpeg;
    bool EscPos;
    std::string Width;
  };
  const TCase cases[] = {
      {"photo.jpg", true, true, "576"},
      {"logo.png", false, true, "575"},
      {"label.PNG", false, false, "203"},
  };
  for (const TCase& c : cases) {
    const std::string file = FDir.File(c.File);
    const TRgbaPicture pic = TestPattern(300, 200);
    if (c.Jpeg)
      WriteJpeg(file, pic, jkRgb);
    else
      WritePng(file, FewColours(300, 200, false, true), pkRgba);

    TBitmapPrintSettings s = Settings(c.Width, c.EscPos);
    s.LabelWidth = "40";
    s.LabelHeight = "30";
    const TBitmapPrintResult r = MakeBitmapPrintTask(file, s);
    const int w = std::stoi(c.Width);
    ASSERT_EQ(r.Image.Width, w);
    ASSERT_EQ(r.Image.Height, 200 * w / 300);
    const int rowBytes = (w + 7) / 8;

    // The BMP beside the picture, read back by ImageMagick.
    EXPECT_EQ(r.BitmapFileName, DitheredBitmapFileName(file));
    ExpectBmpMatches(r.BitmapFileName, r.Image);

    // The job, a.bin, the envelope and base64.txt agree byte for byte.
    EXPECT_EQ(ReadFileBytes(r.JobFileName), r.Job);
    EXPECT_EQ(r.JobFileName, s.DumpDir + "/a.bin");
    const std::vector<uint8_t> saved = ReadFileBytes(r.Base64FileName);
    EXPECT_EQ(std::string(saved.begin(), saved.end()), r.base64text);
    const std::string b = EncodePrintBase64(r.Job);
    EXPECT_EQ(r.base64text, MakePrintTaskEnvelope(b));

    const std::string h = std::to_string(r.Image.Height);
    if (c.EscPos) {
      ASSERT_EQ(r.Job.size(), 8 + static_cast<size_t>(rowBytes) * r.Image.Height + 2);
      const TPrintBytes header = {0x1D,
                                  0x76,
                                  0x30,
                                  0x00,
                                  static_cast<uint8_t>(rowBytes),
                                  0x00,
                                  static_cast<uint8_t>(r.Image.Height & 0xFF),
                                  static_cast<uint8_t>(r.Image.Height >> 8)};
      EXPECT_EQ(TPrintBytes(r.Job.begin(), r.Job.begin() + 8), header);
      EXPECT_EQ(TPrintBytes(r.Job.end() - 2, r.Job.end()), (TPrintBytes{0x0D, 0x0A}));
      // Dot bits are the inverted white bits.
      const uint8_t firstRowFirstByte = r.Image.Row(0)[0];
      EXPECT_EQ(r.Job[8], static_cast<uint8_t>(~firstRowFirstByte));
    } else {
      const std::string head =
          "SIZE 40 mm,30 mm\n\rCLS\n\rBITMAP 0,0," + std::to_string(rowBytes) + "," + h + ",1,";
      ASSERT_GT(r.Job.size(), head.size());
      EXPECT_EQ(std::string(r.Job.begin(), r.Job.begin() + static_cast<long>(head.size())), head);
      EXPECT_EQ(TPrintBytes(r.Job.begin() + static_cast<long>(head.size()), r.Job.end() - 11), r.Image.Bits);
    }
  }
}

TEST_F(PictureFiles, FailuresStopWithTheirMessage) {
  const std::string good = FDir.File("good.png");
  WritePng(good, TestPattern(20, 10), pkRgb);
  const std::vector<uint8_t> png = ReadFileBytes(good);
  WriteJpeg(FDir.File("good.jpg"), TestPattern(40, 40), jkRgb);
  const std::vector<uint8_t> jpg = ReadFileBytes(FDir.File("good.jpg"));
  WriteFileBytes(FDir.File("cut.png"),
                 std::vector<uint8_t>(png.begin(), png.begin() + static_cast<long>(png.size() / 2)));
  WriteFileBytes(FDir.File("cut.jpg"),
                 std::vector<uint8_t>(jpg.begin(), jpg.begin() + static_cast<long>(jpg.size() / 2)));
  WriteFileBytes(FDir.File("text.jpg"), {'h', 'e', 'l', 'l', 'o'});
  WriteFileBytes(FDir.File("text.png"), {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
  WriteFileBytes(FDir.File("empty.png"), {});
  WriteFileBytes(FDir.File("photo.jpeg"), jpg);
  WriteFileBytes(FDir.File("photo.bmp"), jpg);

  struct TCase {
    std::string File;
    std::string Width;
    std::string Message;  // empty: the decoder's own (non-empty) message
  };
  const TCase cases[] = {
      {"good.png", "abc", "'abc' is not a valid integer value"},
      {"good.png", "", "'' is not a valid integer value"},
      {"good.png", "0", "Scan line index out of range"},
      {"good.png", "-5", "Scan line index out of range"},
      {"good.png", "1", "Scan line index out of range"},  // 10 * 1 / 20 = 0 rows
      {"photo.jpeg", "576", "Unsupported file format"},
      {"photo.bmp", "576", "Unsupported file format"},
      {"cut.png", "576", ""},
      {"cut.jpg", "576", "Premature end of JPEG file"},
      {"text.jpg", "576", ""},
      {"text.png", "576", "Not a PNG file"},
      {"empty.png", "576", ""},
      {"missing.png", "576",
       "Cannot open file \"" + FDir.File("missing.png") + "\". No such file or directory"},
  };
  for (const TCase& c : cases) {
    const std::string file = FDir.File(c.File);
    try {
      MakeBitmapPrintTask(file, Settings(c.Width));
      ADD_FAILURE() << c.File << " at " << c.Width << " succeeded";
    } catch (const EPrintError& e) {
      if (c.Message.empty())
        EXPECT_GT(std::string(e.what()).size(), 5u) << c.File;
      else
        EXPECT_EQ(e.what(), c.Message) << c.File << " at '" << c.Width << "'";
    }
    EXPECT_FALSE(FileExists(DitheredBitmapFileName(file))) << c.File;
    EXPECT_FALSE(FileExists(FDir.File("dump/a.bin"))) << c.File;
  }
}

TEST_F(PictureFiles, MemoryInputAndPixelLimit) {
  const std::string png = FDir.File("m.png"), jpg = FDir.File("m.jpg");
  WritePng(png, TestPattern(20, 10), pkRgba);
  WriteJpeg(jpg, TestPattern(20, 10), jkRgb);
  for (const std::string& file : {png, jpg}) {
    const std::vector<uint8_t> bytes = ReadFileBytes(file);
    TPictureInput input;
    input.Data = bytes.data();
    input.Size = bytes.size();
    const TPictureFormat format = PictureFormatOf(file);
    ExpectSameImage(DitherPicture(format, input, 13), Dither(file, 13), file);
    input.MaxPixels = 200;
    EXPECT_EQ(DitherPicture(format, input, 13).Height, 6);
    input.MaxPixels = 199;
    try {
      DitherPicture(format, input, 13);
      ADD_FAILURE() << file << ": limit ignored";
    } catch (const EPrintError& e) {
      EXPECT_STREQ(e.what(), "Picture too large: 20 x 10 pixels (the limit is 199 pixels)");
    }
  }
}

TEST_F(PictureFiles, LaterFailuresKeepEarlierFiles) {
  const std::string pic = FDir.File("pic.png");
  WritePng(pic, TestPattern(64, 32), pkRgb);

  // The label size is read only after the BMP has been saved.
  TBitmapPrintSettings s = Settings("64", false);
  s.LabelHeight = "5O";
  try {
    MakeBitmapPrintTask(pic, s);
    ADD_FAILURE() << "bad label height accepted";
  } catch (const EPrintError& e) {
    EXPECT_STREQ(e.what(), "'5O' is not a valid integer value");
  }
  EXPECT_TRUE(FileExists(DitheredBitmapFileName(pic)));
  EXPECT_FALSE(FileExists(s.DumpDir + "/a.bin"));

  // A dump folder that cannot exist (a file is in the way).
  WriteFileBytes(FDir.File("blocker"), {'x'});
  s = Settings("64");
  s.DumpDir = FDir.File("blocker") + "/dump";
  try {
    MakeBitmapPrintTask(pic, s);
    ADD_FAILURE() << "dump into a file accepted";
  } catch (const EPrintError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + s.DumpDir + "/a.bin\". Not a directory");
  }

  // base64.txt cannot be created: a.bin stays, complete.
  s = Settings("64");
  std::filesystem::create_directories(s.DumpDir + "/base64.txt");
  try {
    MakeBitmapPrintTask(pic, s);
    ADD_FAILURE() << "base64.txt over a folder accepted";
  } catch (const EPrintError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + s.DumpDir + "/base64.txt\". Is a directory");
  }
  const std::vector<uint8_t> bin = ReadFileBytes(s.DumpDir + "/a.bin");
  EXPECT_EQ(bin.size(), 8u + 8 * 32 + 2);

  // The BMP beside the picture cannot be created: nothing else is written.
  const std::string blocked = FDir.File("blocked.png");
  WritePng(blocked, TestPattern(64, 32), pkRgb);
  std::filesystem::create_directories(DitheredBitmapFileName(blocked));
  s = Settings("64");
  s.DumpDir = FDir.File("dump2");
  try {
    MakeBitmapPrintTask(blocked, s);
    ADD_FAILURE() << "BMP over a folder accepted";
  } catch (const EPrintError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"" + DitheredBitmapFileName(blocked) + "\". Is a directory");
  }
  EXPECT_FALSE(FileExists(s.DumpDir + "/a.bin"));
}

TEST_F(PictureFiles, DumpFilesAreNotWrittenThroughLinks) {
  // Someone else's a.bin in the shared folder, linked to one of our files:
  // the job must not land there.
  const std::string pic = FDir.File("pic.png");
  WritePng(pic, TestPattern(16, 16), pkRgb);
  const std::string victim = FDir.File("victim.txt");
  WriteFileBytes(victim, {'k', 'e', 'e', 'p'});
  for (const char* name : {kJobDumpName, kBase64DumpName}) {
    TBitmapPrintSettings s = Settings("16");
    s.DumpDir = FDir.File(std::string("links-") + name);
    std::filesystem::create_directories(s.DumpDir);
    std::filesystem::create_symlink(victim, s.DumpDir + "/" + name);
    try {
      MakeBitmapPrintTask(pic, s);
      ADD_FAILURE() << name << " written through a link";
    } catch (const EPrintError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Cannot create file \"" + s.DumpDir + "/" + name + "\". Too many levels of symbolic links");
    }
    EXPECT_EQ(ReadFileBytes(victim), (std::vector<uint8_t>{'k', 'e', 'e', 'p'})) << name;
    EXPECT_TRUE(std::filesystem::is_symlink(s.DumpDir + "/" + name)) << name;
  }
}

TEST_F(PictureFiles, DefaultDumpFolderIsUnderTmpdir) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", FDir.Path().c_str(), 1);
  EXPECT_EQ(DefaultDumpDir(), FDir.Path() + "/tessiva");
  const std::string pic = FDir.File("pic.png");
  WritePng(pic, TestPattern(16, 16), pkRgb);
  TBitmapPrintSettings s;
  s.PaperWidth = "16";
  const TBitmapPrintResult r = MakeBitmapPrintTask(pic, s);
  EXPECT_EQ(r.JobFileName, FDir.Path() + "/tessiva/a.bin");
  EXPECT_TRUE(FileExists(FDir.Path() + "/tessiva/base64.txt"));
  // Made for this user alone.
  EXPECT_EQ(std::filesystem::status(FDir.Path() + "/tessiva").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(DefaultDumpDir(), "/tmp/tessiva");
  if (old)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

}  // namespace
