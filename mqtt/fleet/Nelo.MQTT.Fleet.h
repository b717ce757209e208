// The fleet engine: many MQTT sessions in one process, each a protocol core
// driven from one of a few event loops (one per CPU by default) with
// non-blocking sockets, TLS and one timer per loop. No thread and no
// hand-off per session: a session's events run on its loop's thread, and
// a connected idle session holds a socket, its core and no read buffer
// (reads go through one buffer per loop).
//
// Sessions are numbered 0..N-1 by the application and cost next to nothing
// until they are first connected. Every command may be called from any
// thread; it runs on the session's loop (at once when called there).
#pragma once

#include <boost/asio/ip/address.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Nelo.MQTT.Core.h"
#include "Nelo.MQTT.Global.h"
#include "Nelo.MQTT.TlsContext.h"

// Where every session of a fleet connects to, and from where.
struct TNeloMQTTFleetOptions {
  std::string Host = "localhost";
  uint16_t Port = 1883;
  bool IPv6 = false;
  bool UseSSL = false;
  TNeloMQTTTlsSettings Tls;
  // Local source addresses, used in turn (bind before connect); empty: the
  // system chooses.
  std::vector<boost::asio::ip::address> BindAddresses;
  // Event loops (threads); 0: one per CPU.
  unsigned Loops = 0;
  // Connections being opened at once per loop (TCP connect to CONNACK); the
  // others wait their turn, so a large fleet does not flood the broker's
  // accept queue.
  unsigned ConnectWindow = 256;
  // Time-out of one attempt (TCP connect and TLS handshake).
  int ConnectTimeoutMs = 5000;
  // The sessions' log lines at this level and above reach the handler.
  TNeloMQTTLogLevel LogVerbosity = vERROR;
};

// What one session says in its CONNECT and how it comes back. An empty
// client id gets a random one at the first connect, kept afterwards.
struct TNeloMQTTFleetSessionSettings {
  TNeloMQTTCoreOptions Connect;
  bool AutoReconnect = true;
  // Seconds between attempts while the connection is down.
  int ReconnectIntervalS = 1;
};

// The application's side. Every call runs on the session's loop thread;
// calls for one session never overlap.
class TNeloMQTTFleetHandler {
 public:
  virtual ~TNeloMQTTFleetHandler() = default;
  // The session's status changed (csConnected after the CONNACK,
  // csConnectionLost, a refusal, ...). AError: the reason of a failure.
  virtual void OnStatus(std::size_t ASession, TNeloMQTTConnectionStatus AStatus,
                        const std::string& AError) = 0;
  virtual void OnMessage(std::size_t ASession, TNeloMQTTMessage& AMessage) = 0;
  virtual void OnSubscribed(std::size_t ASession, uint16_t APacketId, const TNeloMQTTSubscriptions& AResult) {
    (void)ASession, (void)APacketId, (void)AResult;
  }
  // A QoS 1 or 2 publication of the session was acknowledged by the broker.
  virtual void OnPublished(std::size_t ASession, uint16_t APacketId) { (void)ASession, (void)APacketId; }
  // The session's log lines that pass the options' LogVerbosity. Must not
  // call the fleet's commands.
  virtual void OnLog(std::size_t ASession, TNeloMQTTLogLevel ALevel, const std::string& AText) {
    (void)ASession, (void)ALevel, (void)AText;
  }
};

class TNeloMQTTFleet {
 public:
  TNeloMQTTFleet(TNeloMQTTFleetOptions AOptions, std::size_t ASessions, TNeloMQTTFleetHandler& AHandler);
  // Stops the loops (see Stop) and frees every session.
  ~TNeloMQTTFleet();
  TNeloMQTTFleet(const TNeloMQTTFleet&) = delete;
  TNeloMQTTFleet& operator=(const TNeloMQTTFleet&) = delete;

  // Resolves the broker and starts the loop threads. False with AError set
  // when the broker's name cannot be resolved or TLS cannot be set up.
  bool Start(std::string& AError);
  // Ends the loops: every connection is closed at once (no DISCONNECT), the
  // threads are joined.
  void Stop();

  std::size_t Sessions() const { return FSessionCount; }
  std::size_t Loops() const;
  std::size_t LoopOf(std::size_t ASession) const;
  bool OnLoopOf(std::size_t ASession) const;

  // Opens the session's connection (queued behind the connect window) and
  // keeps it up with its settings' reconnect rules.
  void Connect(std::size_t ASession, std::shared_ptr<const TNeloMQTTFleetSessionSettings> ASettings);
  void Publish(std::size_t ASession, const std::string& ATopic, TNeloMQTTBytes APayload, TNeloMQTTQoS AQos,
               bool ARetain);
  void Subscribe(std::size_t ASession, const TNeloStringArray& AFilters, const TNeloQosArray& AQos);
  // Sends DISCONNECT and closes; the session stays down.
  void Disconnect(std::size_t ASession);
  // Closes the connection abruptly (the broker sends the will); the session
  // comes back by its reconnect rules.
  void Drop(std::size_t ASession);
  // Runs AStep on the session's loop (at once when called there).
  void Run(std::size_t ASession, std::function<void()> AStep);
  // Runs AStep on the session's loop at AAtMs (steady clock, milliseconds)
  // or soon after, through the loop's one timer.
  void RunAt(std::size_t ASession, int64_t AAtMs, std::function<void()> AStep);
  // Milliseconds of the fleet's clock (steady).
  static int64_t NowMs();

  // Counters, read from any thread.
  std::size_t Connected() const;
  // Outgoing QoS 1/2 publications of the session not yet acknowledged (its loop only).
  std::size_t Outstanding(std::size_t ASession) const;

 private:
  class TLoop;
  class TSession;
  friend class TLoop;
  friend class TSession;
  TSession* SessionOn(std::size_t ASession);  // creates it; its loop only

  TNeloMQTTFleetOptions FOptions;
  std::size_t FSessionCount;
  TNeloMQTTFleetHandler& FHandler;
  std::vector<std::unique_ptr<TLoop>> FLoops;
  struct TShared;
  std::unique_ptr<TShared> FShared;
};
