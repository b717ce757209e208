#include <gtest/gtest.h>

#include "CodecTestSupport.h"
#include "Nelo.MQTT.Packets.SUBACK.h"
#include "Nelo.MQTT.Packets.SUBSCRIBE.h"
#include "Nelo.MQTT.Packets.UNSUBACK.h"
#include "Nelo.MQTT.Packets.UNSUBSCRIBE.h"

namespace {

std::unique_ptr<TNeloMQTTFixedHeader> Header(uint8_t AByte) {
  return std::make_unique<TNeloMQTTFixedHeader>(AByte);
}

TEST(SubscribePacket, SerialisesToTheExpectedWireForm) {
  struct Case {
    uint16_t PacketId;
    TNeloStringArray Topics;
    TNeloQosArray QoS;
    const char* Wire;
  };
  const Case kCases[] = {
      {1, {"a/#"}, {qosAtLeastOnce}, "82 08 00 01 00 03 61 2F 23 01"},
      {2, {"a/+", "b"}, {qosAtMostOnce, qosExactlyOnce}, "82 0C 00 02 00 03 61 2F 2B 00 00 01 62 02"},
      {4, {"x"}, {qosRESERVED}, "82 06 00 04 00 01 78 03"},
      {5, {}, {}, "82 02 00 05"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Wire);
    EXPECT_EQ(ToHex(TNeloMQTTSubscribePacket(c.PacketId, c.Topics, c.QoS).GetBytes()), c.Wire);
  }
}

TEST(SubscribePacket, MismatchedArraysRaiseAtConstruction) {
  try {
    TNeloMQTTSubscribePacket LPacket(1, {"a", "b"}, {qosAtMostOnce});
    FAIL() << "no exception";
  } catch (const ENeloMQTTError& e) {
    EXPECT_STREQ(
        e.what(),
        "Error Creating subscribe packet - amount of provided Topics does not match the amount of QoSLevels");
  }
}

TEST(SubscribePacket, ArraysMadeUnequalLaterRaiseOnSerialisingInsteadOfOverreading) {
  TNeloMQTTSubscribePacket LPacket(1, {"a"}, {qosAtLeastOnce});
  LPacket.SetTopics({"a", "b", "c"});
  EXPECT_THROW(LPacket.GetBytes(), ENeloMQTTError);
  LPacket.SetTopicQosLevels({qosAtMostOnce, qosAtLeastOnce, qosExactlyOnce});
  EXPECT_EQ(ToHex(LPacket.GetBytes()), "82 0E 00 01 00 01 61 00 00 01 62 01 00 01 63 02");
  LPacket.SetTopics({});
  EXPECT_THROW(LPacket.GetBytes(), ENeloMQTTError);
}

TEST(UnSubscribePacket, SerialisesToTheExpectedWireForm) {
  EXPECT_EQ(ToHex(TNeloMQTTUnSubscribePacket(3, {"a/#"}).GetBytes()), "A2 07 00 03 00 03 61 2F 23");
  EXPECT_EQ(ToHex(TNeloMQTTUnSubscribePacket(3, {"a", "bc"}).GetBytes()), "A2 09 00 03 00 01 61 00 02 62 63");
  EXPECT_EQ(ToHex(TNeloMQTTUnSubscribePacket(6, {}).GetBytes()), "A2 02 00 06");
}

TEST(SubAckReturnCode, BitsAndText) {
  struct Case {
    uint8_t Byte;
    bool Accepted;
    TNeloMQTTQoS MaxQoS;
    const char* Text;
  };
  const Case kCases[] = {
      {0x00, true, qosAtMostOnce, "Accepted:-1 maxQoS:qosAtMostOnce"},
      {0x01, true, qosAtLeastOnce, "Accepted:-1 maxQoS:qosAtLeastOnce"},
      {0x02, true, qosExactlyOnce, "Accepted:-1 maxQoS:qosExactlyOnce"},
      {0x80, false, qosAtMostOnce, "Accepted:0 maxQoS:qosAtMostOnce"},
      {0x82, false, qosExactlyOnce, "Accepted:0 maxQoS:qosExactlyOnce"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Text);
    const TNeloMQTTSubAckReturnCode LCode(c.Byte);
    EXPECT_EQ(LCode.IsAccepted(), c.Accepted);
    EXPECT_EQ(LCode.MaximumQoS(), c.MaxQoS);
    EXPECT_EQ(LCode.ToString(), c.Text);
  }
  TNeloMQTTSubAckReturnCode LCode(0x01);
  LCode.SetIsAccepted(false);
  EXPECT_EQ(LCode.Byte(), 0x81);
  LCode.SetIsAccepted(true);
  EXPECT_EQ(LCode.Byte(), 0x01);
  LCode.SetMaximumQoS(qosExactlyOnce);
  EXPECT_EQ(LCode.Byte(), 0x02);
}

TEST(SubAckPacket, DecodesIdentifierAndReturnCodes) {
  struct Case {
    const char* Body;
    uint16_t PacketId;
    std::vector<uint8_t> Codes;
  };
  const Case kCases[] = {
      {"00 01 01", 1, {0x01}},
      {"00 02 00 80", 2, {0x00, 0x80}},
      {"00 07", 7, {}},
      {"FF FF 02 7C 82", 0xFFFF, {0x02, 0x7C, 0x82}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Body);
    const TNeloMQTTSubAckPacket LPacket(Header(0x90), Hex(c.Body));
    EXPECT_EQ(LPacket.PacketId(), c.PacketId);
    ASSERT_EQ(LPacket.ReturnCodes().size(), c.Codes.size());
    for (size_t i = 0; i < c.Codes.size(); ++i) EXPECT_EQ(LPacket.ReturnCodes()[i]->Byte(), c.Codes[i]);
  }
  const TNeloMQTTSubAckPacket LTwo(Header(0x90), Hex("00 02 00 80"));
  EXPECT_TRUE(LTwo.ReturnCodes()[0]->IsAccepted());
  EXPECT_FALSE(LTwo.ReturnCodes()[1]->IsAccepted());
}

TEST(SubAckPacket, ShortBodyRaisesCouldNotRead) {
  for (const char* LBody : {"", "00"}) {
    SCOPED_TRACE(LBody);
    try {
      TNeloMQTTSubAckPacket LPacket(Header(0x90), Hex(LBody));
      FAIL() << "no exception";
    } catch (const ENeloMQTTError& e) {
      EXPECT_STREQ(e.what(), "Could not read");
    }
  }
}

TEST(SubAckPacket, BuiltFromFieldsWritesNoCodesButListsThemInItsText) {
  TNeloMQTTSubAckReturnCodes LCodes;
  LCodes.push_back(std::make_unique<TNeloMQTTSubAckReturnCode>(0x01));
  LCodes.push_back(std::make_unique<TNeloMQTTSubAckReturnCode>(0x80));
  const TNeloMQTTSubAckPacket LPacket(9, std::move(LCodes));
  EXPECT_EQ(ToHex(LPacket.GetBytes()), "90 02 00 09");
  EXPECT_EQ(LPacket.ToString(),
            "TNeloMQTTSubAckPacket"
            "Accepted:-1 maxQoS:qosAtLeastOnce\r\n"
            "Accepted:0 maxQoS:qosAtMostOnce\r\n");
}

TEST(UnsubAckPacket, BuildAndDecode) {
  EXPECT_EQ(ToHex(TNeloMQTTUnsubAckPacket(3).GetBytes()), "B0 02 00 03");
  EXPECT_EQ(TNeloMQTTUnsubAckPacket(Header(0xB0), Hex("00 03")).PacketId(), 3);
  try {
    TNeloMQTTUnsubAckPacket LPacket(Header(0xB0), Hex("03"));
    FAIL() << "no exception";
  } catch (const ENeloMQTTError& e) {
    EXPECT_STREQ(e.what(), "Could not read");
  }
}

}  // namespace
