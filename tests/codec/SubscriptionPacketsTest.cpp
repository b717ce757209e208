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
    TNeloMQTTSubscribePacket packet(1, {"a", "b"}, {qosAtMostOnce});
    FAIL() << "no exception";
  } catch (const ENeloMQTTError& e) {
    EXPECT_STREQ(
        e.what(),
        "Error Creating subscribe packet - amount of provided Topics does not match the amount of QoSLevels");
  }
}

TEST(SubscribePacket, ArraysMadeUnequalLaterRaiseOnSerialisingInsteadOfOverreading) {
  TNeloMQTTSubscribePacket packet(1, {"a"}, {qosAtLeastOnce});
  packet.SetTopics({"a", "b", "c"});
  EXPECT_THROW(packet.GetBytes(), ENeloMQTTError);
  packet.SetTopicQosLevels({qosAtMostOnce, qosAtLeastOnce, qosExactlyOnce});
  EXPECT_EQ(ToHex(packet.GetBytes()), "82 0E 00 01 00 01 61 00 00 01 62 01 00 01 63 02");
  packet.SetTopics({});
  EXPECT_THROW(packet.GetBytes(), ENeloMQTTError);
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
    const TNeloMQTTSubAckReturnCode code(c.Byte);
    EXPECT_EQ(code.IsAccepted(), c.Accepted);
    EXPECT_EQ(code.MaximumQoS(), c.MaxQoS);
    EXPECT_EQ(code.ToString(), c.Text);
  }
  TNeloMQTTSubAckReturnCode code(0x01);
  code.SetIsAccepted(false);
  EXPECT_EQ(code.Byte(), 0x81);
  code.SetIsAccepted(true);
  EXPECT_EQ(code.Byte(), 0x01);
  code.SetMaximumQoS(qosExactlyOnce);
  EXPECT_EQ(code.Byte(), 0x02);
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
    const TNeloMQTTSubAckPacket packet(Header(0x90), Hex(c.Body));
    EXPECT_EQ(packet.PacketId(), c.PacketId);
    ASSERT_EQ(packet.ReturnCodes().size(), c.Codes.size());
    for (size_t i = 0; i < c.Codes.size(); ++i) EXPECT_EQ(packet.ReturnCodes()[i]->Byte(), c.Codes[i]);
  }
  const TNeloMQTTSubAckPacket two(Header(0x90), Hex("00 02 00 80"));
  EXPECT_TRUE(two.ReturnCodes()[0]->IsAccepted());
  EXPECT_FALSE(two.ReturnCodes()[1]->IsAccepted());
}

TEST(SubAckPacket, ShortBodyRaisesCouldNotRead) {
  for (const char* body : {"", "00"}) {
    SCOPED_TRACE(body);
    try {
      TNeloMQTTSubAckPacket packet(Header(0x90), Hex(body));
      FAIL() << "no exception";
    } catch (const ENeloMQTTError& e) {
      EXPECT_STREQ(e.what(), "Could not read");
    }
  }
}

TEST(SubAckPacket, BuiltFromFieldsWritesNoCodesButListsThemInItsText) {
  TNeloMQTTSubAckReturnCodes codes;
  codes.push_back(std::make_unique<TNeloMQTTSubAckReturnCode>(0x01));
  codes.push_back(std::make_unique<TNeloMQTTSubAckReturnCode>(0x80));
  const TNeloMQTTSubAckPacket packet(9, std::move(codes));
  EXPECT_EQ(ToHex(packet.GetBytes()), "90 02 00 09");
  EXPECT_EQ(packet.ToString(),
            "TNeloMQTTSubAckPacket"
            "Accepted:-1 maxQoS:qosAtLeastOnce\r\n"
            "Accepted:0 maxQoS:qosAtMostOnce\r\n");
}

TEST(UnsubAckPacket, BuildAndDecode) {
  EXPECT_EQ(ToHex(TNeloMQTTUnsubAckPacket(3).GetBytes()), "B0 02 00 03");
  EXPECT_EQ(TNeloMQTTUnsubAckPacket(Header(0xB0), Hex("00 03")).PacketId(), 3);
  try {
    TNeloMQTTUnsubAckPacket packet(Header(0xB0), Hex("03"));
    FAIL() << "no exception";
  } catch (const ENeloMQTTError& e) {
    EXPECT_STREQ(e.what(), "Could not read");
  }
}

}  // namespace
