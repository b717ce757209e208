#include "CliOptions.h"

#include <cstdio>
#include <cstdlib>

TCliParser::TCliParser(std::string ACommand, std::string AUsage)
    : FCommand(std::move(ACommand)), FUsage(std::move(AUsage)) {
  Flag("", "--help", "this text", nullptr);
}

TCliParser& TCliParser::Flag(const std::string& AShort, const std::string& ALong, const std::string& AHelp,
                             std::function<void()> AAction) {
  TOption o;
  o.Short = AShort;
  o.Long = ALong;
  o.Help = AHelp;
  if (AAction) o.Action = [AAction](const std::string&) { AAction(); };
  FOptions.push_back(std::move(o));
  return *this;
}

TCliParser& TCliParser::Value(const std::string& AShort, const std::string& ALong,
                              const std::string& AValueName, const std::string& AHelp,
                              std::function<void(const std::string&)> AAction) {
  TOption o;
  o.Short = AShort;
  o.Long = ALong;
  o.ValueName = AValueName;
  o.Help = AHelp;
  o.Action = std::move(AAction);
  o.TakesValue = true;
  FOptions.push_back(std::move(o));
  return *this;
}

TCliParser& TCliParser::Int(const std::string& AShort, const std::string& ALong,
                            const std::string& AValueName, const std::string& AHelp, long AMin, long AMax,
                            std::function<void(long)> AAction) {
  const std::string name = ALong.empty() ? AShort : ALong;
  return Value(AShort, ALong, AValueName, AHelp, [name, AMin, AMax, AAction](const std::string& AText) {
    char* end = nullptr;
    const long value = std::strtol(AText.c_str(), &end, 10);
    if (AText.empty() || *end != '\0' || value < AMin || value > AMax)
      throw ECliUsage("option " + name + ": '" + AText + "' is not a number from " + std::to_string(AMin) +
                      " to " + std::to_string(AMax));
    AAction(value);
  });
}

TCliParser& TCliParser::Number(const std::string& ALong, const std::string& AValueName,
                               const std::string& AHelp, double AMin, double AMax,
                               std::function<void(double)> AAction) {
  return Value("", ALong, AValueName, AHelp, [ALong, AMin, AMax, AAction](const std::string& AText) {
    char* end = nullptr;
    const double value = std::strtod(AText.c_str(), &end);
    if (AText.empty() || *end != '\0' || !(value >= AMin && value <= AMax))
      throw ECliUsage("option " + ALong + ": '" + AText + "' is not a number from " + std::to_string(AMin) +
                      " to " + std::to_string(AMax));
    AAction(value);
  });
}

TCliParser& TCliParser::Operands(std::function<void(const std::string&)> AAction) {
  FOperands = std::move(AAction);
  return *this;
}

TCliParser& TCliParser::Section(const std::string& ATitle) {
  TOption o;
  o.Help = ATitle;
  o.IsSection = true;
  FOptions.push_back(std::move(o));
  return *this;
}

TCliParser& TCliParser::Epilog(const std::string& AText) {
  FEpilog = AText;
  return *this;
}

TCliParser& TCliParser::ExitStatuses(const std::string& AText) {
  FExitStatuses = AText;
  return *this;
}

TCliParser& TCliParser::Connection(TCliConnectOptions& AOptions, bool AWithWill) {
  TCliConnectOptions* o = &AOptions;
  Section("connection");
  Value("-h", "--host", "HOST", "broker host (localhost)", [o](const std::string& v) { o->Host = v; });
  Int("-p", "--port", "PORT", "broker port (1883, 8883 with TLS)", 1, 65535,
      [o](long v) { o->Port = static_cast<int>(v); });
  Flag("-6", "", "connect over IPv6", [o] { o->IPv6 = true; });
  Value("-u", "--username", "USER", "user name", [o](const std::string& v) { o->Username = v; });
  Value("-P", "--pw", "PASS", "password", [o](const std::string& v) { o->Password = v; });
  Value("-i", "--id", "ID", "client id (random when not given)",
        [o](const std::string& v) { o->ClientId = v; });
  Flag("-c", "--disable-clean-session", "clean session off", [o] { o->CleanSession = false; });
  Int("-k", "--keepalive", "SECONDS", "keep-alive (60)", 0, 65535,
      [o](long v) { o->KeepAlive = static_cast<int>(v); });
  Flag("-d", "--debug", "engine log on standard error", [o] { o->Debug = true; });
  Flag("", "--tls", "TLS, verifying the broker against the system trust store", [o] { o->Tls = true; });
  Value("", "--cafile", "FILE", "trust this CA file (implies --tls)", [o](const std::string& v) {
    o->CAFile = v;
    o->Tls = true;
  });
  Value("", "--capath", "DIR", "trust the CA certificates in DIR (implies --tls)", [o](const std::string& v) {
    o->CAPath = v;
    o->Tls = true;
  });
  Value("", "--cert", "FILE", "client certificate (implies --tls)", [o](const std::string& v) {
    o->CertFile = v;
    o->Tls = true;
  });
  Value("", "--key", "FILE", "client key (implies --tls)", [o](const std::string& v) {
    o->KeyFile = v;
    o->Tls = true;
  });
  Flag("", "--insecure", "do not check the host name in the broker's certificate",
       [o] { o->Insecure = true; });
  if (AWithWill) {
    Value("", "--will-topic", "TOPIC", "last will topic", [o](const std::string& v) { o->WillTopic = v; });
    Value("", "--will-payload", "TEXT", "last will message",
          [o](const std::string& v) { o->WillPayload = v; });
    Value("", "--will-qos", "QOS", "last will QoS", [o](const std::string& v) { o->WillQos = ParseQos(v); });
    Flag("", "--will-retain", "retain the last will", [o] { o->WillRetain = true; });
  }
  return *this;
}

TCliParser& TCliParser::Printers(TFleetOptions& AOptions) {
  TFleetOptions* o = &AOptions;
  Section("printers");
  Value("", "--serial", "SN", "one printer", [o](const std::string& v) { o->Serial = v; });
  Int("", "--count", "N", "N printers, numbered from 1", 1, 10000000, [o](long v) { o->Count = v; });
  Value("", "--serial-format", "F",
        "their serials: a printf format with one integer conversion, e.g. 'SN%04d'",
        [o](const std::string& v) { o->SerialFormat = v; });
  Value("", "--shard", "K/N", "only the K-th of N equal parts of the numbers", [o](const std::string& v) {
    char* end = nullptr;
    const long k = std::strtol(v.c_str(), &end, 10);
    long n = 0;
    if (end != v.c_str() && end != nullptr && *end == '/') {
      char* end2 = nullptr;
      n = std::strtol(end + 1, &end2, 10);
      if (end2 == end + 1 || *end2 != '\0') n = 0;
    }
    if (n < 1 || k < 1 || k > n) throw ECliUsage("--shard takes K/N with 1 <= K <= N, not '" + v + "'");
    o->ShardIndex = k;
    o->ShardCount = n;
  });
  Value("", "--jobs", "TOPIC", "job topic; {serial} stands for the serial",
        [o](const std::string& v) { o->JobsTopic = v; });
  Value("", "--replies", "TOPIC", "reply topic; {serial} stands for the serial",
        [o](const std::string& v) { o->RepliesTopic = v; });
  return *this;
}

std::string TCliParser::Help() const {
  std::string out = FUsage;
  if (!out.empty() && out.back() != '\n') out += '\n';
  for (const TOption& o : FOptions) {
    if (o.IsSection) {
      out += "\n" + o.Help + ":\n";
      continue;
    }
    std::string names = o.Short;
    if (!o.Long.empty()) names += (names.empty() ? "" : ", ") + o.Long;
    if (o.TakesValue) names += " " + o.ValueName;
    std::string line = "  " + names;
    if (line.size() < 26)
      line.resize(26, ' ');
    else
      line += "\n" + std::string(26, ' ');
    out += line + o.Help + "\n";
  }
  if (!FEpilog.empty()) out += "\n" + FEpilog + (FEpilog.back() == '\n' ? "" : "\n");
  out += "\n";
  out += FExitStatuses.empty() ? std::string(CliExitCodesHelp()) : FExitStatuses;
  return out;
}

int TCliParser::UsageError(const std::string& AMessage) const {
  std::fprintf(stderr, "tessiva-cli %s: %s (see tessiva-cli %s --help)\n", FCommand.c_str(), AMessage.c_str(),
               FCommand.c_str());
  return ceUsage;
}

std::optional<int> TCliParser::Parse(const std::vector<std::string>& AArgs) {
  bool help = false;
  try {
    for (std::size_t i = 0; i < AArgs.size(); ++i) {
      const std::string& a = AArgs[i];
      const TOption* found = nullptr;
      for (const TOption& o : FOptions)
        if (!o.IsSection && (a == o.Short || a == o.Long) && !a.empty()) found = &o;
      if (found == nullptr && FOperands && (a == "-" || a.empty() || a[0] != '-')) {
        FOperands(a);
        continue;
      }
      if (found == nullptr) throw ECliUsage("unknown option " + a);
      if (found->Long == "--help") {
        help = true;
        continue;
      }
      std::string value;
      if (found->TakesValue) {
        if (i + 1 >= AArgs.size()) throw ECliUsage(a + " needs a value");
        value = AArgs[++i];
      }
      if (found->Action) found->Action(value);
    }
  } catch (const ECliUsage& e) {
    return UsageError(e.what());
  }
  if (help) {
    std::fputs(Help().c_str(), stdout);
    return ceOk;
  }
  return std::nullopt;
}
