// tessiva-cli sub: subscribes to topic filters and prints every message
// received, payload (with -v: topic, a space, payload) and a newline.
#include <chrono>
#include <cstdio>

#include "CliCommand.h"
#include "CliMqtt.h"
#include "CliOptions.h"
#include "Nelo.MQTT.Topics.h"

namespace {

// mosquitto_sub's status for an elapsed -W.
constexpr int kTimedOutStatus = 27;

struct TSubOptions {
  TCliConnectOptions Connect;
  TNeloStringArray Topics;
  TNeloMQTTQoS Qos = qosAtMostOnce;
  long Count = 0;
  int WaitSeconds = 0;
  bool Verbose = false;
};

int RunSub(const std::vector<std::string>& AArgs) {
  TSubOptions o;
  TSubOptions* p = &o;
  TCliParser parser("sub", "usage: tessiva-cli sub -t FILTER [-t FILTER ...] [options]");
  parser
      .MqttText("-t", "--topic", "FILTER", "topic filter (repeatable)",
                [p](const std::string& v) { p->Topics.push_back(v); })
      .Value("-q", "--qos", "QOS", "requested QoS 0, 1 or 2 (0)",
             [p](const std::string& v) { p->Qos = ParseQos(v); })
      .Int("-C", "", "COUNT", "end after COUNT messages", 1, 2000000000, [p](long v) { p->Count = v; })
      .Int("-W", "", "SECONDS", "end after SECONDS (exit status 27)", 1, 86400,
           [p](long v) { p->WaitSeconds = static_cast<int>(v); })
      .Flag("-v", "--verbose", "print the topic before the payload", [p] { p->Verbose = true; })
      .Connection(o.Connect);
  if (const auto status = parser.Parse(AArgs)) return *status;
  if (o.Topics.empty()) return parser.UsageError("at least one topic filter is needed (-t)");
  for (const std::string& filter : o.Topics) {
    if (!TNeloMQTTTopic::ValidateTopicFilter(filter)) {
      std::fprintf(stderr, "tessiva-cli sub: '%s' is not a valid topic filter\n", filter.c_str());
      return 1;
    }
  }
  InstallStopSignals();

  TCliSession session("sub", o.Connect);
  TNeloMQTTClient& client = session.Client();
  client.SetPacketSentNotifications(false);
  // Come back after a lost connection, and subscribe again once accepted.
  client.KeepAliveSettings()->SetAutoReconnect(true);
  client.KeepAliveSettings()->SetAutoReconnectInterval(1);

  long received = 0;
  client.OnPublishReceived = [&](TNeloObject*, uint16_t, const std::string& ATopic,
                                 const TNeloMQTTBytes& APayload) {
    if (o.Count > 0 && received >= o.Count) return;
    ++received;
    if (o.Verbose) {
      std::fwrite(ATopic.data(), 1, ATopic.size(), stdout);
      std::fputc(' ', stdout);
    }
    std::fwrite(APayload.data(), 1, APayload.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  };
  bool acknowledged = false;
  size_t refused = 0;
  client.OnSubscriptionAcknowledged = [&](TNeloObject*, uint16_t,
                                          const TNeloMQTTSubscriptions& ASubscriptions) {
    acknowledged = true;
    refused = 0;
    for (const TNeloMQTTSubscription& s : ASubscriptions) {
      if (!s.Accepted) {
        ++refused;
        session.Fail("subscription to '" + s.Topic + "' refused");
      }
    }
  };
  bool resubscribe = false;
  client.OnConnectedStatusChanged = [&](TNeloObject*, bool AConnected, TNeloMQTTConnectionStatus) {
    if (AConnected) resubscribe = true;
  };

  if (!session.Connect()) return session.FailureExitCode();
  resubscribe = false;
  const TNeloQosArray levels(o.Topics.size(), o.Qos);
  client.Subscribe(o.Topics, levels);
  session.PumpUntil([&] { return acknowledged || !client.IsConnected(); },
                    std::chrono::steady_clock::now() + std::chrono::seconds(15));
  if (!acknowledged) {
    session.Fail(client.IsConnected() ? "no SUBACK from the broker" : "connection lost while subscribing");
    session.Disconnect();
    return 1;
  }
  if (refused == o.Topics.size()) {
    session.Disconnect();
    return 1;
  }

  const auto deadline = o.WaitSeconds > 0
                            ? std::chrono::steady_clock::now() + std::chrono::seconds(o.WaitSeconds)
                            : CliNoDeadline();
  const bool done = session.PumpUntil(
      [&] {
        if (resubscribe && client.IsConnected()) {
          resubscribe = false;
          client.Subscribe(o.Topics, levels);
        }
        return o.Count > 0 && received >= o.Count;
      },
      deadline, 100);
  session.Disconnect();
  if (done || CliStopRequested()) return 0;
  session.Fail("timed out");
  return kTimedOutStatus;
}

}  // namespace

TESSIVA_CLI_COMMAND("sub", "subscribe and print messages (like mosquitto_sub)", RunSub);
