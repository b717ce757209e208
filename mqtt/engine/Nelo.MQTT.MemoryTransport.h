// A transport whose broker is the program itself: what the client writes is
// collected, what "the broker" sends is fed in by the program, byte by byte
// or in bursts. Tests and the fuzz targets drive a whole connected client
// through it, with its real threads and no socket.
//
// The client side (the transport interface) behaves like the network
// connection: reads wait with the same time-outs, a peer close is reported
// through OnDisconnected by the call that finds it, Close wakes every wait.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "Nelo.MQTT.Transport.h"

class TNeloMQTTMemoryTransport : public TNeloMQTTTransport {
 public:
  TNeloMQTTMemoryTransport();
  ~TNeloMQTTMemoryTransport() override;
  TNeloMQTTMemoryTransport(const TNeloMQTTMemoryTransport&) = delete;
  TNeloMQTTMemoryTransport& operator=(const TNeloMQTTMemoryTransport&) = delete;

  std::string ClassName() const override { return "TNeloMQTTMemoryTransport"; }

  // The client's side.
  void Open() override;
  void Close() override;
  bool HasData() override;
  bool HasBufferedData() override;
  void Read(uint8_t& AByte) override;
  void Read(TNeloMQTTBytes& AData, std::size_t ALength, bool AAppend) override;
  std::size_t ReadSome(TNeloMQTTBytes& AData, std::size_t AMax) override;
  void Write(const TNeloMQTTBytes& AData) override;
  bool WriteWithin(const TNeloMQTTBytes& AData, int ATimeoutMs) override;
  void AbortWrites() override;
  bool WaitForData(int ATimeoutMs, int AWakeFd) override;
  bool IsReady() const override;
  void SetLogger(TNeloMQTTLogger*) override {}

  // The broker's side.
  // Bytes for the client to read; ignored while no connection is open.
  void Feed(const uint8_t* AData, std::size_t ALength);
  void Feed(const TNeloMQTTBytes& AData) { Feed(AData.data(), AData.size()); }
  // The broker closes its side after what it sent: the client reads the rest,
  // then finds the connection closed.
  void ClosePeer();
  // What the client wrote since the last call (all of it, across connections).
  TNeloMQTTBytes TakeWritten();
  // Bytes received and not yet read by the client.
  std::size_t Unread() const;
  // Open raises ENeloMQTTSocketError while set (a broker that is down).
  void SetRefuseOpen(bool AValue);
  // Connections opened so far.
  int OpenCount() const;

 private:
  // Marks the connection down and raises OnDisconnected once, with the lock
  // released. AGuard holds FLock on entry and on return.
  void ReportDown(std::unique_lock<std::mutex>& AGuard);
  // Waits (lock held) until input is there or the connection ended, at most
  // the read time-out; raises when nothing came.
  void WaitForInput(std::unique_lock<std::mutex>& AGuard);
  bool Append(const TNeloMQTTBytes& AData);
  void Signal();

  mutable std::mutex FLock;
  std::condition_variable FChanged;
  TNeloMQTTBytes FInput;
  std::size_t FInputPos = 0;
  TNeloMQTTBytes FOutput;
  bool FReady = false;
  bool FPeerClosed = false;
  bool FWritesAborted = false;
  bool FRefuseOpen = false;
  int FOpenCount = 0;
  int FReadTimeoutMs = 0;
  int FSignalFd = -1;  // readable while input or a close waits; WaitForData polls it
};
