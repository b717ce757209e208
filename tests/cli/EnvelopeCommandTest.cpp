// Runs the real tessiva-cli envelope and checks the bytes it writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BitmapPrintJob.h"
#include "PictureFixtures.h"
#include "PrintPresets.h"

namespace {

struct TRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

TRun RunEnvelope(const TScratchDir& ADir, const std::string& AArgs) {
  TRun r;
  const std::string errFile = ADir.File("stderr.txt");
  r.Out =
      RunCommand(std::string("'") + TESSIVA_CLI + "' envelope " + AArgs + " 2>'" + errFile + "'", &r.Status);
  const std::vector<uint8_t> err = ReadFileBytes(errFile);
  r.Err.assign(err.begin(), err.end());
  return r;
}

std::string TargetFile(const std::string& AEnvelope) {
  const std::string key = "\"target_file\":\"";
  const size_t from = AEnvelope.find(key) + key.size();
  return AEnvelope.substr(from, AEnvelope.find('"', from) - from);
}

TEST(EnvelopeCommand, PresetsPrintTheMemoText) {
  TScratchDir dir;
  const TRun buzzer = RunEnvelope(dir, "--preset buzzer");
  EXPECT_EQ(buzzer.Status, 0) << buzzer.Err;
  const std::string expected =
      "{\r\n    \"dvsno\":\"xxx\",\r\n    \"kind\":\"PRINT_TASK\",\r\n    \"count\":\"1\",\r\n    "
      "\"list\":[\r\n"
      "        {\r\n            \"task_id\":\"C147956F-C688-40CB-B0C5-A68E9677AA41\",\r\n"
      "            \"usbidx\":\"0\",\r\n            \"file_size\":\"12\",\r\n"
      "            \"target_file\":\"G0IDAQAAAAA=\"\r\n            }\r\n    ]\r\n}\r\n";
  EXPECT_EQ(buzzer.Out, expected);
  EXPECT_EQ(buzzer.Err, "");

  struct TCase {
    const char* Name;
    std::string Envelope;
  };
  const TCase cases[] = {
      {"cutter", CutterEnvelope()},         {"receipt-mode", PrintModeEnvelope(0)},
      {"label-mode", PrintModeEnvelope(1)}, {"gbk", CharsetEnvelope(0)},
      {"utf8", CharsetEnvelope(1)},         {"receipt-sample", SampleEnvelope(0)},
      {"label-sample", SampleEnvelope(1)},
  };
  for (const TCase& c : cases) {
    const TRun r = RunEnvelope(dir, std::string("--preset ") + c.Name);
    EXPECT_EQ(r.Status, 0) << c.Name << ": " << r.Err;
    EXPECT_EQ(r.Out, c.Envelope) << c.Name;
  }
}

TEST(EnvelopeCommand, ImageJobAndDumps) {
  TScratchDir dir;
  const std::string photo = dir.File("photo.jpg");
  WriteJpeg(photo, TestPattern(1000, 500), jkRgb);
  const TRun r = RunEnvelope(dir, "--image '" + photo + "' --dump-dir '" + dir.File("dump") + "'");
  ASSERT_EQ(r.Status, 0) << r.Err;
  const TPrintBytes job = DecodePrintBase64(TargetFile(r.Out));
  ASSERT_EQ(job.size(), 8u + 72 * 288 + 2);
  EXPECT_EQ(TPrintBytes(job.begin(), job.begin() + 8),
            (TPrintBytes{0x1D, 0x76, 0x30, 0x00, 0x48, 0x00, 0x20, 0x01}));
  EXPECT_EQ(ReadFileBytes(dir.File("dump/a.bin")), job);
  const std::vector<uint8_t> saved = ReadFileBytes(dir.File("dump/base64.txt"));
  EXPECT_EQ(std::string(saved.begin(), saved.end()), r.Out);
  EXPECT_TRUE(FileExists(dir.File("photo_dithered.bmp")));

  const TRun label = RunEnvelope(dir, "--image '" + photo +
                                          "' --width 100 --tspl --label-width 40 --label-height 30 "
                                          "--dump-dir '" +
                                          dir.File("dump") + "'");
  ASSERT_EQ(label.Status, 0) << label.Err;
  const TPrintBytes tspl = DecodePrintBase64(TargetFile(label.Out));
  const std::string head = "SIZE 40 mm,30 mm\n\rCLS\n\rBITMAP 0,0,13,50,1,";
  ASSERT_GT(tspl.size(), head.size());
  EXPECT_EQ(std::string(tspl.begin(), tspl.begin() + static_cast<long>(head.size())), head);
}

// The GS v 0 commands of an ESC/POS job: heights, and the rows put together.
void SplitBands(const TPrintBytes& AJob, std::vector<int>& AHeights, TPrintBytes& ARows) {
  size_t at = 0;
  while (at + 8 <= AJob.size() && AJob[at] == 0x1D && AJob[at + 1] == 0x76 && AJob[at + 2] == 0x30) {
    const size_t r = AJob[at + 4] | (AJob[at + 5] << 8), h = AJob[at + 6] | (AJob[at + 7] << 8);
    AHeights.push_back(static_cast<int>(h));
    at += 8;
    if (at + r * h > AJob.size()) return;
    ARows.insert(ARows.end(), AJob.begin() + static_cast<long>(at),
                 AJob.begin() + static_cast<long>(at + r * h));
    at += r * h;
  }
  EXPECT_EQ(at + 2, AJob.size());
}

TEST(EnvelopeCommand, PictureOptionsReachTheJob) {
  TScratchDir dir;
  const std::string photo = dir.File("photo.jpg");
  WriteJpeg(photo, TestPattern(1600, 1000), jkRgb);
  const std::string dump = " --dump-dir '" + dir.File("dump") + "'";
  struct TCase {
    std::string Args;
    TPictureOptions Options;
    int BandRows;
    std::vector<int> Heights;
  };
  TPictureOptions area;
  area.Scale = psArea;
  TPictureOptions bayer = area;
  bayer.Dither = dmBayer;
  bayer.Gamma = 2.2;
  TPictureOptions logo;
  logo.Dither = dmThreshold;
  logo.Threshold = 90;
  TPictureOptions serpentine;
  serpentine.Dither = dmFloydSteinbergSerpentine;
  const TCase cases[] = {
      {"", TPictureOptions(), 0, {360}},
      {"--scale nearest --dither fs --threshold 128 --band-rows 0", TPictureOptions(), 0, {360}},
      {"--scale area --band-rows 100", area, 100, {100, 100, 100, 60}},
      {"--scale area --dither bayer --gamma 2.2", bayer, 0, {360}},
      {"--dither threshold --threshold 90 --band-rows 360", logo, 360, {360}},
      {"--dither fs-serpentine --band-rows 359", serpentine, 359, {359, 1}},
  };
  for (const TCase& c : cases) {
    const TRun r = RunEnvelope(dir, "--image '" + photo + "'" + dump + " " + c.Args);
    ASSERT_EQ(r.Status, 0) << c.Args << ": " << r.Err;
    const TPrintBytes job = DecodePrintBase64(TargetFile(r.Out));
    std::vector<int> heights;
    TPrintBytes rows;
    SplitBands(job, heights, rows);
    EXPECT_EQ(heights, c.Heights) << c.Args;
    // The same conversion through the library, as one command.
    const TPrintBytes want = MakeEscPosRasterJob(ConvertToDitheredBitmap(photo, 576, c.Options));
    EXPECT_EQ(rows, TPrintBytes(want.begin() + 8, want.end() - 2)) << c.Args;
    EXPECT_EQ(job, MakeEscPosRasterJob(ConvertToDitheredBitmap(photo, 576, c.Options), c.BandRows)) << c.Args;
  }
}

TEST(EnvelopeCommand, OversizedPicturesAreRefusedAtOnce) {
  TScratchDir dir;
  WriteOversizedPng(dir.File("huge.png"), 1000000, 1000000);
  WriteOversizedJpeg(dir.File("huge.jpg"), 65500, 65500);
  for (const char* name : {"huge.png", "huge.jpg"}) {
    for (const char* scale : {"nearest", "area"}) {
      const TRun r = RunEnvelope(dir, "--image '" + dir.File(name) + "' --scale " + scale + " --dump-dir '" +
                                          dir.File("dump") + "'");
      EXPECT_EQ(r.Status, 1) << name;
      EXPECT_EQ(r.Out, "") << name;
      const std::string size = std::string(name) == "huge.png" ? "1000000 x 1000000" : "65500 x 65500";
      EXPECT_EQ(r.Err, "Picture too large: " + size + " pixels (the limit is 200000000 pixels)\n") << name;
      EXPECT_FALSE(FileExists(dir.File("dump/a.bin"))) << name;
    }
  }
}

TEST(EnvelopeCommand, ErrorsGoToStandardErrorOnly) {
  TScratchDir dir;
  const std::string png = dir.File("p.png");
  WritePng(png, TestPattern(20, 20), pkRgb);
  WriteFileBytes(dir.File("p.bmp"), ReadFileBytes(png));
  struct TCase {
    std::string Args;
    std::string Message;  // start of the standard error text
  };
  const TCase cases[] = {
      {"--image '" + dir.File("p.bmp") + "'", "Unsupported file format\n"},
      {"--image '" + png + "' --width 57x --dump-dir '" + dir.Path() + "'",
       "'57x' is not a valid integer value\n"},
      {"--image '" + png + "' --width 0 --dump-dir '" + dir.Path() + "'", "Scan line index out of range\n"},
      {"--image '" + png + "' --tspl --label-width x --dump-dir '" + dir.Path() + "'",
       "'x' is not a valid integer value\n"},
      {"--preset bell", "tessiva-cli envelope: unknown preset 'bell'"},
      {"", "tessiva-cli envelope: give either --preset or --image"},
      {"--image", "tessiva-cli envelope: --image needs a value"},
      {"--image '" + png + "' --scale bilinear",
       "tessiva-cli envelope: --scale takes nearest or area, not 'bilinear'"},
      {"--image '" + png + "' --dither floyd",
       "tessiva-cli envelope: --dither takes fs, fs-serpentine, atkinson"},
      {"--image '" + png + "' --threshold 257",
       "tessiva-cli envelope: --threshold takes 0 to 256, not '257'"},
      {"--image '" + png + "' --threshold -1", "tessiva-cli envelope: --threshold takes 0 to 256, not '-1'"},
      {"--image '" + png + "' --gamma 0", "tessiva-cli envelope: --gamma takes a number above 0"},
      {"--image '" + png + "' --gamma 2.2x", "tessiva-cli envelope: --gamma takes a number above 0"},
      {"--image '" + png + "' --gamma nan", "tessiva-cli envelope: --gamma takes a number above 0"},
      {"--image '" + png + "' --band-rows 65536", "tessiva-cli envelope: --band-rows takes 0 to 65535"},
      {"--image '" + png + "' --tspl --band-rows 100",
       "tessiva-cli envelope: --band-rows is for ESC/POS rasters, not --tspl"},
      {"--preset buzzer --scale area", "tessiva-cli envelope: --preset takes no picture options"},
  };
  for (const TCase& c : cases) {
    const TRun r = RunEnvelope(dir, c.Args);
    EXPECT_NE(r.Status, 0) << c.Args;
    EXPECT_EQ(r.Out, "") << c.Args;
    EXPECT_EQ(r.Err.substr(0, c.Message.size()), c.Message) << c.Args;
  }
}

}  // namespace

namespace {

TEST(EnvelopeCommand, SerialAndTaskIdChangeOnlyTheirLines) {
  TScratchDir dir;
  const TRun plain = RunEnvelope(dir, "--preset label-sample");
  ASSERT_EQ(plain.Status, 0) << plain.Err;
  EXPECT_EQ(plain.Out, SampleEnvelope(1));

  const TRun fixed = RunEnvelope(dir, "--preset label-sample --dvsno SN0042 --task-id T-1");
  ASSERT_EQ(fixed.Status, 0) << fixed.Err;
  std::string expected = SampleEnvelope(1);
  expected.replace(expected.find("\"xxx\""), 5, "\"SN0042\"");
  expected.replace(expected.find("C147956F-C688-40CB-B0C5-A68E9677AA41"), 36, "T-1");
  EXPECT_EQ(fixed.Out, expected);

  const TRun fresh = RunEnvelope(dir, "--preset buzzer --task-id new");
  const TRun fresh2 = RunEnvelope(dir, "--preset buzzer --task-id new");
  ASSERT_EQ(fresh.Status, 0) << fresh.Err;
  const std::string key = "\"task_id\":\"";
  const std::string id = fresh.Out.substr(fresh.Out.find(key) + key.size(), 36);
  EXPECT_EQ(fresh.Out.size(), BuzzerEnvelope().size());
  EXPECT_EQ(fresh.Out.find("\"dvsno\":\"xxx\""), BuzzerEnvelope().find("\"dvsno\":\"xxx\""));
  EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF-"), std::string::npos) << id;
  EXPECT_EQ(id[8], '-');
  EXPECT_NE(id, "C147956F-C688-40CB-B0C5-A68E9677AA41");
  EXPECT_NE(fresh.Out, fresh2.Out);
}

}  // namespace
