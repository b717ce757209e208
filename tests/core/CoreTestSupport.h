// A recording sink for the protocol core and builders for the broker's
// packets: the core's tests are plain calls on a session, with the time as
// a number.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "Nelo.MQTT.Core.h"

namespace coretest {

inline std::string Hex(const uint8_t* AData, std::size_t ASize) {
  static const char* kDigits = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < ASize; ++i) {
    if (i > 0) text += ' ';
    text += kDigits[AData[i] >> 4];
    text += kDigits[AData[i] & 0x0F];
  }
  return text;
}
inline std::string Hex(const TNeloMQTTBytes& ABytes) { return Hex(ABytes.data(), ABytes.size()); }

// Whole frames only: the remaining length read from the bytes must match
// their size exactly (one packet per write).
inline bool IsOneWholeFrame(const uint8_t* AData, std::size_t ASize) {
  if (ASize < 2) return false;
  uint32_t length = 0;
  std::size_t i = 1;
  for (int shift = 0; i < ASize && shift < 28; shift += 7) {
    const uint8_t byte = AData[i++];
    length |= static_cast<uint32_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return i + length == ASize;
  }
  return false;
}

struct TRecorder : TNeloMQTTCoreSink {
  // Every action in order, as text, for comparing whole runs.
  std::vector<std::string> Events;
  std::vector<TNeloMQTTBytes> Writes;
  std::vector<TNeloMQTTMessage> Messages;
  std::vector<TNeloMQTTCoreAck> Acks;
  std::vector<TNeloMQTTSubscriptions> Subscriptions;
  std::vector<TNeloMQTTConnectionStatus> Statuses;
  std::vector<std::pair<TNeloMQTTLogLevel, std::string>> Logs;
  std::vector<TNeloMQTTCoreCloseReason> Closes;
  std::vector<TNeloMQTTPacketInfo> Sent;
  std::vector<TNeloMQTTPacketInfo> Received;
  // Set by CoreClose, cleared by the test when it opens the session again.
  bool Closed = false;
  int WritesWhileClosed = 0;
  int SplitWrites = 0;

  void CoreWrite(const uint8_t* AData, std::size_t ASize) override {
    if (Closed) ++WritesWhileClosed;
    if (!IsOneWholeFrame(AData, ASize)) ++SplitWrites;
    Writes.emplace_back(AData, AData + ASize);
    Events.push_back("write " + Hex(AData, ASize));
  }
  void CoreClose(TNeloMQTTCoreCloseReason AReason) override {
    Closed = true;
    Closes.push_back(AReason);
    Events.push_back("close " + std::to_string(AReason));
  }
  void CoreStatus(TNeloMQTTConnectionStatus AStatus) override {
    Statuses.push_back(AStatus);
    Events.push_back("status " + std::to_string(AStatus));
  }
  void CoreDeliver(TNeloMQTTMessage& AMessage) override {
    Messages.push_back(AMessage);
    Events.push_back("deliver " + AMessage.Topic + " q" + std::to_string(AMessage.QoS) + " r" +
                     std::to_string(AMessage.Retain) + " d" + std::to_string(AMessage.Dup) + " id" +
                     std::to_string(AMessage.PacketId) + " " + Hex(AMessage.Payload));
  }
  void CoreAcknowledged(const TNeloMQTTCoreAck& AAck) override {
    Acks.push_back(AAck);
    Acks.back().Subscriptions = nullptr;
    std::string text = "ack " + std::to_string(AAck.Kind) + " id" + std::to_string(AAck.PacketId) + " q" +
                       std::to_string(AAck.QoS) + " t" + std::to_string(AAck.PacketType);
    if (AAck.Subscriptions != nullptr) {
      Subscriptions.push_back(*AAck.Subscriptions);
      for (const auto& entry : *AAck.Subscriptions)
        text += " " + entry.Topic + ":" + std::to_string(entry.Accepted) + ":" + std::to_string(entry.MaxQoS);
    }
    Events.push_back(text);
  }
  void CorePacketSent(const TNeloMQTTPacketInfo& AInfo) override {
    Sent.push_back(AInfo);
    Events.push_back("sent t" + std::to_string(AInfo.PacketType) + " id" + std::to_string(AInfo.PacketId) +
                     " dup" + std::to_string(AInfo.IsDuplicate));
  }
  void CorePacketReceived(const TNeloMQTTPacketInfo& AInfo) override {
    Received.push_back(AInfo);
    Events.push_back("received t" + std::to_string(AInfo.PacketType) + " id" +
                     std::to_string(AInfo.PacketId));
  }
  void CoreLog(TNeloMQTTLogLevel ALevel, const std::string& AText, const char* AError) override {
    Logs.emplace_back(ALevel, AText);
    Events.push_back("log " + std::to_string(ALevel) + " " + AText +
                     (AError ? std::string(" | ") + AError : ""));
  }

  bool Logged(TNeloMQTTLogLevel ALevel, const std::string& APrefix) const {
    for (const auto& line : Logs)
      if (line.first == ALevel && line.second.rfind(APrefix, 0) == 0) return true;
    return false;
  }
  // Writes whose first byte is AFirst.
  int WritesOf(uint8_t AFirst) const {
    int count = 0;
    for (const auto& write : Writes)
      if (!write.empty() && write[0] == AFirst) ++count;
    return count;
  }
  void Forget() {
    Events.clear();
    Writes.clear();
    Messages.clear();
    Acks.clear();
    Subscriptions.clear();
    Statuses.clear();
    Logs.clear();
    Closes.clear();
    Sent.clear();
    Received.clear();
  }
};

// ---- The broker's packets ----

inline TNeloMQTTBytes ConnAck(bool ASessionPresent, uint8_t ACode) {
  return {0x20, 0x02, static_cast<uint8_t>(ASessionPresent ? 1 : 0), ACode};
}

inline TNeloMQTTBytes Ack(TNeloMQTTPacketType AType, uint16_t AId) {
  const uint8_t first = static_cast<uint8_t>((AType << 4) | (AType == mtPUBREL ? 0x02 : 0x00));
  return {first, 0x02, static_cast<uint8_t>(AId >> 8), static_cast<uint8_t>(AId & 0xFF)};
}

inline TNeloMQTTBytes PublishFrame(TNeloMQTTQoS AQos, uint16_t AId, const std::string& ATopic,
                                   const std::string& APayload, bool ADup = false, bool ARetain = false) {
  TNeloMQTTBytes body;
  body.push_back(static_cast<uint8_t>(ATopic.size() >> 8));
  body.push_back(static_cast<uint8_t>(ATopic.size() & 0xFF));
  body.insert(body.end(), ATopic.begin(), ATopic.end());
  if (AQos > qosAtMostOnce) {
    body.push_back(static_cast<uint8_t>(AId >> 8));
    body.push_back(static_cast<uint8_t>(AId & 0xFF));
  }
  body.insert(body.end(), APayload.begin(), APayload.end());
  TNeloMQTTBytes frame;
  frame.push_back(static_cast<uint8_t>(0x30 | (ADup ? 0x08 : 0) | (AQos << 1) | (ARetain ? 1 : 0)));
  std::size_t length = body.size();
  do {
    uint8_t byte = length & 0x7F;
    length >>= 7;
    if (length > 0) byte |= 0x80;
    frame.push_back(byte);
  } while (length > 0);
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

inline TNeloMQTTBytes SubAckFrame(uint16_t AId, const std::vector<uint8_t>& ACodes) {
  TNeloMQTTBytes frame = {0x90, static_cast<uint8_t>(2 + ACodes.size()), static_cast<uint8_t>(AId >> 8),
                          static_cast<uint8_t>(AId & 0xFF)};
  frame.insert(frame.end(), ACodes.begin(), ACodes.end());
  return frame;
}

inline const TNeloMQTTBytes kPingResp = {0xD0, 0x00};

inline TNeloMQTTBytes Concat(std::initializer_list<TNeloMQTTBytes> AParts) {
  TNeloMQTTBytes all;
  for (const auto& part : AParts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A session with its recorder; Now is the test's clock.
struct TSession {
  TRecorder Sink;
  TNeloMQTTCore Core{Sink};
  TNeloMQTTCoreOptions Options;
  int64_t Now = 1000;

  TSession() { Options.ClientId = "core-test"; }

  void Feed(const TNeloMQTTBytes& ABytes) {
    const std::size_t taken = Core.Received(ABytes.data(), ABytes.size(), Now);
    EXPECT_EQ(taken, ABytes.size());
  }
  void Open(bool AClean = true) {
    Options.CleanSession = AClean;
    Sink.Closed = false;
    Core.Connect(Options, Now);
  }
  // Connected through an accepted CONNACK; the recorder starts empty.
  void Accept(bool AClean = true, bool ASessionPresent = false) {
    Open(AClean);
    Feed(ConnAck(ASessionPresent, 0));
    EXPECT_TRUE(Core.IsConnected());
    Sink.Forget();
  }
  // The transport went down and came back: an automatic reconnect.
  void Reconnect(bool ASessionPresent) {
    Core.TransportClosed(Now);
    Sink.Closed = false;
    Core.Reconnect(Options, Now);
    Feed(ConnAck(ASessionPresent, 0));
  }
};

}  // namespace coretest
