#include <gtest/gtest.h>

#include "CodecTestSupport.h"
#include "Nelo.MQTT.PacketFactory.h"
#include "Nelo.MQTT.Packets.CONNACK.h"
#include "Nelo.MQTT.Packets.PUBLISH.h"
#include "Nelo.MQTT.Packets.SUBACK.h"
#include "Nelo.MQTT.Packets.SUBSCRIBE.h"

namespace {

TEST(PacketFactory, BuildsTheClassOfEveryPacketType) {
  struct Case {
    uint8_t First;
    const char* Body;
    const char* ClassName;
    uint16_t PacketId;
    TNeloMQTTQoS QoS;
  };
  const Case kCases[] = {
      {0x10, "00 04 4D 51 54 54", "TNeloMQTTConnectPacket", 0, qosAtMostOnce},
      {0x20, "01 00", "TNeloMQTTConnAckPacket", 0, qosAtMostOnce},
      {0x32, "00 03 61 2F 62 00 0A 68 69", "TNeloMQTTPublishPacket", 10, qosAtLeastOnce},
      {0x40, "00 0A", "TNeloMQTTPubAckPacket", 10, qosAtMostOnce},
      {0x50, "00 0B", "TNeloMQTTPubRecPacket", 11, qosAtMostOnce},
      {0x62, "00 0B", "TNeloMQTTPubRelPacket", 11, qosAtLeastOnce},
      {0x60, "00 07", "TNeloMQTTPubRelPacket", 7, qosAtMostOnce},  // flags not checked
      {0x70, "00 0B", "TNeloMQTTPubCompPacket", 11, qosAtMostOnce},
      {0x82, "00 01 00 01 61 00", "TNeloMQTTSubscribePacket", 0, qosAtLeastOnce},
      {0x90, "00 01 01", "TNeloMQTTSubAckPacket", 1, qosAtMostOnce},
      {0xA2, "00 01 00 01 61", "TNeloMQTTUnSubscribePacket", 0, qosAtLeastOnce},
      {0xB0, "00 03", "TNeloMQTTUnsubAckPacket", 3, qosAtMostOnce},
      {0xC0, "", "TNeloMQTTPingRequestPacket", 0, qosAtMostOnce},
      {0xD0, "00", "TNeloMQTTPingRespPacket", 0, qosAtMostOnce},
      {0xDF, "", "TNeloMQTTPingRespPacket", 0, qosRESERVED},
      {0xE0, "", "TNeloMQTTDisconnectPacket", 0, qosAtMostOnce},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.ClassName);
    const auto packet = TNeloMQTTPacketFactory::CreateFrom(c.First, Hex(c.Body));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->ClassName(), c.ClassName);
    EXPECT_EQ(packet->FixedHeader()->Byte(), c.First);
    EXPECT_EQ(packet->PacketType(), static_cast<TNeloMQTTPacketType>(c.First >> 4));
    EXPECT_EQ(packet->PacketId(), c.PacketId);
    EXPECT_EQ(packet->QoS(), c.QoS);
    EXPECT_EQ(ToHex(packet->GetRawBytes()), ToHex(Hex(c.Body)));
  }
}

TEST(PacketFactory, ReservedTypesRaise) {
  for (uint8_t first : {0x00, 0x0F, 0xF0, 0xFF}) {
    SCOPED_TRACE(static_cast<int>(first));
    try {
      TNeloMQTTPacketFactory::CreateFrom(first, Hex("00 01"));
      FAIL() << "no exception";
    } catch (const ENeloMQTTError& e) {
      EXPECT_STREQ(e.what(), "RESERVED PACKET TYPE");
    }
  }
}

TEST(PacketFactory, ShortFramesRaiseCouldNotRead) {
  for (const auto& [first, body] : {std::pair<uint8_t, const char*>{0x40, "0A"},
                                    {0x20, "00"},
                                    {0x32, "00 03 61 2F 62"},
                                    {0x90, ""},
                                    {0xB0, "01"}}) {
    SCOPED_TRACE(body);
    try {
      TNeloMQTTPacketFactory::CreateFrom(first, Hex(body));
      FAIL() << "no exception";
    } catch (const ENeloMQTTError& e) {
      EXPECT_STREQ(e.what(), "Could not read");
    }
  }
}

TEST(PacketFactory, DecodedFieldsOfTheTypedPackets) {
  const auto connAck = TNeloMQTTPacketFactory::CreateFrom(0x20, Hex("01 00"));
  auto& ack = dynamic_cast<TNeloMQTTConnAckPacket&>(*connAck);
  EXPECT_EQ(ack.ReturnCode(), rcConAccepted);
  EXPECT_TRUE(dynamic_cast<TNeloMQTTConnAckVariableHeader&>(*ack.VariableHeader()).SessionPresent());

  const auto publish = TNeloMQTTPacketFactory::CreateFrom(0x3B, Hex("00 01 74 00 01"));
  auto& pub = dynamic_cast<TNeloMQTTPublishPacket&>(*publish);
  EXPECT_EQ(pub.TopicName(), "t");
  EXPECT_EQ(pub.PacketId(), 1);
  EXPECT_TRUE(pub.IsDuplicate());
  EXPECT_TRUE(pub.IsRetained());
  EXPECT_EQ(pub.QoS(), qosAtLeastOnce);
  EXPECT_TRUE(pub.Payload().empty());

  const auto subscribe = TNeloMQTTPacketFactory::CreateFrom(0x82, Hex("00 01 00 01 61 00"));
  auto& sub = dynamic_cast<TNeloMQTTSubscribePacket&>(*subscribe);
  EXPECT_TRUE(sub.Topics().empty());
  EXPECT_EQ(sub.VariableHeader(), nullptr);

  const auto subAck = TNeloMQTTPacketFactory::CreateFrom(0x90, Hex("00 02 00 80"));
  EXPECT_EQ(dynamic_cast<TNeloMQTTSubAckPacket&>(*subAck).ReturnCodes().size(), 2u);
}

}  // namespace
