#include "Nelo.MQTT.Client.h"

#include "Nelo.MQTT.Texts.h"
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
      FTransport(ATransport ? std::move(ATransport) : std::make_unique<TNeloMQTTNetworkConnection>(nullptr)),
      FCore(std::make_unique<TNeloMQTTCore>(static_cast<TNeloMQTTCoreSink&>(*this))) {
  // The writer sends at its own pace: the reader takes in no more frames
  // while kAnswerBacklog answers wait for it.
  FCore->SetFlushTracking(true);
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
  FCore.reset();
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

void TNeloMQTTClient::DoMessageReceived(const TNeloMQTTMessage& AMessage) {
  if (OnMessageReceived) OnMessageReceived(this, AMessage);
  DoPublishReceived(AMessage.PacketId, AMessage.Topic, AMessage.Payload);
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
// Driving the core

template <class F>
auto TNeloMQTTClient::Drive(F ACall) -> decltype(ACall()) {
  // The logger's filter may change at any time; the core builds only the
  // lines that pass it.
  FCore->SetLogVerbosity(FLogger ? FLogger->Verbosity() : vNONE);
  const std::size_t flushed = FSession->TakeFlushed();
  if (flushed > 0) FCore->Flushed(flushed);
  struct TAfter {
    TNeloMQTTClient* Client;
    ~TAfter() {
      if (--Client->FInCore == 0) Client->AfterCore();
    }
  };
  ++FInCore;
  TAfter after{this};
  return ACall();
}

void TNeloMQTTClient::AfterCore() {
  QueueHeldWrite();
  FSession->SetCoreOutstanding(FCore->InFlightCount() + FCore->QueuedCount());
  FSession->SetCoreDeadline(FCore->NextDeadline());
  if (FCloseRequested) {
    FCloseRequested = false;
    // The connection ends here; its loss is reported as any other.
    if (FTransport->IsReady()) FTransport->Close();
  }
  // The keep-alive thread sleeps until the core's next deadline.
  if (FKeepAliveThread) FKeepAliveThread->Wake();
}

TNeloMQTTCoreOptions TNeloMQTTClient::CoreOptions() const {
  TNeloMQTTCoreOptions options;
  options.ClientId = FClientID;
  options.KeepAliveInterval = FKeepAliveSettings->KeepAliveInterval();
  options.KeepConnectionAlive = FKeepAliveSettings->KeepConnectionAlive();
  options.Username = FCredentials->Username();
  options.Password = FCredentials->Password();
  options.WillTopic = FLastWillSettings->Topic();
  options.WillMessage = FLastWillSettings->WillMessage();
  options.WillRetain = FLastWillSettings->Retain();
  options.WillQoS = FLastWillSettings->QoS();
  return options;
}

void TNeloMQTTClient::CoreWrite(const uint8_t* AData, std::size_t ASize) {
  TNeloMQTTLogHelper::Debug(FLogger, this, TNeloMQTTEngineTexts::kHandlingOutgoing);
  if (FDirectWrite) {
    TNeloMQTTLogHelper::Debug(FLogger, this, TNeloMQTTEngineTexts::kSendingDirectly);
    // Best effort within a short bound: never behind a write in progress
    // (the socket is shut down next, which ends that write).
    FDirectWritten = FTransport->WriteWithin(TNeloMQTTBytes(AData, AData + ASize), kDirectWriteTimeoutMs);
    if (!FDirectWritten) TNeloMQTTLogHelper::Warning(FLogger, this, TNeloMQTTEngineTexts::kDirectSendSkipped);
    return;
  }
  TNeloMQTTLogHelper::Debug(FLogger, this, TNeloMQTTEngineTexts::kSendingToWriter);
  TQueuedWrite write;
  write.Bytes.assign(AData, AData + ASize);
  const uint8_t type = ASize > 0 ? static_cast<uint8_t>(AData[0] >> 4) : 0;
  write.Answer = type == mtPUBACK || type == mtPUBREC || type == mtPUBREL || type == mtPUBCOMP;
  write.Publish0 = type == mtPUBLISH && ((AData[0] >> 1) & 0x03) == 0;
  // Queued once the core has said what the packet is (CorePacketSent comes
  // right after), so the writer never takes it without its info.
  QueueHeldWrite();
  FHeldWrite = std::move(write);
  FHoldingWrite = true;
  TNeloMQTTLogHelper::Debug(FLogger, this, TNeloMQTTEngineTexts::kPacketAdded);
}

void TNeloMQTTClient::QueueHeldWrite() {
  if (!FHoldingWrite) return;
  FHoldingWrite = false;
  FSession->QueueWrite(std::move(FHeldWrite));
  FHeldWrite = TQueuedWrite();
}

void TNeloMQTTClient::CorePacketSent(const TNeloMQTTPacketInfo& AInfo) {
  if (FDirectWrite) {
    if (FDirectWritten) DoPacketSent(AInfo);
    return;
  }
  if (FHoldingWrite) {
    FHeldWrite.Info = AInfo;
    FHeldWrite.HasInfo = true;
  }
  QueueHeldWrite();
}

void TNeloMQTTClient::CoreClose(TNeloMQTTCoreCloseReason) { FCloseRequested = true; }

void TNeloMQTTClient::CoreStatus(TNeloMQTTConnectionStatus AStatus) { SetConnectionStatus(AStatus); }

void TNeloMQTTClient::CoreDeliver(TNeloMQTTMessage& AMessage) {
  // The acknowledgement is out already; an error of the application's
  // handlers goes no further than this line.
  try {
    DoMessageReceived(AMessage);
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kFailedIncomingPublish, &e);
  } catch (...) {
    TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kFailedIncomingPublish);
  }
}

void TNeloMQTTClient::CoreAcknowledged(const TNeloMQTTCoreAck& AAck) {
  switch (AAck.Kind) {
    case akSubscribed:
      FSession->GetSubscriptionRequest(AAck.PacketId);
      if (AAck.Subscriptions != nullptr) DoSubscriptionAcknowledged(AAck.PacketId, *AAck.Subscriptions);
      break;
    case akPingResponse:
      DoPingResponse();
      break;
    case akGivenUp:
      if (AAck.PacketType == mtSUBSCRIBE) FSession->GetSubscriptionRequest(AAck.PacketId);
      break;
    default:
      break;
  }
}

void TNeloMQTTClient::CorePacketReceived(const TNeloMQTTPacketInfo& AInfo) {
  if (AInfo.PacketType == mtPINGREQ) DoPingRequest();
  DoPacketReceived(AInfo);
}

void TNeloMQTTClient::CoreLog(TNeloMQTTLogLevel ALevel, const std::string& AText, const char* AError) {
  if (AError != nullptr) {
    const ENeloMQTTError error(AError);
    switch (ALevel) {
      case vFATAL:
        TNeloMQTTLogHelper::Fatal(FLogger, this, AText, &error);
        return;
      case vWARNING:
        TNeloMQTTLogHelper::Warning(FLogger, this, AText, &error);
        return;
      default:
        TNeloMQTTLogHelper::Error(FLogger, this, AText, &error);
        return;
    }
  }
  switch (ALevel) {
    case vFATAL:
      TNeloMQTTLogHelper::Fatal(FLogger, this, AText, nullptr);
      break;
    case vERROR:
      TNeloMQTTLogHelper::Error(FLogger, this, AText, nullptr);
      break;
    case vWARNING:
      TNeloMQTTLogHelper::Warning(FLogger, this, AText, nullptr);
      break;
    case vINFO:
      TNeloMQTTLogHelper::Info(FLogger, this, AText);
      break;
    case vDEBUG:
      TNeloMQTTLogHelper::Debug(FLogger, this, AText);
      break;
    default:
      break;
  }
}

std::size_t TNeloMQTTClient::HandleBytesReceived(const uint8_t* AData, std::size_t ASize) {
  FSession->SetLastReadCommunicationTime(NeloNowMs());
  if (FDestroying.load()) return ASize;
  return Drive([&] { return FCore->Received(AData, ASize, NeloNowMs()); });
}

void TNeloMQTTClient::HandleTick() {
  if (FDestroying.load()) return;
  Drive([&] { FCore->Tick(NeloNowMs()); });
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
  // QoS 0 messages the last connection could not send go first on this one.
  if (AStatus == csConnected) FSession->RequeueKeptPublishes();
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
    FKeepAliveThread->SetOnRequestTick([this](TNeloObject*) { HandleTick(); });
    FKeepAliveThread->SetOnRequestReconnect([this](TNeloObject*) { HandleReconnectRequest(); });
  } else {
    FKeepAliveThread->SetPaused(false);
  }
  if (IsConnected()) return;
  FOperatorDisconnected = false;
  if (FClientID.empty()) FClientID = RandomClientIdentifier();
  Drive([&] { FCore->SetStatus(csConnecting); });
  try {
    InternalConnect(ACleanSession, true);
  } catch (...) {
    Drive([&] { FCore->SetStatus(csConnectionRejected_ServerUnavailable); });
  }
}

void TNeloMQTTClient::InternalConnect(bool AClean, bool AOperator) {
  try {
    TNeloMQTTLogHelper::Info(FLogger, this, TNeloMQTTEngineTexts::kConnecting);
    if (FTransport->IsReady()) {
      TNeloMQTTLogHelper::Info(FLogger, this, TNeloMQTTEngineTexts::kClosingPrevious);
      FConnecting = true;
      FTransport->Close();
      FConnecting = false;
    }
    FTransport->SetHostName(FBrokerHostName);
    FTransport->SetIPVersion(FIPVersion);
    FTransport->SetPort(FBrokerPort);
    FTransport->SetUseSSL(FUseSSL);
    FTransport->Open();

    if (!FWriterThread) {
      FWriterThread = std::make_unique<TNeloMQTTWriterThread>(FTransport.get(), FSession.get(), FLogger);
      BindWriterEvents();
    }
    if (!FReaderThread) {
      FReaderThread = std::make_unique<TNeloMQTTReaderThread>(FTransport.get(), FSession.get(), FLogger);
      FReaderThread->SetOnBytesReceived([this](TNeloObject*, const uint8_t* AData, std::size_t ASize) {
        return HandleBytesReceived(AData, ASize);
      });
    } else {
      FReaderThread->Reset();
    }
    // The CONNECT is the first packet on the new connection: nothing of the
    // last one is left to go before it.
    FSession->ClearWrites();
    const TNeloMQTTCoreOptions options = [&] {
      TNeloMQTTCoreOptions o = CoreOptions();
      o.CleanSession = AClean;
      return o;
    }();
    Drive([&] {
      if (AOperator)
        FCore->Connect(options, NeloNowMs());
      else
        FCore->Reconnect(options, NeloNowMs());
    });
    FWriterThread->SetPaused(false);
    FReaderThread->SetPaused(false);
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
  // the main thread tells the core, changes the status, raises the event and
  // pauses the workers. The step is queued without waiting, as the worker
  // may hold a transport lock here.
  NeloQueueOnMainThread(this, [this] {
    if (FDestroying.load()) return;
    // A reconnect may have opened a new connection meanwhile; then this
    // notice is stale.
    if (FSession->HasActiveNetworkConnection()) return;
    NetworkLost();
  });
}

void TNeloMQTTClient::NetworkLost() {
  // The previous connection closed by a new attempt: the core starts the
  // new one from scratch.
  if (!FConnecting) Drive([&] { FCore->TransportClosed(NeloNowMs()); });
  // What was written for the connection that ended goes with it; the core
  // resends what it still waits for on the next one.
  FSession->ClearWrites();
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
  FKeepAliveThread->SetPaused(true);
  FKeepAliveThread->SetShouldTryReconnect(false);
  FKeepAliveThread->SetShouldKeepConnectionAlive(false);
  if (FConnectionStatus.load() != csConnected) {
    // Connecting, reconnecting, lost or refused: the reconnect loop ends
    // and a connection still open is closed.
    if (FConnectionStatus.load() == csNotConnected && !FTransport->IsReady()) return;
    Drive([&] { FCore->Disconnect(NeloNowMs()); });
    InternalDisconnect();
    return;
  }
  // The DISCONNECT is written at once on this thread; then the transport
  // closes (status csConnectionLost, then csNotConnected).
  FDirectWrite = true;
  FDirectWritten = false;
  struct TFinally {
    TNeloMQTTClient* Client;
    ~TFinally() { Client->FDirectWrite = false; }
  } finally{this};
  Drive([&] { FCore->Disconnect(NeloNowMs()); });
  FDirectWrite = false;
  InternalDisconnect();
}

void TNeloMQTTClient::Ping() {
  if (IsConnected()) Drive([&] { FCore->Ping(NeloNowMs()); });
}

void TNeloMQTTClient::HandlePacketSent() {
  if (!FWriterThread) return;
  // The moment of the send itself, not of this (later) notification.
  FSession->SetLastWriteCommunicationTime(FWriterThread->LastSentTime());
  DoPacketSent(FWriterThread->LastSentPacketInfo());
}

void TNeloMQTTClient::HandleReconnectRequest() {
  // The client is going away, or the operator disconnected after the
  // request was handed over: no new connection. Nor after a refusal of the
  // credentials or the client, until the operator connects again.
  if (FDestroying.load() || FOperatorDisconnected || !FCore->ReconnectAllowed()) return;
  // The keep-alive thread saw the transport down before the notice of the
  // loss reached this thread: report the loss first, as it happened.
  if (FConnectionStatus.load() == csConnected && !FSession->HasActiveNetworkConnection()) NetworkLost();
  Drive([&] { FCore->SetStatus(csReconnecting); });
  try {
    InternalConnect(false, false);
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
  // The id is drawn before the topic is checked: a refused topic takes one.
  if (!TNeloMQTTTopic::ValidateTopicName(ATopic) && AQos > qosAtMostOnce && AQos < qosRESERVED)
    FCore->SkipPacketId();
  NELO_ASSERT(TNeloMQTTTopic::ValidateTopicName(ATopic), "This is not a valid topic name");
  try {
    return Drive([&] { return FCore->Publish(ATopic, APayload, AQos, ARetain, NeloNowMs()); });
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kFailedOutgoing, &e);
    return 0;
  }
}

uint16_t TNeloMQTTClient::Subscribe(const std::string& ATopic, TNeloMQTTQoS ATopicQosLevel) {
  return Subscribe(TNeloStringArray{ATopic}, TNeloQosArray{ATopicQosLevel});
}

uint16_t TNeloMQTTClient::Subscribe(const TNeloStringArray& ATopics, const TNeloQosArray& ATopicQosLevels) {
  EnsureConnected();
  for (const std::string& topic : ATopics)
    NELO_ASSERT(TNeloMQTTTopic::ValidateTopicFilter(topic), "This is not a valid topic filter");
  // Arrays of different lengths are the caller's error.
  if (ATopics.size() != ATopicQosLevels.size())
    throw ENeloMQTTError(TNeloMQTTCodecTexts::kSubscribeCountMismatch);
  uint16_t id = 0;
  try {
    id = Drive([&] { return FCore->Subscribe(ATopics, ATopicQosLevels, NeloNowMs()); });
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kFailedOutgoing, &e);
    return 0;
  }
  auto request = std::make_unique<TNeloMQTTRequestedSubscription>();
  request->PacketId = id;
  request->Topics = ATopics;
  FSession->AddSubscriptionRequest(std::move(request));
  return id;
}

uint16_t TNeloMQTTClient::Unsubscribe(const std::string& ATopic) {
  return Unsubscribe(TNeloStringArray{ATopic});
}

uint16_t TNeloMQTTClient::Unsubscribe(const TNeloStringArray& ATopics) {
  EnsureConnected();
  for (const std::string& topic : ATopics)
    NELO_ASSERT(TNeloMQTTTopic::ValidateTopicFilter(topic), "This is not a valid topic filter");
  try {
    return Drive([&] { return FCore->Unsubscribe(ATopics, NeloNowMs()); });
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(FLogger, this, TNeloMQTTEngineTexts::kFailedOutgoing, &e);
    return 0;
  }
}
