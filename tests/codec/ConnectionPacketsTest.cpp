#include <gtest/gtest.h>

#include "CodecTestSupport.h"
#include "Nelo.MQTT.Packets.CONNACK.h"
#include "Nelo.MQTT.Packets.CONNECT.h"

namespace {

// The settings the client assigns to every CONNECT, in its order.
struct ConnectSettings {
  const char* Name;
  std::string ClientId;
  bool CleanSession;
  std::string UserName, Password, WillTopic, WillMessage;
  bool WillRetain;
  TNeloMQTTQoS WillQoS;
  uint16_t KeepAlive;
  const char* Wire;
};

TNeloMQTTBytes BuildConnect(const ConnectSettings& s) {
  TNeloMQTTConnectPacket packet(s.ClientId);
  packet.SetCleanSession(s.CleanSession);
  packet.SetUserName(s.UserName);
  packet.SetPassword(s.Password);
  packet.SetWillTopic(s.WillTopic);
  packet.SetWillMessage(s.WillMessage);
  packet.SetWillRetain(s.WillRetain);
  packet.SetWillQoS(s.WillQoS);
  packet.SetKeepAlive(s.KeepAlive);
  return packet.GetBytes();
}

TEST(ConnectPacket, SerialisesToTheExpectedWireForm) {
  const ConnectSettings kCases[] = {
      {"user, clean, 120", "abc", true, "u", "", "", "", false, qosAtMostOnce, 120,
       "10 12 00 04 4D 51 54 54 04 82 00 78 00 03 61 62 63 00 01 75"},
      {"will qos1 retain", "abc", true, "", "", "w", "bye", true, qosAtLeastOnce, 120,
       "10 17 00 04 4D 51 54 54 04 2E 00 78 00 03 61 62 63 00 01 77 00 03 62 79 65"},
      {"bare, 60", "abc", false, "", "", "", "", false, qosAtMostOnce, 60,
       "10 0F 00 04 4D 51 54 54 04 00 00 3C 00 03 61 62 63"},
      {"user and password", "abc", true, "u", "p", "", "", false, qosAtMostOnce, 120,
       "10 15 00 04 4D 51 54 54 04 C2 00 78 00 03 61 62 63 00 01 75 00 01 70"},
      {"password only", "abc", true, "", "p", "", "", false, qosAtMostOnce, 120,
       "10 12 00 04 4D 51 54 54 04 42 00 78 00 03 61 62 63 00 01 70"},
      {"blank credentials are trimmed away", "abc", true, "   ", " \t ", "", "", false, qosAtMostOnce, 120,
       "10 0F 00 04 4D 51 54 54 04 02 00 78 00 03 61 62 63"},
      {"will topic trimmed, message kept", "abc", false, "", "", " t ", " m ", false, qosAtMostOnce, 0,
       "10 17 00 04 4D 51 54 54 04 04 00 00 00 03 61 62 63 00 01 74 00 03 20 6D 20"},
      {"will with empty message", "abc", false, "", "", "w", "", false, qosAtMostOnce, 0,
       "10 14 00 04 4D 51 54 54 04 04 00 00 00 03 61 62 63 00 01 77 00 00"},
      {"will message without topic is never sent; will qos still flagged", "abc", false, "", "", "",
       "a long last will", false, qosExactlyOnce, 0xFFFF,
       "10 0F 00 04 4D 51 54 54 04 10 FF FF 00 03 61 62 63"},
      {"will retain reaches the flags without a will topic", "abc", false, "", "", "", "", true,
       qosAtLeastOnce, 0, "10 0F 00 04 4D 51 54 54 04 28 00 00 00 03 61 62 63"},
      {"empty client id", "", false, "", "", "", "", false, qosAtMostOnce, 0,
       "10 0C 00 04 4D 51 54 54 04 00 00 00 00 00"},
      {"client id is never trimmed", " x", false, "", "", "", "", false, qosAtMostOnce, 0,
       "10 0E 00 04 4D 51 54 54 04 00 00 00 00 02 20 78"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ToHex(BuildConnect(c)), ToHex(Hex(c.Wire)));
  }
}

TEST(ConnectPacket, AccessorsReadBackWhatWasStored) {
  TNeloMQTTConnectPacket packet("id");
  packet.SetUserName("  bob\r\n");
  packet.SetWillTopic(" t ");
  packet.SetWillQoS(qosExactlyOnce);
  packet.SetKeepAlive(300);
  EXPECT_EQ(packet.UserName(), "bob");
  EXPECT_EQ(packet.WillTopic(), "t");
  EXPECT_EQ(packet.WillQoS(), qosExactlyOnce);
  EXPECT_EQ(packet.KeepAlive(), 300);
  EXPECT_EQ(packet.PacketId(), 0);
  auto& header = dynamic_cast<TNeloMQTTConnectVariableHeader&>(*packet.VariableHeader());
  EXPECT_EQ(header.ProtocolName(), "MQTT");
  EXPECT_EQ(header.ConnectFlags()->Byte(), 0x80 | 0x04 | 0x10);
  header.SetBytes(Hex("00"));
  EXPECT_EQ(ToHex(header.GetBytes()), "00 04 4D 51 54 54 04 94 01 2C");
  // Clearing the user name clears its flag again.
  packet.SetUserName("");
  EXPECT_FALSE(header.ConnectFlags()->HasUserName());
}

TEST(ConnectPacket, ReceivedConnectHasNoHeaderAndItsConnectAccessorsRaise) {
  TNeloMQTTConnectPacket packet(std::make_unique<TNeloMQTTFixedHeader>(static_cast<uint8_t>(0x10)),
                                Hex("00 04 4D 51 54 54 04 02 00 3C"));
  EXPECT_EQ(packet.VariableHeader(), nullptr);
  EXPECT_EQ(packet.PacketId(), 0);
  EXPECT_EQ(packet.PacketType(), mtCONNECT);
  EXPECT_THROW(packet.CleanSession(), ENeloMQTTError);
  EXPECT_THROW(packet.KeepAlive(), ENeloMQTTError);
  EXPECT_THROW(packet.WillQoS(), ENeloMQTTError);
  EXPECT_THROW(packet.SetUserName("u"), ENeloMQTTError);
  EXPECT_EQ(packet.UserName(), "");  // the failed setter stored nothing
  // The texts themselves are plain fields and stay readable.
  EXPECT_EQ(packet.ClientIdentifier(), "");
}

TEST(ConnAckPacket, BuildAndDecode) {
  EXPECT_EQ(ToHex(TNeloMQTTConnAckPacket(true, rcConAccepted).GetBytes()), "20 02 01 00");
  EXPECT_EQ(ToHex(TNeloMQTTConnAckPacket(false, rcConRejected_InvalidCredentials).GetBytes()), "20 02 00 04");

  struct Case {
    const char* Body;
    bool SessionPresent;
    uint8_t FlagsByte;
    uint8_t ReturnCode;
  };
  const Case kCases[] = {
      {"00 05", false, 0x00, rcConRejected_ClientNotAuthorized},
      {"01 00", true, 0x01, rcConAccepted},
      {"FF 00", true, 0xFF, rcConAccepted},                           // reserved bits kept, not cleared
      {"00 C8", false, 0x00, 200},                                    // unknown code kept as it came
      {"00 03 99 99", false, 0x00, rcConRejected_ServerUnavailable},  // extra bytes ignored
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Body);
    TNeloMQTTConnAckPacket packet(std::make_unique<TNeloMQTTFixedHeader>(static_cast<uint8_t>(0x20)),
                                  Hex(c.Body));
    auto& header = dynamic_cast<TNeloMQTTConnAckVariableHeader&>(*packet.VariableHeader());
    EXPECT_EQ(header.SessionPresent(), c.SessionPresent);
    EXPECT_EQ(header.ConnAckFlags()->Byte(), c.FlagsByte);
    EXPECT_EQ(static_cast<int>(packet.ReturnCode()), c.ReturnCode);
  }
}

TEST(ConnAckPacket, ShortBodyRaisesCouldNotRead) {
  for (const char* body : {"", "01"}) {
    SCOPED_TRACE(body);
    try {
      TNeloMQTTConnAckPacket packet(std::make_unique<TNeloMQTTFixedHeader>(static_cast<uint8_t>(0x20)),
                                    Hex(body));
      FAIL() << "no exception";
    } catch (const ENeloMQTTError& e) {
      EXPECT_STREQ(e.what(), "Could not read");
    }
  }
}

}  // namespace
