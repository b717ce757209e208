#include "CliMqtt.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "Nelo.MQTT.HandOff.h"

// ---------------------------------------------------------------------------
// Options

TNeloMQTTQoS ParseQos(const std::string& AText) {
  if (AText == "0") return qosAtMostOnce;
  if (AText == "1") return qosAtLeastOnce;
  if (AText == "2") return qosExactlyOnce;
  throw ECliUsage("QoS must be 0, 1 or 2, not '" + AText + "'");
}

// ---------------------------------------------------------------------------
// Logger

TCliLogger::TCliLogger(bool AVerbose) : FVerbose(AVerbose) { SetVerbosity(AVerbose ? vDEBUG : vNONE); }

void TCliLogger::DoLog(TNeloObject* Sender, TNeloMQTTLogLevel ALevel, const std::exception* AException,
                       const std::string& AMessage) {
  if (ALevel <= vERROR && ALevel != vNONE) {
    std::lock_guard<std::mutex> lock(FLock);
    FLastError = AException != nullptr ? AMessage + ": " + AException->what() : AMessage;
    if (IsTlsErrorText(FLastError)) FTlsError = FLastError;
  }
  if (FVerbose) TNeloMQTTLogger::DoLog(Sender, ALevel, AException, AMessage);
}

std::string TCliLogger::LastError() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FLastError;
}

std::string TCliLogger::FailureReason() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FTlsError.empty() ? FLastError : FTlsError;
}

bool IsTlsErrorText(const std::string& AText) {
  return AText.find("TLS") != std::string::npos || AText.find("certificate") != std::string::npos;
}

// ---------------------------------------------------------------------------
// Session

std::string ConnectionStatusText(TNeloMQTTConnectionStatus AStatus) {
  switch (AStatus) {
    case csConnectionRejected_InvalidProtocolVersion:
      return "connection refused: unacceptable protocol version";
    case csConnectionRejected_InvalidIdentifier:
      return "connection refused: identifier rejected";
    case csConnectionRejected_ServerUnavailable:
      return "connection refused: server unavailable";
    case csConnectionRejected_InvalidCredentials:
      return "connection refused: bad user name or password";
    case csConnectionRejected_ClientNotAuthorized:
      return "connection refused: not authorised";
    case csConnectionLost:
      return "connection lost";
    default:
      return "not connected";
  }
}

void ConfigureClient(TNeloMQTTClient& AClient, const TCliConnectOptions& AOptions, TCliLogger* ALogger) {
  TNeloMQTTClient& c = AClient;
  c.SetLogger(ALogger);
  c.SetBrokerHostName(AOptions.Host);
  c.SetBrokerPort(AOptions.Port != 0 ? AOptions.Port : (AOptions.Tls ? 8883 : 1883));
  c.SetIPVersion(AOptions.IPv6 ? Id_IPv6 : Id_IPv4);
  c.SetUseSSL(AOptions.Tls);
  c.SetClientID(AOptions.ClientId);
  c.Credentials()->SetUsername(AOptions.Username);
  c.Credentials()->SetPassword(AOptions.Password);
  c.KeepAliveSettings()->SetKeepAliveInterval(static_cast<uint16_t>(AOptions.KeepAlive));
  c.KeepAliveSettings()->SetKeepConnectionAlive(AOptions.KeepAlive > 0);
  c.LastWillSettings()->SetTopic(AOptions.WillTopic);
  c.LastWillSettings()->SetWillMessage(AOptions.WillPayload);
  c.LastWillSettings()->SetQoS(AOptions.WillQos);
  c.LastWillSettings()->SetRetain(AOptions.WillRetain);
  if (AOptions.Tls) {
    TNeloMQTTTlsSettings* tls = c.Connection()->SSLIOHandler();
    tls->CAFile = AOptions.CAFile;
    tls->CAPath = AOptions.CAPath;
    tls->CertFile = AOptions.CertFile;
    tls->KeyFile = AOptions.KeyFile;
    // As with mosquitto_pub: --insecure skips the host-name check only; the
    // chain is still verified.
    tls->VerifyPeer = true;
    tls->VerifyHostName = !AOptions.Insecure;
  }
}

int ConnectFailureExitCode(TNeloMQTTConnectionStatus AStatus, const std::string& ALastError) {
  switch (AStatus) {
    case csConnectionRejected_InvalidProtocolVersion:
    case csConnectionRejected_InvalidIdentifier:
    case csConnectionRejected_InvalidCredentials:
    case csConnectionRejected_ClientNotAuthorized:
      return ceRefused;
    default:
      break;
  }
  if (IsTlsErrorText(ALastError)) return ceTls;
  // A CONNACK with return code 3 (no network error behind it) is a refusal.
  if (AStatus == csConnectionRejected_ServerUnavailable && ALastError.empty()) return ceRefused;
  return ceUnreachable;
}

const char* CliExitCodesHelp() {
  return "exit status:\n"
         "  0  done\n"
         "  1  failed (messages not delivered, jobs not done exactly once, ...)\n"
         "  2  command-line error\n"
         "  3  the broker refused the connection (credentials, not authorised)\n"
         "  4  TLS failure (certificate not trusted, host name, handshake)\n"
         "  5  the broker could not be reached or did not answer\n";
}

TCliSession::TCliSession(const std::string& ACommand, const TCliConnectOptions& AOptions)
    : FCommand(ACommand), FOptions(AOptions) {
  NeloSetMainThread();
  FLogger = std::make_unique<TCliLogger>(AOptions.Debug);
  FClient = std::make_unique<TNeloMQTTClient>();
  ConfigureClient(*FClient, AOptions, FLogger.get());
}

TCliSession::~TCliSession() {
  FClient.reset();
  FLogger.reset();
}

void TCliSession::Fail(const std::string& AText) const {
  std::fprintf(stderr, "tessiva-cli %s: %s\n", FCommand.c_str(), AText.c_str());
}

std::string TCliSession::ConnectionError() const {
  const std::string last = FLogger->FailureReason();
  const std::string where = FOptions.Host + ":" + std::to_string(FClient->BrokerPort());
  if (!last.empty()) return "cannot connect to " + where + " (" + last + ")";
  return "cannot connect to " + where;
}

void TCliSession::Pump(int AMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
  while (std::chrono::steady_clock::now() < deadline) NeloCheckSynchronize(5);
}

bool TCliSession::PumpUntil(const std::function<bool()>& ADone,
                            std::chrono::steady_clock::time_point ADeadline, int AStepMs) {
  for (;;) {
    if (ADone()) return true;
    if (CliStopRequested() || std::chrono::steady_clock::now() >= ADeadline) return ADone();
    NeloCheckSynchronize(AStepMs);
  }
}

bool TCliSession::Connect(std::chrono::milliseconds ATimeout) {
  TNeloMQTTClient& c = *FClient;
  c.Connect(FOptions.CleanSession);
  auto settled = [&c] {
    const TNeloMQTTConnectionStatus s = c.ConnectionStatus();
    return (s != csConnecting && s != csReconnecting) || !c.Session()->HasActiveNetworkConnection();
  };
  PumpUntil(settled, std::chrono::steady_clock::now() + ATimeout);
  const TNeloMQTTConnectionStatus status = c.ConnectionStatus();
  if (status == csConnected) return true;
  const std::string reason = FLogger->FailureReason();
  FFailureExitCode = ConnectFailureExitCode(status, reason);
  if (IsTlsErrorText(reason)) {
    // TLS failed, in the handshake or (TLS 1.3: a client certificate
    // missing or refused) in an alert right after it.
    Fail(ConnectionError());
  } else if (status == csConnecting) {
    // Open, but no CONNACK: the peer closed the connection or never answered.
    Fail(c.Session()->HasActiveNetworkConnection() ? "no answer from " + FOptions.Host + " (no CONNACK)"
                                                   : "the broker closed the connection before its CONNACK");
  } else if (status == csConnectionRejected_ServerUnavailable && !reason.empty()) {
    Fail(ConnectionError());
  } else {
    Fail(ConnectionStatusText(status));
  }
  return false;
}

void TCliSession::Disconnect() {
  if (FClient->IsConnected()) FClient->Disconnect();
}

// ---------------------------------------------------------------------------
// Signals

namespace {
volatile std::sig_atomic_t s_stop = 0;
void OnStopSignal(int) { s_stop = 1; }
}  // namespace

bool CliStopRequested() { return s_stop != 0; }

void InstallStopSignals() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
}

std::chrono::steady_clock::time_point CliNoDeadline() {
  return std::chrono::steady_clock::now() + std::chrono::hours(24 * 365);
}
