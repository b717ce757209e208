#include <gtest/gtest.h>

#include "CodecTestSupport.h"
#include "Nelo.MQTT.Packets.PUBACK.h"
#include "Nelo.MQTT.Packets.PUBCOMP.h"
#include "Nelo.MQTT.Packets.PUBLISH.h"
#include "Nelo.MQTT.Packets.PUBREC.h"
#include "Nelo.MQTT.Packets.PUBREL.h"

namespace {

std::unique_ptr<TNeloMQTTFixedHeader> Header(uint8_t AByte) {
  return std::make_unique<TNeloMQTTFixedHeader>(AByte);
}

TEST(PublishPacket, SerialisesToTheExpectedWireForm) {
  struct Case {
    const char* Name;
    uint16_t PacketId;
    std::string Topic;
    std::string Payload;
    TNeloMQTTQoS QoS;
    bool Retain;
    const char* Wire;
  };
  const Case kCases[] = {
      {"qos1 id10", 10, "a/b", "hi", qosAtLeastOnce, false, "32 09 00 03 61 2F 62 00 0A 68 69"},
      {"qos0 retain", 0, "a/b", "hi", qosAtMostOnce, true, "31 07 00 03 61 2F 62 68 69"},
      {"qos2 id11", 11, "a/b", "hi", qosExactlyOnce, false, "34 09 00 03 61 2F 62 00 0B 68 69"},
      {"qos0 drops a given id", 5, "a/b", "hi", qosAtMostOnce, false, "30 07 00 03 61 2F 62 68 69"},
      {"qos1 writes id 0", 0, "a/b", "", qosAtLeastOnce, false, "32 07 00 03 61 2F 62 00 00"},
      {"qos0 empty payload", 0, "a/b", "", qosAtMostOnce, false, "30 05 00 03 61 2F 62"},
      {"utf-8 topic counts bytes", 0, "\xC3\xA9", "", qosAtMostOnce, false, "30 04 00 02 C3 A9"},
      {"reserved qos gets bits 11 and an id", 7, "t", "", qosRESERVED, false, "36 05 00 01 74 00 07"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Name);
    const TNeloMQTTPublishPacket packet(c.PacketId, c.Topic, Text(c.Payload), c.QoS, c.Retain);
    EXPECT_EQ(ToHex(packet.GetBytes()), ToHex(Hex(c.Wire)));
    EXPECT_FALSE(packet.IsDuplicate());
  }
}

TEST(PublishPacket, DecodesReceivedBodies) {
  struct Case {
    const char* Name;
    uint8_t First;
    const char* Body;
    std::string Topic;
    uint16_t PacketId;
    const char* Payload;
  };
  const Case kCases[] = {
      {"qos0", 0x30, "00 03 61 2F 62 68 69", "a/b", 0, "68 69"},
      {"qos1 empty payload", 0x32, "00 03 61 2F 62 00 0A", "a/b", 10, ""},
      {"qos1 with payload", 0x32, "00 03 61 2F 62 00 0A 68 69", "a/b", 10, "68 69"},
      {"reserved qos like qos1", 0x36, "00 01 74 00 03 7A", "t", 3, "7A"},
      // An empty topic field with nothing behind it is not consumed.
      {"qos0 lone empty field", 0x30, "00 00", "", 0, "00 00"},
      // A field longer than the body: topic empty, reading goes on behind its length.
      {"qos0 overlong field", 0x30, "00 09 61 62", "", 0, "61 62"},
      {"qos0 nothing at all", 0x30, "", "", 0, ""},
      {"qos1 overlong field, id behind length", 0x32, "00 09 00 01", "", 1, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Name);
    const TNeloMQTTPublishPacket packet(Header(c.First), Hex(c.Body));
    EXPECT_EQ(packet.TopicName(), c.Topic);
    EXPECT_EQ(packet.PacketId(), c.PacketId);
    EXPECT_EQ(ToHex(packet.Payload()), c.Payload);
    EXPECT_EQ(ToHex(packet.GetRawBytes()), ToHex(Hex(c.Body)));
  }
}

TEST(PublishPacket, FlagsOfAReceivedPacketAreThoseReceived) {
  const TNeloMQTTPublishPacket packet(Header(0x3B), Hex("00 01 74 00 01"));
  EXPECT_TRUE(packet.IsDuplicate());
  EXPECT_TRUE(packet.IsRetained());
  EXPECT_EQ(packet.QoS(), qosAtLeastOnce);
  EXPECT_EQ(packet.PacketId(), 1);
  EXPECT_TRUE(packet.Payload().empty());
}

TEST(PublishPacket, DecodedPacketSerialisesBackToTheSameFrame) {
  // Includes QoS 1 and 2: the packet identifier must survive the round trip,
  // and the retransmission form with DUP set.
  for (const char* frame :
       {"32 09 00 03 61 2F 62 00 0A 68 69", "3A 09 00 03 61 2F 62 00 0A 68 69", "31 07 00 03 61 2F 62 68 69",
        "35 09 00 03 61 2F 62 00 0B 68 69", "30 05 00 03 61 2F 62"}) {
    SCOPED_TRACE(frame);
    const TNeloMQTTBytes wire = Hex(frame);
    const TNeloMQTTPublishPacket packet(Header(wire[0]), TNeloMQTTBytes(wire.begin() + 2, wire.end()));
    EXPECT_EQ(ToHex(packet.GetBytes()), frame);
  }
}

TEST(PublishPacket, BuiltQoS0PacketDecodesWithoutIdentifier) {
  const TNeloMQTTBytes wire = TNeloMQTTPublishPacket(5, "x", Text("p"), qosAtMostOnce, false).GetBytes();
  const TNeloMQTTPublishPacket back(Header(wire[0]), TNeloMQTTBytes(wire.begin() + 2, wire.end()));
  EXPECT_EQ(back.PacketId(), 0);
  EXPECT_EQ(back.TopicName(), "x");
  EXPECT_EQ(ToHex(back.Payload()), "70");
}

TEST(PublishPacket, TopicBytesThatAreNotUtf8AreKeptUnchanged) {
  // Invalid UTF-8 (a lone continuation byte, an overlong form, 0xFF) is
  // neither replaced nor refused: the bytes stay as received.
  const TNeloMQTTBytes body = Hex("00 04 80 C0 AF FF 68 69");
  const TNeloMQTTPublishPacket packet(Header(0x30), body);
  EXPECT_EQ(packet.TopicName(), std::string("\x80\xC0\xAF\xFF"));
  EXPECT_EQ(ToHex(packet.Payload()), "68 69");
  EXPECT_EQ(ToHex(packet.GetBytes()), "30 08 " + ToHex(body));
}

TEST(PublishPacket, BodyEndingBeforeThePacketIdRaisesCouldNotRead) {
  for (const auto& [first, body] : {std::pair<uint8_t, const char*>{0x32, "00 03 61 2F 62"},
                                    {0x34, "00 03 61 2F 62 00"},
                                    {0x32, ""},
                                    {0x36, "00 01 74 00"}}) {
    SCOPED_TRACE(body);
    try {
      TNeloMQTTPublishPacket packet(Header(first), Hex(body));
      FAIL() << "no exception";
    } catch (const ENeloMQTTError& e) {
      EXPECT_STREQ(e.what(), "Could not read");
    }
  }
}

TEST(PublishPacket, TopicOfAPacketWithoutPublishHeaderRaises) {
  TNeloMQTTPublishPacket packet(1, "t", {}, qosAtLeastOnce, false);
  packet.SetVariableHeader(std::make_unique<TNeloMQTTVariableHeader>(1));
  EXPECT_THROW(packet.TopicName(), ENeloMQTTError);
}

// The acknowledgement family: build, serialise, decode.
template <class T>
struct AckCase {
  static std::unique_ptr<TNeloMQTTPacket> Build(uint16_t AId) { return std::make_unique<T>(AId); }
  static std::unique_ptr<TNeloMQTTPacket> Parse(uint8_t AFirst, TNeloMQTTBytes ABytes) {
    return std::make_unique<T>(Header(AFirst), std::move(ABytes));
  }
};

struct AckRow {
  const char* Name;
  TNeloMQTTPacketType Type;
  std::unique_ptr<TNeloMQTTPacket> (*Build)(uint16_t);
  std::unique_ptr<TNeloMQTTPacket> (*Parse)(uint8_t, TNeloMQTTBytes);
  const char* Wire;  // for packet identifier 11
};

const AckRow kAcks[] = {
    {"PUBACK", mtPUBACK, &AckCase<TNeloMQTTPubAckPacket>::Build, &AckCase<TNeloMQTTPubAckPacket>::Parse,
     "40 02 00 0B"},
    {"PUBREC", mtPUBREC, &AckCase<TNeloMQTTPubRecPacket>::Build, &AckCase<TNeloMQTTPubRecPacket>::Parse,
     "50 02 00 0B"},
    {"PUBREL", mtPUBREL, &AckCase<TNeloMQTTPubRelPacket>::Build, &AckCase<TNeloMQTTPubRelPacket>::Parse,
     "62 02 00 0B"},
    {"PUBCOMP", mtPUBCOMP, &AckCase<TNeloMQTTPubCompPacket>::Build, &AckCase<TNeloMQTTPubCompPacket>::Parse,
     "70 02 00 0B"},
};

TEST(AcknowledgementPackets, BuildSerialiseAndDecode) {
  for (const auto& a : kAcks) {
    SCOPED_TRACE(a.Name);
    const auto built = a.Build(11);
    EXPECT_EQ(built->PacketType(), a.Type);
    EXPECT_EQ(ToHex(built->GetBytes()), a.Wire);

    const TNeloMQTTBytes wire = Hex(a.Wire);
    const auto parsed = a.Parse(wire[0], Hex("00 0B 00"));  // a trailing byte is ignored
    EXPECT_EQ(parsed->PacketType(), a.Type);
    EXPECT_EQ(parsed->PacketId(), 11);
    EXPECT_EQ(ToHex(parsed->GetBytes()), a.Wire);
  }
}

TEST(AcknowledgementPackets, FewerThanTwoBytesRaiseCouldNotRead) {
  for (const auto& a : kAcks) {
    for (const char* body : {"", "00"}) {
      SCOPED_TRACE(std::string(a.Name) + " [" + body + "]");
      try {
        a.Parse(static_cast<uint8_t>(a.Type << 4), Hex(body));
        FAIL() << "no exception";
      } catch (const ENeloMQTTError& e) {
        EXPECT_STREQ(e.what(), "Could not read");
      }
    }
  }
}

}  // namespace
