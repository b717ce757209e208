#include "FakeBroker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tessiva::test {

namespace {

int MillisUntil(std::chrono::steady_clock::time_point ADeadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - std::chrono::steady_clock::now())
          .count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

}  // namespace

uint16_t TMqttFrame::Word(std::size_t AOffset) const {
  if (Body.size() < AOffset + 2) throw std::out_of_range("frame body too short for a word");
  return static_cast<uint16_t>(Body[AOffset] << 8 | Body[AOffset + 1]);
}

TByteVector EncodeRemainingLength(uint32_t AValue) {
  TByteVector bytes;
  do {
    uint8_t digit = AValue % 128;
    AValue /= 128;
    if (AValue > 0) digit |= 0x80;
    bytes.push_back(digit);
  } while (AValue > 0);
  return bytes;
}

TByteVector MakeFrame(uint8_t AFirstByte, const TByteVector& ABody) {
  TByteVector frame{AFirstByte};
  const TByteVector length = EncodeRemainingLength(static_cast<uint32_t>(ABody.size()));
  frame.insert(frame.end(), length.begin(), length.end());
  frame.insert(frame.end(), ABody.begin(), ABody.end());
  return frame;
}

TFakeConnection::TFakeConnection(int AFd) : FFd(AFd) {}

TFakeConnection::~TFakeConnection() {
  if (FFd >= 0) CloseOrderly();
}

bool TFakeConnection::Receive(std::chrono::steady_clock::time_point ADeadline) {
  if (FFd < 0 || FPeerClosed) return false;
  for (;;) {
    pollfd entry{FFd, POLLIN, 0};
    const int rc = ::poll(&entry, 1, MillisUntil(ADeadline));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return false;
    uint8_t buffer[65536];
    const ssize_t n = ::recv(FFd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FPeerClosed = true;
      return false;
    }
    FInput.insert(FInput.end(), buffer, buffer + n);
    return true;
  }
}

std::optional<TByteVector> TFakeConnection::ReadBytes(std::size_t ACount,
                                                      std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  while (FInput.size() < ACount) {
    if (!Receive(deadline)) return std::nullopt;
  }
  TByteVector bytes(FInput.begin(), FInput.begin() + static_cast<std::ptrdiff_t>(ACount));
  FInput.erase(FInput.begin(), FInput.begin() + static_cast<std::ptrdiff_t>(ACount));
  return bytes;
}

std::optional<TMqttFrame> TakeFrame(TByteVector& ABytes) {
  if (ABytes.size() < 2) return std::nullopt;
  uint32_t length = 0;
  uint32_t multiplier = 1;
  std::size_t at = 1;
  bool complete = false;
  while (at < ABytes.size()) {
    const uint8_t digit = ABytes[at++];
    length += (digit & 0x7F) * multiplier;
    multiplier *= 128;
    if ((digit & 0x80) == 0) {
      complete = true;
      break;
    }
    if (at - 1 >= 4) {
      ABytes.clear();  // no way to find the next frame after this
      throw std::runtime_error("malformed remaining length (more than four bytes)");
    }
  }
  if (!complete || ABytes.size() < at + length) return std::nullopt;
  TMqttFrame frame;
  frame.FirstByte = ABytes[0];
  frame.RemainingLength = length;
  frame.Body.assign(ABytes.begin() + static_cast<std::ptrdiff_t>(at),
                    ABytes.begin() + static_cast<std::ptrdiff_t>(at + length));
  frame.Raw.assign(ABytes.begin(), ABytes.begin() + static_cast<std::ptrdiff_t>(at + length));
  ABytes.erase(ABytes.begin(), ABytes.begin() + static_cast<std::ptrdiff_t>(at + length));
  return frame;
}

std::optional<TMqttFrame> TFakeConnection::ReadFrame(std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  for (;;) {
    if (auto frame = TakeFrame(FInput)) return frame;
    if (!Receive(deadline)) return std::nullopt;
  }
}

bool TFakeConnection::Send(const TByteVector& ABytes) {
  if (FFd < 0) return false;
  std::size_t done = 0;
  while (done < ABytes.size()) {
    const ssize_t n = ::send(FFd, ABytes.data() + done, ABytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool TFakeConnection::Send(const std::string& ABytes) {
  return Send(TByteVector(ABytes.begin(), ABytes.end()));
}

void TFakeConnection::CloseOrderly() {
  if (FFd < 0) return;
  ::shutdown(FFd, SHUT_WR);
  ::close(FFd);
  FFd = -1;
}

void TFakeConnection::Reset() {
  if (FFd < 0) return;
  linger option{1, 0};
  ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  ::close(FFd);
  FFd = -1;
}

bool TFakeConnection::WaitForPeerClose(std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  while (!FPeerClosed) {
    if (!Receive(deadline) && !FPeerClosed) return false;
  }
  return true;
}

TFakeBroker::TFakeBroker(bool AIPv6) : FIPv6(AIPv6) {
  const int family = AIPv6 ? AF_INET6 : AF_INET;
  FListenFd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FListenFd < 0) throw std::runtime_error("socket failed");
  sockaddr_storage address{};
  socklen_t length;
  if (AIPv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
    length = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof *a;
  }
  if (::bind(FListenFd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(FListenFd, 16) != 0) {
    const std::string error = std::strerror(errno);
    ::close(FListenFd);
    throw std::runtime_error("fake broker cannot listen: " + error);
  }
  ::getsockname(FListenFd, reinterpret_cast<sockaddr*>(&address), &length);
  FPort = AIPv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

TFakeBroker::~TFakeBroker() {
  CloseListener();
  for (int fd : FFillers) ::close(fd);
}

std::unique_ptr<TFakeConnection> TFakeBroker::Accept(std::chrono::milliseconds ATimeout) {
  if (FListenFd < 0) return nullptr;
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  for (;;) {
    pollfd entry{FListenFd, POLLIN, 0};
    const int rc = ::poll(&entry, 1, MillisUntil(deadline));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return nullptr;
    const int fd = ::accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return std::make_unique<TFakeConnection>(fd);
    if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) return nullptr;
  }
}

void TFakeBroker::Saturate() {
  // With a backlog of 0 the accept queue holds one connection; once it is
  // there, the kernel drops every further SYN.
  ::listen(FListenFd, 0);
  for (int i = 0; i < 3; ++i) {
    const int fd = ::socket(FIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(FListenFd, reinterpret_cast<sockaddr*>(&address), &length);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), length);
    FFillers.push_back(fd);
  }
  // Give the first filler its handshake (bounded).
  pollfd entry{FFillers.front(), POLLOUT, 0};
  ::poll(&entry, 1, 2000);
}

void TFakeBroker::CloseListener() {
  if (FListenFd >= 0) ::close(FListenFd);
  FListenFd = -1;
}

}  // namespace tessiva::test
