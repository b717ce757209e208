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
  for (const char* LField : {"80", "FF FF", "FF FF FF", "FF FF FF FF", "FF FF FF FF 01", "80 80 80 80 00"}) {
    SCOPED_TRACE(LField);
    EXPECT_THROW(DecodeRemainingLength(Hex(LField)), ENeloMQTTError);
  }
}

TEST(ReadWord, ReadsBigEndianAndRaisesWithoutMovingWhenShort) {
  const TNeloMQTTBytes LBytes = Hex("12 34 AB");
  int LIndex = 0;
  EXPECT_EQ(ReadWord(LBytes, LIndex), 0x1234);
  EXPECT_EQ(LIndex, 2);
  int LShort = 2;
  try {
    ReadWord(LBytes, LShort);
    FAIL() << "no exception";
  } catch (const ENeloMQTTError& e) {
    EXPECT_STREQ(e.what(), "Could not read");
  }
  EXPECT_EQ(LShort, 2);
  int LExact = 1;
  EXPECT_EQ(ReadWord(LBytes, LExact), 0x34AB);
  EXPECT_EQ(LExact, 3);
  int LZero = 0;
  EXPECT_THROW(ReadWord({}, LZero), ENeloMQTTError);
  int LNegative = -1;
  EXPECT_THROW(ReadWord(LBytes, LNegative), ENeloMQTTError);
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
    int LIndex = c.Start;
    EXPECT_EQ(ToHex(ReadLengthPrefixedBytes(Hex(c.Bytes), LIndex)), c.Expected);
    EXPECT_EQ(LIndex, c.EndIndex);
  }
}

TEST(ReadRemainingBytes, CopiesTheTailAndMovesToTheEnd) {
  const TNeloMQTTBytes LBytes = Hex("01 02 03");
  int LIndex = 1;
  EXPECT_EQ(ToHex(ReadRemainingBytes(LBytes, LIndex)), "02 03");
  EXPECT_EQ(LIndex, 3);
  EXPECT_TRUE(ReadRemainingBytes(LBytes, LIndex).empty());
  EXPECT_EQ(LIndex, 3);
}

TEST(BuildingBytes, AppendInsertAndLengthPrefix) {
  TNeloMQTTBytes LBytes = Hex("30");
  InsertBytes(LBytes, 1, Hex("80 01"));
  EXPECT_EQ(ToHex(LBytes), "30 80 01");
  InsertBytes(LBytes, 0, Hex("AA"));
  EXPECT_EQ(ToHex(LBytes), "AA 30 80 01");
  InsertBytes(LBytes, 99, Hex("BB"));
  EXPECT_EQ(ToHex(LBytes), "AA 30 80 01 BB");
  InsertBytes(LBytes, 1, {});
  AddBytes(LBytes, {});
  EXPECT_EQ(LBytes.size(), 5u);

  TNeloMQTTBytes LField;
  AddLengthPrefixed(LField, TNeloMQTTBytes{});
  AddLengthPrefixed(LField, std::string("\xC3\xA9"));  // 'é': the length counts bytes
  AddByte(LField, 0x7E);
  EXPECT_EQ(ToHex(LField), "00 00 00 02 C3 A9 7E");
  EXPECT_EQ(ToHex(WordToBytes(0xBEEF)), "BE EF");

  // A run may be appended to or inserted into its own array.
  TNeloMQTTBytes LSelf = Hex("01 02 03");
  LSelf.reserve(16);
  InsertBytes(LSelf, 1, LSelf);
  EXPECT_EQ(ToHex(LSelf), "01 01 02 03 02 03");
  AddBytes(LSelf, LSelf);
  EXPECT_EQ(ToHex(LSelf), "01 01 02 03 02 03 01 01 02 03 02 03");

  const uint8_t LBuffer[] = {1, 2, 3};
  EXPECT_EQ(ToHex(BytesFromBuffer(LBuffer, 2)), "01 02");
  EXPECT_TRUE(BytesFromBuffer(LBuffer, 0).empty());
}

TEST(BuildingBytes, LengthPrefixedFieldsAboveTheWordRangeAreRefused) {
  TNeloMQTTBytes LTarget = Hex("01");
  TNeloMQTTBytes LMax(65535, 0x61);
  AddLengthPrefixed(LTarget, LMax);
  EXPECT_EQ(LTarget.size(), 1u + 2u + 65535u);
  EXPECT_EQ(LTarget[1], 0xFF);
  EXPECT_EQ(LTarget[2], 0xFF);

  TNeloMQTTBytes LBefore = LTarget;
  EXPECT_THROW(AddLengthPrefixed(LTarget, TNeloMQTTBytes(65536, 0x61)), ENeloMQTTError);
  EXPECT_THROW(AddLengthPrefixed(LTarget, std::string(70000, 'x')), ENeloMQTTError);
  EXPECT_EQ(LTarget, LBefore);
}

TEST(ByteToBinaryString, MostSignificantBitFirst) {
  EXPECT_EQ(ByteToBinaryString(0x00), "00000000");
  EXPECT_EQ(ByteToBinaryString(0xFF), "11111111");
  EXPECT_EQ(ByteToBinaryString(0x80), "10000000");
  EXPECT_EQ(ByteToBinaryString(0x32), "00110010");
}

TEST(WordPacking, SplitsAndJoinsWords) {
  const uint32_t LVersion = MakeLongWordOf(MakeWordOf(2, 0), MakeWordOf(1, 1));  // 1.1.0.2
  EXPECT_EQ(LVersion, 0x01010002u);
  EXPECT_EQ(HiWordOf(LVersion), 0x0101);
  EXPECT_EQ(LoWordOf(LVersion), 0x0002);
  EXPECT_EQ(MakeWordOf(0x34, 0x12), 0x1234);
}

TEST(RandomClientIdentifier, TwentyThreeCharactersFromTheAlphabetAndDistinct) {
  const std::string kAlphabet = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::set<std::string> LSeen;
  for (int i = 0; i < 50; ++i) {
    const std::string LId = RandomClientIdentifier();
    ASSERT_EQ(LId.size(), 23u);
    EXPECT_EQ(LId.find_first_not_of(kAlphabet), std::string::npos) << LId;
    LSeen.insert(LId);
  }
  // Calls in quick succession must not repeat an identifier: two clients
  // with the same identifier throw each other off the broker.
  EXPECT_EQ(LSeen.size(), 50u);
}

}  // namespace
