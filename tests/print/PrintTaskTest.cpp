#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PrintTask.h"

namespace {

// The envelope split at CR LF; fails when the text does not end with one.
std::vector<std::string> EnvelopeLines(const std::string& AText) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t at; (at = AText.find("\r\n", from)) != std::string::npos; from = at + 2)
    lines.push_back(AText.substr(from, at - from));
  EXPECT_EQ(from, AText.size()) << "text after the last CR LF";
  return lines;
}

std::vector<std::string> ExpectedLines(const std::string& AFileSize, const std::string& AB) {
  return {"{",
          "    \"dvsno\":\"xxx\",",
          "    \"kind\":\"PRINT_TASK\",",
          "    \"count\":\"1\",",
          "    \"list\":[",
          "        {",
          "            \"task_id\":\"C147956F-C688-40CB-B0C5-A68E9677AA41\",",
          "            \"usbidx\":\"0\",",
          "            \"file_size\":\"" + AFileSize + "\",",
          "            \"target_file\":\"" + AB + "\"",
          "            }",
          "    ]",
          "}"};
}

TEST(PrintTaskEnvelope, ThirteenCrLfLinesWithLengthOfB) {
  struct TCase {
    std::string B;
    std::string FileSize;
  };
  const TCase cases[] = {
      {"G0IDAQAAAAA=", "12"},
      {"", "0"},
      {std::string(1164, 'A'), "1164"},
      {"not base64 at all, inserted as it is", "36"},
  };
  for (const TCase& c : cases) {
    const std::string text = MakePrintTaskEnvelope(c.B);
    EXPECT_EQ(EnvelopeLines(text), ExpectedLines(c.FileSize, c.B)) << c.FileSize;
    // No bare CR or LF anywhere: the line count of the text is the CR LF count.
    size_t cr = 0, lf = 0;
    for (char ch : text) cr += ch == '\r', lf += ch == '\n';
    EXPECT_EQ(cr, 13u);
    EXPECT_EQ(lf, 13u);
    EXPECT_EQ(text.substr(text.size() - 3), "}\r\n");
  }
}

TEST(PrintTaskEnvelope, Base64IsOneStandardLine) {
  // 57 bytes is where a line-wrapping encoder breaks its first line; the
  // envelope must still carry one line of exactly 76 characters.
  struct TCase {
    TPrintBytes Bytes;
    std::string Base64;
  };
  const TCase cases[] = {
      {{}, ""},
      {{'f'}, "Zg=="},
      {{'f', 'o'}, "Zm8="},
      {{'f', 'o', 'o'}, "Zm9v"},
      {{0xFB, 0xFF, 0xBF}, "+/+/"},
      {{0x1B, 0x42, 0x03, 0x01, 0, 0, 0, 0}, "G0IDAQAAAAA="},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(EncodePrintBase64(c.Bytes), c.Base64);
    EXPECT_EQ(DecodePrintBase64(c.Base64), c.Bytes) << c.Base64;
  }

  for (size_t n : {size_t{57}, size_t{58}, size_t{114}, size_t{5000}}) {
    TPrintBytes bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    const std::string b = EncodePrintBase64(bytes);
    EXPECT_EQ(b.size(), (n + 2) / 3 * 4);
    EXPECT_EQ(b.find_first_of("\r\n \t"), std::string::npos) << n;
    EXPECT_EQ(DecodePrintBase64(b), bytes) << n;
    const std::vector<std::string> lines = EnvelopeLines(MakePrintTaskEnvelopeFromBytes(bytes));
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[8], "            \"file_size\":\"" + std::to_string(b.size()) + "\",");
    EXPECT_EQ(lines[9], "            \"target_file\":\"" + b + "\"");
  }
}

TEST(PrintTaskEnvelope, DecodeRejectsMalformedBase64) {
  for (const char* bad : {"abc", "ab!d", "====", "Zm9v\r\nZm9v"}) {
    EXPECT_THROW(DecodePrintBase64(bad), EPrintError) << bad;
  }
}

}  // namespace
