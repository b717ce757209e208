// Shared enumerations, arrays, records and error types of the MQTT library.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// One byte-array type for packet bytes, payloads and received frames.
// Empty means no bytes; there is no separate null state.
using TNeloMQTTBytes = std::vector<uint8_t>;

// The ordinal is the 4-bit control packet type on the wire.
enum TNeloMQTTPacketType {
  mtRESERVED0 = 0,
  mtCONNECT = 1,
  mtCONNACK = 2,
  mtPUBLISH = 3,
  mtPUBACK = 4,
  mtPUBREC = 5,
  mtPUBREL = 6,
  mtPUBCOMP = 7,
  mtSUBSCRIBE = 8,
  mtSUBACK = 9,
  mtUNSUBSCRIBE = 10,
  mtUNSUBACK = 11,
  mtPINGREQ = 12,
  mtPINGRESP = 13,
  mtDISCONNECT = 14,
  mtRESERVED15 = 15
};

// The ordinal is the 2-bit QoS value on the wire.
enum TNeloMQTTQoS { qosAtMostOnce = 0, qosAtLeastOnce = 1, qosExactlyOnce = 2, qosRESERVED = 3 };

// Ordinals 1 to 5 equal the CONNACK return codes 1 to 5.
enum TNeloMQTTConnectionStatus {
  csNotConnected = 0,
  csConnectionRejected_InvalidProtocolVersion = 1,
  csConnectionRejected_InvalidIdentifier = 2,
  csConnectionRejected_ServerUnavailable = 3,
  csConnectionRejected_InvalidCredentials = 4,
  csConnectionRejected_ClientNotAuthorized = 5,
  csConnectionLost = 6,
  csConnecting = 7,
  csReconnecting = 8,
  csConnected = 9
};

// Base of every object that can be the sender of an event or a log call.
// ClassName() is what the log line shows as its sender.
class TNeloObject {
 public:
  virtual ~TNeloObject() = default;
  virtual std::string ClassName() const { return "TNeloObject"; }
  // The object's text rendering; by default its class name.
  virtual std::string ToString() const { return ClassName(); }
};

using TNeloStringArray = std::vector<std::string>;
using TNeloQosArray = std::vector<TNeloMQTTQoS>;

// Describes one packet sent or received without exposing the packet object.
struct TNeloMQTTPacketInfo {
  uint16_t PacketId = 0;
  TNeloMQTTPacketType PacketType = mtRESERVED0;
  TNeloMQTTQoS PacketQos = qosAtMostOnce;
  bool IsDuplicate = false;
  bool IsRetained = false;
};

struct TNeloMQTTSubscription {
  std::string Topic;
  bool Accepted = false;
  TNeloMQTTQoS MaxQoS = qosAtMostOnce;
};
using TNeloMQTTSubscriptions = std::vector<TNeloMQTTSubscription>;

// One per SUBSCRIBE sent and not yet acknowledged.
struct TNeloMQTTRequestedSubscription {
  uint16_t PacketId = 0;
  TNeloStringArray Topics;
};
using TNeloMQTTRequestedSubscriptions = std::vector<TNeloMQTTRequestedSubscription>;

// The library's general exception: fixed texts such as "Could not read".
class ENeloMQTTError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A violated precondition. what() is the fixed text followed by the source
// location, e.g. "This action requires a connected state (mqtt/engine/Nelo.MQTT.Client.cpp, line 212)".
class ENeloMQTTAssertionFailed : public std::logic_error {
 public:
  ENeloMQTTAssertionFailed(const std::string& AText, const char* AFile, int ALine);
  // The fixed text without the location.
  const std::string& Text() const { return FText; }

 private:
  std::string FText;
};

// Raises ENeloMQTTAssertionFailed with AText when ACondition is false.
// Source paths are relative to the repository root (see -fmacro-prefix-map).
#define NELO_ASSERT(ACondition, AText)                                              \
  do {                                                                              \
    if (!(ACondition)) throw ENeloMQTTAssertionFailed((AText), __FILE__, __LINE__); \
  } while (0)
