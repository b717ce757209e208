#include <gtest/gtest.h>

#include <set>

#include "CodecTestSupport.h"
#include "Nelo.MQTT.Utils.h"

namespace {

struct RemainingLengthCase {
  int64_t Value;
  const char* Encoded;
};

const RemainingLengthCase kRemainingLengths[] = {
    {0, "00"},
    {1, "01"},
    {127, "7F"},
    {128, "80 01"},
    {321, "C1 02"},
    {16383, "FF 7F"},
    {16384, "80 80 01"},
    {2097151, "FF FF 7F"},
    {2097152, "80 80 80 01"},
    {268435455, "FF FF FF 7F"},
};

TEST(RemainingLength, EncodesAndDecodesEveryBoundary) {
  for (const auto& c : kRemainingLengths) {
    SCOPED_TRACE(c.Value);
    EXPECT_EQ(ToHex(EncodeRemainingLength(c.Value)), c.Encoded);
    EXPECT_EQ(DecodeRemainingLength(Hex(c.Encoded)), c.Value);
  }
}

TEST(RemainingLength, NegativeEncodesAsZeroAndEmptyDecodesAsZero) {
  EXPECT_EQ(ToHex(EncodeRemainingLength(-5)), "00");
  EXPECT_EQ(DecodeRemainingLength({}), 0);
}

TEST(RemainingLength, DecodeStopsAtFirstByteWithBit7Clear) {
  // Whatever follows the field is not part of it.
  EXPECT_EQ(DecodeRemainingLength(Hex("80 01 FF FF")), 128);
  EXPECT_EQ(DecodeRemainingLength(Hex("05 80")), 5);
}

TEST(RemainingLength, ValuesAboveFourBytesAreRefused) {
  EXPECT_THROW(EncodeRemainingLength(268435456), ENeloMQTTError);
  EXPECT_THROW(EncodeRemainingLength(int64_t{1} << 40), ENeloMQTTError);
}

TEST(RemainingLength, MalformedFieldsRaiseInsteadOfReadingPastTheArray) {
  // Cut short (last byte still continues) and five-byte fields.
  for (const char* field : {"80", "FF FF", "FF FF FF", "FF FF FF FF", "FF FF FF FF 01", "80 80 80 80 00"}) {
    SCOPED_TRACE(field);
    EXPECT_THROW(DecodeRemainingLength(Hex(field)), ENeloMQTTError);
  }
}

TEST(ReadWord, ReadsBigEndianAndRaisesWithoutMovingWhenShort) {
  const TNeloMQTTBytes bytes = Hex("12 34 AB");
  int index = 0;
  EXPECT_EQ(ReadWord(bytes, index), 0x1234);
  EXPECT_EQ(index, 2);
  int cutShort = 2;
  try {
    ReadWord(bytes, cutShort);
    FAIL() << "no exception";
  } catch (const ENeloMQTTError& e) {
    EXPECT_STREQ(e.what(), "Could not read");
  }
  EXPECT_EQ(cutShort, 2);
  int exact = 1;
  EXPECT_EQ(ReadWord(bytes, exact), 0x34AB);
  EXPECT_EQ(exact, 3);
  int zero = 0;
  EXPECT_THROW(ReadWord({}, zero), ENeloMQTTError);
  int negative = -1;
  EXPECT_THROW(ReadWord(bytes, negative), ENeloMQTTError);
}

TEST(ReadLengthPrefixedBytes, ShortInputGivesEmptyResultAndLeavesIndexAsDefined) {
  struct Case {
    const char* Bytes;
    int Start;
    const char* Expected;
    int EndIndex;
  };
  const Case kCases[] = {
      {"00 00", 0, "", 0},          // an empty field at the very end is not consumed
      {"00 05 61", 0, "", 2},       // length beyond the array: index behind the length bytes
      {"00 01 61 62", 0, "61", 3},  // normal field
      {"00 00 61", 0, "", 2},       // empty field with a byte behind it is consumed
      {"FF 00 02 61 62", 1, "61 62", 5},
      {"00", 0, "", 0},
      {"", 0, "", 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Bytes);
    int index = c.Start;
    EXPECT_EQ(ToHex(ReadLengthPrefixedBytes(Hex(c.Bytes), index)), c.Expected);
    EXPECT_EQ(index, c.EndIndex);
  }
}

TEST(ReadRemainingBytes, CopiesTheTailAndMovesToTheEnd) {
  const TNeloMQTTBytes bytes = Hex("01 02 03");
  int index = 1;
  EXPECT_EQ(ToHex(ReadRemainingBytes(bytes, index)), "02 03");
  EXPECT_EQ(index, 3);
  EXPECT_TRUE(ReadRemainingBytes(bytes, index).empty());
  EXPECT_EQ(index, 3);
}

TEST(BuildingBytes, AppendInsertAndLengthPrefix) {
  TNeloMQTTBytes bytes = Hex("30");
  InsertBytes(bytes, 1, Hex("80 01"));
  EXPECT_EQ(ToHex(bytes), "30 80 01");
  InsertBytes(bytes, 0, Hex("AA"));
  EXPECT_EQ(ToHex(bytes), "AA 30 80 01");
  InsertBytes(bytes, 99, Hex("BB"));
  EXPECT_EQ(ToHex(bytes), "AA 30 80 01 BB");
  InsertBytes(bytes, 1, {});
  AddBytes(bytes, {});
  EXPECT_EQ(bytes.size(), 5u);

  TNeloMQTTBytes field;
  AddLengthPrefixed(field, TNeloMQTTBytes{});
  AddLengthPrefixed(field, std::string("\xC3\xA9"));  // 'é': the length counts bytes
  AddByte(field, 0x7E);
  EXPECT_EQ(ToHex(field), "00 00 00 02 C3 A9 7E");
  EXPECT_EQ(ToHex(WordToBytes(0xBEEF)), "BE EF");

  // A run may be appended to or inserted into its own array.
  TNeloMQTTBytes self = Hex("01 02 03");
  self.reserve(16);
  InsertBytes(self, 1, self);
  EXPECT_EQ(ToHex(self), "01 01 02 03 02 03");
  AddBytes(self, self);
  EXPECT_EQ(ToHex(self), "01 01 02 03 02 03 01 01 02 03 02 03");

  const uint8_t buffer[] = {1, 2, 3};
  EXPECT_EQ(ToHex(BytesFromBuffer(buffer, 2)), "01 02");
  EXPECT_TRUE(BytesFromBuffer(buffer, 0).empty());
}

TEST(BuildingBytes, LengthPrefixedFieldsAboveTheWordRangeAreRefused) {
  TNeloMQTTBytes target = Hex("01");
  TNeloMQTTBytes max(65535, 0x61);
  AddLengthPrefixed(target, max);
  EXPECT_EQ(target.size(), 1u + 2u + 65535u);
  EXPECT_EQ(target[1], 0xFF);
  EXPECT_EQ(target[2], 0xFF);

  TNeloMQTTBytes before = target;
  EXPECT_THROW(AddLengthPrefixed(target, TNeloMQTTBytes(65536, 0x61)), ENeloMQTTError);
  EXPECT_THROW(AddLengthPrefixed(target, std::string(70000, 'x')), ENeloMQTTError);
  EXPECT_EQ(target, before);
}

TEST(ByteToBinaryString, MostSignificantBitFirst) {
  EXPECT_EQ(ByteToBinaryString(0x00), "00000000");
  EXPECT_EQ(ByteToBinaryString(0xFF), "11111111");
  EXPECT_EQ(ByteToBinaryString(0x80), "10000000");
  EXPECT_EQ(ByteToBinaryString(0x32), "00110010");
}

TEST(WordPacking, SplitsAndJoinsWords) {
  const uint32_t version = MakeLongWordOf(MakeWordOf(2, 0), MakeWordOf(1, 1));  // 1.1.0.2
  EXPECT_EQ(version, 0x01010002u);
  EXPECT_EQ(HiWordOf(version), 0x0101);
  EXPECT_EQ(LoWordOf(version), 0x0002);
  EXPECT_EQ(MakeWordOf(0x34, 0x12), 0x1234);
}

TEST(RandomClientIdentifier, TwentyThreeCharactersFromTheAlphabetAndDistinct) {
  const std::string kAlphabet = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    const std::string id = RandomClientIdentifier();
    ASSERT_EQ(id.size(), 23u);
    EXPECT_EQ(id.find_first_not_of(kAlphabet), std::string::npos) << id;
    seen.insert(id);
  }
  // Calls in quick succession must not repeat an identifier: two clients
  // with the same identifier throw each other off the broker.
  EXPECT_EQ(seen.size(), 50u);
}

}  // namespace
