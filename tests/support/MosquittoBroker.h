// A real mosquitto broker for one test suite, on free loopback ports: a plain
// listener, optionally a TLS listener (certificates from TTestCertificates)
// and an IPv6 loopback listener, optionally a password file with anonymous
// access off. Stop() and Start() again keep the ports (reconnect tests).
// The broker is killed when the object goes away.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ChildProcess.h"
#include "TempDir.h"
#include "TestCertificates.h"

namespace tessiva::test {

struct TBrokerOptions {
  bool Plain = true;  // plain listener on 127.0.0.1
  bool Tls = false;   // TLS listener on 127.0.0.1
  bool IPv6 = false;  // plain listener on ::1
  enum TServerCert { scValid, scWrongHost, scUntrusted };
  TServerCert ServerCert = scValid;  // the certificate the TLS listener presents
  bool RequireClientCert = false;    // TLS clients must present a certificate of the test CA
  std::string TlsVersion;  // lowest TLS version accepted, e.g. "tlsv1.3"; empty: the broker's default
  // Non-empty: a password file with these users, anonymous access off.
  std::vector<std::pair<std::string, std::string>> Users;
  std::string ExtraConfig;  // appended to the configuration as it stands
};

// A free TCP port on the loopback interface (of AFamily: AF_INET or AF_INET6).
int FreeLoopbackPort(int AFamily = 2 /* AF_INET */);

// True when a TCP connection to AHost:APort is accepted within ATimeout.
bool PortAccepts(const std::string& AHost, int APort, std::chrono::milliseconds ATimeout);

class TMosquittoBroker {
 public:
  explicit TMosquittoBroker(TBrokerOptions AOptions = TBrokerOptions());
  ~TMosquittoBroker();
  TMosquittoBroker(const TMosquittoBroker&) = delete;
  TMosquittoBroker& operator=(const TMosquittoBroker&) = delete;

  // Starts the broker (again) and waits until every listener accepts.
  // Throws std::runtime_error with the broker's output when it fails.
  void Start();
  // Kills the broker and waits for its end; the ports are kept for Start().
  void Stop();
  bool Running();

  std::string Host() const { return "127.0.0.1"; }
  int Port() const { return FPort; }        // plain listener, 0 when off
  int TlsPort() const { return FTlsPort; }  // TLS listener, 0 when off
  int IPv6Port() const { return FIPv6Port; }
  const TBrokerOptions& Options() const { return FOptions; }
  const TTestCertificates& Certificates() const { return TTestCertificates::Shared(); }
  // The broker's log so far (of the current run).
  std::string LogText() const;
  std::string ConfigFile() const { return FDir.File("mosquitto.conf"); }

  // mosquitto_pub / mosquitto_sub arguments to reach the plain listener
  // (with the first user's credentials when there is a password file).
  std::vector<std::string> ClientArgs() const;
  // The same for the TLS listener, trusting the test CA.
  std::vector<std::string> TlsClientArgs() const;

 private:
  void WriteConfig();

  TBrokerOptions FOptions;
  TTempDir FDir;
  int FPort = 0, FTlsPort = 0, FIPv6Port = 0;
  std::unique_ptr<TChildProcess> FProcess;
};

// Runs mosquitto_pub to its end: AArgs follow the program name, e.g.
// MosquittoPub(Concat(broker.ClientArgs(), {"-t", "a/b", "-m", "hi"})).
TRunResult MosquittoPub(const std::vector<std::string>& AArgs, const std::string& AStdin = std::string(),
                        std::chrono::milliseconds ATimeout = std::chrono::milliseconds(20000));

// A running mosquitto_sub (line-buffered through stdbuf) whose received messages are read as
// "topic<TAB>payload" records (one per line; payload newlines are escaped
// neither way, so use single-line payloads).
class TMosquittoSub {
 public:
  // Starts mosquitto_sub with AArgs (connection, -t, -q, ...) and waits
  // until its subscription is acknowledged. Throws std::runtime_error when
  // it does not get that far within ATimeout.
  explicit TMosquittoSub(const std::vector<std::string>& AArgs,
                         std::chrono::milliseconds ATimeout = std::chrono::milliseconds(15000));
  ~TMosquittoSub();

  struct TMessage {
    std::string Topic;
    std::string Payload;
  };
  std::vector<TMessage> Messages() const;
  // Waits until at least ACount messages have arrived.
  bool WaitForMessages(std::size_t ACount, std::chrono::milliseconds ATimeout);
  TChildProcess& Process() { return *FProcess; }
  void Stop() { FProcess->Stop(); }

 private:
  std::unique_ptr<TChildProcess> FProcess;
};

// AFirst followed by ASecond.
std::vector<std::string> Concat(std::vector<std::string> AFirst, const std::vector<std::string>& ASecond);

}  // namespace tessiva::test
