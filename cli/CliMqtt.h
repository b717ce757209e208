// Shared parts of `tessiva-cli pub` and `tessiva-cli sub`: the connection
// options (named after mosquitto_pub / mosquitto_sub), the engine client with
// its logger, and the main-thread loop that serves the engine's hand-offs.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Nelo.MQTT.Client.h"
#include "Nelo.MQTT.Logging.h"

// Exit statuses shared by every command (listed in `tessiva-cli --help`).
enum TCliExitCode {
  ceOk = 0,
  ceFailure = 1,      // the command did not do what it was asked (messages lost, jobs not done)
  ceUsage = 2,        // a command-line error
  ceRefused = 3,      // the broker refused the connection (credentials, not authorised, identifier)
  ceTls = 4,          // TLS failed (certificate not trusted, wrong host name, handshake)
  ceUnreachable = 5,  // the broker could not be reached or did not answer
};
// The exit status for a connection that did not come up: the status it
// ended in and the engine's last error text.
int ConnectFailureExitCode(TNeloMQTTConnectionStatus AStatus, const std::string& ALastError);
// Lines for --help.
const char* CliExitCodesHelp();

// A command-line error: reported as one line, exit status 2.
class ECliUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TCliConnectOptions {
  std::string Host = "localhost";
  int Port = 0;  // 0: 1883, or 8883 with TLS
  std::string Username, Password;
  std::string ClientId;
  bool CleanSession = true;
  int KeepAlive = 60;
  bool Debug = false;
  bool Tls = false;
  std::string CAFile, CAPath, CertFile, KeyFile;
  bool Insecure = false;
  std::string WillTopic, WillPayload;
  TNeloMQTTQoS WillQos = qosAtMostOnce;
  bool WillRetain = false;
  bool IPv6 = false;
};

TNeloMQTTQoS ParseQos(const std::string& AText);

// The engine logger of the CLI: with -d every line goes to standard error;
// without, nothing is printed, but the last error text is kept for the
// one-line failure message.
class TCliLogger : public TNeloMQTTLogger {
 public:
  explicit TCliLogger(bool AVerbose);
  void DoLog(TNeloObject* Sender, TNeloMQTTLogLevel ALevel, const std::exception* AException,
             const std::string& AMessage) override;
  std::string LastError() const;
  // Why a connection failed: the last TLS error when there was one (the
  // lines that follow it, a write that found the connection gone, say little),
  // otherwise the last error.
  std::string FailureReason() const;

 private:
  bool FVerbose;
  mutable std::mutex FLock;
  std::string FLastError;
  std::string FTlsError;
};
// Whether an error text speaks of TLS (handshake, alert, certificate).
bool IsTlsErrorText(const std::string& AText);

// Applies the connection options to a client (host, port, credentials,
// keep-alive, will, TLS) and links ALogger.
void ConfigureClient(TNeloMQTTClient& AClient, const TCliConnectOptions& AOptions, TCliLogger* ALogger);

// One client, connected through the options, plus the hand-off loop.
class TCliSession {
 public:
  TCliSession(const std::string& ACommand, const TCliConnectOptions& AOptions);
  ~TCliSession();

  TNeloMQTTClient& Client() { return *FClient; }
  // Connects and waits for the CONNACK. On failure prints one line on
  // standard error and returns false.
  bool Connect(std::chrono::milliseconds ATimeout = std::chrono::milliseconds(15000));
  // Serves hand-offs until ADone holds, AStop (a signal) is set or the
  // deadline passes; returns ADone's last value.
  bool PumpUntil(const std::function<bool()>& ADone, std::chrono::steady_clock::time_point ADeadline,
                 int AStepMs = 20);
  // Serves hand-offs for at most AMs.
  void Pump(int AMs);
  // Disconnects cleanly when connected.
  void Disconnect();
  // Prints "tessiva-cli <command>: <text>" on standard error.
  void Fail(const std::string& AText) const;
  std::string ConnectionError() const;
  // After a failed Connect: the exit status that names the failure.
  int FailureExitCode() const { return FFailureExitCode; }
  TCliLogger& Logger() { return *FLogger; }

 private:
  std::string FCommand;
  TCliConnectOptions FOptions;
  std::unique_ptr<TCliLogger> FLogger;
  std::unique_ptr<TNeloMQTTClient> FClient;
  int FFailureExitCode = ceFailure;
};

// Text for a rejecting connection status.
std::string ConnectionStatusText(TNeloMQTTConnectionStatus AStatus);

// Set by SIGINT / SIGTERM once InstallStopSignals has run.
bool CliStopRequested();
void InstallStopSignals();

std::chrono::steady_clock::time_point CliNoDeadline();
