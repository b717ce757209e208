#include "Nelo.MQTT.Fleet.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>

#include <atomic>
#include <boost/asio/basic_stream_socket.hpp>
#include <boost/asio/basic_waitable_timer.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>
#include <thread>
#include <unordered_map>
#include <variant>

#include "Nelo.MQTT.Fleet.Deadlines.h"
#include "Nelo.MQTT.Utils.h"

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

using TSocket = asio::basic_stream_socket<tcp, asio::io_context::executor_type>;
using TTimer =
    asio::basic_waitable_timer<std::chrono::steady_clock, asio::wait_traits<std::chrono::steady_clock>,
                               asio::io_context::executor_type>;
using TTlsStream = asio::ssl::stream<TSocket&>;

constexpr int64_t kNever = TNeloMQTTDeadlines::kNever;
// Application steps share the deadline heap with the sessions; their keys
// carry this bit.
constexpr std::size_t kStepKey = std::size_t{1} << (sizeof(std::size_t) * 8 - 1);
// The read buffer every plain connection of a loop reads through.
constexpr std::size_t kLoopReadBuffer = 64 * 1024;
// A TLS connection's own buffer (asio's TLS stream reads into it).
constexpr std::size_t kTlsReadBuffer = 4096;
// Reads per readiness before other sessions get their turn.
constexpr int kReadsPerWake = 8;

// Our acknowledgements of the broker's segments go out at once instead of
// waiting for data to ride on (the kernel's delayed ACK, up to 40 ms). A
// broker that leaves Nagle's algorithm on (mosquitto by default) holds each
// small write back until its previous one is acknowledged: a PUBLISH right
// behind the PUBACK it sent us would wait for our delayed ACK. The kernel
// leaves quick-ACK mode by itself, so it is asked for after every read.
void QuickAck(int AFd) {
  const int one = 1;
  ::setsockopt(AFd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}

// One connection. Handlers in progress hold it, so the socket and the TLS
// stream outlive every operation started on them.
struct TLink {
  explicit TLink(asio::io_context& AIo) : Socket(AIo.get_executor()) {}
  TSocket Socket;
  std::unique_ptr<TTlsStream> Tls;
  std::vector<uint8_t> TlsIn;
  bool Down = false;
};

}  // namespace

struct TNeloMQTTFleet::TShared {
  std::vector<tcp::endpoint> Endpoints;
  std::unique_ptr<asio::ssl::context> Tls;
  std::atomic<std::size_t> Connected{0};
  std::atomic<std::size_t> NextSource{0};
  std::string Target;  // host:port, for the texts
};

// ---------------------------------------------------------------------------

class TNeloMQTTFleet::TLoop {
 public:
  TLoop(TNeloMQTTFleet& AFleet, std::size_t AIndex, std::size_t ASessions)
      : Fleet(AFleet), Index(AIndex), Io(1), Timer(Io.get_executor()), Sessions(ASessions) {}

  void Arm(int64_t AAtMs);
  void OnTimer();
  void QueueOpen(TSession* ASession) {
    OpenQueue.push_back(ASession);
    PumpOpens();
  }
  void PumpOpens();
  uint8_t* ReadBuffer() {
    if (!Buffer) Buffer = std::make_unique<uint8_t[]>(kLoopReadBuffer);
    return Buffer.get();
  }

  TNeloMQTTFleet& Fleet;
  const std::size_t Index;
  asio::io_context Io;
  TTimer Timer;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> Work;
  TNeloMQTTDeadlines Deadlines;
  int64_t ArmedAt = kNever;
  std::vector<std::unique_ptr<TSession>> Sessions;  // by ASession / loops
  std::unordered_map<std::size_t, std::function<void()>> Steps;
  std::size_t NextStep = 0;
  std::deque<TSession*> OpenQueue;
  unsigned Opening = 0;
  std::unique_ptr<uint8_t[]> Buffer;
  std::thread Thread;
  std::atomic<std::thread::id> ThreadId{};
};

// ---------------------------------------------------------------------------

class TNeloMQTTFleet::TSession final : public TNeloMQTTCoreSink {
 public:
  TSession(TLoop& ALoop, std::size_t AId) : Loop(ALoop), Id(AId), Core(*this) {
    Core.SetLogVerbosity(ALoop.Fleet.FOptions.LogVerbosity);
  }

  // ---- commands ----
  void Connect(std::shared_ptr<const TNeloMQTTFleetSessionSettings> ASettings) {
    Settings = std::move(ASettings);
    if (Settings->Connect.ClientId.empty() && ClientId.empty()) ClientId = RandomClientIdentifier();
    OperatorConnect = true;
    ReconnectAt = kNever;
    if (Link) CloseLink();
    if (Phase == phQueued) return;
    Core.SetStatus(csConnecting);
    Phase = phQueued;
    Loop.QueueOpen(this);
    AfterCore();
  }
  void Publish(const std::string& ATopic, const TNeloMQTTBytes& APayload, TNeloMQTTQoS AQos, bool ARetain) {
    Core.Publish(ATopic, APayload, AQos, ARetain, NowMs());
    AfterCore();
  }
  void Subscribe(const TNeloStringArray& AFilters, const TNeloQosArray& AQos) {
    Core.Subscribe(AFilters, AQos, NowMs());
    AfterCore();
  }
  void Disconnect() {
    ReconnectAt = kNever;
    Core.Disconnect(NowMs());
    if (Link) CloseLink();
    Phase = phStopped;
    AfterCore();
  }
  void Drop() {
    if (!Link || Phase != phOpen) return;
    LinkDown(std::string());
  }
  // Ends the connection without a word (the fleet stops).
  void Abandon() {
    ReconnectAt = kNever;
    Phase = phStopped;
    if (Link) CloseLink();
  }

  // ---- the loop's calls ----
  void Open();
  void Wake(uint64_t AGeneration);
  std::size_t Outstanding() const {
    return static_cast<std::size_t>(Core.InFlightCount() + Core.QueuedCount());
  }

  // ---- the core's actions ----
  void CoreWrite(const uint8_t* AData, std::size_t ASize) override;
  void CoreClose(TNeloMQTTCoreCloseReason AReason) override {
    (void)AReason;
    if (Link) {
      CloseLink();
      ClosedByCore = true;
    }
  }
  void CoreStatus(TNeloMQTTConnectionStatus AStatus) override {
    const bool wasConnected = Connected;
    Connected = AStatus == csConnected;
    if (Connected && !wasConnected) {
      Loop.Fleet.FShared->Connected.fetch_add(1, std::memory_order_relaxed);
      LeaveWindow();
    } else if (!Connected && wasConnected) {
      Loop.Fleet.FShared->Connected.fetch_sub(1, std::memory_order_relaxed);
    }
    TEvent e;
    e.Kind = ekStatus;
    e.Status = AStatus;
    // A refusal or a failed open carries the reason; a loss carries it too.
    if (AStatus != csConnected && AStatus != csConnecting && AStatus != csReconnecting) e.Text = LastError;
    Events.push_back(std::move(e));
  }
  void CoreDeliver(TNeloMQTTMessage& AMessage) override {
    TEvent e;
    e.Kind = ekMessage;
    e.Message = std::move(AMessage);
    Events.push_back(std::move(e));
  }
  void CoreAcknowledged(const TNeloMQTTCoreAck& AAck) override {
    if (AAck.Kind == akPublished) {
      TEvent e;
      e.Kind = ekPublished;
      e.PacketId = AAck.PacketId;
      Events.push_back(std::move(e));
    } else if (AAck.Kind == akSubscribed && AAck.Subscriptions != nullptr) {
      TEvent e;
      e.Kind = ekSubscribed;
      e.PacketId = AAck.PacketId;
      e.Subscriptions = *AAck.Subscriptions;
      Events.push_back(std::move(e));
    }
  }
  void CoreLog(TNeloMQTTLogLevel ALevel, const std::string& AText, const char* AError) override {
    const std::string text = AError != nullptr ? AText + ": " + AError : AText;
    if (ALevel <= vERROR && ALevel != vNONE) LastError = text;
    Loop.Fleet.FHandler.OnLog(Id, ALevel, text);
  }

 private:
  enum TPhase : uint8_t { phIdle, phQueued, phOpening, phOpen, phWaiting, phStopped };
  enum TEventKind : uint8_t { ekStatus, ekMessage, ekPublished, ekSubscribed };
  struct TEvent {
    TEventKind Kind = ekStatus;
    TNeloMQTTConnectionStatus Status = csNotConnected;
    uint16_t PacketId = 0;
    std::string Text;
    TNeloMQTTMessage Message;
    TNeloMQTTSubscriptions Subscriptions;
  };

  static int64_t NowMs() { return TNeloMQTTFleet::NowMs(); }
  const TNeloMQTTFleetOptions& Options() const { return Loop.Fleet.FOptions; }
  TNeloMQTTCoreOptions ConnectOptions() const {
    TNeloMQTTCoreOptions o = Settings->Connect;
    if (o.ClientId.empty()) o.ClientId = ClientId;
    return o;
  }
  void Log(TNeloMQTTLogLevel ALevel, const std::string& AText) {
    if (ALevel <= vERROR) LastError = AText;
    if (ALevel <= Options().LogVerbosity) Loop.Fleet.FHandler.OnLog(Id, ALevel, AText);
  }

  void OnConnected(const std::shared_ptr<TLink>& ALink, const boost::system::error_code& AError);
  void OnHandshake(const std::shared_ptr<TLink>& ALink, const boost::system::error_code& AError);
  void Opened();
  void OpenFailed(const std::string& AText);
  void StartRead();
  void OnReadable(const std::shared_ptr<TLink>& ALink);
  void Feed(const uint8_t* AData, std::size_t ASize);
  void StartWrite();
  // The packet at OutHead is written.
  void PopOut() {
    OutOffset = 0;
    if (++OutHead == Out.size()) {
      std::vector<TNeloMQTTBytes>().swap(Out);
      OutHead = 0;
    }
  }
  void OnWritable(const std::shared_ptr<TLink>& ALink);
  void LinkDown(const std::string& AText);
  void CloseLink();
  void LeaveWindow() {
    if (!InWindow) return;
    InWindow = false;
    --Loop.Opening;
    // Not from inside the caller's core call: the next opens start after it.
    asio::post(Loop.Io, [loop = &Loop] { loop->PumpOpens(); });
  }
  // After every input of the core: the close it asked for, the events
  // for the application, reconnect timing and the next wake-up.
  void AfterCore();
  void Reschedule();

  TLoop& Loop;
  const std::size_t Id;
  TNeloMQTTCore Core;
  std::shared_ptr<const TNeloMQTTFleetSessionSettings> Settings;
  std::string ClientId;  // drawn when the settings give none
  std::shared_ptr<TLink> Link;
  // Packets the socket has not taken yet, in order, from Out[OutHead] at
  // OutOffset (a vector: nothing is allocated while it is empty).
  std::vector<TNeloMQTTBytes> Out;
  std::size_t OutHead = 0, OutOffset = 0;
  std::vector<TEvent> Events;
  std::string LastError;
  int64_t OpenDeadline = kNever;
  int64_t ReconnectAt = kNever;
  int64_t ScheduledAt = kNever;
  uint64_t Generation = 0;
  TPhase Phase = phIdle;
  bool OperatorConnect = false;
  bool InWindow = false;
  bool Connected = false;
  bool ClosedByCore = false;
  bool Dispatching = false;
  bool Reading = false;
  bool Writing = false;
};

// ---------------------------------------------------------------------------
// Loop

void TNeloMQTTFleet::TLoop::Arm(int64_t AAtMs) {
  if (AAtMs >= ArmedAt) return;
  ArmedAt = AAtMs;
  const auto now = std::chrono::steady_clock::now();
  const int64_t nowMs = TNeloMQTTFleet::NowMs();
  Timer.expires_at(now + std::chrono::milliseconds(AAtMs > nowMs ? AAtMs - nowMs : 0));
  Timer.async_wait([this](const boost::system::error_code& AError) {
    if (AError == asio::error::operation_aborted) return;
    OnTimer();
  });
}

void TNeloMQTTFleet::TLoop::OnTimer() {
  ArmedAt = kNever;
  Deadlines.TakeDue(TNeloMQTTFleet::NowMs(), [this](std::size_t AKey, uint64_t AGeneration) {
    if ((AKey & kStepKey) != 0) {
      const auto it = Steps.find(AKey);
      if (it == Steps.end()) return;
      std::function<void()> step = std::move(it->second);
      Steps.erase(it);
      step();
      return;
    }
    if (AKey < Sessions.size() && Sessions[AKey]) Sessions[AKey]->Wake(AGeneration);
  });
  if (Deadlines.Next() != kNever) Arm(Deadlines.Next());
}

void TNeloMQTTFleet::TLoop::PumpOpens() {
  const unsigned window = Fleet.FOptions.ConnectWindow == 0 ? 1 : Fleet.FOptions.ConnectWindow;
  while (Opening < window && !OpenQueue.empty()) {
    TSession* s = OpenQueue.front();
    OpenQueue.pop_front();
    s->Open();
  }
}

// ---------------------------------------------------------------------------
// Session: opening

void TNeloMQTTFleet::TSession::Open() {
  if (Phase != phQueued) return;
  Phase = phOpening;
  InWindow = true;
  ++Loop.Opening;
  TShared& shared = *Loop.Fleet.FShared;
  Link = std::make_shared<TLink>(Loop.Io);
  ClosedByCore = false;
  const tcp::endpoint& target = shared.Endpoints.front();
  boost::system::error_code ec;
  Link->Socket.open(target.protocol(), ec);
  if (!ec) Link->Socket.non_blocking(true, ec);
  const auto& sources = Options().BindAddresses;
  if (!ec && !sources.empty()) {
    // The local port is chosen at connect, for the whole 4-tuple: one
    // source address then serves as many connections as the broker's
    // address and port leave ports for.
    const int one = 1;
    ::setsockopt(Link->Socket.native_handle(), IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    const auto& source = sources[shared.NextSource.fetch_add(1, std::memory_order_relaxed) % sources.size()];
    Link->Socket.bind(tcp::endpoint(source, 0), ec);
    if (ec) {
      OpenFailed("Could not bind to " + source.to_string() + ": " + ec.message());
      return;
    }
  }
  if (ec) {
    OpenFailed("Could not allocate socket: " + ec.message());
    return;
  }
  OpenDeadline = NowMs() + Options().ConnectTimeoutMs;
  std::shared_ptr<TLink> link = Link;
  link->Socket.async_connect(
      target, [this, link](const boost::system::error_code& AError) { OnConnected(link, AError); });
  Reschedule();
}

void TNeloMQTTFleet::TSession::OnConnected(const std::shared_ptr<TLink>& ALink,
                                           const boost::system::error_code& AError) {
  if (ALink != Link || ALink->Down) return;
  if (AError) {
    OpenFailed("Could not connect to " + Loop.Fleet.FShared->Target + ": " + AError.message());
    return;
  }
  // Each packet is written whole and at once; Nagle's algorithm would hold
  // a small one back until the previous was acknowledged.
  const int one = 1;
  ::setsockopt(ALink->Socket.native_handle(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  QuickAck(ALink->Socket.native_handle());
  if (!Options().UseSSL) {
    Opened();
    return;
  }
  ALink->Tls = std::make_unique<TTlsStream>(ALink->Socket, *Loop.Fleet.FShared->Tls);
  std::string error;
  if (!NeloMQTTSetTlsPeer(ALink->Tls->native_handle(), Options().Tls, Options().Host, error)) {
    OpenFailed(error);
    return;
  }
  std::shared_ptr<TLink> link = ALink;
  ALink->Tls->async_handshake(
      asio::ssl::stream_base::client,
      [this, link](const boost::system::error_code& AHandshakeError) { OnHandshake(link, AHandshakeError); });
}

void TNeloMQTTFleet::TSession::OnHandshake(const std::shared_ptr<TLink>& ALink,
                                           const boost::system::error_code& AError) {
  if (ALink != Link || ALink->Down) return;
  if (AError) {
    std::string text = "TLS handshake with " + Loop.Fleet.FShared->Target + " failed: " + AError.message();
    const long verify = SSL_get_verify_result(ALink->Tls->native_handle());
    if (verify != X509_V_OK) {
      text += " (certificate verification: ";
      text += X509_verify_cert_error_string(verify);
      text += ")";
    }
    OpenFailed(text);
    return;
  }
  ALink->TlsIn.resize(kTlsReadBuffer);
  Opened();
}

void TNeloMQTTFleet::TSession::Opened() {
  Phase = phOpen;
  OpenDeadline = kNever;
  StartRead();
  if (OperatorConnect) {
    OperatorConnect = false;
    Core.Connect(ConnectOptions(), NowMs());
  } else {
    Core.Reconnect(ConnectOptions(), NowMs());
  }
  AfterCore();
}

void TNeloMQTTFleet::TSession::OpenFailed(const std::string& AText) {
  Log(vERROR, AText);
  OpenDeadline = kNever;
  CloseLink();
  LeaveWindow();
  Phase = phWaiting;
  // The first attempt of an operator's connect ends in a status the
  // application can act on; later attempts just try again.
  if (OperatorConnect) Core.SetStatus(csConnectionRejected_ServerUnavailable);
  AfterCore();
}

// ---------------------------------------------------------------------------
// Session: reading

void TNeloMQTTFleet::TSession::StartRead() {
  if (!Link || Link->Down || Reading) return;
  Reading = true;
  std::shared_ptr<TLink> link = Link;
  if (link->Tls) {
    link->Tls->async_read_some(
        asio::buffer(link->TlsIn), [this, link](const boost::system::error_code& AError, std::size_t ASize) {
          Reading = false;
          if (link != Link || link->Down) return;
          if (ASize > 0) Feed(link->TlsIn.data(), ASize);
          if (link != Link || link->Down) return AfterCore();
          if (AError) {
            LinkDown(AError == asio::error::eof || AError == asio::ssl::error::stream_truncated
                         ? std::string()
                         : AError.message());
            return;
          }
          StartRead();
          AfterCore();
        });
    return;
  }
  link->Socket.async_wait(TSocket::wait_read, [this, link](const boost::system::error_code& AError) {
    Reading = false;
    if (link != Link || link->Down) return;
    if (AError) return LinkDown(AError.message());
    OnReadable(link);
  });
}

void TNeloMQTTFleet::TSession::OnReadable(const std::shared_ptr<TLink>& ALink) {
  uint8_t* buffer = Loop.ReadBuffer();
  for (int i = 0; i < kReadsPerWake; ++i) {
    const ssize_t n = ::recv(ALink->Socket.native_handle(), buffer, kLoopReadBuffer, 0);
    if (n > 0) {
      QuickAck(ALink->Socket.native_handle());
      Feed(buffer, static_cast<std::size_t>(n));
      if (ALink != Link || ALink->Down) return AfterCore();
      if (static_cast<std::size_t>(n) < kLoopReadBuffer) break;
      continue;
    }
    if (n == 0) return LinkDown(std::string());
    if (errno == EAGAIN || errno == EWOULDBLOCK) break;
    if (errno == EINTR) continue;
    return LinkDown(std::strerror(errno));
  }
  StartRead();
  AfterCore();
}

void TNeloMQTTFleet::TSession::Feed(const uint8_t* AData, std::size_t ASize) {
  Core.Received(AData, ASize, NowMs());
}

// ---------------------------------------------------------------------------
// Session: writing

void TNeloMQTTFleet::TSession::CoreWrite(const uint8_t* AData, std::size_t ASize) {
  if (!Link || Link->Down) return;
  if (!Link->Tls && Out.empty()) {
    // Straight to the socket: a packet leaves in one write when the socket
    // has room, which it nearly always has.
    const ssize_t n = ::send(Link->Socket.native_handle(), AData, ASize, MSG_NOSIGNAL);
    std::size_t done = 0;
    if (n > 0) {
      done = static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      // Reported by the reader, which sees the same end; nothing more goes out.
      Link->Down = true;
      asio::post(Loop.Io, [this, link = Link, text = std::string(std::strerror(errno))] {
        if (link == Link) LinkDown(text);
      });
      return;
    }
    if (done == ASize) return;
    Out.emplace_back(AData + done, AData + ASize);
    OutHead = OutOffset = 0;
    StartWrite();
    return;
  }
  Out.emplace_back(AData, AData + ASize);
  StartWrite();
}

void TNeloMQTTFleet::TSession::StartWrite() {
  if (!Link || Link->Down || Writing || Out.empty()) return;
  Writing = true;
  std::shared_ptr<TLink> link = Link;
  if (link->Tls) {
    asio::async_write(*link->Tls, asio::buffer(Out[OutHead]),
                      [this, link](const boost::system::error_code& AError, std::size_t) {
                        Writing = false;
                        if (link != Link || link->Down) return;
                        if (AError) return LinkDown(AError.message());
                        PopOut();
                        StartWrite();
                      });
    return;
  }
  link->Socket.async_wait(TSocket::wait_write, [this, link](const boost::system::error_code& AError) {
    Writing = false;
    if (link != Link || link->Down) return;
    if (AError) return LinkDown(AError.message());
    OnWritable(link);
  });
}

void TNeloMQTTFleet::TSession::OnWritable(const std::shared_ptr<TLink>& ALink) {
  while (!Out.empty()) {
    const TNeloMQTTBytes& front = Out[OutHead];
    const ssize_t n = ::send(ALink->Socket.native_handle(), front.data() + OutOffset,
                             front.size() - OutOffset, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      if (errno == EINTR) continue;
      return LinkDown(std::strerror(errno));
    }
    OutOffset += static_cast<std::size_t>(n);
    if (OutOffset == front.size()) PopOut();
  }
  if (!Out.empty()) StartWrite();
}

// ---------------------------------------------------------------------------
// Session: the end of a connection, wake-ups, events

void TNeloMQTTFleet::TSession::CloseLink() {
  if (!Link) return;
  Link->Down = true;
  boost::system::error_code ignored;
  Link->Socket.close(ignored);
  Link.reset();
  std::vector<TNeloMQTTBytes>().swap(Out);
  OutHead = OutOffset = 0;
  OpenDeadline = kNever;
}

void TNeloMQTTFleet::TSession::LinkDown(const std::string& AText) {
  if (!AText.empty()) Log(vERROR, "Connection lost: " + AText);
  CloseLink();
  LeaveWindow();
  Phase = phWaiting;
  Core.TransportClosed(NowMs());
  AfterCore();
}

void TNeloMQTTFleet::TSession::Wake(uint64_t AGeneration) {
  if (AGeneration != Generation) return;
  ScheduledAt = kNever;
  const int64_t now = NowMs();
  if (OpenDeadline <= now && Phase == phOpening) {
    OpenFailed((Options().UseSSL && Link && Link->Tls ? "TLS handshake with " : "Connect to ") +
               Loop.Fleet.FShared->Target + " timed out");
    return;
  }
  if (ReconnectAt <= now) {
    ReconnectAt = kNever;
    if (Phase == phWaiting && !Link) {
      Phase = phQueued;
      Loop.QueueOpen(this);
    }
  }
  if (Core.NextDeadline() <= now) Core.Tick(now);
  AfterCore();
}

void TNeloMQTTFleet::TSession::AfterCore() {
  if (ClosedByCore) {
    // The core closed the transport (a time-out, a violation, the
    // operator's disconnect): it learns that it is closed, outside its call.
    ClosedByCore = false;
    LeaveWindow();
    if (Phase != phStopped) Phase = phWaiting;
    Core.TransportClosed(NowMs());
  }
  if (Phase == phWaiting && !Link && ReconnectAt == kNever) {
    if (Settings && Settings->AutoReconnect && Core.ReconnectAllowed())
      ReconnectAt =
          NowMs() + int64_t{Settings->ReconnectIntervalS > 0 ? Settings->ReconnectIntervalS : 1} * 1000;
    else
      Phase = phStopped;
  }
  Reschedule();
  if (Dispatching) return;
  Dispatching = true;
  while (!Events.empty()) {
    std::vector<TEvent> events;
    events.swap(Events);
    for (TEvent& e : events) {
      TNeloMQTTFleetHandler& h = Loop.Fleet.FHandler;
      switch (e.Kind) {
        case ekStatus:
          h.OnStatus(Id, e.Status, e.Text);
          break;
        case ekMessage:
          h.OnMessage(Id, e.Message);
          break;
        case ekPublished:
          h.OnPublished(Id, e.PacketId);
          break;
        case ekSubscribed:
          h.OnSubscribed(Id, e.PacketId, e.Subscriptions);
          break;
      }
    }
  }
  Dispatching = false;
  Reschedule();
}

void TNeloMQTTFleet::TSession::Reschedule() {
  int64_t want = Core.NextDeadline();
  if (OpenDeadline < want) want = OpenDeadline;
  if (ReconnectAt < want) want = ReconnectAt;
  if (want == kNever || want >= ScheduledAt) return;
  ScheduledAt = want;
  Loop.Deadlines.Add(want, Id / Loop.Fleet.FLoops.size(), ++Generation);
  Loop.Arm(want);
}

// ---------------------------------------------------------------------------
// Fleet

TNeloMQTTFleet::TNeloMQTTFleet(TNeloMQTTFleetOptions AOptions, std::size_t ASessions,
                               TNeloMQTTFleetHandler& AHandler)
    : FOptions(std::move(AOptions)),
      FSessionCount(ASessions),
      FHandler(AHandler),
      FShared(std::make_unique<TShared>()) {
  std::size_t loops = FOptions.Loops != 0 ? FOptions.Loops : std::thread::hardware_concurrency();
  if (loops == 0) loops = 1;
  if (loops > ASessions && ASessions > 0) loops = ASessions;
  for (std::size_t i = 0; i < loops; ++i)
    FLoops.push_back(std::make_unique<TLoop>(*this, i, ASessions / loops + 1));
}

TNeloMQTTFleet::~TNeloMQTTFleet() { Stop(); }

int64_t TNeloMQTTFleet::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::size_t TNeloMQTTFleet::Loops() const { return FLoops.size(); }
std::size_t TNeloMQTTFleet::LoopOf(std::size_t ASession) const { return ASession % FLoops.size(); }
bool TNeloMQTTFleet::OnLoopOf(std::size_t ASession) const {
  return FLoops[LoopOf(ASession)]->ThreadId.load() == std::this_thread::get_id();
}
std::size_t TNeloMQTTFleet::Connected() const { return FShared->Connected.load(); }

bool TNeloMQTTFleet::Start(std::string& AError) {
  FShared->Target = FOptions.Host + ":" + std::to_string(FOptions.Port);
  try {
    asio::io_context io;
    tcp::resolver resolver(io);
    for (const auto& r : resolver.resolve(FOptions.IPv6 ? tcp::v6() : tcp::v4(), FOptions.Host,
                                          std::to_string(FOptions.Port), tcp::resolver::numeric_service))
      FShared->Endpoints.push_back(r.endpoint());
  } catch (const std::exception& e) {
    AError = "Could not resolve host '" + FOptions.Host + "': " + e.what();
    return false;
  }
  if (FShared->Endpoints.empty()) {
    AError = "Could not resolve host '" + FOptions.Host + "'";
    return false;
  }
  if (FOptions.UseSSL) {
    SSL_CTX* ctx = NeloMQTTNewTlsContext(FOptions.Tls, AError);
    if (ctx == nullptr) return false;
    FShared->Tls = std::make_unique<asio::ssl::context>(ctx);
  }
  for (auto& loop : FLoops) {
    TLoop* l = loop.get();
    l->Work.emplace(l->Io.get_executor());
    l->Thread = std::thread([l] {
      l->ThreadId = std::this_thread::get_id();
      l->Io.run();
    });
  }
  return true;
}

void TNeloMQTTFleet::Stop() {
  for (auto& loop : FLoops) {
    TLoop* l = loop.get();
    if (!l->Thread.joinable()) continue;
    asio::post(l->Io, [l] {
      for (auto& s : l->Sessions)
        if (s) s->Abandon();
      l->Timer.cancel();
      l->Work.reset();
      l->Io.stop();
    });
  }
  for (auto& loop : FLoops)
    if (loop->Thread.joinable()) loop->Thread.join();
}

TNeloMQTTFleet::TSession* TNeloMQTTFleet::SessionOn(std::size_t ASession) {
  TLoop& loop = *FLoops[LoopOf(ASession)];
  std::unique_ptr<TSession>& s = loop.Sessions[ASession / FLoops.size()];
  if (!s) s = std::make_unique<TSession>(loop, ASession);
  return s.get();
}

void TNeloMQTTFleet::Run(std::size_t ASession, std::function<void()> AStep) {
  if (OnLoopOf(ASession)) {
    AStep();
    return;
  }
  asio::post(FLoops[LoopOf(ASession)]->Io, std::move(AStep));
}

void TNeloMQTTFleet::RunAt(std::size_t ASession, int64_t AAtMs, std::function<void()> AStep) {
  TLoop* loop = FLoops[LoopOf(ASession)].get();
  Run(ASession, [loop, AAtMs, step = std::move(AStep)]() mutable {
    const std::size_t key = kStepKey | loop->NextStep++;
    loop->Steps.emplace(key, std::move(step));
    loop->Deadlines.Add(AAtMs, key, 0);
    loop->Arm(AAtMs);
  });
}

void TNeloMQTTFleet::Connect(std::size_t ASession,
                             std::shared_ptr<const TNeloMQTTFleetSessionSettings> ASettings) {
  Run(ASession,
      [this, ASession, s = std::move(ASettings)]() mutable { SessionOn(ASession)->Connect(std::move(s)); });
}

void TNeloMQTTFleet::Publish(std::size_t ASession, const std::string& ATopic, TNeloMQTTBytes APayload,
                             TNeloMQTTQoS AQos, bool ARetain) {
  if (OnLoopOf(ASession)) {
    SessionOn(ASession)->Publish(ATopic, APayload, AQos, ARetain);
    return;
  }
  Run(ASession, [this, ASession, ATopic, p = std::move(APayload), AQos, ARetain] {
    SessionOn(ASession)->Publish(ATopic, p, AQos, ARetain);
  });
}

void TNeloMQTTFleet::Subscribe(std::size_t ASession, const TNeloStringArray& AFilters,
                               const TNeloQosArray& AQos) {
  Run(ASession, [this, ASession, AFilters, AQos] { SessionOn(ASession)->Subscribe(AFilters, AQos); });
}

void TNeloMQTTFleet::Disconnect(std::size_t ASession) {
  Run(ASession, [this, ASession] { SessionOn(ASession)->Disconnect(); });
}

void TNeloMQTTFleet::Drop(std::size_t ASession) {
  Run(ASession, [this, ASession] { SessionOn(ASession)->Drop(); });
}

std::size_t TNeloMQTTFleet::Outstanding(std::size_t ASession) const {
  const TLoop& loop = *FLoops[LoopOf(ASession)];
  const auto& s = loop.Sessions[ASession / FLoops.size()];
  return s ? s->Outstanding() : 0;
}
