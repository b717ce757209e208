// The listing (one line per command) and each lint finding, on small tables
// of inputs; malformed input never stops rendering nor reads past the job.
#include <gtest/gtest.h>

#include "PrintPresets.h"
#include "RenderTestSupport.h"

namespace {

TEST(Listing, OneLinePerCommandWithOffsetBytesAndMnemonic) {
  const std::string job(
      "\x1b@\x1b"
      "a\x01"
      "Hi\r\n\x1d"
      "V\x41\x10"
      "\x1b"
      "B\x03\x01",
      17);
  const TRenderResult r = RenderRaw(Bytes(job));
  struct TLine {
    size_t Offset;
    std::string Bytes, Mnemonic, Arguments;
  };
  const TLine expected[] = {
      {0, "1B 40", "ESC @", "initialise"},
      {2, "1B 61 01", "ESC a", "1 (centred)"},
      {5, "48 69", "TEXT", "\"Hi\""},
      {7, "0D", "CR", ""},
      {8, "0A", "LF", "print and feed a line"},
      {9, "1D 56 41 10", "GS V", "partial cut, feed 16 dots"},
      {13, "1B 42 03 01", "ESC B", "buzzer 3 times, 50 ms"},
  };
  ASSERT_EQ(r.Listing.size(), std::size(expected)) << r.ListingText();
  for (size_t i = 0; i < std::size(expected); ++i) {
    const TListingLine& l = r.Listing[i];
    EXPECT_EQ(l.Offset, expected[i].Offset) << i;
    EXPECT_EQ(HexBytes(l.Bytes.data(), l.Bytes.size()), expected[i].Bytes) << i;
    EXPECT_EQ(l.Mnemonic, expected[i].Mnemonic) << i;
    EXPECT_EQ(l.Arguments, expected[i].Arguments) << i;
  }
  EXPECT_EQ(FormatListingLine(r.Listing[1]).substr(0, 16), "000002  1B 61 01");
  // The cut ends the page; the buzzer after it is a mark on a second page.
  ASSERT_EQ(r.Pages.size(), 2u);
  ASSERT_EQ(r.Pages[0].Marks.size(), 1u);
  EXPECT_EQ(r.Pages[0].Marks[0].Text, "partial cut");
  EXPECT_EQ(r.Pages[0].Marks[0].Y, 30 + 16);
  ASSERT_EQ(r.Pages[1].Marks.size(), 1u);
  EXPECT_NE(r.Pages[1].Marks[0].Text.find("buzzer"), std::string::npos);
}

TEST(Listing, PresetFramesAreListed) {
  struct TCase {
    std::vector<uint8_t> Job;
    const char* Mnemonic;
    const char* Arguments;
  };
  const TCase cases[] = {
      {BuzzerCommand(), "ESC B", "buzzer 3 times, 50 ms"},
      {CutterCommand(), "GS S", "cut"},
      {PrintModeCommand(0), "MODE", "receipt mode (ESC/POS follows)"},
      {PrintModeCommand(1), "MODE", "label mode (TSPL follows)"},
      {CharsetCommand(0), "CHARSET", "GBK characters"},
      {CharsetCommand(1), "CHARSET", "UTF-8 characters"},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(c.Job);
    ASSERT_FALSE(r.Listing.empty());
    EXPECT_EQ(r.Listing[0].Mnemonic, c.Mnemonic);
    EXPECT_EQ(r.Listing[0].Arguments, c.Arguments);
    EXPECT_FALSE(r.HasErrors()) << r.FindingsText();
  }
  // The cutter's and the buzzer's zero padding is one line.
  const TRenderResult cut = RenderRaw(CutterCommand());
  ASSERT_EQ(cut.Listing.size(), 2u);
  EXPECT_EQ(cut.Listing[1].Mnemonic, "NUL");
  EXPECT_EQ(cut.Listing[1].Length, 6u);
}

std::string Envelope(const std::string& AB) { return MakePrintTaskEnvelope(AB); }

TEST(Lint, EnvelopeFindings) {
  const std::string good = SampleEnvelope(0);
  std::string countTwo = good;
  countTwo.replace(countTwo.find("\"count\":\"1\""), 11, "\"count\":\"2\"");
  std::string sizeWrong = good;
  sizeWrong.replace(sizeWrong.find("\"file_size\":\"1164\""), 18, "\"file_size\":\"1165\"");
  std::string noList = "{\"dvsno\":\"xxx\",\"kind\":\"PRINT_TASK\",\"count\":\"1\"}";
  std::string noTarget =
      "{\"dvsno\":\"x\",\"kind\":\"PRINT_TASK\",\"count\":\"1\",\"list\":[{\"task_id\":\"a\",\"usbidx\":"
      "\"0\",\"file_size\":\"0\"}]}";
  std::string big = Envelope(EncodePrintBase64(std::vector<uint8_t>(800 * 1024, 'A')));
  struct TCase {
    const char* Name;
    std::string Text;
    const char* Finding;  // nullptr: no finding at all
    TFindingSeverity Severity;
  };
  const TCase cases[] = {
      {"good", good, nullptr, fsInfo},
      {"compact JSON is fine",
       "{\"dvsno\":\"xxx\",\"kind\":\"PRINT_TASK\",\"count\":\"1\",\"list\":[{\"task_id\":\"t\",\"usbidx\":"
       "\"0\",\"file_size\":\"12\",\"target_file\":\"G0IDAQAAAAA=\"}]}",
       nullptr, fsInfo},
      {"not JSON", "{\"dvsno\":\"xxx\",", "not valid JSON", fsError},
      {"trailing text", good + "x", "not valid JSON", fsError},
      // The reader is as strict as the JSON parsers of printer clouds.
      {"number with a leading zero", "{\"dvsno\":\"xxx\",\"kind\":\"PRINT_TASK\",\"count\":01,\"list\":[]}",
       "not valid JSON", fsError},
      {"number kind is quoted as written",
       std::string(good).replace(good.find("\"PRINT_TASK\""), 12, "12.5e1"), "kind is \"12.5e1\"", fsError},
      {"no list", noList, "member \"list\" is missing", fsError},
      {"no target_file", noTarget, "member \"target_file\" is missing", fsError},
      {"no kind",
       "{\"dvsno\":\"x\",\"count\":\"1\",\"list\":[{\"task_id\":\"a\",\"usbidx\":\"0\",\"file_size\":\"0\","
       "\"target_file\":\"\"}]}",
       "member \"kind\" is missing", fsError},
      // What a printer refuses is an error; see the refusal table test.
      {"count", countTwo, "count is 2 but the list has 1 entries", fsError},
      {"file_size", sizeWrong, "file_size is 1165 but target_file has 1164", fsError},
      {"bad Base64 length", Envelope("G0IDAQAAAAA"), "not valid Base64", fsError},
      {"bad Base64 character", Envelope("G0ID*QAAAAA="), "not valid Base64", fsError},
      // Over 1 MiB: more than many brokers pass on, but the printer reads it.
      {"over 1 MB", big, "over the 1048576-byte limit", fsWarning},
      {"Base64 with an escaped line break", Envelope("G0IDAQAA\\r\\nAAA="), "whitespace inside its Base64",
       fsError},
      {"another kind", std::string(good).replace(good.find("PRINT_TASK"), 10, "PRINT_TEST"),
       "not \"PRINT_TASK\"", fsError},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderEnvelope(c.Text);
    if (!c.Finding) {
      EXPECT_TRUE(r.Findings.empty()) << c.Name << ": " << r.FindingsText();
      continue;
    }
    TFindingSeverity s = fsInfo;
    EXPECT_TRUE(HasFinding(r, c.Finding, &s)) << c.Name << ": " << r.FindingsText();
    EXPECT_EQ(s, c.Severity) << c.Name;
    EXPECT_EQ(r.HasErrors(), c.Severity == fsError) << c.Name;
  }
  // Where: the not-JSON finding points at the end of the cut-off text.
  const TRenderResult cut = RenderEnvelope("{\"dvsno\":\"xxx\",");
  ASSERT_FALSE(cut.Findings.empty());
  EXPECT_EQ(cut.Findings[0].Job, -1);
  EXPECT_EQ(cut.Findings[0].Offset, 15u);
}

TEST(Lint, EveryEntryOfTheListIsAJob) {
  const std::string text =
      "{\"dvsno\":\"x\",\"kind\":\"PRINT_TASK\",\"count\":\"2\",\"list\":["
      "{\"task_id\":\"a\",\"usbidx\":\"0\",\"file_size\":\"4\",\"target_file\":\"QQo=\"},\n"
      "{\"task_id\":\"b\",\"usbidx\":\"0\",\"file_size\":\"4\",\"target_file\":\"Qgo=\"}]}";
  const TRenderResult r = RenderEnvelope(text);
  EXPECT_TRUE(r.Findings.empty()) << r.FindingsText();
  ASSERT_EQ(r.Pages.size(), 2u);
  EXPECT_EQ(r.Pages[0].Job, 0);
  EXPECT_EQ(r.Pages[1].Job, 1);
  EXPECT_EQ(r.Listing.back().Job, 1);
  EXPECT_EQ(FormatListing(r.Listing).substr(0, 2), "1:");
}

TEST(Lint, JobFindings) {
  struct TCase {
    const char* Name;
    std::string Job;
    const char* Finding;
    size_t Offset;
  };
  const TCase cases[] = {
      {"unknown ESC",
       "AB\x1b\x07"
       "CD\n",
       "unknown command 1B 07", 2},
      {"unknown GS", "\x1d\x01\n", "unknown command 1D 01", 0},
      {"stray control byte", "A\x05\n", "control byte 05", 1},
      {"invalid GBK", "\xD6\xD0\xFF\x41\n", "invalid GBK", 2},
      {"raster cut short", std::string("\x1dv0\x00\x02\x00\x10\x00\xff", 9), "needs 32 bytes, the job has 1",
       0},
      {"ESC ! cut short", "\x1b!", "cut short", 0},
      {"text wider than the line",
       std::string("\x1dL\xf4\x01\x1d!\x77"
                   "A\n",
                   9),
       "does not fit", 7},
      {"bad frame checksum", std::string("\x10\xA6\x01\x00\x01\x00\x01\x00", 8), "wrong checksum", 0},
      {"a line no LF prints", "tail", "no LF prints", 4},
  };
  for (const TCase& c : cases) {
    const TRenderResult r = RenderRaw(Bytes(c.Job), rlEscPos);
    bool found = false;
    for (const TFinding& f : r.Findings)
      if (f.Text.find(c.Finding) != std::string::npos) {
        found = true;
        EXPECT_EQ(f.Offset, c.Offset) << c.Name;
        EXPECT_EQ(f.Job, 0) << c.Name;
      }
    EXPECT_TRUE(found) << c.Name << ": " << r.FindingsText();
  }
}

TEST(Lint, PageHeightIsBounded) {
  TRenderOptions o;
  o.MaxPageHeight = 1000;
  std::string feeds(100, '\n');
  const TRenderResult r = RenderCommandBytes(Bytes(feeds + "A\n"), o);
  ASSERT_EQ(r.Pages.size(), 1u);
  EXPECT_EQ(r.Pages[0].Page.Height(), 1000);
  EXPECT_TRUE(HasFinding(r, "height limit of 1000 rows"));
  // A raster claiming 65535 rows of 65535 bytes with no data allocates nothing big.
  const TRenderResult huge = RenderRaw(Bytes(std::string("\x1dv0\x00\xff\xff\xff\xff", 8)));
  EXPECT_TRUE(HasFinding(huge, "needs"));
}

TEST(Lint, ArbitraryBytesNeverStopRendering) {
  // Every prefix of a job full of commands: no crash, no read past the end
  // (the ASan build checks), and the listing covers every byte.
  std::string job = std::string(
      "\x1b@\x1d!\x11\x1b"
      "a\x01\xD6\xD0"
      "AB\r\n\x1dkI\x06{Babcd\x1dv0\x00\x01\x00\x02\x00\xff\x0f",
      34);
  job += std::string(
      "\x1d(k\x05\x00\x31\x50\x30QR\x1d(k\x03\x00\x31\x51\x30\x1b*\x21\x01\x00\x01\x02\x03\x1dV\x42\x05", 31);
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

}  // namespace

namespace {

TEST(Lint, EnvelopeOrRawIsRecognised) {
  const TRenderResult a = RenderPrintJob(SampleEnvelope(1));
  const std::vector<uint8_t> label = DecodePrintBase64(SampleLabelBase64());
  const TRenderResult b = RenderPrintJob(std::string(label.begin(), label.end()));
  ASSERT_EQ(a.Pages.size(), 1u);
  ASSERT_EQ(b.Pages.size(), 1u);
  EXPECT_EQ(a.Pages[0].Page.Bits(), b.Pages[0].Page.Bits());
  EXPECT_EQ(a.Listing.size(), b.Listing.size());
  // Grey for a display: 0 where a dot prints, 255 elsewhere.
  const std::vector<uint8_t> grey = a.Pages[0].Grey8();
  ASSERT_EQ(grey.size(), 320u * 160u);
  size_t black = 0;
  for (uint8_t g : grey) black += g == 0;
  EXPECT_EQ(black, a.Pages[0].Page.BlackDots());
}

}  // namespace
