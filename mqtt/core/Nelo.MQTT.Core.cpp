#include "Nelo.MQTT.Core.h"

#include <algorithm>

#include "Nelo.MQTT.Packets.CONNECT.h"
#include "Nelo.MQTT.Texts.h"
#include "Nelo.MQTT.Topics.h"
#include "Nelo.MQTT.Utils.h"

namespace {

// The DUP flag: bit 3 of a packet's first byte.
constexpr uint8_t kDuplicateFlag = 0x08;
// Bytes of a packet shown in a debug line.
constexpr std::size_t kLoggedBytes = 51;
// A receive buffer larger than this is given back once its frame is done.
constexpr std::size_t kKeptBufferBytes = 64;

// " --- " and the bytes in base 2, as the logger's byte-array form writes
// them (built in one allocation).
std::string WithBytes(const std::string& AText, const uint8_t* AData, std::size_t ASize) {
  const std::size_t shown = std::min(ASize, kLoggedBytes);
  std::string text;
  text.reserve(AText.size() + 5 + shown * 9);
  text += AText;
  text += " --- ";
  for (std::size_t i = 0; i < shown; ++i) {
    text += ByteToBinaryString(AData[i]);
    text += ' ';
  }
  return text;
}

// The logger's one-byte form: " --- 00110000 (48)".
std::string WithByte(const char* AText, uint8_t AByte) {
  std::string text;
  text.reserve(64);
  text += AText;
  text += " --- ";
  text += ByteToBinaryString(AByte);
  text += " (";
  text += std::to_string(AByte);
  text += ')';
  return text;
}

uint16_t Word(const uint8_t* AData) { return static_cast<uint16_t>((AData[0] << 8) | AData[1]); }

TNeloMQTTPacketInfo ReceivedInfo(uint8_t AFirst, uint16_t APacketId) {
  TNeloMQTTPacketInfo info;
  info.PacketId = APacketId;
  info.PacketType = static_cast<TNeloMQTTPacketType>(AFirst >> 4);
  info.PacketQos = static_cast<TNeloMQTTQoS>((AFirst >> 1) & 0x03);
  info.IsDuplicate = (AFirst & kDuplicateFlag) != 0;
  info.IsRetained = (AFirst & 0x01) != 0;
  return info;
}

TNeloMQTTConnectionStatus StatusOfReturnCode(uint8_t ACode) {
  switch (ACode) {
    case 0:
      return csConnected;
    case 1:
      return csConnectionRejected_InvalidProtocolVersion;
    case 2:
      return csConnectionRejected_InvalidIdentifier;
    case 3:
      return csConnectionRejected_ServerUnavailable;
    case 4:
      return csConnectionRejected_InvalidCredentials;
    case 5:
      return csConnectionRejected_ClientNotAuthorized;
    default:
      return csNotConnected;
  }
}

template <class T>
void Release(std::vector<T>& AVector) {
  std::vector<T>().swap(AVector);
}

// Empties a container; gives its memory back unless it is small (kept for
// the next use, so a steady flow of messages does not allocate anew).
template <class T>
void Trim(std::vector<T>& AVector) {
  AVector.clear();
  if (AVector.capacity() * sizeof(T) > kKeptBufferBytes) Release(AVector);
}

}  // namespace

TNeloMQTTCore::TNeloMQTTCore(TNeloMQTTCoreSink& ASink) : FSink(ASink) {}
TNeloMQTTCore::~TNeloMQTTCore() = default;

// ---------------------------------------------------------------------------
// Status, log, writes

void TNeloMQTTCore::ChangeStatus(TNeloMQTTConnectionStatus AStatus) {
  if (AStatus == FStatus) return;
  FStatus = static_cast<uint8_t>(AStatus);
  FSink.CoreStatus(AStatus);
}

void TNeloMQTTCore::SetStatus(TNeloMQTTConnectionStatus AStatus) { ChangeStatus(AStatus); }

void TNeloMQTTCore::Log(TNeloMQTTLogLevel ALevel, const std::string& AText, const char* AError) {
  if (Logs(ALevel)) FSink.CoreLog(ALevel, AText, AError);
}

void TNeloMQTTCore::Write(const uint8_t* AData, std::size_t ASize, bool AAnswer, int64_t ANow) {
  // A closed session writes nothing, whatever asks for it.
  if (!FOpen) return;
  FLastWrite = ANow;
  FWrittenTotal += ASize;
  if (FFlushTracking && AAnswer) FAnswerEnds.push_back(FWrittenTotal);
  FSink.CoreWrite(AData, ASize);
}

void TNeloMQTTCore::WriteAnswer(TNeloMQTTPacketType AType, uint16_t APacketId, int64_t ANow) {
  // PUBACK, PUBREC, PUBCOMP, and a PUBREL kept for nothing: four bytes, sent once.
  const bool pubRel = AType == mtPUBREL;
  const uint8_t bytes[4] = {static_cast<uint8_t>((AType << 4) | (pubRel ? 0x02 : 0x00)), 0x02,
                            static_cast<uint8_t>(APacketId >> 8), static_cast<uint8_t>(APacketId & 0xFF)};
  if (Logs(vDEBUG)) {
    const std::string text = pubRel ? TNeloMQTTCoreTexts::kOutPacket + std::to_string(APacketId) +
                                          TNeloMQTTCoreTexts::kOutQoS1 +
                                          TNeloMQTTCoreTexts::kOutSendingAttempt + "0"
                                    : std::string(TNeloMQTTCoreTexts::kOutQoS0Sending);
    Log(vDEBUG, WithBytes(text, bytes, sizeof bytes));
  }
  Write(bytes, sizeof bytes, true, ANow);
  TNeloMQTTPacketInfo info;
  info.PacketId = APacketId;
  info.PacketType = AType;
  info.PacketQos = pubRel ? qosAtLeastOnce : qosAtMostOnce;
  FSink.CorePacketSent(info);
}

void TNeloMQTTCore::WriteControl(TNeloMQTTPacketType AType, int64_t ANow) {
  // PINGREQ and DISCONNECT: two bytes. The DISCONNECT is the operator's
  // direct send: the driver logs it as such.
  const uint8_t bytes[2] = {static_cast<uint8_t>(AType << 4), 0x00};
  if (AType == mtPINGREQ && Logs(vDEBUG))
    Log(vDEBUG, WithBytes(TNeloMQTTCoreTexts::kOutQoS0Sending, bytes, sizeof bytes));
  Write(bytes, sizeof bytes, false, ANow);
  TNeloMQTTPacketInfo info;
  info.PacketType = AType;
  FSink.CorePacketSent(info);
}

void TNeloMQTTCore::SendOut(TOut& AOut, int64_t ANow) {
  if (Logs(vDEBUG)) {
    const char* qos =
        AOut.QoS == qosExactlyOnce ? TNeloMQTTCoreTexts::kOutQoS2 : TNeloMQTTCoreTexts::kOutQoS1;
    Log(vDEBUG, WithBytes(TNeloMQTTCoreTexts::kOutPacket + std::to_string(AOut.PacketId) + qos +
                              TNeloMQTTCoreTexts::kOutSendingAttempt + std::to_string(AOut.Attempts),
                          AOut.Bytes.data(), AOut.Bytes.size()));
  }
  TNeloMQTTPacketInfo info;
  info.PacketId = AOut.PacketId;
  info.PacketType = static_cast<TNeloMQTTPacketType>(AOut.Type);
  info.PacketQos = static_cast<TNeloMQTTQoS>(AOut.QoS);
  info.IsDuplicate = AOut.Attempts > 0;
  Write(AOut.Bytes.data(), AOut.Bytes.size(), AOut.Type == mtPUBREL, ANow);
  ++AOut.Attempts;
  AOut.LastAttempt = ANow;
  // Every later send of a PUBLISH is marked as a duplicate.
  if (AOut.Type == mtPUBLISH) AOut.Bytes[0] |= kDuplicateFlag;
  FSink.CorePacketSent(info);
}

// ---------------------------------------------------------------------------
// Connecting

void TNeloMQTTCore::Connect(const TNeloMQTTCoreOptions& AOptions, int64_t ANow) {
  FStopped = false;
  FReconnectStopped = false;
  FReconnecting = false;
  FCleanSession = AOptions.CleanSession;
  // A new connection of the operator's: what is renewed after a reconnect is
  // what gets granted from now on.
  Release(FKept);
  if (AOptions.CleanSession) {
    // Publishes not yet sent and the received QoS 2 ids go; exchanges in
    // flight stay.
    Release(FQueue);
    FQueueHead = 0;
    Release(FIncomingQoS2);
    FSubRequests.erase(std::remove_if(FSubRequests.begin(), FSubRequests.end(),
                                      [this](const TSubRequest& ARequest) {
                                        return FindInFlight(mtSUBSCRIBE, ARequest.PacketId) == nullptr;
                                      }),
                       FSubRequests.end());
    if (FSubRequests.empty()) Trim(FSubRequests);
  }
  ChangeStatus(csConnecting);
  Open(AOptions, AOptions.CleanSession, ANow);
}

void TNeloMQTTCore::Reconnect(const TNeloMQTTCoreOptions& AOptions, int64_t ANow) {
  if (!ReconnectAllowed()) return;
  FReconnecting = true;
  ChangeStatus(csReconnecting);
  // The operator's choice of session, not the one in AOptions.
  Open(AOptions, FCleanSession, ANow);
}

void TNeloMQTTCore::Open(const TNeloMQTTCoreOptions& AOptions, bool AClean, int64_t ANow) {
  TNeloMQTTConnectPacket connect(AOptions.ClientId);
  connect.SetCleanSession(AClean);
  connect.SetUserName(AOptions.Username);
  // MQTT 3.1.1 allows a password only together with a user name, and will
  // QoS and will retain only together with a will: brokers close the
  // connection on a CONNECT that breaks either rule.
  if (!connect.UserName().empty()) connect.SetPassword(AOptions.Password);
  connect.SetWillTopic(AOptions.WillTopic);
  connect.SetWillMessage(AOptions.WillMessage);
  if (!connect.WillTopic().empty()) {
    connect.SetWillRetain(AOptions.WillRetain);
    connect.SetWillQoS(AOptions.WillQoS);
  }
  connect.SetKeepAlive(AOptions.KeepAliveInterval);
  // Built before anything changes: a CONNECT that cannot be encoded (a text
  // above 65,535 bytes) raises and leaves the session as it was.
  const TNeloMQTTBytes bytes = connect.GetBytes();

  ResetConnection();
  FOpen = true;
  FKeepAlive = AOptions.KeepAliveInterval;
  FKeepConnectionAlive = AOptions.KeepConnectionAlive;
  FAwaitConnAck = true;
  FConnectSent = ANow;
  if (Logs(vDEBUG)) Log(vDEBUG, WithBytes(TNeloMQTTCoreTexts::kOutQoS0Sending, bytes.data(), bytes.size()));
  Write(bytes.data(), bytes.size(), false, ANow);
  TNeloMQTTPacketInfo info;
  info.PacketType = mtCONNECT;
  FSink.CorePacketSent(info);
}

void TNeloMQTTCore::ResetConnection() {
  FOpen = false;
  FSessionPresent = false;
  FConnAckSeen = false;
  FAwaitConnAck = false;
  FAwaitPing = false;
  FInState = isFirstByte;
  FLength = 0;
  FLengthBytes = 0;
  FSkip = 0;
  FHeaderNeed = 0;
  Trim(FBody);
  Trim(FAnswerEnds);
  FWrittenTotal = 0;
  FFlushedTotal = 0;
}

void TNeloMQTTCore::LoseConnection() {
  const TNeloMQTTConnectionStatus status = Status();
  if (status == csConnected || status == csConnecting || status == csReconnecting)
    ChangeStatus(csConnectionLost);
}

void TNeloMQTTCore::CloseWith(TNeloMQTTCoreCloseReason AReason) {
  if (!FOpen) return;
  ResetConnection();
  FSink.CoreClose(AReason);
  LoseConnection();
}

void TNeloMQTTCore::TransportClosed(int64_t) {
  ResetConnection();
  LoseConnection();
}

void TNeloMQTTCore::Disconnect(int64_t ANow) {
  FStopped = true;
  if (FOpen && IsConnected()) {
    WriteControl(mtDISCONNECT, ANow);
    ChangeStatus(csConnectionLost);
  }
  if (FOpen) {
    ResetConnection();
    FSink.CoreClose(crDisconnect);
  }
  ChangeStatus(csNotConnected);
}

void TNeloMQTTCore::Ping(int64_t ANow) {
  if (!FOpen || !IsConnected()) return;
  // The oldest unanswered ping sets the deadline for its PINGRESP.
  if (!FAwaitPing) {
    FAwaitPing = true;
    FPingSent = ANow;
  }
  WriteControl(mtPINGREQ, ANow);
}

// ---------------------------------------------------------------------------
// Our exchanges

uint16_t TNeloMQTTCore::NextPacketId() {
  // 1, 2, ..., 65535, 1, ...; never 0, and never an id still open.
  const uint16_t first = FLastPacketId == 65535 ? 1 : static_cast<uint16_t>(FLastPacketId + 1);
  for (int i = 0; i < 65535; ++i) {
    FLastPacketId = FLastPacketId == 65535 ? 1 : static_cast<uint16_t>(FLastPacketId + 1);
    if (!IdHeld(FLastPacketId)) return FLastPacketId;
  }
  FLastPacketId = first;
  return first;
}

bool TNeloMQTTCore::IdHeld(uint16_t AId) const {
  for (const TOut& out : FInFlight)
    if (out.PacketId == AId) return true;
  // Queued ids were handed out in order: after a wrap only the oldest can
  // come round again.
  for (std::size_t i = FQueueHead; i < FQueue.size(); ++i) {
    if (FQueue[i].PacketId == 0) continue;
    return FQueue[i].PacketId == AId;
  }
  return false;
}

TNeloMQTTCore::TOut* TNeloMQTTCore::FindInFlight(TNeloMQTTPacketType AType, uint16_t AId) {
  for (TOut& out : FInFlight)
    if (out.Type == AType && out.PacketId == AId) return &out;
  return nullptr;
}

void TNeloMQTTCore::RemoveInFlight(TOut* AOut) {
  FInFlight.erase(FInFlight.begin() + (AOut - FInFlight.data()));
  if (FInFlight.empty()) Trim(FInFlight);
}

void TNeloMQTTCore::Enqueue(TOut AOut, int64_t ANow) {
  FQueue.push_back(std::move(AOut));
  Pump(ANow);
}

void TNeloMQTTCore::Pump(int64_t ANow) {
  if (!FOpen || !IsConnected()) return;
  // In order; a full window holds back everything behind it.
  while (FQueueHead < FQueue.size() && static_cast<int>(FInFlight.size()) < kInFlightWindow) {
    TOut out = std::move(FQueue[FQueueHead]);
    ++FQueueHead;
    if (out.Type == mtPUBLISH && out.QoS == qosAtMostOnce) {
      if (Logs(vDEBUG))
        Log(vDEBUG, WithBytes(TNeloMQTTCoreTexts::kOutQoS0Sending, out.Bytes.data(), out.Bytes.size()));
      TNeloMQTTPacketInfo info;
      info.PacketType = mtPUBLISH;
      Write(out.Bytes.data(), out.Bytes.size(), false, ANow);
      FSink.CorePacketSent(info);
    } else {
      SendOut(out, ANow);
      FInFlight.push_back(std::move(out));
    }
    if (!FOpen) break;
  }
  if (FQueueHead == FQueue.size()) {
    Trim(FQueue);
    FQueueHead = 0;
  } else if (FQueueHead > 64 && FQueueHead * 2 > FQueue.size()) {
    FQueue.erase(FQueue.begin(), FQueue.begin() + static_cast<std::ptrdiff_t>(FQueueHead));
    FQueueHead = 0;
  }
}

uint16_t TNeloMQTTCore::Publish(const std::string& ATopic, const uint8_t* APayload, std::size_t APayloadSize,
                                TNeloMQTTQoS AQos, bool ARetain, int64_t ANow) {
  if (AQos == qosRESERVED) throw ENeloMQTTError("Invalid Qos Level");
  if (ATopic.size() > NeloMQTTMaxLengthPrefixed) throw ENeloMQTTError("Topic longer than 65535 bytes");
  const uint16_t id = AQos > qosAtMostOnce ? NextPacketId() : 0;
  const std::size_t remaining = 2 + ATopic.size() + (AQos > qosAtMostOnce ? 2 : 0) + APayloadSize;
  TOut out;
  // One allocation for the whole packet, written in one piece.
  out.Bytes.reserve(1 + 4 + remaining);
  out.Bytes.push_back(static_cast<uint8_t>((mtPUBLISH << 4) | (AQos << 1) | (ARetain ? 1 : 0)));
  AddRemainingLength(out.Bytes, static_cast<int64_t>(remaining));
  out.Bytes.push_back(static_cast<uint8_t>(ATopic.size() >> 8));
  out.Bytes.push_back(static_cast<uint8_t>(ATopic.size() & 0xFF));
  out.Bytes.insert(out.Bytes.end(), ATopic.begin(), ATopic.end());
  if (AQos > qosAtMostOnce) {
    out.Bytes.push_back(static_cast<uint8_t>(id >> 8));
    out.Bytes.push_back(static_cast<uint8_t>(id & 0xFF));
  }
  if (APayloadSize > 0) out.Bytes.insert(out.Bytes.end(), APayload, APayload + APayloadSize);
  out.PacketId = id;
  out.Type = mtPUBLISH;
  out.QoS = static_cast<uint8_t>(AQos);
  Enqueue(std::move(out), ANow);
  return id;
}

namespace {

// SUBSCRIBE and UNSUBSCRIBE in one buffer, as the codec's packets write
// them: flag nibble 0010, packet id, each filter length-prefixed (with its
// QoS byte for a SUBSCRIBE).
TNeloMQTTBytes FilterPacket(TNeloMQTTPacketType AType, uint16_t AId, const TNeloStringArray& ATopics,
                            const TNeloQosArray* AQosLevels) {
  std::size_t remaining = 2;
  for (const std::string& topic : ATopics) {
    if (topic.size() > NeloMQTTMaxLengthPrefixed)
      throw ENeloMQTTError("Topic filter longer than 65535 bytes");
    remaining += 2 + topic.size() + (AQosLevels != nullptr ? 1 : 0);
  }
  TNeloMQTTBytes bytes;
  bytes.reserve(1 + 4 + remaining);
  bytes.push_back(static_cast<uint8_t>((AType << 4) | 0x02));
  AddRemainingLength(bytes, static_cast<int64_t>(remaining));
  bytes.push_back(static_cast<uint8_t>(AId >> 8));
  bytes.push_back(static_cast<uint8_t>(AId & 0xFF));
  for (std::size_t i = 0; i < ATopics.size(); ++i) {
    bytes.push_back(static_cast<uint8_t>(ATopics[i].size() >> 8));
    bytes.push_back(static_cast<uint8_t>(ATopics[i].size() & 0xFF));
    bytes.insert(bytes.end(), ATopics[i].begin(), ATopics[i].end());
    if (AQosLevels != nullptr) bytes.push_back(static_cast<uint8_t>((*AQosLevels)[i] & 0x03));
  }
  return bytes;
}

}  // namespace

uint16_t TNeloMQTTCore::Subscribe(const TNeloStringArray& ATopics, const TNeloQosArray& AQosLevels,
                                  int64_t ANow) {
  if (ATopics.size() != AQosLevels.size()) throw ENeloMQTTError(TNeloMQTTCodecTexts::kSubscribeCountMismatch);
  const uint16_t id = NextPacketId();
  TOut out;
  out.Bytes = FilterPacket(mtSUBSCRIBE, id, ATopics, &AQosLevels);
  out.PacketId = id;
  out.Type = mtSUBSCRIBE;
  out.QoS = qosAtLeastOnce;
  FSubRequests.push_back(TSubRequest{id, ATopics, AQosLevels});
  Enqueue(std::move(out), ANow);
  return id;
}

uint16_t TNeloMQTTCore::Unsubscribe(const TNeloStringArray& ATopics, int64_t ANow) {
  const uint16_t id = NextPacketId();
  TOut out;
  out.Bytes = FilterPacket(mtUNSUBSCRIBE, id, ATopics, nullptr);
  out.PacketId = id;
  out.Type = mtUNSUBSCRIBE;
  out.QoS = qosAtLeastOnce;
  // No longer renewed after a reconnect.
  for (const std::string& topic : ATopics)
    FKept.erase(std::remove_if(FKept.begin(), FKept.end(),
                               [&topic](const std::pair<std::string, TNeloMQTTQoS>& AKept) {
                                 return AKept.first == topic;
                               }),
                FKept.end());
  if (FKept.empty()) Trim(FKept);
  Enqueue(std::move(out), ANow);
  return id;
}

void TNeloMQTTCore::Renew(int64_t ANow) {
  if (FKept.empty()) return;
  TNeloStringArray topics;
  TNeloQosArray levels;
  std::string list;
  for (const auto& kept : FKept) {
    topics.push_back(kept.first);
    levels.push_back(kept.second);
    list += (list.empty() ? "" : ", ") + kept.first;
  }
  Log(vINFO, TNeloMQTTCoreTexts::kSubscribingAgain + list);
  Subscribe(topics, levels, ANow);
}

// ---------------------------------------------------------------------------
// Time

int64_t TNeloMQTTCore::PingAnswerMs() const { return std::max<int64_t>(FKeepAlive, 1) * 1000; }

int64_t TNeloMQTTCore::NextDeadline() const {
  if (!FOpen) return kNoDeadline;
  int64_t next = kNoDeadline;
  if (FAwaitConnAck) next = std::min(next, FConnectSent + FConnAckTimeoutMs);
  if (!IsConnected()) return next;
  if (FAwaitPing) next = std::min(next, FPingSent + PingAnswerMs());
  if (FKeepConnectionAlive) next = std::min(next, FLastWrite + (static_cast<int64_t>(FKeepAlive) + 1) * 1000);
  for (const TOut& out : FInFlight) next = std::min(next, out.LastAttempt + kRetryIntervalMs);
  return next;
}

void TNeloMQTTCore::Tick(int64_t ANow) {
  if (!FOpen) return;
  // A peer that answers neither the CONNECT nor a ping in time is gone.
  if (FAwaitConnAck && FConnectSent + FConnAckTimeoutMs <= ANow) {
    Log(vERROR, TNeloMQTTCoreTexts::kConnAckTimeout);
    CloseWith(crConnAckTimeout);
    return;
  }
  if (!IsConnected()) return;
  if (FAwaitPing && FPingSent + PingAnswerMs() <= ANow) {
    Log(vERROR, TNeloMQTTCoreTexts::kPingTimeout);
    CloseWith(crPingTimeout);
    return;
  }
  ResendDue(ANow, false);
  if (!FOpen) return;
  if (FKeepConnectionAlive && FLastWrite + (static_cast<int64_t>(FKeepAlive) + 1) * 1000 <= ANow) {
    Log(vDEBUG, TNeloMQTTCoreTexts::kKeepAlivePing);
    Ping(ANow);
  }
}

void TNeloMQTTCore::ResendDue(int64_t ANow, bool AAll) {
  bool freed = false;
  for (std::size_t i = 0; i < FInFlight.size() && FOpen;) {
    TOut& out = FInFlight[i];
    if (!AAll && out.LastAttempt + kRetryIntervalMs > ANow) {
      ++i;
      continue;
    }
    if (out.Attempts >= kMaxAttempts) {
      const std::string id = std::to_string(out.PacketId);
      Log(vERROR, TNeloMQTTCoreTexts::kOutPacket + id +
                      (out.QoS == qosExactlyOnce ? TNeloMQTTCoreTexts::kOutQoS2Failed
                                                 : TNeloMQTTCoreTexts::kOutQoS1Failed));
      TNeloMQTTCoreAck ack;
      ack.Kind = akGivenUp;
      ack.PacketId = out.PacketId;
      ack.QoS = static_cast<TNeloMQTTQoS>(out.QoS);
      ack.PacketType = static_cast<TNeloMQTTPacketType>(out.Type);
      if (out.Type == mtSUBSCRIBE) ForgetSubRequest(out.PacketId);
      FInFlight.erase(FInFlight.begin() + static_cast<std::ptrdiff_t>(i));
      freed = true;
      FSink.CoreAcknowledged(ack);
      continue;
    }
    SendOut(out, ANow);
    ++i;
  }
  if (FInFlight.empty()) Trim(FInFlight);
  if (freed) Pump(ANow);
}

// ---------------------------------------------------------------------------
// Flush tracking

void TNeloMQTTCore::SetFlushTracking(bool AOn) {
  FFlushTracking = AOn;
  Release(FAnswerEnds);
  FFlushedTotal = FWrittenTotal;
}

void TNeloMQTTCore::Flushed(std::size_t ABytes) {
  FFlushedTotal = std::min(FFlushedTotal + ABytes, FWrittenTotal);
  std::size_t done = 0;
  while (done < FAnswerEnds.size() && FAnswerEnds[done] <= FFlushedTotal) ++done;
  if (done == FAnswerEnds.size())
    Trim(FAnswerEnds);
  else if (done > 0)
    FAnswerEnds.erase(FAnswerEnds.begin(), FAnswerEnds.begin() + static_cast<std::ptrdiff_t>(done));
}

int TNeloMQTTCore::PendingAnswers() const { return static_cast<int>(FAnswerEnds.size()); }

// ---------------------------------------------------------------------------
// Receiving

std::size_t TNeloMQTTCore::Received(const uint8_t* AData, std::size_t ASize, int64_t ANow) {
  std::size_t used = 0;
  while (used < ASize) {
    if (!FOpen) return ASize;
    switch (FInState) {
      case isFirstByte: {
        // Held back at a frame boundary while the answers so far wait.
        if (FFlushTracking && InputHeld()) return used;
        const uint8_t first = AData[used++];
        if (Logs(vDEBUG)) {
          Log(vDEBUG, TNeloMQTTCoreTexts::kInDataDetected);
          Log(vDEBUG, WithByte(TNeloMQTTCoreTexts::kInFirstByte, first));
        }
        // A zero byte between frames starts none (as the reader always took it).
        if (first == 0) break;
        if (Logs(vDEBUG)) Log(vDEBUG, TNeloMQTTCoreTexts::kInReadingLength);
        FFirst = first;
        FLength = 0;
        FLengthBytes = 0;
        FInState = isLength;
        break;
      }
      case isLength: {
        const uint8_t byte = AData[used++];
        if (Logs(vDEBUG)) Log(vDEBUG, WithByte(TNeloMQTTCoreTexts::kInLengthByte, byte));
        FLength |= static_cast<uint32_t>(byte & 0x7F) << (7 * FLengthBytes);
        ++FLengthBytes;
        if (byte & 0x80) {
          if (FLengthBytes == 4) {
            Log(vERROR, TNeloMQTTCoreTexts::kInReadException, "Malformed remaining length");
            CloseWith(crBrokenFrame);
            return ASize;
          }
          break;
        }
        if (!LengthKnown(ANow)) return ASize;
        break;
      }
      case isBody: {
        const std::size_t missing = FLength - FBody.size();
        const std::size_t avail = ASize - used;
        if (FBody.empty() && avail >= missing) {
          // The whole body is at hand: no copy.
          const uint8_t* body = AData + used;
          used += missing;
          FInState = isFirstByte;
          FrameDone(body, missing, ANow);
          break;
        }
        const std::size_t take = std::min(avail, missing);
        FBody.insert(FBody.end(), AData + used, AData + used + take);
        used += take;
        if (FBody.size() == FLength) {
          FInState = isFirstByte;
          TNeloMQTTBytes body;
          body.swap(FBody);
          FrameDone(body.data(), body.size(), ANow);
          // Small buffers are kept for the next frame, large ones go.
          if (FOpen && FBody.empty() && body.capacity() <= kKeptBufferBytes) {
            body.clear();
            FBody.swap(body);
          }
        }
        break;
      }
      case isSkipping: {
        // The topic and packet id are kept; the rest is only counted.
        while (FBody.size() < FHeaderNeed && used < ASize) {
          const std::size_t header = std::min(ASize - used, FHeaderNeed - FBody.size());
          FBody.insert(FBody.end(), AData + used, AData + used + header);
          used += header;
          FSkip -= static_cast<uint32_t>(header);
          if (FBody.size() == 2 && FHeaderNeed == 2) {
            const uint8_t qos = (FFirst >> 1) & 0x03;
            const std::size_t topicEnd = 2u + Word(FBody.data());
            FHeaderNeed = topicEnd + (qos > 0 ? 2u : 0u);
            if (FHeaderNeed > FLength) {
              Violation(topicEnd <= FLength ? "PUBLISH without packet identifier"
                                            : "PUBLISH topic runs past the packet");
              return ASize;
            }
          }
        }
        const std::size_t take = std::min<std::size_t>(ASize - used, FSkip);
        used += take;
        FSkip -= static_cast<uint32_t>(take);
        if (FSkip == 0) {
          FInState = isFirstByte;
          OversizedPublishDone(ANow);
        }
        break;
      }
    }
  }
  return used;
}

bool TNeloMQTTCore::LengthKnown(int64_t ANow) {
  if (Logs(vDEBUG)) {
    Log(vDEBUG, TNeloMQTTCoreTexts::kInGotLength + std::to_string(FLength));
    if (FLength > 0)
      Log(vDEBUG,
          TNeloMQTTCoreTexts::kInStartReading + std::to_string(FLength) + TNeloMQTTCoreTexts::kInBytesSuffix);
  }
  if (FLength > FMaxIncomingPacketSize) {
    if ((FFirst >> 4) != mtPUBLISH) {
      const std::string error = "Incoming packet of " + std::to_string(FLength) +
                                " bytes is larger than MaxIncomingPacketSize (" +
                                std::to_string(FMaxIncomingPacketSize) + ")";
      Log(vERROR, TNeloMQTTCoreTexts::kInReadException, error.c_str());
      CloseWith(crBrokenFrame);
      return false;
    }
    // A message too large to take: read past it, keeping only its topic and
    // packet id, so a broker that keeps it for the session cannot close
    // every later connection with it.
    if (((FFirst >> 1) & 0x03) == 3) {
      Violation("PUBLISH with QoS 3");
      return false;
    }
    Release(FBody);
    FSkip = FLength;
    FHeaderNeed = 2;
    FInState = isSkipping;
    if (FLength < 2) {
      Violation("PUBLISH without topic length");
      return false;
    }
    return true;
  }
  if (FLength == 0) {
    FInState = isFirstByte;
    FrameDone(nullptr, 0, ANow);
    return FOpen;
  }
  // The buffer grows with what arrives, not with what is announced.
  FInState = isBody;
  return true;
}

void TNeloMQTTCore::FrameDone(const uint8_t* ABody, std::size_t ASize, int64_t ANow) {
  if (Logs(vDEBUG)) {
    if (ASize > 0) Log(vDEBUG, TNeloMQTTCoreTexts::kInEndReading + std::to_string(ASize));
    Log(vDEBUG, TNeloMQTTCoreTexts::kInQueued);
  }
  Frame(FFirst, ABody, ASize, ANow);
}

void TNeloMQTTCore::Violation(const char* AWhat) {
  // MQTT 3.1.1 ends the connection on these; nothing of the packet is acted on.
  Log(vERROR, TNeloMQTTCoreTexts::kProtocolViolation, AWhat);
  CloseWith(crProtocolViolation);
}

void TNeloMQTTCore::ForgetSubRequest(uint16_t AId) {
  for (auto it = FSubRequests.begin(); it != FSubRequests.end(); ++it) {
    if (it->PacketId == AId) {
      FSubRequests.erase(it);
      break;
    }
  }
  if (FSubRequests.empty()) Trim(FSubRequests);
}

void TNeloMQTTCore::Acknowledge(TNeloMQTTPacketType AType, uint16_t AId, TNeloMQTTCoreAckKind AKind,
                                int64_t ANow) {
  TOut* out = FindInFlight(AType, AId);
  if (out == nullptr) return;
  const TNeloMQTTQoS qos = static_cast<TNeloMQTTQoS>(out->QoS);
  if (AType == mtPUBLISH && Logs(vDEBUG))
    Log(vDEBUG, TNeloMQTTCoreTexts::kOutPacket + std::to_string(AId) +
                    (qos == qosExactlyOnce ? TNeloMQTTCoreTexts::kOutQoS2 : TNeloMQTTCoreTexts::kOutQoS1) +
                    TNeloMQTTCoreTexts::kOutAcknowledged);
  RemoveInFlight(out);
  TNeloMQTTCoreAck ack;
  ack.Kind = AKind;
  ack.PacketId = AId;
  ack.QoS = AType == mtPUBREL ? qosExactlyOnce : qos;
  ack.PacketType = AType;
  FSink.CoreAcknowledged(ack);
  // The freed slot takes the next one waiting.
  Pump(ANow);
}

void TNeloMQTTCore::Frame(uint8_t AFirst, const uint8_t* ABody, std::size_t ASize, int64_t ANow) {
  const TNeloMQTTPacketType type = static_cast<TNeloMQTTPacketType>(AFirst >> 4);
  // The packets identified by the word at the start of their body.
  const bool withId = type == mtPUBACK || type == mtPUBREC || type == mtPUBREL || type == mtPUBCOMP ||
                      type == mtSUBACK || type == mtUNSUBACK;
  if ((withId || type == mtCONNACK) && ASize < 2) {
    Log(vERROR, TNeloMQTTCoreTexts::kInReadException, TNeloMQTTCodecTexts::kCouldNotRead);
    return;
  }
  const uint16_t id = withId ? Word(ABody) : 0;
  switch (type) {
    case mtRESERVED0:
    case mtRESERVED15:
      Log(vERROR, TNeloMQTTCoreTexts::kInReadException, TNeloMQTTCodecTexts::kReservedPacketType);
      return;
    case mtCONNECT:
      Log(vERROR, TNeloMQTTCoreTexts::kInvalidTypeConnect);
      break;
    case mtCONNACK:
      if (FConnAckSeen) {
        Violation("Second CONNACK on one connection");
        return;
      }
      ConnAck(ABody, ANow);
      break;
    case mtPUBLISH:
      HandlePublish(AFirst, ABody, ASize, ANow);
      // Reported by Publish itself.
      return;
    case mtPUBACK:
      Acknowledge(mtPUBLISH, id, akPublished, ANow);
      break;
    case mtPUBREC: {
      TOut* out = FindInFlight(mtPUBLISH, id);
      if (out != nullptr && out->QoS == qosExactlyOnce) {
        if (Logs(vDEBUG))
          Log(vDEBUG, TNeloMQTTCoreTexts::kOutPacket + std::to_string(id) + TNeloMQTTCoreTexts::kOutQoS2 +
                          TNeloMQTTCoreTexts::kOutAcknowledged);
        // The exchange keeps its slot in the window: the PUBLISH becomes its
        // PUBREL, retried until the PUBCOMP.
        out->Type = mtPUBREL;
        out->QoS = qosAtLeastOnce;
        out->Attempts = 0;
        out->Bytes = {0x62, 0x02, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id & 0xFF)};
        SendOut(*out, ANow);
      } else if (TOut* rel = FindInFlight(mtPUBREL, id)) {
        // A repeated PUBREC: its PUBREL again.
        SendOut(*rel, ANow);
      } else {
        // Unknown to us, answered all the same (MQTT 3.1.1: every PUBREC gets
        // its PUBREL), but nothing is kept for it.
        WriteAnswer(mtPUBREL, id, ANow);
      }
      break;
    }
    case mtPUBREL:
      // The exchange is over: a later PUBLISH with this id is a new message.
      ForgetQoS2(id);
      WriteAnswer(mtPUBCOMP, id, ANow);
      break;
    case mtPUBCOMP:
      Acknowledge(mtPUBREL, id, akPublished, ANow);
      break;
    case mtSUBSCRIBE:
      Log(vERROR, TNeloMQTTCoreTexts::kInvalidTypeSubscribe);
      break;
    case mtSUBACK:
      SubAck(id, ABody + 2, ASize - 2, ANow);
      break;
    case mtUNSUBSCRIBE:
      Log(vERROR, TNeloMQTTCoreTexts::kInvalidTypeUnsubscribe);
      break;
    case mtUNSUBACK:
      Acknowledge(mtUNSUBSCRIBE, id, akUnsubscribed, ANow);
      break;
    case mtPINGREQ:
      break;
    case mtPINGRESP: {
      FAwaitPing = false;
      TNeloMQTTCoreAck ack;
      ack.Kind = akPingResponse;
      ack.PacketType = mtPINGREQ;
      FSink.CoreAcknowledged(ack);
      break;
    }
    case mtDISCONNECT:
      Log(vERROR, TNeloMQTTCoreTexts::kInvalidTypeDisconnect);
      break;
  }
  if (FOpen) FSink.CorePacketReceived(ReceivedInfo(AFirst, id));
}

void TNeloMQTTCore::ConnAck(const uint8_t* ABody, int64_t ANow) {
  FConnAckSeen = true;
  FAwaitConnAck = false;
  const bool sessionPresent = (ABody[0] & 0x01) != 0;
  FSessionPresent = sessionPresent && ABody[1] == 0;
  const uint8_t code = ABody[1];
  const TNeloMQTTConnectionStatus status = StatusOfReturnCode(code);
  if (status != csConnected) {
    ChangeStatus(status);
    // A broker that refuses the credentials or the client would refuse them
    // at every attempt (and may lock the account): wait for the operator.
    if (code == 2 || code == 4 || code == 5) {
      FReconnectStopped = true;
      Log(vERROR, TNeloMQTTCoreTexts::kReconnectStopped + std::to_string(code));
    }
    return;
  }
  ChangeStatus(csConnected);
  if (!FOpen) return;
  if (sessionPresent) {
    // The broker resumes the session: what is unanswered goes again at once
    // (MQTT 3.1.1, 4.4), PUBLISHes marked as duplicates.
    ResendDue(ANow, true);
  } else {
    // A new session: nothing received before counts, and a broker that kept
    // nothing has forgotten the subscriptions, which are made again.
    Trim(FIncomingQoS2);
    if (FReconnecting) Renew(ANow);
  }
  Pump(ANow);
}

bool TNeloMQTTCore::RememberQoS2(uint16_t AId) {
  auto it = std::lower_bound(FIncomingQoS2.begin(), FIncomingQoS2.end(), AId);
  if (it != FIncomingQoS2.end() && *it == AId) return false;
  FIncomingQoS2.insert(it, AId);
  return true;
}

void TNeloMQTTCore::ForgetQoS2(uint16_t AId) {
  auto it = std::lower_bound(FIncomingQoS2.begin(), FIncomingQoS2.end(), AId);
  if (it != FIncomingQoS2.end() && *it == AId) FIncomingQoS2.erase(it);
  if (FIncomingQoS2.empty()) Trim(FIncomingQoS2);
}

bool TNeloMQTTCore::HandlePublish(uint8_t AFirst, const uint8_t* ABody, std::size_t ASize, int64_t ANow) {
  const uint8_t qos = (AFirst >> 1) & 0x03;
  if (qos == 3) {
    Violation("PUBLISH with QoS 3");
    return false;
  }
  if (ASize < 2) {
    Violation("PUBLISH without topic length");
    return false;
  }
  const std::size_t topicEnd = 2 + static_cast<std::size_t>(Word(ABody));
  if (topicEnd > ASize) {
    Violation("PUBLISH topic runs past the packet");
    return false;
  }
  std::size_t payloadAt = topicEnd;
  uint16_t id = 0;
  if (qos > 0) {
    if (topicEnd + 2 > ASize) {
      Violation("PUBLISH without packet identifier");
      return false;
    }
    id = Word(ABody + topicEnd);
    if (id == 0) {
      Violation("PUBLISH with packet identifier 0");
      return false;
    }
    payloadAt += 2;
  }
  TNeloMQTTMessage message;
  message.Topic.assign(reinterpret_cast<const char*>(ABody + 2), topicEnd - 2);
  // Not valid UTF-8, U+0000 or a wildcard: MQTT 3.1.1 forbids each in a
  // topic name.
  if (!TNeloMQTTTopic::ValidateTopicName(message.Topic)) {
    Violation("PUBLISH with an invalid topic name");
    return false;
  }
  // The acknowledgement goes before the message is handed on.
  bool deliver = true;
  if (qos == qosAtLeastOnce) {
    WriteAnswer(mtPUBACK, id, ANow);
  } else if (qos == qosExactlyOnce) {
    WriteAnswer(mtPUBREC, id, ANow);
    // Exactly once: a repeat before the PUBREL is acknowledged again, not
    // delivered again.
    deliver = RememberQoS2(id);
  }
  if (deliver && FOpen) {
    message.Payload.assign(ABody + payloadAt, ABody + ASize);
    message.QoS = static_cast<TNeloMQTTQoS>(qos);
    message.Retain = (AFirst & 0x01) != 0;
    message.Dup = (AFirst & kDuplicateFlag) != 0;
    message.PacketId = id;
    FSink.CoreDeliver(message);
  }
  if (FOpen) FSink.CorePacketReceived(ReceivedInfo(AFirst, id));
  return FOpen;
}

void TNeloMQTTCore::OversizedPublishDone(int64_t ANow) {
  const uint8_t qos = (FFirst >> 1) & 0x03;
  TNeloMQTTBytes header;
  header.swap(FBody);
  const std::string topic(reinterpret_cast<const char*>(header.data() + 2),
                          2u + Word(header.data()) <= header.size() ? Word(header.data()) : 0u);
  if (!TNeloMQTTTopic::ValidateTopicName(topic)) {
    Violation("PUBLISH with an invalid topic name");
    return;
  }
  uint16_t id = 0;
  if (qos > 0) {
    id = Word(header.data() + 2 + topic.size());
    if (id == 0) {
      Violation("PUBLISH with packet identifier 0");
      return;
    }
  }
  if (qos == qosAtLeastOnce) WriteAnswer(mtPUBACK, id, ANow);
  if (qos == qosExactlyOnce) WriteAnswer(mtPUBREC, id, ANow);
  Log(vERROR, TNeloMQTTCoreTexts::kRefusedTooLarge + topic + " (" + std::to_string(FLength) + " bytes)");
  if (FOpen) FSink.CorePacketReceived(ReceivedInfo(FFirst, id));
}

void TNeloMQTTCore::SubAck(uint16_t AId, const uint8_t* ACodes, std::size_t ACount, int64_t ANow) {
  TOut* out = FindInFlight(mtSUBSCRIBE, AId);
  if (out != nullptr) {
    RemoveInFlight(out);
    Pump(ANow);
  }
  auto request = std::find_if(FSubRequests.begin(), FSubRequests.end(),
                              [AId](const TSubRequest& ARequest) { return ARequest.PacketId == AId; });
  if (request == FSubRequests.end()) return;
  TNeloMQTTSubscriptions subscriptions;
  subscriptions.reserve(request->Topics.size());
  for (std::size_t i = 0; i < request->Topics.size(); ++i) {
    TNeloMQTTSubscription entry;
    entry.Topic = request->Topics[i];
    // Return codes pair with filters by position; a filter without one was
    // not accepted.
    if (i < ACount) {
      entry.Accepted = (ACodes[i] & 0x80) == 0;
      entry.MaxQoS = static_cast<TNeloMQTTQoS>(ACodes[i] & 0x03);
    }
    if (entry.Accepted) {
      const TNeloMQTTQoS qos = i < request->Levels.size() ? request->Levels[i] : entry.MaxQoS;
      bool known = false;
      for (auto& kept : FKept) {
        if (kept.first == entry.Topic) {
          kept.second = qos;
          known = true;
        }
      }
      if (!known) FKept.emplace_back(entry.Topic, qos);
    }
    subscriptions.push_back(std::move(entry));
  }
  FSubRequests.erase(request);
  if (FSubRequests.empty()) Trim(FSubRequests);
  TNeloMQTTCoreAck ack;
  ack.Kind = akSubscribed;
  ack.PacketId = AId;
  ack.QoS = qosAtLeastOnce;
  ack.PacketType = mtSUBSCRIBE;
  ack.Subscriptions = &subscriptions;
  FSink.CoreAcknowledged(ack);
}

// ---------------------------------------------------------------------------

std::size_t TNeloMQTTCore::HeapBytes() const {
  auto text = [](const std::string& AText) { return AText.capacity() > 15 ? AText.capacity() + 1 : 0; };
  std::size_t bytes = FInFlight.capacity() * sizeof(TOut) + FQueue.capacity() * sizeof(TOut) +
                      FSubRequests.capacity() * sizeof(TSubRequest) +
                      FKept.capacity() * sizeof(std::pair<std::string, TNeloMQTTQoS>) +
                      FIncomingQoS2.capacity() * sizeof(uint16_t) +
                      FAnswerEnds.capacity() * sizeof(uint64_t) + FBody.capacity();
  for (const TOut& out : FInFlight) bytes += out.Bytes.capacity();
  for (const TOut& out : FQueue) bytes += out.Bytes.capacity();
  for (const TSubRequest& request : FSubRequests) {
    bytes +=
        request.Topics.capacity() * sizeof(std::string) + request.Levels.capacity() * sizeof(TNeloMQTTQoS);
    for (const std::string& topic : request.Topics) bytes += text(topic);
  }
  for (const auto& kept : FKept) bytes += text(kept.first);
  return bytes;
}
