// What the client needs of the byte pipe to its broker. The network
// connection (TCP, optionally TLS) is the transport of every application; a
// transport in memory (Nelo.MQTT.MemoryTransport.h) lets a test or a fuzzer
// drive a whole connected client without a socket.
//
// Threads: the main thread opens and closes; the reader thread reads and
// waits; the writer thread writes; the main thread may write directly
// (WriteWithin) and end writes (AbortWrites) while a worker is inside a call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "Nelo.MQTT.Global.h"

class TNeloMQTTLogger;

// Address family used to resolve the host name and to connect.
enum TIdIPVersion { Id_IPv4 = 0, Id_IPv6 = 1 };

// Errors of the socket layer: resolution, connect, connect time-out, TLS and
// socket failures. what() is the socket layer's own text.
class ENeloMQTTSocketError : public ENeloMQTTError {
 public:
  using ENeloMQTTError::ENeloMQTTError;
};

// A wait for incoming data ran past the read time-out.
class ENeloMQTTReadTimeout : public ENeloMQTTSocketError {
 public:
  ENeloMQTTReadTimeout() : ENeloMQTTSocketError("Read timed out") {}
};

// A write made no progress for the write time-out: the peer stopped reading.
// The connection has been reported lost before this is raised.
class ENeloMQTTWriteTimeout : public ENeloMQTTSocketError {
 public:
  ENeloMQTTWriteTimeout() : ENeloMQTTSocketError("Write timed out") {}
};

// The connection is closed (by the peer, reset, or closed by this side).
class ENeloMQTTConnectionClosed : public ENeloMQTTSocketError {
 public:
  ENeloMQTTConnectionClosed() : ENeloMQTTSocketError("Connection closed") {}
};

// Notify event: the sender is the transport.
using TNeloMQTTNotifyEvent = std::function<void(TNeloObject* Sender)>;

class TNeloMQTTTransport : public TNeloObject {
 public:
  ~TNeloMQTTTransport() override = default;

  // Returns once the connection is complete: IsReady is then True and
  // OnConnected has run on this thread. Does nothing while IsReady. Raises
  // ENeloMQTTSocketError on failure.
  virtual void Open() = 0;
  // Ends the connection. On an established connection OnDisconnected has run
  // (with IsReady False) before Close returns. Safe while another thread is
  // inside HasData, Read, Write or WaitForData: those calls are woken.
  virtual void Close() = 0;
  // Never waits, never raises: True when received bytes are waiting. False
  // when not ready; a peer close is reported through OnDisconnected first.
  virtual bool HasData() = 0;
  // Never waits: True when received bytes wait in the input buffer.
  virtual bool HasBufferedData() = 0;
  // One byte, each wait bounded by the read time-out. Raises
  // ENeloMQTTReadTimeout or ENeloMQTTConnectionClosed. Leaves AByte
  // untouched when not ready.
  virtual void Read(uint8_t& AByte) = 0;
  // Exactly ALength bytes, appended to AData or replacing it (AAppend False).
  // ALength 0 leaves AData as it is; so does a transport that is not ready.
  virtual void Read(TNeloMQTTBytes& AData, std::size_t ALength, bool AAppend) = 0;
  // Appends what has been received, AMax bytes at most and at least one
  // (waiting for it like Read). Returns the count appended; 0 when not ready.
  virtual std::size_t ReadSome(TNeloMQTTBytes& AData, std::size_t AMax) = 0;
  // Blocks until every byte is handed over; raises ENeloMQTTSocketError (a
  // closed peer: ENeloMQTTConnectionClosed after OnDisconnected; no progress
  // for the write time-out: ENeloMQTTWriteTimeout after OnDisconnected).
  // Drops the data silently when not ready.
  virtual void Write(const TNeloMQTTBytes& AData) = 0;
  // Best effort, never waits on a write in progress: gives up when another
  // write holds the transport or AData cannot be handed over within
  // ATimeoutMs. True when every byte was handed over.
  virtual bool WriteWithin(const TNeloMQTTBytes& AData, int ATimeoutMs) = 0;
  // Makes a write in progress and every later one give up soon; reading
  // goes on. The transport is closed or destroyed afterwards.
  virtual void AbortWrites() = 0;
  // Waits up to ATimeoutMs until received bytes are waiting (or the
  // connection ended, which the next HasData reports) or AWakeFd (-1: none)
  // becomes readable. True when there is something to read.
  virtual bool WaitForData(int ATimeoutMs, int AWakeFd) = 0;
  virtual bool IsReady() const = 0;
  virtual void SetLogger(TNeloMQTTLogger* ALogger) = 0;

  // Where to connect, set by the client before every Open. A transport that
  // needs no address ignores them.
  const std::string& HostName() const { return FHostName; }
  void SetHostName(const std::string& AValue) { FHostName = AValue; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion AValue) { FIPVersion = AValue; }
  // Only the low 16 bits are used when connecting.
  int32_t Port() const { return FPort; }
  void SetPort(int32_t AValue) { FPort = AValue; }
  bool UseSSL() const { return FUseSSL; }
  void SetUseSSL(bool AValue) { FUseSSL = AValue; }

  // Raised on the thread that caused them, only when assigned.
  TNeloMQTTNotifyEvent OnConnected;
  TNeloMQTTNotifyEvent OnDisconnected;
  void SetOnConnected(TNeloMQTTNotifyEvent AEvent) { OnConnected = std::move(AEvent); }
  void SetOnDisconnected(TNeloMQTTNotifyEvent AEvent) { OnDisconnected = std::move(AEvent); }

 private:
  std::string FHostName;
  TIdIPVersion FIPVersion = Id_IPv4;
  int32_t FPort = 1883;
  bool FUseSSL = false;
};
