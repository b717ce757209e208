#include "MosquittoBroker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tessiva::test {

namespace {

bool MakeLoopbackAddress(int AFamily, int APort, sockaddr_storage& AAddress, socklen_t& ALength) {
  std::memset(&AAddress, 0, sizeof AAddress);
  if (AFamily == AF_INET6) {
    auto* address = reinterpret_cast<sockaddr_in6*>(&AAddress);
    address->sin6_family = AF_INET6;
    address->sin6_port = htons(static_cast<uint16_t>(APort));
    address->sin6_addr = in6addr_loopback;
    ALength = sizeof(sockaddr_in6);
  } else {
    auto* address = reinterpret_cast<sockaddr_in*>(&AAddress);
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<uint16_t>(APort));
    address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ALength = sizeof(sockaddr_in);
  }
  return true;
}

}  // namespace

namespace {

// Binds a fresh socket to APort on loopback: true when the port is free.
// APort 0 lets the kernel choose; AChosen receives the port bound.
bool BindLoopback(int AFamily, int APort, int& AChosen) {
  const int fd = ::socket(AFamily, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_storage address{};
  socklen_t length = 0;
  MakeLoopbackAddress(AFamily, APort, address, length);
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  if (bound) {
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    AChosen = AFamily == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                                  : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  }
  ::close(fd);
  return bound;
}

// The lowest port the kernel hands out on its own (to the source side of
// outgoing connections, and for bind to port 0).
int EphemeralLow() {
  std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
  int low = 0;
  if (!(range >> low)) return 0;
  return low;
}

}  // namespace

int FreeLoopbackPort(int AFamily) {
  // A broker's port is picked below the kernel's ephemeral range, at random:
  // there neither a parallel suite asking for any free port nor the source
  // side of some outgoing connection can take it while a test stops and
  // restarts its broker on it.
  const int low = EphemeralLow();
  if (low > 10000) {
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> pick(low - 8000, low - 1);
    for (int attempt = 0; attempt < 50; ++attempt) {
      int chosen = 0;
      if (BindLoopback(AFamily, pick(random), chosen)) return chosen;
    }
  }
  int chosen = 0;
  if (!BindLoopback(AFamily, 0, chosen))
    throw std::runtime_error(std::string("bind failed: ") + std::strerror(errno));
  return chosen;
}

bool PortAccepts(const std::string& AHost, int APort, std::chrono::milliseconds ATimeout) {
  const int family = AHost.find(':') != std::string::npos ? AF_INET6 : AF_INET;
  sockaddr_storage address{};
  socklen_t length = 0;
  MakeLoopbackAddress(family, APort, address, length);
  if (family == AF_INET6) {
    inet_pton(AF_INET6, AHost.c_str(), &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr);
  } else {
    inet_pton(AF_INET, AHost.c_str(), &reinterpret_cast<sockaddr_in*>(&address)->sin_addr);
  }
  const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  if (!accepted && errno == EINPROGRESS) {
    pollfd entry{fd, POLLOUT, 0};
    if (::poll(&entry, 1, static_cast<int>(ATimeout.count())) == 1) {
      int error = 0;
      socklen_t size = sizeof error;
      accepted = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
  }
  ::close(fd);
  return accepted;
}

TMosquittoBroker::TMosquittoBroker(TBrokerOptions AOptions)
    : FOptions(std::move(AOptions)), FDir("tessiva-mosquitto-") {
  // Up to three tries: a port picked as free may be taken before the broker binds it.
  for (int attempt = 0;; ++attempt) {
    FPort = FOptions.Plain ? FreeLoopbackPort(AF_INET) : 0;
    FTlsPort = FOptions.Tls ? FreeLoopbackPort(AF_INET) : 0;
    FIPv6Port = FOptions.IPv6 ? FreeLoopbackPort(AF_INET6) : 0;
    try {
      Start();
      return;
    } catch (const std::exception&) {
      if (attempt >= 2) throw;
    }
  }
}

TMosquittoBroker::~TMosquittoBroker() { Stop(); }

void TMosquittoBroker::WriteConfig() {
  std::ostringstream config;
  config << "# written by the Tessiva test support\n";
  config << "per_listener_settings false\n";
  config << "persistence false\n";
  config << "log_dest stdout\n";
  config << "log_type all\n";
  config << "connection_messages true\n";
  if (::getuid() == 0) config << "user root\n";
  if (FOptions.Users.empty()) {
    config << "allow_anonymous true\n";
  } else {
    const std::string passwords = FDir.File("passwords");
    FDir.WriteFile("passwords", "");
    for (const auto& [user, password] : FOptions.Users) {
      const TRunResult result = RunProcess({"mosquitto_passwd", "-b", passwords, user, password});
      if (result.ExitCode != 0) {
        throw std::runtime_error("mosquitto_passwd failed: " + result.Stdout + result.Stderr);
      }
    }
    config << "allow_anonymous false\n";
    config << "password_file " << passwords << "\n";
  }
  if (FOptions.Plain) config << "listener " << FPort << " 127.0.0.1\n";
  if (FOptions.IPv6) config << "listener " << FIPv6Port << " ::1\n";
  if (FOptions.Tls) {
    const TTestCertificates& certs = Certificates();
    std::string cert = certs.ServerCertFile(), key = certs.ServerKeyFile();
    if (FOptions.ServerCert == TBrokerOptions::scWrongHost) {
      cert = certs.WrongHostCertFile();
      key = certs.WrongHostKeyFile();
    } else if (FOptions.ServerCert == TBrokerOptions::scUntrusted) {
      cert = certs.UntrustedCertFile();
      key = certs.UntrustedKeyFile();
    }
    config << "listener " << FTlsPort << " 127.0.0.1\n";
    config << "cafile " << certs.CAFile() << "\n";
    config << "certfile " << cert << "\n";
    config << "keyfile " << key << "\n";
    if (!FOptions.TlsVersion.empty()) config << "tls_version " << FOptions.TlsVersion << "\n";
    config << "require_certificate " << (FOptions.RequireClientCert ? "true" : "false") << "\n";
  }
  config << FOptions.ExtraConfig << "\n";
  FDir.WriteFile("mosquitto.conf", config.str());
}

void TMosquittoBroker::Start() {
  if (FProcess && FProcess->Running()) return;
  WriteConfig();
  TChildProcess::TOptions options;
  options.MergeStderr = true;
  FProcess =
      std::make_unique<TChildProcess>(std::vector<std::string>{"mosquitto", "-c", ConfigFile()}, options);

  std::vector<std::pair<std::string, int>> listeners;
  if (FPort) listeners.emplace_back("127.0.0.1", FPort);
  if (FTlsPort) listeners.emplace_back("127.0.0.1", FTlsPort);
  if (FIPv6Port) listeners.emplace_back("::1", FIPv6Port);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  for (const auto& [host, port] : listeners) {
    while (!PortAccepts(host, port, std::chrono::milliseconds(500))) {
      if (!FProcess->Running() || std::chrono::steady_clock::now() >= deadline) {
        const std::string log = FProcess->Stdout();
        FProcess->Stop();
        throw std::runtime_error("mosquitto did not start listening on " + host + ":" + std::to_string(port) +
                                 "\n" + log);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  // A port can answer for another process that took it while this broker
  // was stopped; this one then has given up on it.
  if (!FProcess->Running()) {
    const std::string log = FProcess->Stdout();
    FProcess->Stop();
    throw std::runtime_error("mosquitto did not start (a port of its is taken)\n" + log);
  }
}

void TMosquittoBroker::Stop() {
  if (FProcess) FProcess->Stop(std::chrono::milliseconds(5000));
}

bool TMosquittoBroker::Running() { return FProcess && FProcess->Running(); }

std::string TMosquittoBroker::LogText() const { return FProcess ? FProcess->Stdout() : std::string(); }

std::vector<std::string> TMosquittoBroker::ClientArgs() const {
  std::vector<std::string> args{"-h", "127.0.0.1", "-p", std::to_string(FPort), "-V", "mqttv311"};
  if (!FOptions.Users.empty()) {
    args.insert(args.end(), {"-u", FOptions.Users.front().first, "-P", FOptions.Users.front().second});
  }
  return args;
}

std::vector<std::string> TMosquittoBroker::TlsClientArgs() const {
  std::vector<std::string> args{"-h", "localhost", "-p",       std::to_string(FTlsPort),
                                "-V", "mqttv311",  "--cafile", Certificates().CAFile()};
  if (FOptions.RequireClientCert) {
    args.insert(args.end(),
                {"--cert", Certificates().ClientCertFile(), "--key", Certificates().ClientKeyFile()});
  }
  if (!FOptions.Users.empty()) {
    args.insert(args.end(), {"-u", FOptions.Users.front().first, "-P", FOptions.Users.front().second});
  }
  return args;
}

TRunResult MosquittoPub(const std::vector<std::string>& AArgs, const std::string& AStdin,
                        std::chrono::milliseconds ATimeout) {
  return RunProcess(Concat({"mosquitto_pub"}, AArgs), AStdin, ATimeout);
}

TMosquittoSub::TMosquittoSub(const std::vector<std::string>& AArgs, std::chrono::milliseconds ATimeout) {
  FProcess = std::make_unique<TChildProcess>(
      Concat(Concat({"stdbuf", "-oL", "mosquitto_sub", "-d"}, AArgs), {"-F", "MSG\\t%t\\t%p\\n"}));
  if (!FProcess->WaitForStdoutText("received SUBACK", ATimeout)) {
    const std::string output = FProcess->Stdout() + FProcess->Stderr();
    FProcess->Stop();
    throw std::runtime_error("mosquitto_sub did not subscribe: " + output);
  }
}

TMosquittoSub::~TMosquittoSub() {
  if (FProcess) FProcess->Stop();
}

std::vector<TMosquittoSub::TMessage> TMosquittoSub::Messages() const {
  std::vector<TMessage> messages;
  for (const std::string& line : FProcess->StdoutLines()) {
    if (line.rfind("MSG\t", 0) != 0) continue;
    const auto tab = line.find('\t', 4);
    if (tab == std::string::npos) continue;
    messages.push_back({line.substr(4, tab - 4), line.substr(tab + 1)});
  }
  return messages;
}

bool TMosquittoSub::WaitForMessages(std::size_t ACount, std::chrono::milliseconds ATimeout) {
  FProcess->WaitForStdout(
      [ACount](const std::string& AOut) {
        std::size_t count = 0;
        std::string::size_type at = 0;
        while ((at = AOut.find("MSG\t", at)) != std::string::npos) {
          if (at == 0 || AOut[at - 1] == '\n') {
            const auto end = AOut.find('\n', at);
            if (end == std::string::npos) break;
            ++count;
          }
          at += 4;
        }
        return count >= ACount;
      },
      ATimeout);
  return Messages().size() >= ACount;
}

std::vector<std::string> Concat(std::vector<std::string> AFirst, const std::vector<std::string>& ASecond) {
  AFirst.insert(AFirst.end(), ASecond.begin(), ASecond.end());
  return AFirst;
}

}  // namespace tessiva::test
