#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "PrintPresets.h"

namespace {

std::string Hex(const TPrintBytes& ABytes) {
  static const char* const digits = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : ABytes) {
    if (!s.empty()) s += ' ';
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

std::string Line(const std::string& AEnvelope, int AIndex) {
  size_t from = 0;
  for (int i = 0; i < AIndex; ++i) from = AEnvelope.find("\r\n", from) + 2;
  return AEnvelope.substr(from, AEnvelope.find("\r\n", from) - from);
}

TEST(PrintPresets, CommandBytesBase64AndEnvelope) {
  struct TCase {
    const char* Name;
    TPrintBytes Bytes;
    std::string Envelope;
    const char* Hex;
    const char* Base64;
  };
  const TCase cases[] = {
      {"buzzer", BuzzerCommand(), BuzzerEnvelope(), "1B 42 03 01 00 00 00 00", "G0IDAQAAAAA="},
      {"cutter", CutterCommand(), CutterEnvelope(), "1D 53 00 00 00 00 00 00", "HVMAAAAAAAA="},
      {"receipt mode", PrintModeCommand(0), PrintModeEnvelope(0), "10 A2 01 00 01 00 00 B4", "EKIBAAEAALQ="},
      {"label mode", PrintModeCommand(1), PrintModeEnvelope(1), "10 A2 01 00 01 00 01 B5", "EKIBAAEAAbU="},
      {"label mode, other index", PrintModeCommand(7), PrintModeEnvelope(-1), "10 A2 01 00 01 00 01 B5",
       "EKIBAAEAAbU="},
      {"GBK", CharsetCommand(0), CharsetEnvelope(0), "10 A6 01 00 01 00 00 B8", "EKYBAAEAALg="},
      {"UTF-8", CharsetCommand(1), CharsetEnvelope(1), "10 A6 01 00 01 00 01 B9", "EKYBAAEAAbk="},
      {"UTF-8, other index", CharsetCommand(2), CharsetEnvelope(3), "10 A6 01 00 01 00 01 B9",
       "EKYBAAEAAbk="},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Hex(c.Bytes), c.Hex) << c.Name;
    EXPECT_EQ(EncodePrintBase64(c.Bytes), c.Base64) << c.Name;
    EXPECT_EQ(c.Envelope, MakePrintTaskEnvelope(c.Base64)) << c.Name;
    EXPECT_EQ(Line(c.Envelope, 8), "            \"file_size\":\"12\",") << c.Name;
  }
  // Choosing the same entry twice gives the same text, not a second envelope.
  EXPECT_EQ(PrintModeEnvelope(1), PrintModeEnvelope(1));
}

TEST(PrintPresets, SwitchFrameChecksumIsLowByteOfSum) {
  for (uint8_t function : {kSwitchPrintMode, kSwitchCharset, uint8_t{0xFF}})
    for (uint8_t value : {uint8_t{0}, uint8_t{1}, uint8_t{0x80}}) {
      const TPrintBytes f = MakeSwitchFrame(function, value);
      ASSERT_EQ(f.size(), 8u);
      unsigned sum = 0;
      for (int i = 0; i < 7; ++i) sum += f[static_cast<size_t>(i)];
      EXPECT_EQ(f[7], sum % 256) << Hex(f);
      EXPECT_EQ(Hex(f).substr(0, 17), "10 " + Hex({function}) + " 01 00 01 00") << Hex(f);
      EXPECT_EQ(f[6], value);
    }
}

// GBK bytes -> UTF-8 through glibc's iconv, strictly (fails on bad input).
std::string GbkToUtf8(const std::string& AGbk) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(AGbk.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(AGbk.data());
  size_t inLeft = AGbk.size();
  char* dst = out.data();
  size_t outLeft = out.size();
  const size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  EXPECT_NE(r, static_cast<size_t>(-1)) << "not valid GBK";
  out.resize(out.size() - outLeft);
  return out;
}

std::vector<std::string> CrLfLines(const std::string& AText) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t at; (at = AText.find("\r\n", from)) != std::string::npos; from = at + 2)
    lines.push_back(AText.substr(from, at - from));
  EXPECT_EQ(from, AText.size());
  return lines;
}

TEST(PrintPresets, ReceiptSampleIsGbkCheckoutReceipt) {
  const std::string& b = SampleReceiptBase64();
  EXPECT_EQ(b.size(), 1164u);
  EXPECT_EQ(b.find_first_of("\r\n "), std::string::npos);
  const TPrintBytes bytes = DecodePrintBase64(b);
  ASSERT_EQ(bytes.size(), 873u);
  EXPECT_EQ(Line(SampleEnvelope(0), 8), "            \"file_size\":\"1164\",");
  EXPECT_EQ(SampleEnvelope(0), MakePrintTaskEnvelope(b));

  const std::vector<std::string> raw = CrLfLines(std::string(bytes.begin(), bytes.end()));
  ASSERT_EQ(raw.size(), 29u);
  const size_t widths[29] = {12, 20, 50, 17, 10, 29, 28, 23, 48, 48, 45, 12, 48, 48, 48,
                             48, 27, 50, 13, 27, 50, 28, 29, 28, 29, 0,  0,  0,  0};
  for (size_t i = 0; i < 29; ++i) EXPECT_EQ(raw[i].size(), widths[i]) << "line " << i + 1;

  const std::string big = "\x1D\x21\x11", centre = "\x1B\x61\x01", init = "\x1B\x40";
  const std::string dashes(48, '-');
  auto text = [](const std::string& ALine, size_t AFrom, size_t ACut = 0) {
    return GbkToUtf8(ALine.substr(AFrom, ALine.size() - AFrom - ACut));
  };
  // Sample data: the shop (ten characters with its branch in full-width
  // parentheses), a five-character dish, a two-character remark and a
  // 17-digit order number.
  const std::string shop = text(raw[1], 0);
  EXPECT_EQ(shop.size(), 30u);  // ten three-byte UTF-8 characters
  EXPECT_NE(shop.find("（"), std::string::npos);
  EXPECT_EQ(shop.substr(shop.size() - 3), "）");

  EXPECT_EQ(raw[0].substr(0, 6), big + centre);
  EXPECT_EQ(text(raw[0], 6), "结帐单");
  EXPECT_EQ(raw[2], init + dashes);
  EXPECT_EQ(raw[3].substr(0, 3), big);
  EXPECT_EQ(raw[3].substr(15), init);
  EXPECT_EQ(text(raw[3], 3, 2), "流水号：0031");
  EXPECT_EQ(text(raw[4], 0), "类型：堂食");
  EXPECT_EQ(text(raw[5], 0), "结帐时间：2022-09-18 12:49:16");
  EXPECT_EQ(text(raw[6], 0), "收银员：" + shop);
  const std::string order = text(raw[7], 0);
  ASSERT_EQ(order.substr(0, 9), "单号：");
  EXPECT_EQ(order.substr(9).find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(raw[8], dashes);
  EXPECT_EQ(text(raw[9], 0), "品项" + std::string(18, ' ') + "数量" + std::string(6, ' ') + "小计" +
                                 std::string(6, ' ') + "优惠价");
  const std::string dish = text(raw[10], 0);
  EXPECT_EQ(dish.substr(15),
            std::string(15, ' ') + "1份" + std::string(4, ' ') + "26" + std::string(9, ' ') + "26");
  EXPECT_EQ(text(raw[10], 0, 35).size(), 15u);  // five characters
  EXPECT_EQ(text(raw[11], 0, 4), "  备注：");
  EXPECT_EQ(text(raw[11], 8).size(), 6u);  // two characters
  EXPECT_EQ(raw[12], dashes);
  EXPECT_EQ(text(raw[13], 0), "菜品价格合计" + std::string(34, ' ') + "26");
  EXPECT_EQ(text(raw[14], 0), "订单金额" + std::string(38, ' ') + "26");
  EXPECT_EQ(raw[15], dashes);
  EXPECT_EQ(raw[16].substr(0, 3), big);
  EXPECT_EQ(text(raw[16], 3), "应付金额：" + std::string(12, ' ') + "26");
  EXPECT_EQ(raw[17], init + dashes);
  EXPECT_EQ(text(raw[18], 0), "扫码支付-微信");
  EXPECT_EQ(raw[19].substr(0, 3), big);
  EXPECT_EQ(text(raw[19], 3), "支付金额：" + std::string(12, ' ') + "26");
  EXPECT_EQ(raw[20], init + dashes);
  EXPECT_EQ(text(raw[21], 0), "下单人：" + shop);
  EXPECT_EQ(text(raw[22], 0), "下单时间：2022-09-18 12:49:16");
  EXPECT_EQ(text(raw[23], 0), "打印人：" + shop);
  EXPECT_EQ(text(raw[24], 0), "打印时间：2022-09-18 12:49:16");
}

TEST(PrintPresets, LabelSampleIsTspl) {
  const std::string& b = SampleLabelBase64();
  EXPECT_EQ(b.size(), 220u);
  const TPrintBytes bytes = DecodePrintBase64(b);
  EXPECT_EQ(bytes.size(), 164u);
  const std::vector<std::string> expected = {
      "SIZE 40 mm,20 mm",
      "CLS",
      "TEXT 10,10,\"24\",0,1,1,\"TEXT\"",
      "BARCODE 10,50,\"128M\",60,0,0,2,2,\"!104!096ABCD!101EFGH\"",
      "TEXT 10,120,\"24\",0,1,1,\"This is MQTT test\"",
      "PRINT 1,5",
  };
  EXPECT_EQ(CrLfLines(std::string(bytes.begin(), bytes.end())), expected);
  EXPECT_EQ(Line(SampleEnvelope(1), 8), "            \"file_size\":\"220\",");
  EXPECT_EQ(SampleEnvelope(5), SampleEnvelope(1));
  EXPECT_EQ(SampleBase64(0), SampleReceiptBase64());
}

}  // namespace
