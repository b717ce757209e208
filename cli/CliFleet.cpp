#include "CliFleet.h"

TNeloMQTTFleetOptions FleetOptionsFrom(const TCliConnectOptions& AOptions,
                                       const std::vector<boost::asio::ip::address>& ASources) {
  TNeloMQTTFleetOptions o;
  o.Host = AOptions.Host;
  o.Port = static_cast<uint16_t>(AOptions.Port != 0 ? AOptions.Port : (AOptions.Tls ? 8883 : 1883));
  o.IPv6 = AOptions.IPv6;
  o.UseSSL = AOptions.Tls;
  o.Tls.CAFile = AOptions.CAFile;
  o.Tls.CAPath = AOptions.CAPath;
  o.Tls.CertFile = AOptions.CertFile;
  o.Tls.KeyFile = AOptions.KeyFile;
  // As with mosquitto_pub: --insecure skips the host-name check only; the
  // chain is still verified.
  o.Tls.VerifyPeer = true;
  o.Tls.VerifyHostName = !AOptions.Insecure;
  o.BindAddresses = ASources;
  o.LogVerbosity = AOptions.Debug ? vDEBUG : vERROR;
  return o;
}

TNeloMQTTFleetSessionSettings SessionSettingsFrom(const TCliConnectOptions& AOptions, int AReconnectS) {
  TNeloMQTTFleetSessionSettings s;
  TNeloMQTTCoreOptions& c = s.Connect;
  c.ClientId = AOptions.ClientId;
  c.CleanSession = AOptions.CleanSession;
  c.KeepAliveInterval = static_cast<uint16_t>(AOptions.KeepAlive);
  c.KeepConnectionAlive = AOptions.KeepAlive > 0;
  c.Username = AOptions.Username;
  c.Password = AOptions.Password;
  c.WillTopic = AOptions.WillTopic;
  c.WillMessage = AOptions.WillPayload;
  c.WillQoS = AOptions.WillQos;
  c.WillRetain = AOptions.WillRetain;
  s.AutoReconnect = true;
  s.ReconnectIntervalS = AReconnectS;
  return s;
}

void CheckMqttTextLengths(const TCliConnectOptions& AOptions, std::size_t ASuffixBytes,
                          const std::vector<std::string>& ATopicTemplates,
                          const std::vector<std::string>& ASerials) {
  constexpr std::size_t kMaxText = 65535;
  auto check = [](const char* AWhat, std::size_t ASize) {
    if (ASize > kMaxText)
      throw ECliUsage(std::string(AWhat) + " is " + std::to_string(ASize) +
                      " bytes; MQTT carries at most 65535");
  };
  if (!AOptions.ClientId.empty()) check("the client id", AOptions.ClientId.size() + ASuffixBytes);
  check("the user name", AOptions.Username.size());
  check("the password", AOptions.Password.size());
  check("the will topic", AOptions.WillTopic.size());
  check("the will message", AOptions.WillPayload.size());
  std::size_t longest = 0;
  const std::string* serial = nullptr;
  for (const std::string& s : ASerials)
    if (serial == nullptr || s.size() > longest) {
      longest = s.size();
      serial = &s;
    }
  for (const std::string& t : ATopicTemplates)
    check("a topic", ExpandSerial(t, serial ? *serial : "").size());
}

void LogFleetLine(TCliLogger& ALogger, TNeloObject* ASender, TNeloMQTTLogLevel ALevel,
                  const std::string& AText) {
  if (ALevel <= vERROR)
    TNeloMQTTLogHelper::Error(&ALogger, ASender, AText);
  else if (ALevel == vWARNING)
    TNeloMQTTLogHelper::Warning(&ALogger, ASender, AText);
  else if (ALevel == vINFO)
    TNeloMQTTLogHelper::Info(&ALogger, ASender, AText);
  else
    TNeloMQTTLogHelper::Debug(&ALogger, ASender, AText);
}

TRenderPool::TRenderPool(unsigned AThreads) {
  if (AThreads == 0) AThreads = 1;
  for (unsigned i = 0; i < AThreads; ++i)
    FThreads.emplace_back([this] {
      for (;;) {
        std::function<void()> step;
        {
          std::unique_lock<std::mutex> guard(FLock);
          FWake.wait(guard, [this] { return FEnd || !FSteps.empty(); });
          if (FSteps.empty()) return;
          step = std::move(FSteps.front());
          FSteps.pop_front();
        }
        step();
      }
    });
}

TRenderPool::~TRenderPool() {
  {
    // Steps not begun are dropped; the ones running finish.
    std::lock_guard<std::mutex> guard(FLock);
    FEnd = true;
    FSteps.clear();
  }
  FWake.notify_all();
  for (std::thread& t : FThreads) t.join();
}

void TRenderPool::Post(std::function<void()> AStep) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FSteps.push_back(std::move(AStep));
  }
  FWake.notify_one();
}
