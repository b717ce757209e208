#include <gtest/gtest.h>

#include "CodecTestSupport.h"
#include "Nelo.MQTT.PacketFactory.h"
#include "Nelo.MQTT.Packets.DISCONNECT.h"
#include "Nelo.MQTT.Packets.PINGREQ.h"
#include "Nelo.MQTT.Packets.PINGRESP.h"
#include "Nelo.MQTT.Packets.PUBACK.h"
#include "Nelo.MQTT.Packets.PUBLISH.h"
#include "Nelo.MQTT.Packets.h"

namespace {

TEST(FlagsByte, GetAndSetBitFields) {
  TFlagsByte flags(0xA5);  // 1010 0101
  EXPECT_EQ(flags.GetFlag(0, 1), 1);
  EXPECT_EQ(flags.GetFlag(1, 2), 2);
  EXPECT_EQ(flags.GetFlag(4, 4), 0xA);
  flags.SetFlag(4, 4, 0x3);
  EXPECT_EQ(flags.Byte(), 0x35);
  flags.SetFlag(7, 1, 1);
  EXPECT_EQ(flags.Byte(), 0xB5);
  flags.SetByte(0x00);
  EXPECT_EQ(flags.Byte(), 0x00);
}

TEST(FlagsByte, ValueWiderThanItsFieldRaisesAndLeavesTheByte) {
  TFlagsByte flags(0x42);
  try {
    flags.SetFlag(1, 2, 4);
    FAIL() << "no exception";
  } catch (const ENeloMQTTAssertionFailed& e) {
    EXPECT_EQ(e.Text(), "Assertion failure");
    EXPECT_NE(std::string(e.what()).find("mqtt/codec/Nelo.MQTT.Packets.cpp, line "), std::string::npos)
        << e.what();
  }
  EXPECT_THROW(flags.SetFlag(0, 1, -1), ENeloMQTTAssertionFailed);
  EXPECT_EQ(flags.Byte(), 0x42);
}

TEST(FixedHeader, ConstructorsGiveThePrescribedFirstBytes) {
  struct Case {
    TNeloMQTTPacketType Type;
    uint8_t Byte;
  };
  const Case kCases[] = {{mtCONNECT, 0x10},  {mtCONNACK, 0x20},     {mtPUBLISH, 0x30},  {mtPUBACK, 0x40},
                         {mtPUBREC, 0x50},   {mtPUBREL, 0x62},      {mtPUBCOMP, 0x70},  {mtSUBSCRIBE, 0x82},
                         {mtSUBACK, 0x90},   {mtUNSUBSCRIBE, 0xA2}, {mtUNSUBACK, 0xB0}, {mtPINGREQ, 0xC0},
                         {mtPINGRESP, 0xD0}, {mtDISCONNECT, 0xE0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(PacketTypeToString(c.Type));
    EXPECT_EQ(TNeloMQTTFixedHeader(c.Type).Byte(), c.Byte);
  }
  EXPECT_EQ(TNeloMQTTFixedHeader(mtPUBLISH, true, qosExactlyOnce, true).Byte(), 0x3D);
  // The four-argument form has no special cases.
  EXPECT_EQ(TNeloMQTTFixedHeader(mtPUBREL, false, qosAtMostOnce, false).Byte(), 0x60);
}

TEST(FixedHeader, ReceivedByteIsTakenOverAndRendered) {
  const TNeloMQTTFixedHeader pubRel(static_cast<uint8_t>(0x62));
  EXPECT_EQ(pubRel.PacketType(), mtPUBREL);
  EXPECT_EQ(pubRel.QoS(), qosAtLeastOnce);
  EXPECT_FALSE(pubRel.IsDuplicate());
  EXPECT_FALSE(pubRel.Retain());

  EXPECT_EQ(TNeloMQTTFixedHeader(static_cast<uint8_t>(0x32)).ToString(),
            "MessageType: mtPUBLISH\r\nIsDuplicate: 0\r\nQos: qosAtLeastOnce\r\nRetain: 0\r\n");
  EXPECT_EQ(TNeloMQTTFixedHeader(static_cast<uint8_t>(0xFF)).ToString(),
            "MessageType: mtRESERVED15\r\nIsDuplicate: -1\r\nQos: qosRESERVED\r\nRetain: -1\r\n");

  // Setting DUP in a stored first byte (what a retransmission does).
  TNeloMQTTFixedHeader stored(static_cast<uint8_t>(0x32));
  stored.SetIsDuplicate(true);
  EXPECT_EQ(stored.Byte(), 0x3A);
}

TEST(FixedHeader, RenderingNamesEveryTypeAndQoS) {
  // The enumerator identifiers are part of the debug interface.
  const char* const kTypes[16] = {"mtRESERVED0", "mtCONNECT",  "mtCONNACK",     "mtPUBLISH",
                                  "mtPUBACK",    "mtPUBREC",   "mtPUBREL",      "mtPUBCOMP",
                                  "mtSUBSCRIBE", "mtSUBACK",   "mtUNSUBSCRIBE", "mtUNSUBACK",
                                  "mtPINGREQ",   "mtPINGRESP", "mtDISCONNECT",  "mtRESERVED15"};
  const char* const kQoS[4] = {"qosAtMostOnce", "qosAtLeastOnce", "qosExactlyOnce", "qosRESERVED"};
  for (int type = 0; type < 16; ++type) {
    for (int flags = 0; flags < 16; ++flags) {
      const auto byte = static_cast<uint8_t>(type << 4 | flags);
      SCOPED_TRACE(static_cast<int>(byte));
      const std::string expected = std::string("MessageType: ") + kTypes[type] + "\r\n" +
                                   "IsDuplicate: " + ((flags & 8) ? "-1" : "0") + "\r\n" +
                                   "Qos: " + kQoS[(flags >> 1) & 3] + "\r\n" +
                                   "Retain: " + ((flags & 1) ? "-1" : "0") + "\r\n";
      EXPECT_EQ(TNeloMQTTFixedHeader(byte).ToString(), expected);
    }
  }
}

TEST(VariableHeader, PacketIdBytesTextAndReadOnlyBytes) {
  TNeloMQTTVariableHeader none;
  EXPECT_TRUE(none.GetBytes().empty());
  EXPECT_EQ(none.ToString(), "");
  TNeloMQTTVariableHeader ten(10);
  EXPECT_EQ(ToHex(ten.Bytes()), "00 0A");
  EXPECT_EQ(ten.ToString(), "PacketId: 10\r\n");
  ten.SetBytes(Hex("12 34"));
  EXPECT_EQ(ten.PacketId(), 10);
  EXPECT_EQ(ToHex(ten.GetBytes()), "00 0A");

  int index = 1;
  TNeloMQTTVariableHeader read;
  read.ReadPacketId(Hex("FF 01 02"), index);
  EXPECT_EQ(read.PacketId(), 0x0102);
  EXPECT_EQ(index, 3);
}

TEST(Packet, HeaderOnlyPacketsSerialiseToTwoBytes) {
  EXPECT_EQ(ToHex(TNeloMQTTPingRequestPacket().GetBytes()), "C0 00");
  EXPECT_EQ(ToHex(TNeloMQTTPingRespPacket().GetBytes()), "D0 00");
  EXPECT_EQ(ToHex(TNeloMQTTDisconnectPacket().GetBytes()), "E0 00");
  EXPECT_EQ(ToHex(TNeloMQTTPubAckPacket(0).GetBytes()), "40 00");
  EXPECT_EQ(ToHex(TNeloMQTTPubAckPacket(10).GetBytes()), "40 02 00 0A");
}

TEST(Packet, RemainingLengthGrowsAtTheBoundaryAndSerialisingIsRepeatable) {
  // Topic field "t" is 3 bytes; QoS 0 so no identifier: body = 3 + payload.
  const TNeloMQTTPublishPacket L127(0, "t", TNeloMQTTBytes(124, 0x55), qosAtMostOnce, false);
  const TNeloMQTTBytes bytes127 = L127.GetBytes();
  ASSERT_EQ(bytes127.size(), 129u);
  EXPECT_EQ(bytes127[1], 0x7F);
  EXPECT_EQ(L127.GetBytes(), bytes127);

  const TNeloMQTTPublishPacket L128(0, "t", TNeloMQTTBytes(125, 0x55), qosAtMostOnce, false);
  const TNeloMQTTBytes bytes128 = L128.GetBytes();
  ASSERT_EQ(bytes128.size(), 131u);
  EXPECT_EQ(bytes128[1], 0x80);
  EXPECT_EQ(bytes128[2], 0x01);
  EXPECT_EQ(bytes128[3], 0x00);  // the topic field starts right behind the length
  EXPECT_EQ(bytes128[5], 't');

  const TNeloMQTTPublishPacket L203(0, "t", TNeloMQTTBytes(200, 0x55), qosAtMostOnce, false);
  const TNeloMQTTBytes bytes203 = L203.GetBytes();
  ASSERT_EQ(bytes203.size(), 206u);
  EXPECT_EQ(ToHex(TNeloMQTTBytes(bytes203.begin(), bytes203.begin() + 3)), "30 CB 01");
}

TEST(Packet, DefaultsWithoutHeadersAndRawBytesOfAReceivedPacket) {
  TNeloMQTTPingRespPacket received(std::make_unique<TNeloMQTTFixedHeader>(static_cast<uint8_t>(0xD0)),
                                   Hex("00"));
  EXPECT_EQ(received.PacketId(), 0);
  EXPECT_EQ(ToHex(received.GetRawBytes()), "00");
  EXPECT_EQ(received.ToString(), "TNeloMQTTPingRespPacket");
  EXPECT_TRUE(TNeloMQTTPingRespPacket().GetRawBytes().empty());

  received.SetFixedHeader(nullptr);
  EXPECT_EQ(received.PacketType(), mtRESERVED0);
  EXPECT_EQ(received.QoS(), qosAtMostOnce);
  EXPECT_FALSE(received.IsDuplicate());
  EXPECT_FALSE(received.IsRetained());
}

}  // namespace
