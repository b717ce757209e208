#include "Nelo.MQTT.Client.h"

#include "Nelo.MQTT.PacketFactory.h"
#include "Nelo.MQTT.Packets.CONNACK.h"
#include "Nelo.MQTT.Packets.CONNECT.h"
#include "Nelo.MQTT.Packets.DISCONNECT.h"
#include "Nelo.MQTT.Packets.PINGREQ.h"
#include "Nelo.MQTT.Packets.PUBACK.h"
#include "Nelo.MQTT.Packets.PUBCOMP.h"
#include "Nelo.MQTT.Packets.PUBLISH.h"
#include "Nelo.MQTT.Packets.PUBREC.h"
#include "Nelo.MQTT.Packets.PUBREL.h"
#include "Nelo.MQTT.Packets.SUBACK.h"
#include "Nelo.MQTT.Packets.SUBSCRIBE.h"
#include "Nelo.MQTT.Packets.UNSUBSCRIBE.h"
#include "Nelo.MQTT.Topics.h"
#include "Nelo.MQTT.Utils.h"

// ---------------------------------------------------------------------------
// Settings

void TNeloMQTTKeepAliveSettings::Assign(const TNeloObject* ASource) {
  const auto* source = dynamic_cast<const TNeloMQTTKeepAliveSettings*>(ASource);
  if (source == nullptr || source == this) return;
  FKeepConnectionAlive = source->FKeepConnectionAlive;
  FKeepAliveInterval = source->FKeepAliveInterval;
  FAutoReconnect = source->FAutoReconnect;
  FAutoReconnectInterval = source->FAutoReconnectInterval;
}

void TNeloMQTTCredentials::Assign(const TNeloObject* ASource) {
  const auto* source = dynamic_cast<const TNeloMQTTCredentials*>(ASource);
  if (source == nullptr || source == this) return;
  FUsername = source->FUsername;
  FPassword = source->FPassword;
}

void TNeloMQTTLastWillSettings::Assign(const TNeloObject* ASource) {
  const auto* source = dynamic_cast<const TNeloMQTTLastWillSettings*>(ASource);
  if (source == nullptr || source == this) return;
  FTopic = source->FTopic;
  FWillMessage = source->FWillMessage;
  FRetain = source->FRetain;
  FQoS = source->FQoS;
}

// ---------------------------------------------------------------------------
// Life

TNeloMQTTClient::TNeloMQTTClient(TNeloObject* AOwner, std::unique_ptr<TNeloMQTTTransport> ATransport)
    : FOwner(AOwner),
      FLastWillSettings(std::make_unique<TNeloMQTTLastWillSettings>()),
      FKeepAliveSettings(std::make_unique<TNeloMQTTKeepAliveSettings>()),
      FCredentials(std::make_unique<TNeloMQTTCredentials>()),
      FSession(std::make_unique<TNeloMQTTNeloMQTTClientSession>()),
      FTransport(ATransport ? std::move(ATransport) : std::make_unique<TNeloMQTTNetworkConnection>(nullptr)) {
  FTransport->OnDisconnected = [this](TNeloObject*) { HandleNetworkDisconnected(); };
  FTransport->OnConnected = [this](TNeloObject*) { HandleNetworkConnected(); };
}

TNeloMQTTClient::~TNeloMQTTClient() {
  FDestroying.store(true);
  NeloCancelQueued(this);
  // A worker blocked in a write (a peer that stopped reading) gives up at
  // once: nothing waits on a write from here on. Reading goes on until the
  // reader ends, so what the peer sent is taken in and the socket closes
  // without a reset.
  FTransport->AbortWrites();
  if (FKeepAliveThread) {
    FKeepAliveThread->Terminate();
    FKeepAliveThread->WaitFor();
    FKeepAliveThread.reset();
  }
  if (FWriterThread) {
    FWriterThread->Terminate();
    FWriterThread->WaitFor();
    FWriterThread.reset();
  }
  if (FReaderThread) {
    FReaderThread->Terminate();
    FReaderThread->WaitFor();
    FReaderThread.reset();
  }
  NeloCancelQueued(this);
  if (FLogger) FLogger->RemoveFreeNotification(this);
  FTransport.reset();
  FSession.reset();
  FKeepAliveSettings.reset();
  FLastWillSettings.reset();
  FCredentials.reset();
}

void TNeloMQTTClient::Assign(const TNeloObject* ASource) {
  const auto* source = dynamic_cast<const TNeloMQTTClient*>(ASource);
  if (source == nullptr || source == this) return;
  FClientID = source->FClientID;
  FBrokerHostName = source->FBrokerHostName;
  FBrokerPort = source->FBrokerPort;
  FUseSSL = source->FUseSSL;
  FCredentials->Assign(source->FCredentials.get());
  FKeepAliveSettings->Assign(source->FKeepAliveSettings.get());
  FLastWillSettings->Assign(source->FLastWillSettings.get());
}

void TNeloMQTTClient::Notification(TNeloObject* AComponent, TNeloOperation AOperation) {
  if (AOperation == opRemove && AComponent != nullptr && AComponent == FLogger) SetLogger(nullptr);
}

void TNeloMQTTClient::SetLogger(TNeloMQTTLogger* ALogger) {
  if (FLogger == ALogger) return;
  if (FLogger) FLogger->RemoveFreeNotification(this);
  FLogger = ALogger;
  if (FLogger)
    FLogger->FreeNotification(this, [this](TNeloMQTTLogger* ALog) { Notification(ALog, opRemove); });
  if (FReaderThread) FReaderThread->SetLogger(ALogger);
  if (FWriterThread) FWriterThread->SetLogger(ALogger);
  if (FKeepAliveThread) FKeepAliveThread->SetLogger(ALogger);
  if (FTransport) FTransport->SetLogger(ALogger);
}

uint32_t TNeloMQTTClient::GetVersionNr() const {
  // major.minor.release.build = 1.1.0.2
  return MakeLongWordOf(MakeWordOf(2, 0), MakeWordOf(1, 1));
}

std::string TNeloMQTTClient::Version() const {
  const uint32_t v = GetVersionNr();
  return std::to_string((v >> 24) & 0xFF) + "." + std::to_string((v >> 16) & 0xFF) + "." +
         std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

void TNeloMQTTClient::SetVersion(const std::string&) {}

void TNeloMQTTClient::SetPacketSentNotifications(bool AValue) {
  FPacketSentNotifications = AValue;
  BindWriterEvents();
}

void TNeloMQTTClient::BindWriterEvents() {
  if (!FWriterThread) return;
  if (FPacketSentNotifications)
    FWriterThread->SetOnPacketSent([this](TNeloObject*) { HandlePacketSent(); });
  else
    FWriterThread->SetOnPacketSent(nullptr);
}

// ---------------------------------------------------------------------------
// Events

void TNeloMQTTClient::DoPingRequest() {
  if (OnPingRequest) OnPingRequest(this);
}

void TNeloMQTTClient::DoPingResponse() {
  if (OnPingResponse) OnPingResponse(this);
}

void TNeloMQTTClient::DoPacketReceived(const TNeloMQTTPacketInfo& APacketInfo) {
  if (OnPacketReceived) OnPacketReceived(this, APacketInfo);
}

void TNeloMQTTClient::DoPacketSent(const TNeloMQTTPacketInfo& APacketInfo) {
  if (OnPacketSent) OnPacketSent(this, APacketInfo);
}

void TNeloMQTTClient::DoPublishReceived(uint16_t APacketID, const std::string& ATopic,
                                        const TNeloMQTTBytes& APayload) {
  if (OnPublishReceived) OnPublishReceived(this, APacketID, ATopic, APayload);
  if (OnPublishReceivedEx) OnPublishReceivedEx(this, APacketID, ATopic, APayload);
}

void TNeloMQTTClient::DoConnectedStatusChanged(bool AConnected, TNeloMQTTConnectionStatus AStatus) {
  if (OnConnectedStatusChanged) OnConnectedStatusChanged(this, AConnected, AStatus);
}

void TNeloMQTTClient::DoSubscriptionAcknowledged(uint16_t APacketID,
                                                 const TNeloMQTTSubscriptions& ASubscriptions) {
  if (OnSubscriptionAcknowledged) {
    const TNeloMQTTSubscriptions copy = ASubscriptions;
    OnSubscriptionAcknowledged(this, APacketID, copy);
  }
}

// ---------------------------------------------------------------------------
// Connection

void TNeloMQTTClient::EnsureConnected() const {
  NELO_ASSERT(FSession->HasActiveMqttConnection(), "This action requires a connected state");
}

bool TNeloMQTTClient::IsConnected() const { return FSession->HasActiveMqttConnection(); }

void TNeloMQTTClient::SetConnectionStatus(TNeloMQTTConnectionStatus AStatus) {
  if (AStatus == FConnectionStatus.load()) return;
  FConnectionStatus.store(AStatus);
  FSession->SetHasActiveMqttConnection(AStatus == csConnected);
  DoConnectedStatusChanged(AStatus == csConnected, AStatus);
  if (AStatus == csConnected && FKeepAliveThread) {
    FKeepAliveThread->SetShouldKeepConnectionAlive(FKeepAliveSettings->KeepConnectionAlive());
    FKeepAliveThread->SetKeepAliveInterval(FKeepAliveSettings->KeepAliveInterval());
  }
}

void TNeloMQTTClient::Connect(bool ACleanSession) {
  NELO_ASSERT(!FBrokerHostName.empty(), "Please provide the hostname of the broker");
  if (!FKeepAliveThread) {
    FKeepAliveThread = std::make_unique<TNeloMQTTKeepAliveThread>(FTransport.get(), FSession.get(), FLogger);
    FKeepAliveThread->SetOnRequestPing([this](TNeloObject*) { HandlePingRequest(); });
    FKeepAliveThread->SetOnRequestReconnect([this](TNeloObject*) { HandleReconnectRequest(); });
    FKeepAliveThread->SetOnRequestClose([this](TNeloObject*) { HandleConnectionTimeout(); });
  } else {
    FKeepAliveThread->SetPaused(false);
  }
  if (IsConnected()) return;
  FOperatorDisconnected = false;
  // A new connection of the operator's: the subscriptions to restore after
  // a reconnect are the ones granted from now on.
  FGrantedSubscriptions.clear();
  FPendingSubscriptionQos.clear();
  if (FClientID.empty()) FClientID = RandomClientIdentifier();
  SetConnectionStatus(csConnecting);
  try {
    InternalConnect(ACleanSession);
  } catch (...) {
    SetConnectionStatus(csConnectionRejected_ServerUnavailable);
  }
}

void TNeloMQTTClient::InternalConnect(bool AClean) {
  if (AClean) FSession->Clear();
  try {
    TNeloMQTTLogHelper::Info(FLogger, this, TNeloMQTTEngineTexts::kConnecting);
    // The CONNECT queued below must be the first packet on the new
    // connection: the writer holds everything else back until it is out.
    FSession->HoldUntilConnect();
    FSession->SetConnectSentTime(0);
    FSession->SetPingSentTime(0);
    FConnAckReceived = false;
    if (FTransport->IsReady()) {
      TNeloMQTTLogHelper::Info(FLogger, this, TNeloMQTTEngineTexts::kClosingPrevious);
      FTransport->Close();
    }
    FTransport->SetHostName(FBrokerHostName);
    FTransport->SetIPVersion(FIPVersion);
    FTransport->SetPort(FBrokerPort);
    FTransport->SetUseSSL(FUseSSL);
    FTransport->Open();

    if (!FWriterThread) {
      FWriterThread = std::make_unique<TNeloMQTTWriterThread>(FTransport.get(), FSession.get(), FLogger);
      BindWriterEvents();
    } else {
      FWriterThread->SetPaused(false);
    }
    if (!FReaderThread) {
      FReaderThread = std::make_unique<TNeloMQTTReaderThread>(FTransport.get(), FSession.get(), FLogger);
      FReaderThread->SetOnPacketReceived([this](TNeloObject*) { HandlePacketsReceived(); });
    } else {
      FReaderThread->SetPaused(false);
    }

    auto connect = std::make_unique<TNeloMQTTConnectPacket>(FClientID);
    connect->SetCleanSession(AClean);
    connect->SetUserName(FCredentials->Username());
    // MQTT 3.1.1 allows a password only together with a user name, and will
    // QoS and will retain only together with a will: brokers close the
    // connection on a CONNECT that breaks either rule, so a password without
    // user name, or a will QoS or retain without will topic, is left out.
    if (!connect->UserName().empty()) connect->SetPassword(FCredentials->Password());
    connect->SetWillTopic(FLastWillSettings->Topic());
    connect->SetWillMessage(FLastWillSettings->WillMessage());
    if (!connect->WillTopic().empty()) {
      connect->SetWillRetain(FLastWillSettings->Retain());
      connect->SetWillQoS(FLastWillSettings->QoS());
    }
    connect->SetKeepAlive(FKeepAliveSettings->KeepAliveInterval());
    HandleOutgoingPacket(std::move(connect), false);
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kFailedToConnect, &e);
    throw;
  }
}

void TNeloMQTTClient::HandleNetworkConnected() {
  FSession->SetHasActiveNetworkConnection(true);
  if (FKeepAliveThread) {
    FKeepAliveThread->SetShouldTryReconnect(FKeepAliveSettings->AutoReconnect());
    FKeepAliveThread->SetReconnectInterval(FKeepAliveSettings->AutoReconnectInterval());
  }
}

void TNeloMQTTClient::HandleNetworkDisconnected() {
  FSession->SetHasActiveNetworkConnection(false);
  if (NeloIsMainThread()) {
    NetworkLost();
    return;
  }
  // Found by a worker (normally the reader, inside the transport's poll):
  // the main thread changes the status, raises the event and pauses the
  // workers, like for every other status change (meanwhile the workers find
  // the transport not ready and do nothing). The step is queued without
  // waiting, as the worker may hold a transport lock here.
  NeloQueueOnMainThread(this, [this] {
    if (FDestroying.load()) return;
    // A reconnect may have opened a new connection meanwhile; then this
    // notice is stale.
    if (FSession->HasActiveNetworkConnection()) return;
    NetworkLost();
  });
}

void TNeloMQTTClient::NetworkLost() {
  if (FConnectionStatus.load() == csConnected) SetConnectionStatus(csConnectionLost);
  // Acknowledgements and pings belonged to the connection that ended.
  FSession->DropConnectionPackets();
  FSession->SetConnectSentTime(0);
  FSession->SetPingSentTime(0);
  InternalDisconnect();
}

void TNeloMQTTClient::InternalDisconnect() {
  TNeloMQTTLogHelper::Info(FLogger, this, TNeloMQTTEngineTexts::kDisconnecting);
  if (FWriterThread) FWriterThread->SetPaused(true);
  if (FReaderThread) FReaderThread->SetPaused(true);
  if (FTransport->IsReady()) FTransport->Close();
}

void TNeloMQTTClient::Disconnect() {
  // Nothing reconnects after this until the next Connect, not even a
  // reconnect request the keep-alive thread handed over before.
  FOperatorDisconnected = true;
  if (!FKeepAliveThread) return;
  if (FConnectionStatus.load() != csConnected) {
    // Connecting, reconnecting, lost or refused: the reconnect loop ends
    // and a connection still open is closed.
    FKeepAliveThread->SetPaused(true);
    FKeepAliveThread->SetShouldTryReconnect(false);
    FKeepAliveThread->SetShouldKeepConnectionAlive(false);
    if (FConnectionStatus.load() == csNotConnected && !FTransport->IsReady()) return;
    InternalDisconnect();
    SetConnectionStatus(csNotConnected);
    return;
  }
  struct TFinally {
    TNeloMQTTClient* Client;
    ~TFinally() { Client->SetConnectionStatus(csNotConnected); }
  } finally{this};
  FKeepAliveThread->SetPaused(true);
  FKeepAliveThread->SetShouldTryReconnect(false);
  FKeepAliveThread->SetShouldKeepConnectionAlive(false);
  if (FSession->HasActiveMqttConnection())
    HandleOutgoingPacket(std::make_unique<TNeloMQTTDisconnectPacket>(), true);
  InternalDisconnect();
  // The reader may have noticed the close first; its notice reaches this
  // thread later. The connection is gone all the same.
  if (FConnectionStatus.load() == csConnected) SetConnectionStatus(csConnectionLost);
}

void TNeloMQTTClient::Ping() {
  if (IsConnected()) HandleOutgoingPacket(std::make_unique<TNeloMQTTPingRequestPacket>(), false);
}

void TNeloMQTTClient::HandleOutgoingPacket(std::unique_ptr<TNeloMQTTPacket> APacket, bool ASendDirectly) {
  try {
    TNeloMQTTLogHelper::Debug(FLogger, this, TNeloMQTTEngineTexts::kHandlingOutgoing);
    if (ASendDirectly) {
      TNeloMQTTLogHelper::Debug(FLogger, this, TNeloMQTTEngineTexts::kSendingDirectly);
      // Best effort within a short bound: never behind a write in progress
      // (the socket is shut down next, which ends that write).
      if (!FTransport->WriteWithin(APacket->GetBytes(), kDirectWriteTimeoutMs)) {
        TNeloMQTTLogHelper::Warning(FLogger, this, TNeloMQTTEngineTexts::kDirectSendSkipped);
        return;
      }
      TNeloMQTTPacketInfo info;
      info.PacketId = APacket->PacketId();
      info.PacketType = APacket->PacketType();
      info.PacketQos = APacket->QoS();
      info.IsDuplicate = APacket->IsDuplicate();
      info.IsRetained = APacket->IsRetained();
      DoPacketSent(info);
    } else {
      TNeloMQTTLogHelper::Debug(FLogger, this, TNeloMQTTEngineTexts::kSendingToWriter);
      FSession->QueueOutgoingPacket(std::make_unique<TQueuedOutPacket>(
          APacket->PacketId(), APacket->QoS(), APacket->PacketType(), APacket->GetBytes()));
      TNeloMQTTLogHelper::Debug(FLogger, this, TNeloMQTTEngineTexts::kPacketAdded);
    }
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kFailedOutgoing, &e);
  }
}

void TNeloMQTTClient::HandlePacketSent() {
  if (!FWriterThread) return;
  // The moment of the send itself, not of this (later) notification.
  FSession->SetLastWriteCommunicationTime(FWriterThread->LastSentTime());
  DoPacketSent(FWriterThread->LastSentPacketInfo());
}

void TNeloMQTTClient::HandlePingRequest() { Ping(); }

void TNeloMQTTClient::HandleConnectionTimeout() {
  if (FDestroying.load() || !FTransport->IsReady()) return;
  const bool connecting = FConnectionStatus.load() != csConnected;
  TNeloMQTTLogHelper::Error(
      FLogger, this, connecting ? TNeloMQTTEngineTexts::kConnAckTimeout : TNeloMQTTEngineTexts::kPingTimeout);
  CloseOnError();
}

void TNeloMQTTClient::CloseOnError() {
  const TNeloMQTTConnectionStatus before = FConnectionStatus.load();
  if (FTransport->IsReady()) FTransport->Close();
  // A connection that never got accepted is lost as well.
  if ((before == csConnecting || before == csReconnecting) && FConnectionStatus.load() == before &&
      !FOperatorDisconnected)
    SetConnectionStatus(csConnectionLost);
}

void TNeloMQTTClient::HandleReconnectRequest() {
  // The client is going away, or the operator disconnected after the
  // request was handed over: no new connection.
  if (FDestroying.load() || FOperatorDisconnected) return;
  // The keep-alive thread saw the transport down before the notice of the
  // loss reached this thread: report the loss first, as it happened.
  if (FConnectionStatus.load() == csConnected && !FSession->HasActiveNetworkConnection()) NetworkLost();
  SetConnectionStatus(csReconnecting);
  try {
    InternalConnect(false);
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kPingFailed, &e);
  }
}

// ---------------------------------------------------------------------------
// Messaging

uint16_t TNeloMQTTClient::Publish(const std::string& ATopic, const std::string& APayload, TNeloMQTTQoS AQos,
                                  bool ARetain) {
  return Publish(ATopic, TNeloMQTTBytes(APayload.begin(), APayload.end()), AQos, ARetain);
}

uint16_t TNeloMQTTClient::Publish(const std::string& ATopic, const TNeloMQTTBytes& APayload,
                                  TNeloMQTTQoS AQos, bool ARetain) {
  EnsureConnected();
  const uint16_t id = AQos > qosAtMostOnce ? FSession->GetNextPacketId() : 0;
  NELO_ASSERT(TNeloMQTTTopic::ValidateTopicName(ATopic), "This is not a valid topic name");
  HandleOutgoingPacket(std::make_unique<TNeloMQTTPublishPacket>(id, ATopic, APayload, AQos, ARetain), false);
  return id;
}

uint16_t TNeloMQTTClient::Subscribe(const std::string& ATopic, TNeloMQTTQoS ATopicQosLevel) {
  return Subscribe(TNeloStringArray{ATopic}, TNeloQosArray{ATopicQosLevel});
}

uint16_t TNeloMQTTClient::Subscribe(const TNeloStringArray& ATopics, const TNeloQosArray& ATopicQosLevels) {
  EnsureConnected();
  for (const std::string& topic : ATopics)
    NELO_ASSERT(TNeloMQTTTopic::ValidateTopicFilter(topic), "This is not a valid topic filter");
  auto packet =
      std::make_unique<TNeloMQTTSubscribePacket>(FSession->GetNextPacketId(), ATopics, ATopicQosLevels);
  const uint16_t id = packet->PacketId();
  auto request = std::make_unique<TNeloMQTTRequestedSubscription>();
  request->PacketId = id;
  request->Topics = ATopics;
  HandleOutgoingPacket(std::move(packet), false);
  FPendingSubscriptionQos[id] = ATopicQosLevels;
  try {
    FSession->AddSubscriptionRequest(std::move(request));
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kSubscribeFailed, &e);
    return 0;
  }
  return id;
}

uint16_t TNeloMQTTClient::Unsubscribe(const std::string& ATopic) {
  return Unsubscribe(TNeloStringArray{ATopic});
}

uint16_t TNeloMQTTClient::Unsubscribe(const TNeloStringArray& ATopics) {
  EnsureConnected();
  for (const std::string& topic : ATopics)
    NELO_ASSERT(TNeloMQTTTopic::ValidateTopicFilter(topic), "This is not a valid topic filter");
  const uint16_t id = FSession->GetNextPacketId();
  HandleOutgoingPacket(std::make_unique<TNeloMQTTUnSubscribePacket>(id, ATopics), false);
  // Not restored after a reconnect any more.
  for (const std::string& topic : ATopics) {
    for (auto it = FGrantedSubscriptions.begin(); it != FGrantedSubscriptions.end();) {
      if (it->first == topic)
        it = FGrantedSubscriptions.erase(it);
      else
        ++it;
    }
  }
  return id;
}

// ---------------------------------------------------------------------------
// Receiving

void TNeloMQTTClient::HandlePacketsReceived() {
  FSession->SetLastReadCommunicationTime(NeloNowMs());
  while (FSession->HasIncomingPackets()) {
    std::unique_ptr<TQueuedInPacket> queued = FSession->GetNextIncomingPacket();
    if (!queued) continue;
    // MQTT 3.1.1 ends the connection on these; nothing of the packet is acted on.
    const char* violation = ProtocolViolation(*queued);
    if (violation != nullptr) {
      ENeloMQTTError error(violation);
      TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kProtocolViolation, &error);
      // Whatever else was received on that connection goes with it.
      while (FSession->GetNextIncomingPacket()) {
      }
      CloseOnError();
      return;
    }
    HandleIncomingPacket(TNeloMQTTPacketFactory::CreateFrom(queued->FirstByte(), queued->Buffer()));
  }
}

const char* TNeloMQTTClient::ProtocolViolation(const TQueuedInPacket& APacket) {
  const TNeloMQTTBytes& body = APacket.Buffer();
  switch (static_cast<TNeloMQTTPacketType>(APacket.FirstByte() >> 4)) {
    case mtPUBLISH: {
      const int qos = (APacket.FirstByte() >> 1) & 0x03;
      if (qos == 3) return "PUBLISH with QoS 3";
      if (body.size() < 2) return "PUBLISH without topic length";
      const std::size_t topicEnd = 2 + ((static_cast<std::size_t>(body[0]) << 8) | body[1]);
      if (topicEnd > body.size()) return "PUBLISH topic runs past the packet";
      if (qos > 0) {
        if (topicEnd + 2 > body.size()) return "PUBLISH without packet identifier";
        if (body[topicEnd] == 0 && body[topicEnd + 1] == 0) return "PUBLISH with packet identifier 0";
      }
      return nullptr;
    }
    case mtCONNACK:
      if (FConnAckReceived) return "Second CONNACK on one connection";
      return nullptr;
    default:
      return nullptr;
  }
}

void TNeloMQTTClient::HandleIncomingPacket(std::unique_ptr<TNeloMQTTPacket> APacket) {
  if (!APacket) return;
  TNeloMQTTPacketInfo info;
  info.PacketId = APacket->PacketId();
  info.PacketType = APacket->PacketType();
  info.PacketQos = APacket->QoS();
  info.IsDuplicate = APacket->IsDuplicate();
  info.IsRetained = APacket->IsRetained();
  const uint16_t id = info.PacketId;
  switch (info.PacketType) {
    case mtRESERVED0:
      TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kInvalidTypeReserved0);
      break;
    case mtCONNECT:
      TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kInvalidTypeConnect);
      break;
    case mtCONNACK:
      FSession->MarkAsAcknowledged(id, mtCONNECT);
      HandleConnAck(*APacket);
      break;
    case mtPUBLISH:
      HandleIncomingPublish(*APacket);
      break;
    case mtPUBACK:
      FSession->MarkAsAcknowledged(id, mtPUBLISH);
      break;
    case mtPUBREC:
      // The PUBREL is queued before the PUBLISH is released, so the exchange
      // never leaves the window in between.
      SendPubRel(*APacket);
      FSession->MarkAsAcknowledged(id, mtPUBLISH);
      break;
    case mtPUBREL:
      FSession->MarkAsAcknowledged(id, mtPUBREC);
      // The exchange is over: a later PUBLISH with this id is a new message.
      FSession->ForgetIncomingQoS2(id);
      SendPubComp(*APacket);
      break;
    case mtPUBCOMP:
      FSession->MarkAsAcknowledged(id, mtPUBREL);
      break;
    case mtSUBSCRIBE:
      TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kInvalidTypeSubscribe);
      break;
    case mtSUBACK:
      FSession->MarkAsAcknowledged(id, mtSUBSCRIBE);
      HandleSubAck(*APacket);
      break;
    case mtUNSUBSCRIBE:
      TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kInvalidTypeUnsubscribe);
      break;
    case mtUNSUBACK:
      FSession->MarkAsAcknowledged(id, mtUNSUBSCRIBE);
      break;
    case mtPINGREQ:
      DoPingRequest();
      break;
    case mtPINGRESP:
      FSession->SetPingSentTime(0);
      DoPingResponse();
      break;
    case mtDISCONNECT:
      TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kInvalidTypeDisconnect);
      break;
    case mtRESERVED15:
      TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kInvalidTypeReserved15);
      break;
  }
  DoPacketReceived(info);
}

void TNeloMQTTClient::HandleConnAck(TNeloMQTTPacket& APacket) {
  auto* connAck = dynamic_cast<TNeloMQTTConnAckPacket*>(&APacket);
  if (connAck == nullptr) return;
  FConnAckReceived = true;
  FSessionPresent = static_cast<int>(connAck->ReturnCode()) == 0 && connAck->SessionPresent();
  FSession->SetConnectSentTime(0);
  TNeloMQTTConnectionStatus status;
  switch (static_cast<int>(connAck->ReturnCode())) {
    case 0:
      status = csConnected;
      break;
    case 1:
      status = csConnectionRejected_InvalidProtocolVersion;
      break;
    case 2:
      status = csConnectionRejected_InvalidIdentifier;
      break;
    case 3:
      status = csConnectionRejected_ServerUnavailable;
      break;
    case 4:
      status = csConnectionRejected_InvalidCredentials;
      break;
    case 5:
      status = csConnectionRejected_ClientNotAuthorized;
      break;
    default:
      status = csNotConnected;
      break;
  }
  const bool reconnect = FConnectionStatus.load() == csReconnecting;
  SetConnectionStatus(status);
  // A broker that kept no session has forgotten the subscriptions: they are
  // made again, or the operator would silently stop receiving.
  if (status == csConnected && reconnect && !connAck->SessionPresent()) RestoreSubscriptions();
}

void TNeloMQTTClient::HandleIncomingPublish(TNeloMQTTPacket& APacket) {
  try {
    const uint16_t id = APacket.PacketId();
    if (APacket.QoS() == qosAtLeastOnce)
      HandleOutgoingPacket(std::make_unique<TNeloMQTTPubAckPacket>(id), false);
    else if (APacket.QoS() == qosExactlyOnce) {
      HandleOutgoingPacket(std::make_unique<TNeloMQTTPubRecPacket>(id), false);
      // Exactly once: a repeat before the PUBREL is acknowledged again, not
      // delivered again.
      if (!FSession->RememberIncomingQoS2(id)) return;
    }
    auto* publish = dynamic_cast<TNeloMQTTPublishPacket*>(&APacket);
    if (publish == nullptr) throw ENeloMQTTError("Not a PUBLISH packet");
    DoPublishReceived(id, publish->TopicName(), publish->PayloadRef());
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kFailedIncomingPublish, &e);
  } catch (...) {
    TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kFailedIncomingPublish);
  }
}

void TNeloMQTTClient::SendPubRel(TNeloMQTTPacket& APacket) {
  HandleOutgoingPacket(std::make_unique<TNeloMQTTPubRelPacket>(APacket.PacketId()), false);
}

void TNeloMQTTClient::SendPubComp(TNeloMQTTPacket& APacket) {
  HandleOutgoingPacket(std::make_unique<TNeloMQTTPubCompPacket>(APacket.PacketId()), false);
}

void TNeloMQTTClient::HandleSubAck(TNeloMQTTPacket& APacket) {
  std::unique_ptr<TNeloMQTTRequestedSubscription> request =
      FSession->GetSubscriptionRequest(APacket.PacketId());
  TNeloQosArray levels;
  auto pending = FPendingSubscriptionQos.find(APacket.PacketId());
  if (pending != FPendingSubscriptionQos.end()) {
    levels = std::move(pending->second);
    FPendingSubscriptionQos.erase(pending);
  }
  if (!request) return;
  auto* subAck = dynamic_cast<TNeloMQTTSubAckPacket*>(&APacket);
  TNeloMQTTSubscriptions subscriptions;
  subscriptions.reserve(request->Topics.size());
  for (size_t i = 0; i < request->Topics.size(); ++i) {
    TNeloMQTTSubscription entry;
    entry.Topic = request->Topics[i];
    // Return codes pair with topics by position; a topic without one was
    // not accepted.
    if (subAck != nullptr && i < subAck->ReturnCodeCount()) {
      const TNeloMQTTSubAckReturnCode code = subAck->ReturnCode(i);
      entry.Accepted = code.IsAccepted();
      entry.MaxQoS = code.MaximumQoS();
    }
    subscriptions.push_back(entry);
    if (entry.Accepted) {
      const TNeloMQTTQoS qos = i < levels.size() ? levels[i] : entry.MaxQoS;
      bool known = false;
      for (auto& granted : FGrantedSubscriptions) {
        if (granted.first == entry.Topic) {
          granted.second = qos;
          known = true;
        }
      }
      if (!known) FGrantedSubscriptions.emplace_back(entry.Topic, qos);
    }
  }
  DoSubscriptionAcknowledged(APacket.PacketId(), subscriptions);
}

void TNeloMQTTClient::RestoreSubscriptions() {
  if (FGrantedSubscriptions.empty()) return;
  TNeloStringArray topics;
  TNeloQosArray levels;
  for (const auto& granted : FGrantedSubscriptions) {
    topics.push_back(granted.first);
    levels.push_back(granted.second);
  }
  std::string list;
  for (const std::string& topic : topics) list += (list.empty() ? "" : ", ") + topic;
  TNeloMQTTLogHelper::Info(FLogger, this, std::string(TNeloMQTTEngineTexts::kSubscribingAgain) + list);
  Subscribe(topics, levels);
}
