// The MQTT 3.1.1 client: settings, connection status, events, connect and
// disconnect, publish, subscribe and unsubscribe, and the dispatch of
// received packets.
//
// Every public operation is meant for the main thread (see
// Nelo.MQTT.Client.Threading.h). Events run on the main thread: the worker
// threads hand them over and wait, so the host must serve hand-offs
// (NeloCheckSynchronize) for events and acknowledgements to flow.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Nelo.MQTT.Client.Session.h"
#include "Nelo.MQTT.Client.Texts.h"
#include "Nelo.MQTT.Client.Threading.h"
#include "Nelo.MQTT.Connection.h"
#include "Nelo.MQTT.Core.h"
#include "Nelo.MQTT.Global.h"
#include "Nelo.MQTT.Logging.h"

class TNeloMQTTPacket;

using TNeloMQTTOnConnectedStatusChangedEvent =
    std::function<void(TNeloObject* ASender, bool AConnected, TNeloMQTTConnectionStatus AStatus)>;
using TNeloMQTTOnPublishReceivedEvent = std::function<void(
    TNeloObject* ASender, uint16_t APacketID, const std::string& ATopic, const TNeloMQTTBytes& APayload)>;
using TNeloMQTTOnPublishReceivedExEvent = std::function<void(
    TNeloObject* ASender, uint16_t APacketID, const std::string& ATopic, const TNeloMQTTBytes& APayload)>;
using TNeloMQTTOnSubscriptionAcknowledgedEvent = std::function<void(
    TNeloObject* ASender, uint16_t APacketID, const TNeloMQTTSubscriptions& ASubscriptions)>;
using TNeloMQTTPacketEvent =
    std::function<void(TNeloObject* ASender, const TNeloMQTTPacketInfo& APacketInfo)>;
// A received message as one value: topic, payload, QoS, retain, dup, packet id.
using TNeloMQTTOnMessageReceivedEvent =
    std::function<void(TNeloObject* ASender, const TNeloMQTTMessage& AMessage)>;

// Component notification kinds (Notification).
enum TNeloOperation { opInsert, opRemove };

class TNeloMQTTKeepAliveSettings : public TNeloObject {
 public:
  std::string ClassName() const override { return "TNeloMQTTKeepAliveSettings"; }
  // Copies every property from another keep-alive settings object; ignores other sources.
  void Assign(const TNeloObject* ASource);

  bool KeepConnectionAlive() const { return FKeepConnectionAlive; }
  void SetKeepConnectionAlive(bool AValue) { FKeepConnectionAlive = AValue; }
  uint16_t KeepAliveInterval() const { return FKeepAliveInterval; }
  void SetKeepAliveInterval(uint16_t AValue) { FKeepAliveInterval = AValue; }
  bool AutoReconnect() const { return FAutoReconnect; }
  void SetAutoReconnect(bool AValue) { FAutoReconnect = AValue; }
  uint16_t AutoReconnectInterval() const { return FAutoReconnectInterval; }
  void SetAutoReconnectInterval(uint16_t AValue) { FAutoReconnectInterval = AValue; }

 private:
  bool FKeepConnectionAlive = true;
  uint16_t FKeepAliveInterval = 120;
  bool FAutoReconnect = false;
  uint16_t FAutoReconnectInterval = 30;
};

class TNeloMQTTCredentials : public TNeloObject {
 public:
  std::string ClassName() const override { return "TNeloMQTTCredentials"; }
  void Assign(const TNeloObject* ASource);

  const std::string& Username() const { return FUsername; }
  void SetUsername(const std::string& AValue) { FUsername = AValue; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& AValue) { FPassword = AValue; }

 private:
  std::string FUsername;
  std::string FPassword;
};

class TNeloMQTTLastWillSettings : public TNeloObject {
 public:
  std::string ClassName() const override { return "TNeloMQTTLastWillSettings"; }
  void Assign(const TNeloObject* ASource);

  const std::string& Topic() const { return FTopic; }
  void SetTopic(const std::string& AValue) { FTopic = AValue; }
  const std::string& WillMessage() const { return FWillMessage; }
  void SetWillMessage(const std::string& AValue) { FWillMessage = AValue; }
  bool Retain() const { return FRetain; }
  void SetRetain(bool AValue) { FRetain = AValue; }
  TNeloMQTTQoS QoS() const { return FQoS; }
  void SetQoS(TNeloMQTTQoS AValue) { FQoS = AValue; }

 private:
  std::string FTopic;
  std::string FWillMessage;
  bool FRetain = false;
  TNeloMQTTQoS FQoS = qosAtMostOnce;
};

class TNeloMQTTClient : public TNeloObject, private TNeloMQTTCoreSink {
 public:
  // Talks to the broker through ATransport; by default through a network
  // connection (TCP, optionally TLS).
  explicit TNeloMQTTClient(TNeloObject* AOwner = nullptr,
                           std::unique_ptr<TNeloMQTTTransport> ATransport = nullptr);
  // Terminates and awaits the keep-alive, writer and reader threads (serving
  // their hand-offs meanwhile), then frees the transport and the session.
  // Sends no DISCONNECT.
  ~TNeloMQTTClient() override;
  TNeloMQTTClient(const TNeloMQTTClient&) = delete;
  TNeloMQTTClient& operator=(const TNeloMQTTClient&) = delete;

  std::string ClassName() const override { return "TNeloMQTTClient"; }
  TNeloObject* Owner() const { return FOwner; }

  // Copies ClientID, BrokerHostName, BrokerPort, UseSSL and the contents of
  // the three settings objects from another client; ignores other sources.
  void Assign(const TNeloObject* ASource);
  // A removal of the linked logger unlinks it.
  void Notification(TNeloObject* AComponent, TNeloOperation AOperation);

  // Opens the transport and queues a CONNECT; returns without waiting for
  // the CONNACK (status csConnecting). Network failures end in
  // csConnectionRejected_ServerUnavailable, they are not raised.
  void Connect(bool ACleanSession);
  // In csConnected: sends DISCONNECT at once, closes the transport, status
  // csConnectionLost then csNotConnected. Otherwise does nothing.
  void Disconnect();
  bool IsConnected() const;
  void Ping();

  // Return the packet id used (0 for QoS 0). Raise ENeloMQTTAssertionFailed
  // when not connected or for an invalid topic name or filter.
  uint16_t Publish(const std::string& ATopic, const std::string& APayload, TNeloMQTTQoS AQos, bool ARetain);
  uint16_t Publish(const std::string& ATopic, const TNeloMQTTBytes& APayload, TNeloMQTTQoS AQos,
                   bool ARetain);
  uint16_t Subscribe(const std::string& ATopic, TNeloMQTTQoS ATopicQosLevel);
  uint16_t Subscribe(const TNeloStringArray& ATopics, const TNeloQosArray& ATopicQosLevels);
  uint16_t Unsubscribe(const std::string& ATopic);
  uint16_t Unsubscribe(const TNeloStringArray& ATopics);

  // Properties
  const std::string& ClientID() const { return FClientID; }
  void SetClientID(const std::string& AValue) { FClientID = AValue; }
  const std::string& BrokerHostName() const { return FBrokerHostName; }
  void SetBrokerHostName(const std::string& AValue) { FBrokerHostName = AValue; }
  int32_t BrokerPort() const { return FBrokerPort; }
  void SetBrokerPort(int32_t AValue) { FBrokerPort = AValue; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion AValue) { FIPVersion = AValue; }
  bool UseSSL() const { return FUseSSL; }
  void SetUseSSL(bool AValue) { FUseSSL = AValue; }
  TNeloMQTTKeepAliveSettings* KeepAliveSettings() const { return FKeepAliveSettings.get(); }
  TNeloMQTTCredentials* Credentials() const { return FCredentials.get(); }
  TNeloMQTTLastWillSettings* LastWillSettings() const { return FLastWillSettings.get(); }
  TNeloMQTTLogger* Logger() const { return FLogger; }
  void SetLogger(TNeloMQTTLogger* ALogger);
  // "1.1.0.2"; writing is accepted and ignored.
  std::string Version() const;
  void SetVersion(const std::string& AValue);
  TNeloMQTTNeloMQTTClientSession* Session() const { return FSession.get(); }
  TNeloMQTTConnectionStatus ConnectionStatus() const { return FConnectionStatus.load(); }
  // The network connection (its TLS settings and write time-out); null when
  // the client was given a transport of another kind.
  TNeloMQTTNetworkConnection* Connection() const {
    return dynamic_cast<TNeloMQTTNetworkConnection*>(FTransport.get());
  }

  // Whether the writer hands every send over to the main thread to raise
  // OnPacketSent (on by default). Off, sends cost no hand-off and raise no
  // OnPacketSent; bulk senders that do not listen for them turn it off.
  // Largest packet accepted from the broker (remaining length, bytes); a
  // larger one closes the connection with an error line. 64 MiB.
  uint32_t MaxIncomingPacketSize() const { return FCore->MaxIncomingPacketSize(); }
  void SetMaxIncomingPacketSize(uint32_t AValue) {
    FCore->SetMaxIncomingPacketSize(AValue);
    FSession->SetMaxIncomingPacketSize(AValue);
  }

  // Whether the broker's last CONNACK said it kept the session.
  bool SessionPresent() const { return FCore->SessionPresent(); }

  bool PacketSentNotifications() const { return FPacketSentNotifications; }
  void SetPacketSentNotifications(bool AValue);

  // Events (first argument: the client). Assign them on the main thread,
  // before connecting.
  TNeloMQTTOnConnectedStatusChangedEvent OnConnectedStatusChanged;
  TNeloMQTTPacketEvent OnPacketReceived;
  TNeloMQTTPacketEvent OnPacketSent;
  TNeloMQTTNotifyEvent OnPingRequest;
  TNeloMQTTNotifyEvent OnPingResponse;
  TNeloMQTTOnPublishReceivedEvent OnPublishReceived;
  TNeloMQTTOnPublishReceivedExEvent OnPublishReceivedEx;
  // Raised before OnPublishReceived, with the whole message (its QoS,
  // retain and dup flags included).
  TNeloMQTTOnMessageReceivedEvent OnMessageReceived;
  TNeloMQTTOnSubscriptionAcknowledgedEvent OnSubscriptionAcknowledged;

  void SetOnConnectedStatusChanged(TNeloMQTTOnConnectedStatusChangedEvent AEvent) {
    OnConnectedStatusChanged = std::move(AEvent);
  }
  void SetOnPacketReceived(TNeloMQTTPacketEvent AEvent) { OnPacketReceived = std::move(AEvent); }
  void SetOnPacketSent(TNeloMQTTPacketEvent AEvent) { OnPacketSent = std::move(AEvent); }
  void SetOnPingRequest(TNeloMQTTNotifyEvent AEvent) { OnPingRequest = std::move(AEvent); }
  void SetOnPingResponse(TNeloMQTTNotifyEvent AEvent) { OnPingResponse = std::move(AEvent); }
  void SetOnPublishReceived(TNeloMQTTOnPublishReceivedEvent AEvent) { OnPublishReceived = std::move(AEvent); }
  void SetOnPublishReceivedEx(TNeloMQTTOnPublishReceivedExEvent AEvent) {
    OnPublishReceivedEx = std::move(AEvent);
  }
  void SetOnSubscriptionAcknowledged(TNeloMQTTOnSubscriptionAcknowledgedEvent AEvent) {
    OnSubscriptionAcknowledged = std::move(AEvent);
  }

 protected:
  // Packed version: major 1, minor 1, release 0, build 2, one byte each from
  // the most significant.
  virtual uint32_t GetVersionNr() const;
  virtual void DoPingRequest();
  virtual void DoPingResponse();
  virtual void DoPacketReceived(const TNeloMQTTPacketInfo& APacketInfo);
  virtual void DoPacketSent(const TNeloMQTTPacketInfo& APacketInfo);
  virtual void DoPublishReceived(uint16_t APacketID, const std::string& ATopic,
                                 const TNeloMQTTBytes& APayload);
  // Raises OnMessageReceived, then DoPublishReceived with the message's parts.
  virtual void DoMessageReceived(const TNeloMQTTMessage& AMessage);
  virtual void DoConnectedStatusChanged(bool AConnected, TNeloMQTTConnectionStatus AStatus);
  virtual void DoSubscriptionAcknowledged(uint16_t APacketID, const TNeloMQTTSubscriptions& ASubscriptions);

 private:
  void EnsureConnected() const;
  void SetConnectionStatus(TNeloMQTTConnectionStatus AStatus);
  // AOperator: the operator's Connect (else an automatic reconnect).
  void InternalConnect(bool AClean, bool AOperator);
  void InternalDisconnect();
  void HandleNetworkConnected();
  void HandleNetworkDisconnected();
  void NetworkLost();
  void HandlePacketSent();
  void HandleReconnectRequest();
  void HandleTick();
  void BindWriterEvents();
  std::size_t HandleBytesReceived(const uint8_t* AData, std::size_t ASize);
  TNeloMQTTCoreOptions CoreOptions() const;
  // Runs a call of the core, then what it asked for (closing the transport)
  // and publishes the core's counts to the threads.
  template <class F>
  auto Drive(F ACall) -> decltype(ACall());
  void AfterCore();
  void QueueHeldWrite();

  // The core's actions (main thread).
  void CoreWrite(const uint8_t* AData, std::size_t ASize) override;
  void CoreClose(TNeloMQTTCoreCloseReason AReason) override;
  void CoreStatus(TNeloMQTTConnectionStatus AStatus) override;
  void CoreDeliver(TNeloMQTTMessage& AMessage) override;
  void CoreAcknowledged(const TNeloMQTTCoreAck& AAck) override;
  void CorePacketSent(const TNeloMQTTPacketInfo& AInfo) override;
  void CorePacketReceived(const TNeloMQTTPacketInfo& AInfo) override;
  void CoreLog(TNeloMQTTLogLevel ALevel, const std::string& AText, const char* AError) override;

  TNeloObject* FOwner;
  std::string FClientID;
  std::string FBrokerHostName;
  int32_t FBrokerPort = 1883;
  bool FUseSSL = false;
  TIdIPVersion FIPVersion = Id_IPv4;
  std::unique_ptr<TNeloMQTTLastWillSettings> FLastWillSettings;
  std::unique_ptr<TNeloMQTTKeepAliveSettings> FKeepAliveSettings;
  std::unique_ptr<TNeloMQTTCredentials> FCredentials;
  std::unique_ptr<TNeloMQTTNeloMQTTClientSession> FSession;
  std::unique_ptr<TNeloMQTTTransport> FTransport;
  std::unique_ptr<TNeloMQTTWriterThread> FWriterThread;
  std::unique_ptr<TNeloMQTTReaderThread> FReaderThread;
  std::unique_ptr<TNeloMQTTKeepAliveThread> FKeepAliveThread;
  TNeloMQTTLogger* FLogger = nullptr;
  std::atomic<TNeloMQTTConnectionStatus> FConnectionStatus{csNotConnected};
  bool FPacketSentNotifications = true;
  std::atomic<bool> FDestroying{false};
  // Main thread only.
  std::unique_ptr<TNeloMQTTCore> FCore;
  bool FOperatorDisconnected = false;
  int FInCore = 0;
  bool FCloseRequested = false;
  // The core writes the DISCONNECT: it goes out at once, not through the writer.
  bool FDirectWrite = false;
  bool FDirectWritten = false;
  // A packet the core wrote during a Connect before the transport was open.
  bool FConnecting = false;
  // The packet the core wrote last, until it says what it is.
  TQueuedWrite FHeldWrite;
  bool FHoldingWrite = false;
  // Bound on the direct DISCONNECT write.
  static constexpr int kDirectWriteTimeoutMs = 500;
};
