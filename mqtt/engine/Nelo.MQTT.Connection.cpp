#include "Nelo.MQTT.Connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "Nelo.MQTT.Client.Texts.h"

namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr int kAllocatedReadTimeoutMs = 2000;
constexpr int kArrayReadTimeoutMs = 5000;
constexpr std::size_t kReadChunk = 16384;
// A blocked write wakes this often to notice a local Close.
constexpr int kWriteWaitSliceMs = 250;

using TClock = std::chrono::steady_clock;

std::string ErrnoText(int AErrno) { return std::strerror(AErrno); }

bool IsPeerLossErrno(int AErrno) {
  return AErrno == ECONNRESET || AErrno == ECONNABORTED || AErrno == EPIPE || AErrno == ENOTCONN ||
         AErrno == ETIMEDOUT || AErrno == EHOSTUNREACH || AErrno == ENETUNREACH;
}

int RemainingMs(TClock::time_point ADeadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - TClock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

// Waits for AEvents on AFd up to ATimeoutMs (retrying after signals).
// Returns the received events, 0 on time-out.
short PollFor(int AFd, short AEvents, int ATimeoutMs) {
  const auto deadline = TClock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    pollfd entry{AFd, AEvents, 0};
    const int rc = ::poll(&entry, 1, RemainingMs(deadline));
    if (rc > 0) return entry.revents;
    if (rc == 0) return 0;
    if (errno != EINTR) throw ENeloMQTTSocketError("Socket poll failed: " + ErrnoText(errno));
  }
}

std::string TlsErrorText() { return NeloMQTTTlsErrorText(); }

// What the peer's TLS layer has sent and not yet been read, when it is an
// error (an alert): its text; empty otherwise. Application data stays
// unread. The caller holds the SSL object's lock.
std::string PendingTlsError(SSL* ASsl) {
  ERR_clear_error();
  char byte;
  const int peeked = SSL_peek(ASsl, &byte, 1);
  if (peeked <= 0 && SSL_get_error(ASsl, peeked) == SSL_ERROR_SSL) return TlsErrorText();
  ERR_clear_error();
  return std::string();
}

// Acknowledges what was just received at once instead of after the delayed
// acknowledgement (up to 40 ms on Linux). A broker that leaves Nagle's
// algorithm on (mosquitto's default) holds its next packet to us until our
// acknowledgement of the last one arrives: a PUBACK followed a moment later
// by a PUBLISH would reach us 40 ms late. The kernel leaves quick-ack mode by
// itself, so it is asked again after every read.
void AcknowledgePromptly(int AFd) {
#ifdef TCP_QUICKACK
  const int one = 1;
  ::setsockopt(AFd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#else
  (void)AFd;
#endif
}

// A socket BIO that sends with MSG_NOSIGNAL, so a write to a connection the
// peer has dropped yields EPIPE instead of killing the process with SIGPIPE.
int BioSocket(BIO* ABio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(ABio))); }

int BioWrite(BIO* ABio, const char* AData, int ALength) {
  BIO_clear_retry_flags(ABio);
  const ssize_t sent = ::send(BioSocket(ABio), AData, static_cast<size_t>(ALength), MSG_NOSIGNAL);
  if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_write(ABio);
  return static_cast<int>(sent);
}

int BioRead(BIO* ABio, char* AData, int ALength) {
  BIO_clear_retry_flags(ABio);
  const ssize_t received = ::recv(BioSocket(ABio), AData, static_cast<size_t>(ALength), 0);
  if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_read(ABio);
  return static_cast<int>(received);
}

int BioPuts(BIO* ABio, const char* AText) {
  return BioWrite(ABio, AText, static_cast<int>(std::strlen(AText)));
}

long BioCtrl(BIO*, int ACommand, long, void*) {
  switch (ACommand) {
    case BIO_CTRL_FLUSH:
      return 1;
    default:
      return 0;
  }
}

int BioCreate(BIO* ABio) {
  BIO_set_init(ABio, 1);
  return 1;
}

BIO_METHOD* SocketBioMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* created = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tessiva socket");
    BIO_meth_set_write(created, BioWrite);
    BIO_meth_set_read(created, BioRead);
    BIO_meth_set_puts(created, BioPuts);
    BIO_meth_set_ctrl(created, BioCtrl);
    BIO_meth_set_create(created, BioCreate);
    return created;
  }();
  return method;
}

}  // namespace

// The TCP client object: the address it connects to and its current socket.
// Kept from a connection the peer dropped until the next Open or Close.
class TNeloMQTTTcpClient : public TNeloObject {
 public:
  std::string ClassName() const override { return "TNeloMQTTTcpClient"; }

  std::string HostName;
  TIdIPVersion IPVersion = Id_IPv4;
  uint16_t Port = 0;

  std::mutex LinkLock;
  std::shared_ptr<TNeloMQTTNetworkConnection::TLink> Link;
};

// The socket handler: one connected socket with its TLS session and input
// buffer. Shared by every call in progress; the descriptor is closed only
// when the last holder lets go, so a concurrent Close can never make a
// blocked call use a freed or reused descriptor.
class TNeloMQTTNetworkConnection::TLink : public TNeloObject {
 public:
  explicit TLink(int AFd) : Fd(AFd) {}
  ~TLink() override {
    if (Ssl) SSL_free(Ssl);
    if (Ctx) SSL_CTX_free(Ctx);
    if (Fd >= 0) ::close(Fd);
  }
  std::string ClassName() const override { return "TNeloMQTTSocketHandler"; }

  // Ends the socket for every user: TLS close notice (best effort), then a
  // shutdown that wakes calls blocked in poll.
  void Shutdown() {
    if (Shut.exchange(true)) return;
    if (Ssl) {
      std::lock_guard<std::mutex> guard(SslLock);
      if (SSL_is_init_finished(Ssl)) SSL_shutdown(Ssl);
      ERR_clear_error();
    }
    ::shutdown(Fd, SHUT_RDWR);
  }

  const int Fd;
  SSL_CTX* Ctx = nullptr;
  SSL* Ssl = nullptr;
  std::mutex SslLock;    // an SSL object must not be used by two threads at once
  TNeloMQTTBytes Input;  // guarded by the transport's read lock
  std::size_t InputPos = 0;
  std::atomic<int> ReadTimeout{kAllocatedReadTimeoutMs};
  std::atomic<bool> Up{false};    // connected reported, disconnected not yet
  std::atomic<bool> Shut{false};  // shut down by this side
  std::atomic<bool> WritesAborted{false};
};

TNeloMQTTNetworkConnection::TNeloMQTTNetworkConnection(TNeloMQTTLogger* Alogger)
    : FSSLIOHandler(std::make_unique<TNeloMQTTTlsSettings>()), FLog(Alogger) {}

TNeloMQTTNetworkConnection::~TNeloMQTTNetworkConnection() {
  std::shared_ptr<TNeloMQTTTcpClient> client;
  {
    std::lock_guard<std::mutex> guard(FClientLock);
    client.swap(FIdTcpClient);
  }
  if (!client) return;
  std::shared_ptr<TLink> link;
  {
    std::lock_guard<std::mutex> guard(client->LinkLock);
    link.swap(client->Link);
  }
  if (link) {
    link->Up = false;
    link->Shutdown();
  }
}

std::shared_ptr<TNeloMQTTTcpClient> TNeloMQTTNetworkConnection::CurrentClient() const {
  std::lock_guard<std::mutex> guard(FClientLock);
  return FIdTcpClient;
}

std::shared_ptr<TNeloMQTTNetworkConnection::TLink> TNeloMQTTNetworkConnection::CurrentLink() const {
  const auto client = CurrentClient();
  if (!client) return nullptr;
  std::lock_guard<std::mutex> guard(client->LinkLock);
  return client->Link;
}

int TNeloMQTTNetworkConnection::ReadTimeout() const {
  const auto link = CurrentLink();
  return link ? link->ReadTimeout.load() : 0;
}

void TNeloMQTTNetworkConnection::SetLogger(TNeloMQTTLogger* Alogger) { FLog = Alogger; }

void TNeloMQTTNetworkConnection::DoConnected() {
  TNeloMQTTLogHelper::Info(Log(), this, TNeloMQTTEngineTexts::kConnectionOpened);
  FIsReady = true;
  if (OnConnected) OnConnected(this);
}

void TNeloMQTTNetworkConnection::DoDisconnected() {
  TNeloMQTTLogHelper::Info(Log(), this, TNeloMQTTEngineTexts::kConnectionClosed);
  FIsReady = false;
  if (OnDisconnected) OnDisconnected(this);
}

void TNeloMQTTNetworkConnection::HandleSocketAllocated(TLink& ALink) {
  TNeloMQTTLogHelper::Info(Log(), this, TNeloMQTTEngineTexts::kSocketAllocated);
  ALink.ReadTimeout = kAllocatedReadTimeoutMs;
}

void TNeloMQTTNetworkConnection::HandleStatus(TNeloObject* ASender, TStatus AStatus) {
  const std::string name = ASender->ClassName();
  switch (AStatus) {
    case hsResolving:
      TNeloMQTTLogHelper::Debug(Log(), this, name + TNeloMQTTEngineTexts::kStatusResolving);
      break;
    case hsConnecting:
      TNeloMQTTLogHelper::Debug(Log(), this, name + TNeloMQTTEngineTexts::kStatusConnecting);
      break;
    case hsConnected:
      FIsReady = true;
      DoConnected();
      TNeloMQTTLogHelper::Debug(Log(), this, name + TNeloMQTTEngineTexts::kStatusConnected);
      break;
    case hsDisconnecting:
      TNeloMQTTLogHelper::Debug(Log(), this, name + TNeloMQTTEngineTexts::kStatusDisconnecting);
      break;
    case hsDisconnected:
      TNeloMQTTLogHelper::Debug(Log(), this, name + TNeloMQTTEngineTexts::kStatusDisconnected);
      DoDisconnected();
      break;
  }
}

void TNeloMQTTNetworkConnection::ReportLinkDown(const std::shared_ptr<TLink>& ALink) {
  if (ALink->Up.exchange(false)) HandleStatus(ALink.get(), hsDisconnected);
}

void TNeloMQTTNetworkConnection::Open() {
  if (IsReady()) return;
  std::shared_ptr<TNeloMQTTTcpClient> client = CurrentClient();
  try {
    if (!client) {
      TNeloMQTTLogHelper::Info(Log(), this, TNeloMQTTEngineTexts::kTcpInitializing);
      client = std::make_shared<TNeloMQTTTcpClient>();
      std::lock_guard<std::mutex> guard(FClientLock);
      FIdTcpClient = client;
    }
    client->HostName = HostName();
    client->IPVersion = IPVersion();
    client->Port = static_cast<uint16_t>(Port());

    TNeloMQTTLogHelper::Info(Log(), this, TNeloMQTTEngineTexts::kTcpConnecting);
    {
      // A socket left from a connection the peer dropped goes first.
      std::shared_ptr<TLink> old;
      {
        std::lock_guard<std::mutex> guard(client->LinkLock);
        old.swap(client->Link);
      }
      if (old) old->Shutdown();
    }

    const int family = client->IPVersion == Id_IPv6 ? AF_INET6 : AF_INET;
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw ENeloMQTTSocketError("Could not allocate socket: " + ErrnoText(errno));
    auto link = std::make_shared<TLink>(fd);
    HandleSocketAllocated(*link);

    // Resolve (a literal address needs no resolving).
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    const std::string service = std::to_string(client->Port);
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(client->HostName.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
      if (client->HostName.empty()) throw ENeloMQTTSocketError("No host name to connect to");
      HandleStatus(client.get(), hsResolving);
      hints.ai_flags = AI_NUMERICSERV;
      rc = ::getaddrinfo(client->HostName.c_str(), service.c_str(), &hints, &found);
      if (rc != 0) {
        throw ENeloMQTTSocketError("Could not resolve host '" + client->HostName + "': " + gai_strerror(rc));
      }
    }
    sockaddr_storage address{};
    socklen_t addressLength = static_cast<socklen_t>(found->ai_addrlen);
    std::memcpy(&address, found->ai_addr, found->ai_addrlen);
    ::freeaddrinfo(found);

    // Connect, bounded by the connect time-out.
    HandleStatus(client.get(), hsConnecting);
    const std::string target = client->HostName + ":" + service;
    const auto deadline = TClock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), addressLength) != 0) {
      if (errno != EINPROGRESS && errno != EINTR) {
        throw ENeloMQTTSocketError("Could not connect to " + target + ": " + ErrnoText(errno));
      }
      if (PollFor(fd, POLLOUT, RemainingMs(deadline)) == 0) {
        throw ENeloMQTTSocketError("Connect to " + target + " timed out");
      }
      int error = 0;
      socklen_t length = sizeof error;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      if (error != 0) throw ENeloMQTTSocketError("Could not connect to " + target + ": " + ErrnoText(error));
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    // The TLS choice is read at every connect, so a socket left from a
    // dropped connection never keeps a stale plain/TLS choice.
    if (UseSSL()) {
      const TNeloMQTTTlsSettings& settings = *FSSLIOHandler;
      std::string setupError;
      link->Ctx = NeloMQTTNewTlsContext(settings, setupError);
      if (!link->Ctx) throw ENeloMQTTSocketError(setupError);
      link->Ssl = SSL_new(link->Ctx);
      if (!link->Ssl) throw ENeloMQTTSocketError("TLS set-up failed: " + TlsErrorText());
      BIO* bio = BIO_new(SocketBioMethod());
      if (!bio) throw ENeloMQTTSocketError("TLS set-up failed: " + TlsErrorText());
      BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
      SSL_set_bio(link->Ssl, bio, bio);

      if (!NeloMQTTSetTlsPeer(link->Ssl, settings, client->HostName, setupError))
        throw ENeloMQTTSocketError(setupError);

      const auto handshakeDeadline = TClock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
      for (;;) {
        const int result = SSL_connect(link->Ssl);
        if (result == 1) break;
        const int error = SSL_get_error(link->Ssl, result);
        short wanted = 0;
        if (error == SSL_ERROR_WANT_READ) {
          wanted = POLLIN;
        } else if (error == SSL_ERROR_WANT_WRITE) {
          wanted = POLLOUT;
        } else {
          const int savedErrno = errno;
          std::string text = "TLS handshake with " + target + " failed: ";
          const long verify = SSL_get_verify_result(link->Ssl);
          if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
            text += savedErrno != 0 ? ErrnoText(savedErrno) : std::string("connection closed by the peer");
          } else {
            text += TlsErrorText();
          }
          if (verify != X509_V_OK) {
            text += " (certificate verification: ";
            text += X509_verify_cert_error_string(verify);
            text += ")";
          }
          throw ENeloMQTTSocketError(text);
        }
        if (PollFor(fd, wanted, RemainingMs(handshakeDeadline)) == 0) {
          throw ENeloMQTTSocketError("TLS handshake with " + target + " timed out");
        }
      }
    }

    {
      std::lock_guard<std::mutex> guard(client->LinkLock);
      client->Link = link;
    }
    link->Up = true;
    HandleStatus(client.get(), hsConnected);
  } catch (const std::exception& error) {
    TNeloMQTTLogHelper::Error(Log(), this, TNeloMQTTEngineTexts::kConnectException, &error);
    FIsReady = false;
    std::shared_ptr<TNeloMQTTTcpClient> dropped;
    {
      std::lock_guard<std::mutex> guard(FClientLock);
      dropped.swap(FIdTcpClient);
    }
    if (dropped) {
      std::lock_guard<std::mutex> guard(dropped->LinkLock);
      if (dropped->Link) {
        dropped->Link->Up = false;
        dropped->Link->Shutdown();
        dropped->Link.reset();
      }
    }
    throw;
  }
}

void TNeloMQTTNetworkConnection::Close() {
  std::shared_ptr<TNeloMQTTTcpClient> client;
  {
    std::lock_guard<std::mutex> guard(FClientLock);
    client.swap(FIdTcpClient);
  }
  if (!client) return;
  TNeloMQTTLogHelper::Info(Log(), this, TNeloMQTTEngineTexts::kTcpDisconnecting);
  std::shared_ptr<TLink> link;
  {
    std::lock_guard<std::mutex> guard(client->LinkLock);
    link.swap(client->Link);
  }
  if (!link) return;
  if (link->Up.exchange(false)) {
    HandleStatus(link.get(), hsDisconnecting);
    link->Shutdown();
    HandleStatus(link.get(), hsDisconnected);
  } else {
    link->Shutdown();
  }
}

bool TNeloMQTTNetworkConnection::Fill(const std::shared_ptr<TLink>& ALink, int ATimeoutMs) {
  TLink& link = *ALink;
  if (link.InputPos > 0 && (link.InputPos == link.Input.size() || link.InputPos >= 65536)) {
    link.Input.erase(link.Input.begin(), link.Input.begin() + static_cast<std::ptrdiff_t>(link.InputPos));
    link.InputPos = 0;
  }
  const auto deadline = TClock::now() + std::chrono::milliseconds(ATimeoutMs);
  uint8_t chunk[kReadChunk];
  for (;;) {
    if (link.Shut) throw ENeloMQTTConnectionClosed();
    short wanted = POLLIN;
    if (link.Ssl) {
      std::unique_lock<std::mutex> guard(link.SslLock);
      ERR_clear_error();
      const int received = SSL_read(link.Ssl, chunk, static_cast<int>(sizeof chunk));
      if (received > 0) {
        link.Input.insert(link.Input.end(), chunk, chunk + received);
        AcknowledgePromptly(link.Fd);
        return true;
      }
      const int error = SSL_get_error(link.Ssl, received);
      const int savedErrno = errno;
      if (error == SSL_ERROR_WANT_READ) {
        wanted = POLLIN;
      } else if (error == SSL_ERROR_WANT_WRITE) {
        wanted = POLLOUT;
      } else if (error == SSL_ERROR_ZERO_RETURN ||
                 (error == SSL_ERROR_SYSCALL && (savedErrno == 0 || IsPeerLossErrno(savedErrno)))) {
        guard.unlock();
        ReportLinkDown(ALink);
        throw ENeloMQTTConnectionClosed();
      } else {
        const std::string text = TlsErrorText();
        guard.unlock();
        if (link.Shut) throw ENeloMQTTConnectionClosed();
        throw ENeloMQTTSocketError("TLS read failed: " + text);
      }
    } else {
      const ssize_t received = ::recv(link.Fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (received > 0) {
        link.Input.insert(link.Input.end(), chunk, chunk + received);
        AcknowledgePromptly(link.Fd);
        return true;
      }
      if (received == 0) {
        ReportLinkDown(ALink);
        throw ENeloMQTTConnectionClosed();
      }
      if (errno == EINTR) continue;
      if (IsPeerLossErrno(errno)) {
        ReportLinkDown(ALink);
        throw ENeloMQTTConnectionClosed();
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK)
        throw ENeloMQTTSocketError("Socket read failed: " + ErrnoText(errno));
    }
    const int left = RemainingMs(deadline);
    if (left == 0) return false;
    if (PollFor(link.Fd, wanted, left) == 0) return false;
  }
}

bool TNeloMQTTNetworkConnection::HasData() {
  if (!IsReady()) return false;
  std::lock_guard<std::recursive_mutex> guard(FReadLock);
  try {
    const auto link = CurrentLink();
    if (!link) return false;
    if (link->InputPos < link->Input.size()) return true;
    return Fill(link, 0);
  } catch (const ENeloMQTTConnectionClosed&) {
    // Already reported when the peer closed; nothing more to do.
    return false;
  } catch (const std::exception& error) {
    // Said before the connection goes, so whoever reports the loss knows
    // why (a TLS 1.3 broker refuses a client certificate this way, after
    // the handshake).
    TNeloMQTTLogHelper::Error(Log(), this, TNeloMQTTEngineTexts::kReadException, &error);
    Close();
    return false;
  } catch (...) {
    Close();
    return false;
  }
}

bool TNeloMQTTNetworkConnection::HasBufferedData() {
  if (!IsReady()) return false;
  std::lock_guard<std::recursive_mutex> guard(FReadLock);
  const auto link = CurrentLink();
  return link && link->InputPos < link->Input.size();
}

void TNeloMQTTNetworkConnection::Read(uint8_t& AByte) {
  if (!IsReady()) return;
  std::lock_guard<std::recursive_mutex> guard(FReadLock);
  const auto link = CurrentLink();
  if (!link) throw ENeloMQTTConnectionClosed();
  while (link->InputPos >= link->Input.size()) {
    if (!Fill(link, link->ReadTimeout)) throw ENeloMQTTReadTimeout();
  }
  AByte = link->Input[link->InputPos++];
}

void TNeloMQTTNetworkConnection::Read(TNeloMQTTBytes& AData, std::size_t ALength, bool AAppend) {
  if (!IsReady()) return;
  std::lock_guard<std::recursive_mutex> guard(FReadLock);
  const auto link = CurrentLink();
  if (!link) throw ENeloMQTTConnectionClosed();
  link->ReadTimeout = kArrayReadTimeoutMs;
  if (ALength == 0) return;
  while (link->Input.size() - link->InputPos < ALength) {
    if (!Fill(link, link->ReadTimeout)) throw ENeloMQTTReadTimeout();
  }
  const auto first = link->Input.begin() + static_cast<std::ptrdiff_t>(link->InputPos);
  const auto last = first + static_cast<std::ptrdiff_t>(ALength);
  if (AAppend) {
    AData.insert(AData.end(), first, last);
  } else {
    AData.assign(first, last);
  }
  link->InputPos += ALength;
}

std::size_t TNeloMQTTNetworkConnection::ReadSome(TNeloMQTTBytes& AData, std::size_t AMax) {
  if (!IsReady() || AMax == 0) return 0;
  std::lock_guard<std::recursive_mutex> guard(FReadLock);
  const auto link = CurrentLink();
  if (!link) throw ENeloMQTTConnectionClosed();
  while (link->InputPos >= link->Input.size()) {
    if (!Fill(link, link->ReadTimeout)) throw ENeloMQTTReadTimeout();
  }
  const std::size_t take = std::min(AMax, link->Input.size() - link->InputPos);
  const auto first = link->Input.begin() + static_cast<std::ptrdiff_t>(link->InputPos);
  AData.insert(AData.end(), first, first + static_cast<std::ptrdiff_t>(take));
  link->InputPos += take;
  return take;
}

void TNeloMQTTNetworkConnection::Write(const TNeloMQTTBytes& AData) {
  if (!IsReady()) return;
  std::lock_guard<std::recursive_mutex> guard(FWriteLock);
  const auto link = CurrentLink();
  if (!link) throw ENeloMQTTConnectionClosed();
  WriteLocked(link, AData, false, TClock::now());
}

bool TNeloMQTTNetworkConnection::WriteWithin(const TNeloMQTTBytes& AData, int ATimeoutMs) {
  if (!IsReady()) return false;
  // A write in progress is waited for only within the bound (it may be one
  // that never ends: the caller closes the socket next, which ends it).
  const auto deadline = TClock::now() + std::chrono::milliseconds(ATimeoutMs);
  std::unique_lock<std::recursive_mutex> guard(FWriteLock, std::try_to_lock);
  while (!guard.owns_lock()) {
    if (TClock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    guard.try_lock();
  }
  const auto link = CurrentLink();
  if (!link) return false;
  try {
    return WriteLocked(link, AData, true, deadline);
  } catch (const std::exception&) {
    return false;
  }
}

void TNeloMQTTNetworkConnection::AbortWrites() {
  const auto link = CurrentLink();
  if (!link) return;
  // A write waiting for room in the socket sees it within one wait slice
  // (kWriteWaitSliceMs). The socket itself is left alone: the peer gets no
  // early FIN while the reader still takes in what it sent.
  link->WritesAborted = true;
}

void TNeloMQTTNetworkConnection::Interrupt() {
  const auto link = CurrentLink();
  if (link) link->Shutdown();
}

bool TNeloMQTTNetworkConnection::WaitForData(int ATimeoutMs, int AWakeFd) {
  std::shared_ptr<TLink> link;
  if (IsReady()) {
    std::lock_guard<std::recursive_mutex> guard(FReadLock);
    link = CurrentLink();
    if (link) {
      if (link->InputPos < link->Input.size()) return true;
      if (link->Ssl) {
        std::lock_guard<std::mutex> sslGuard(link->SslLock);
        if (SSL_pending(link->Ssl) > 0) return true;
      }
    }
  }
  pollfd entries[2];
  nfds_t count = 0;
  if (link && !link->Shut) entries[count++] = pollfd{link->Fd, POLLIN, 0};
  if (AWakeFd >= 0) entries[count++] = pollfd{AWakeFd, POLLIN, 0};
  if (count == 0) return false;
  const int rc = ::poll(entries, count, ATimeoutMs);
  if (rc <= 0) return false;
  return link && !link->Shut && entries[0].fd == link->Fd && entries[0].revents != 0;
}

bool TNeloMQTTNetworkConnection::WriteLocked(const std::shared_ptr<TLink>& ALink, const TNeloMQTTBytes& AData,
                                             bool ABounded, TClock::time_point ADeadline) {
  const auto link = ALink;
  std::size_t done = 0;
  auto lastProgress = TClock::now();
  while (done < AData.size()) {
    if (link->Shut || link->WritesAborted) throw ENeloMQTTConnectionClosed();
    short wanted = POLLOUT;
    const std::size_t left = AData.size() - done;
    if (link->Ssl) {
      std::unique_lock<std::mutex> sslGuard(link->SslLock);
      ERR_clear_error();
      const int chunk = left > 1u << 30 ? 1 << 30 : static_cast<int>(left);
      const int sent = SSL_write(link->Ssl, AData.data() + done, chunk);
      if (sent > 0) {
        done += static_cast<std::size_t>(sent);
        lastProgress = TClock::now();
        continue;
      }
      const int error = SSL_get_error(link->Ssl, sent);
      const int savedErrno = errno;
      if (error == SSL_ERROR_WANT_WRITE) {
        wanted = POLLOUT;
      } else if (error == SSL_ERROR_WANT_READ) {
        wanted = POLLIN;
      } else if (error == SSL_ERROR_ZERO_RETURN ||
                 (error == SSL_ERROR_SYSCALL && (savedErrno == 0 || IsPeerLossErrno(savedErrno)))) {
        // The peer may have said why before it went (a TLS 1.3 broker
        // refuses a client certificate with an alert after the handshake):
        // that is said before the loss is reported.
        const std::string alert = PendingTlsError(link->Ssl);
        sslGuard.unlock();
        if (!alert.empty()) {
          const ENeloMQTTSocketError reason("TLS read failed: " + alert);
          TNeloMQTTLogHelper::Error(Log(), this, TNeloMQTTEngineTexts::kReadException, &reason);
        }
        ReportLinkDown(link);
        throw ENeloMQTTConnectionClosed();
      } else {
        const std::string text = TlsErrorText();
        sslGuard.unlock();
        if (link->Shut) throw ENeloMQTTConnectionClosed();
        throw ENeloMQTTSocketError("TLS write failed: " + text);
      }
    } else {
      const ssize_t sent = ::send(link->Fd, AData.data() + done, left, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent >= 0) {
        done += static_cast<std::size_t>(sent);
        if (sent > 0) lastProgress = TClock::now();
        continue;
      }
      if (errno == EINTR) continue;
      if (IsPeerLossErrno(errno)) {
        ReportLinkDown(link);
        throw ENeloMQTTConnectionClosed();
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        throw ENeloMQTTSocketError("Socket write failed: " + ErrnoText(errno));
      }
    }
    const auto now = TClock::now();
    if (ABounded && now >= ADeadline) return false;
    // A peer that takes nothing for the write time-out has stopped reading:
    // the connection is lost (and what is queued for it goes with it).
    const auto stalled = std::chrono::milliseconds(FWriteTimeout.load());
    if (now - lastProgress >= stalled) {
      link->Shutdown();
      ReportLinkDown(link);
      throw ENeloMQTTWriteTimeout();
    }
    // Wait in slices so that a Close on another thread is noticed; a TLS
    // write that needs input waits only briefly, since the reader may be
    // the one to consume it.
    int slice = wanted == POLLIN ? 10 : kWriteWaitSliceMs;
    if (ABounded) slice = std::min(slice, std::max(1, RemainingMs(ADeadline)));
    PollFor(link->Fd, wanted, slice);
  }
  return true;
}
