// The transport of every application: one TCP connection to the broker,
// optionally wrapped in TLS, with blocking reads and writes, a zero-wait poll
// for pending input and two notifications (opened, lost). Knows nothing of MQTT.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "Nelo.MQTT.Global.h"
#include "Nelo.MQTT.Logging.h"
#include "Nelo.MQTT.TlsContext.h"
#include "Nelo.MQTT.Transport.h"

// The socket-layer TCP client object (name resolution, connect, TLS, socket);
// defined in the source file.
class TNeloMQTTTcpClient;

class TNeloMQTTNetworkConnection : public TNeloMQTTTransport {
 public:
  // Create(Alogger): Port 1883, IPv4, no TLS, empty host name, not ready.
  explicit TNeloMQTTNetworkConnection(TNeloMQTTLogger* Alogger = nullptr);
  // Frees the TCP client object without Close: nothing is logged, no event.
  ~TNeloMQTTNetworkConnection() override;

  TNeloMQTTNetworkConnection(const TNeloMQTTNetworkConnection&) = delete;
  TNeloMQTTNetworkConnection& operator=(const TNeloMQTTNetworkConnection&) = delete;

  std::string ClassName() const override { return "TNeloMQTTNetworkConnection"; }

  // Returns once the TCP connection (and the TLS handshake when UseSSL) is
  // complete: IsReady is then True and OnConnected has run on this thread.
  // Does nothing while IsReady. Raises ENeloMQTTSocketError on failure.
  void Open() override;
  // Disconnects and frees the TCP client object. On an established connection
  // OnDisconnected has run (with IsReady False) before Close returns. Safe
  // while another thread is inside HasData, Read or Write: those calls are
  // woken and the socket is freed when the last of them has left.
  void Close() override;
  // Never waits, never raises: True when received bytes are waiting. False
  // when not ready; a peer close (orderly, reset or aborted) is reported
  // through OnDisconnected first.
  bool HasData() override;
  // Never waits: True when received bytes wait in the input buffer (the
  // socket itself is not looked at).
  bool HasBufferedData() override;
  // One byte; each wait bounded by the current read time-out (2000 ms after
  // Open, 5000 ms once the array form has been called). Raises
  // ENeloMQTTReadTimeout or ENeloMQTTConnectionClosed. Leaves AByte untouched
  // when not ready.
  void Read(uint8_t& AByte) override;
  // Exactly ALength bytes, appended to AData or replacing it (AAppend False).
  // Sets the read time-out to 5000 ms for the rest of the connection. ALength
  // 0 leaves AData as it is. Leaves AData untouched when not ready.
  void Read(TNeloMQTTBytes& AData, std::size_t ALength, bool AAppend) override;
  // What has been received (AMax bytes at most, one at least, each wait
  // bounded by the read time-out), appended to AData; 0 when not ready.
  std::size_t ReadSome(TNeloMQTTBytes& AData, std::size_t AMax) override;
  // Blocks until every byte is handed to the socket; raises ENeloMQTTSocketError
  // on socket errors. A peer that has closed or reset the connection is
  // reported through OnDisconnected, then ENeloMQTTConnectionClosed is raised.
  // Drops the data silently when not ready. Never raises SIGPIPE. A write
  // that makes no progress for WriteTimeout ms reports the connection lost
  // (OnDisconnected) and raises ENeloMQTTWriteTimeout.
  void Write(const TNeloMQTTBytes& AData) override;
  // Best effort, never waits on a write in progress: when another write holds
  // the socket, or AData cannot be handed over within ATimeoutMs, it gives
  // up. True when every byte was handed to the socket.
  bool WriteWithin(const TNeloMQTTBytes& AData, int ATimeoutMs) override;
  // Shuts the socket down so that every call in progress (Read, Write, a
  // wait) returns at once; reports nothing. The transport is closed or
  // destroyed afterwards.
  void Interrupt();
  // Makes a write in progress (within a quarter second) and every later one
  // give up; reading goes on. The transport is closed or destroyed afterwards.
  void AbortWrites() override;
  // Waits up to ATimeoutMs until received bytes are waiting (or the
  // connection ended, which the next HasData reports) or AWakeFd (-1: none)
  // becomes readable. True when there is something to read. Without an open
  // connection it waits for AWakeFd alone.
  bool WaitForData(int ATimeoutMs, int AWakeFd) override;

  static constexpr int kDefaultWriteTimeoutMs = 10000;
  int WriteTimeout() const { return FWriteTimeout.load(); }
  void SetWriteTimeout(int AValue) { FWriteTimeout.store(AValue); }
  void SetLogger(TNeloMQTTLogger* Alogger) override;

  bool IsReady() const override { return FIsReady.load(); }
  // The TLS settings, to be changed before Open.
  TNeloMQTTTlsSettings* SSLIOHandler() { return FSSLIOHandler.get(); }
  // The read time-out in ms of the current socket; 0 when there is none.
  int ReadTimeout() const;

 protected:
  virtual void DoConnected();
  virtual void DoDisconnected();

 private:
  enum TStatus { hsResolving, hsConnecting, hsConnected, hsDisconnecting, hsDisconnected };
  class TLink;
  friend class TNeloMQTTTcpClient;

  std::shared_ptr<TNeloMQTTTcpClient> CurrentClient() const;
  std::shared_ptr<TLink> CurrentLink() const;
  // The socket exists: its read time-out starts at 2000 ms.
  void HandleSocketAllocated(TLink& ALink);
  void HandleStatus(TNeloObject* ASender, TStatus AStatus);
  // Reports the loss of ALink once (status disconnected), whoever finds it first.
  void ReportLinkDown(const std::shared_ptr<TLink>& ALink);
  // Moves received bytes into the input buffer, waiting up to ATimeoutMs
  // (0: no wait). False on time-out. Raises ENeloMQTTConnectionClosed after
  // reporting a peer close.
  bool Fill(const std::shared_ptr<TLink>& ALink, int ATimeoutMs);
  TNeloMQTTLogger* Log() const { return FLog.load(); }

  std::recursive_mutex FReadLock;
  std::recursive_mutex FWriteLock;
  std::atomic<int> FWriteTimeout{kDefaultWriteTimeoutMs};
  // Writes AData on ALink (write lock held) until ADeadline (none when
  // ABounded is false); false when the deadline passed first.
  bool WriteLocked(const std::shared_ptr<TLink>& ALink, const TNeloMQTTBytes& AData, bool ABounded,
                   std::chrono::steady_clock::time_point ADeadline);
  mutable std::mutex FClientLock;  // guards the FIdTcpClient pointer only
  std::shared_ptr<TNeloMQTTTcpClient> FIdTcpClient;
  std::unique_ptr<TNeloMQTTTlsSettings> FSSLIOHandler;
  std::atomic<bool> FIsReady{false};
  std::atomic<TNeloMQTTLogger*> FLog{nullptr};
};
