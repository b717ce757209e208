#include "Nelo.MQTT.MemoryTransport.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

// The network connection's read time-outs: 2000 ms after Open, 5000 ms once
// a body has been read.
constexpr int kOpenReadTimeoutMs = 2000;
constexpr int kBodyReadTimeoutMs = 5000;

}  // namespace

TNeloMQTTMemoryTransport::TNeloMQTTMemoryTransport() { FSignalFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

TNeloMQTTMemoryTransport::~TNeloMQTTMemoryTransport() {
  if (FSignalFd >= 0) ::close(FSignalFd);
}

void TNeloMQTTMemoryTransport::Signal() {
  FChanged.notify_all();
  if (FSignalFd < 0) return;
  const uint64_t one = 1;
  ssize_t written;
  do {
    written = ::write(FSignalFd, &one, sizeof one);
  } while (written < 0 && errno == EINTR);
}

void TNeloMQTTMemoryTransport::Open() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FReady) return;
    if (FRefuseOpen) throw ENeloMQTTSocketError("Connection refused");
    FReady = true;
    FPeerClosed = false;
    FInput.clear();
    FInputPos = 0;
    FReadTimeoutMs = kOpenReadTimeoutMs;
    ++FOpenCount;
  }
  if (OnConnected) OnConnected(this);
}

void TNeloMQTTMemoryTransport::ReportDown(std::unique_lock<std::mutex>& AGuard) {
  if (!FReady) return;
  FReady = false;
  Signal();
  AGuard.unlock();
  if (OnDisconnected) OnDisconnected(this);
  AGuard.lock();
}

void TNeloMQTTMemoryTransport::Close() {
  std::unique_lock<std::mutex> guard(FLock);
  ReportDown(guard);
}

bool TNeloMQTTMemoryTransport::IsReady() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FReady;
}

bool TNeloMQTTMemoryTransport::HasData() {
  std::unique_lock<std::mutex> guard(FLock);
  if (!FReady) return false;
  if (FInputPos < FInput.size()) return true;
  if (FPeerClosed) ReportDown(guard);
  return false;
}

bool TNeloMQTTMemoryTransport::HasBufferedData() {
  std::lock_guard<std::mutex> guard(FLock);
  return FReady && FInputPos < FInput.size();
}

void TNeloMQTTMemoryTransport::WaitForInput(std::unique_lock<std::mutex>& AGuard) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FReadTimeoutMs);
  for (;;) {
    if (!FReady) throw ENeloMQTTConnectionClosed();
    if (FInputPos < FInput.size()) return;
    if (FPeerClosed) {
      ReportDown(AGuard);
      throw ENeloMQTTConnectionClosed();
    }
    if (FChanged.wait_until(AGuard, deadline) == std::cv_status::timeout && FReady &&
        FInputPos == FInput.size() && !FPeerClosed)
      throw ENeloMQTTReadTimeout();
  }
}

void TNeloMQTTMemoryTransport::Read(uint8_t& AByte) {
  std::unique_lock<std::mutex> guard(FLock);
  if (!FReady) return;
  WaitForInput(guard);
  AByte = FInput[FInputPos++];
}

void TNeloMQTTMemoryTransport::Read(TNeloMQTTBytes& AData, std::size_t ALength, bool AAppend) {
  std::unique_lock<std::mutex> guard(FLock);
  if (!FReady) return;
  FReadTimeoutMs = kBodyReadTimeoutMs;
  if (ALength == 0) return;
  if (!AAppend) AData.clear();
  std::size_t left = ALength;
  while (left > 0) {
    WaitForInput(guard);
    const std::size_t take = std::min(left, FInput.size() - FInputPos);
    AData.insert(AData.end(), FInput.begin() + static_cast<std::ptrdiff_t>(FInputPos),
                 FInput.begin() + static_cast<std::ptrdiff_t>(FInputPos + take));
    FInputPos += take;
    left -= take;
  }
  if (FInputPos == FInput.size()) {
    FInput.clear();
    FInputPos = 0;
  }
}

std::size_t TNeloMQTTMemoryTransport::ReadSome(TNeloMQTTBytes& AData, std::size_t AMax) {
  std::unique_lock<std::mutex> guard(FLock);
  if (!FReady || AMax == 0) return 0;
  WaitForInput(guard);
  const std::size_t take = std::min(AMax, FInput.size() - FInputPos);
  AData.insert(AData.end(), FInput.begin() + static_cast<std::ptrdiff_t>(FInputPos),
               FInput.begin() + static_cast<std::ptrdiff_t>(FInputPos + take));
  FInputPos += take;
  if (FInputPos == FInput.size()) {
    FInput.clear();
    FInputPos = 0;
  }
  return take;
}

bool TNeloMQTTMemoryTransport::Append(const TNeloMQTTBytes& AData) {
  std::unique_lock<std::mutex> guard(FLock);
  if (!FReady) return true;
  if (FWritesAborted) return false;
  if (FPeerClosed) {
    ReportDown(guard);
    throw ENeloMQTTConnectionClosed();
  }
  FOutput.insert(FOutput.end(), AData.begin(), AData.end());
  return true;
}

void TNeloMQTTMemoryTransport::Write(const TNeloMQTTBytes& AData) {
  if (!Append(AData)) throw ENeloMQTTConnectionClosed();
}

bool TNeloMQTTMemoryTransport::WriteWithin(const TNeloMQTTBytes& AData, int) {
  if (!IsReady()) return false;
  try {
    return Append(AData);
  } catch (const ENeloMQTTSocketError&) {
    return false;
  }
}

void TNeloMQTTMemoryTransport::AbortWrites() {
  std::lock_guard<std::mutex> guard(FLock);
  FWritesAborted = true;
}

bool TNeloMQTTMemoryTransport::WaitForData(int ATimeoutMs, int AWakeFd) {
  const auto ready = [this] {
    std::lock_guard<std::mutex> guard(FLock);
    return FReady && (FInputPos < FInput.size() || FPeerClosed);
  };
  if (ready()) return true;
  pollfd entries[2];
  nfds_t count = 0;
  if (FSignalFd >= 0) entries[count++] = pollfd{FSignalFd, POLLIN, 0};
  if (AWakeFd >= 0) entries[count++] = pollfd{AWakeFd, POLLIN, 0};
  if (count == 0) return false;
  if (::poll(entries, count, ATimeoutMs) <= 0) return false;
  uint64_t drained;
  while (FSignalFd >= 0 && ::read(FSignalFd, &drained, sizeof drained) > 0) {
  }
  return ready();
}

void TNeloMQTTMemoryTransport::Feed(const uint8_t* AData, std::size_t ALength) {
  std::lock_guard<std::mutex> guard(FLock);
  if (!FReady || FPeerClosed || ALength == 0) return;
  if (FInputPos > 0 && (FInputPos == FInput.size() || FInputPos >= 65536)) {
    FInput.erase(FInput.begin(), FInput.begin() + static_cast<std::ptrdiff_t>(FInputPos));
    FInputPos = 0;
  }
  FInput.insert(FInput.end(), AData, AData + ALength);
  Signal();
}

void TNeloMQTTMemoryTransport::ClosePeer() {
  std::lock_guard<std::mutex> guard(FLock);
  if (!FReady) return;
  FPeerClosed = true;
  Signal();
}

TNeloMQTTBytes TNeloMQTTMemoryTransport::TakeWritten() {
  std::lock_guard<std::mutex> guard(FLock);
  TNeloMQTTBytes out;
  out.swap(FOutput);
  return out;
}

std::size_t TNeloMQTTMemoryTransport::Unread() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FInput.size() - FInputPos;
}

void TNeloMQTTMemoryTransport::SetRefuseOpen(bool AValue) {
  std::lock_guard<std::mutex> guard(FLock);
  FRefuseOpen = AValue;
}

int TNeloMQTTMemoryTransport::OpenCount() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FOpenCount;
}
