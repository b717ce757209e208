// tessiva-cli pub: publishes one message, a repeated message, standard input
// or one message per input line, and waits until every QoS 1/2 message is
// acknowledged. Exit status 0 only when everything was delivered.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <unordered_map>

#include "CliCommand.h"
#include "CliMqtt.h"
#include "CliOptions.h"
#include "Nelo.MQTT.HandOff.h"
#include "Nelo.MQTT.Topics.h"
#include "Nelo.MQTT.Utils.h"

namespace {

enum TSource { msNone, msText, msFile, msStdin, msLines, msEmpty };

constexpr std::size_t kMaxRemainingLength = static_cast<std::size_t>(NeloMQTTMaxRemainingLength);
// How long pub waits for a lost connection to come back (unless -W ends
// the wait first).
constexpr std::chrono::seconds kReconnectWait{60};

struct TPubOptions {
  TCliConnectOptions Connect;
  std::string Topic;
  TSource Source = msNone;
  std::string Text;
  std::string File;
  TNeloMQTTQoS Qos = qosAtMostOnce;
  bool Retain = false;
  long Repeat = 1;
  int WaitSeconds = 0;
};

void SetSource(TPubOptions& AOptions, TSource ASource) {
  if (AOptions.Source != msNone && AOptions.Source != ASource)
    throw ECliUsage("use only one of -m, -f, -s, -l and -n");
  AOptions.Source = ASource;
}

// Declares pub's options on AParser, writing into AOptions.
void DeclarePub(TCliParser& AParser, TPubOptions& AOptions) {
  TPubOptions* o = &AOptions;
  AParser
      .MqttText("-t", "--topic", "TOPIC", "topic to publish to", [o](const std::string& v) { o->Topic = v; })
      .Value("-m", "--message", "TEXT", "the message",
             [o](const std::string& v) {
               SetSource(*o, msText);
               o->Text = v;
             })
      .Value("-f", "--file", "FILE", "the file's bytes as the message",
             [o](const std::string& v) {
               SetSource(*o, msFile);
               o->File = v;
             })
      .Flag("-s", "--stdin-file", "standard input, byte for byte, as one message",
            [o] { SetSource(*o, msStdin); })
      .Flag("-l", "--stdin-line", "one message per line of standard input", [o] { SetSource(*o, msLines); })
      .Flag("-n", "--null-message", "an empty message", [o] { SetSource(*o, msEmpty); })
      .Value("-q", "--qos", "QOS", "0, 1 or 2 (0)", [o](const std::string& v) { o->Qos = ParseQos(v); })
      .Flag("-r", "--retain", "retain", [o] { o->Retain = true; })
      .Int("", "--repeat", "N", "publish the message N times", 1, 100000000, [o](long v) { o->Repeat = v; })
      .Int("-W", "", "SECONDS", "give up waiting for acknowledgements after SECONDS", 1, 86400,
           [o](long v) { o->WaitSeconds = static_cast<int>(v); })
      .Connection(o->Connect);
}

// Hands out the messages to publish, one at a time.
class TMessageSource {
 public:
  explicit TMessageSource(const TPubOptions& AOptions) : FOptions(AOptions) {}

  // Reads what must be read before connecting; false with AError set when
  // the message cannot be had.
  bool Prepare(std::string& AError) {
    switch (FOptions.Source) {
      case msText:
        FMessage.assign(FOptions.Text.begin(), FOptions.Text.end());
        break;
      case msFile: {
        std::ifstream in(FOptions.File, std::ios::binary);
        if (!in) {
          AError = "cannot read " + FOptions.File;
          return false;
        }
        FMessage.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        break;
      }
      case msStdin: {
        // Byte for byte: no newline handling, no text conversion.
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
          FMessage.insert(FMessage.end(), buffer, buffer + n);
        break;
      }
      default:
        break;
    }
    return true;
  }

  // Whether the message read by Prepare fits in one PUBLISH with ATopic;
  // false with AError set when it does not.
  bool Fits(const std::string& ATopic, TNeloMQTTQoS AQos, std::string& AError) const {
    if (FOptions.Source == msLines) return true;
    const std::size_t length = 2 + ATopic.size() + (AQos > qosAtMostOnce ? 2 : 0) + FMessage.size();
    if (length <= kMaxRemainingLength) return true;
    AError = "the message is " + std::to_string(FMessage.size()) + " bytes; one MQTT packet holds at most " +
             std::to_string(kMaxRemainingLength) + " bytes with its topic";
    return false;
  }

  // AIdle runs while a line is awaited, so that the engine's hand-offs
  // (acknowledgements, keep-alive pings) are served however slowly the lines
  // come in (`tail -f log | tessiva-cli pub -l`).
  bool Next(TNeloMQTTBytes& AMessage, const std::function<void()>& AIdle) {
    if (FOptions.Source == msLines) {
      std::string line;
      if (!NextLine(line, AIdle)) return false;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      AMessage.assign(line.begin(), line.end());
      return true;
    }
    if (FSent >= FOptions.Repeat) return false;
    ++FSent;
    AMessage = FMessage;
    return true;
  }

 private:
  // The next line of standard input without its '\n' (a last line without
  // one counts too); false at the end of input or on a stop signal.
  bool NextLine(std::string& ALine, const std::function<void()>& AIdle) {
    for (;;) {
      const std::size_t end = FLines.find('\n');
      if (end != std::string::npos) {
        ALine.assign(FLines, 0, end);
        FLines.erase(0, end + 1);
        return true;
      }
      if (FInputEnded) {
        if (FLines.empty()) return false;
        ALine.swap(FLines);
        FLines.clear();
        return true;
      }
      if (CliStopRequested()) return false;
      pollfd input{STDIN_FILENO, POLLIN, 0};
      const int ready = ::poll(&input, 1, 20);
      if (ready > 0) {
        char buffer[65536];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n > 0) {
          FLines.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
          FInputEnded = true;
        }
      } else if (ready < 0 && errno != EINTR) {
        FInputEnded = true;
      }
      AIdle();
    }
  }

  const TPubOptions& FOptions;
  TNeloMQTTBytes FMessage;
  long FSent = 0;
  std::string FLines;
  bool FInputEnded = false;
};

int RunPub(const std::vector<std::string>& AArgs) {
  TPubOptions o;
  TCliParser parser("pub", "usage: tessiva-cli pub -t TOPIC (-m TEXT | -f FILE | -s | -l | -n) [options]");
  DeclarePub(parser, o);
  if (const auto status = parser.Parse(AArgs)) return *status;
  if (o.Topic.empty()) return parser.UsageError("a topic is needed (-t)");
  if (o.Source == msNone) return parser.UsageError("a message is needed (-m, -f, -s, -l or -n)");
  if (!TNeloMQTTTopic::ValidateTopicName(o.Topic)) {
    std::fprintf(stderr, "tessiva-cli pub: '%s' is not a valid topic name\n", o.Topic.c_str());
    return 1;
  }
  TMessageSource source(o);
  std::string error;
  if (!source.Prepare(error) || !source.Fits(o.Topic, o.Qos, error)) {
    std::fprintf(stderr, "tessiva-cli pub: %s\n", error.c_str());
    return 1;
  }
  InstallStopSignals();

  TCliSession session("pub", o.Connect);
  TNeloMQTTClient& client = session.Client();
  // pub does not listen for sent packets: spare the writer the hand-off.
  client.SetPacketSentNotifications(false);

  // Like the printers, pub rides through a broker restart: it reconnects
  // and goes on, and counts what the restart cost.
  client.KeepAliveSettings()->SetAutoReconnect(true);
  client.KeepAliveSettings()->SetAutoReconnectInterval(1);

  // Ids waiting for their final acknowledgement (PUBACK or PUBCOMP).
  std::unordered_map<uint16_t, int> pending;
  long waiting = 0;
  // QoS 2: ids whose PUBREC came, waiting for the PUBCOMP. When the
  // connection is lost then and the broker comes back without the session,
  // the broker has forgotten those messages (it releases a QoS 2 message at
  // the PUBREL): they are lost, whatever answers the PUBREL gets.
  std::unordered_map<uint16_t, int> released;
  std::unordered_map<uint16_t, int> cut;
  long lostInRestart = 0;
  std::string lostIds;
  long losses = 0;
  bool ending = false;  // our own Disconnect is no loss
  const TNeloMQTTPacketType finalAck = o.Qos == qosExactlyOnce ? mtPUBCOMP : mtPUBACK;
  auto take = [](std::unordered_map<uint16_t, int>& AMap, uint16_t AId) {
    auto it = AMap.find(AId);
    if (it == AMap.end()) return false;
    if (--it->second == 0) AMap.erase(it);
    return true;
  };
  client.OnPacketReceived = [&](TNeloObject*, const TNeloMQTTPacketInfo& AInfo) {
    if (o.Qos == qosAtMostOnce) return;
    if (AInfo.PacketType == mtPUBREC && o.Qos == qosExactlyOnce && pending.count(AInfo.PacketId) != 0) {
      ++released[AInfo.PacketId];
      return;
    }
    if (AInfo.PacketType != finalAck) return;
    // After a loss that kept the session the ids came back from `cut`.
    if (o.Qos == qosExactlyOnce) take(released, AInfo.PacketId);
    if (!take(pending, AInfo.PacketId)) return;
    --waiting;
  };
  client.OnConnectedStatusChanged = [&](TNeloObject*, bool AConnected, TNeloMQTTConnectionStatus AStatus) {
    if (!AConnected) {
      if (AStatus == csConnectionLost && !ending) {
        ++losses;
        for (const auto& [id, count] : released) cut[id] += count;
        released.clear();
      }
      return;
    }
    if (client.SessionPresent()) {
      // The broker kept the exchanges: their PUBCOMPs will come.
      for (const auto& [id, count] : cut) released[id] += count;
    } else {
      for (const auto& [id, count] : cut) {
        for (int i = 0; i < count && take(pending, id); ++i) {
          --waiting;
          ++lostInRestart;
          if (lostInRestart <= 20) lostIds += " " + std::to_string(id);
        }
      }
    }
    cut.clear();
  };

  if (!session.Connect()) return session.FailureExitCode();

  // Waits while the connection is down until it is back; false when it did
  // not come back within kReconnectWait (or before ADeadline), the broker
  // refused the reconnect, or a signal came.
  auto back = [&](std::chrono::steady_clock::time_point ADeadline) {
    if (client.IsConnected()) return true;
    const auto limit = std::min(ADeadline, std::chrono::steady_clock::now() + kReconnectWait);
    session.PumpUntil(
        [&] {
          const TNeloMQTTConnectionStatus s = client.ConnectionStatus();
          return s == csConnected || (s >= csConnectionRejected_InvalidProtocolVersion &&
                                      s <= csConnectionRejected_ClientNotAuthorized &&
                                      s != csConnectionRejected_ServerUnavailable);
        },
        limit, 5);
    return client.IsConnected();
  };

  TNeloMQTTNeloMQTTClientSession& state = *client.Session();
  // Bounded queue: memory stays flat however many messages go out. At QoS
  // 1/2 it holds a few windows' worth, so the writer never waits for us.
  const int queueLimit = o.Qos == qosAtMostOnce ? 5000 : 50;
  long published = 0;
  bool gone = false;
  TNeloMQTTBytes message;
  while (!CliStopRequested() && source.Next(message, [] { NeloCheckSynchronize(0); })) {
    if (state.OutstandingPackets() >= queueLimit) {
      session.PumpUntil([&] { return state.OutstandingPackets() < queueLimit || !client.IsConnected(); },
                        CliNoDeadline(), 1);
    }
    if (!back(CliNoDeadline())) {
      gone = true;
      break;
    }
    const uint16_t id = client.Publish(o.Topic, message, o.Qos, o.Retain);
    if (o.Qos != qosAtMostOnce) {
      ++pending[id];
      ++waiting;
    }
    ++published;
    if ((published & 63) == 0) NeloCheckSynchronize(0);
  }

  const auto deadline = o.WaitSeconds > 0
                            ? std::chrono::steady_clock::now() + std::chrono::seconds(o.WaitSeconds)
                            : CliNoDeadline();
  // Until everything is written, acknowledged or given up by the writer
  // (a QoS 1/2 message the writer gave up still counts in `waiting`), across
  // reconnects.
  while (!gone && !CliStopRequested()) {
    session.PumpUntil(
        [&] {
          return !client.IsConnected() || state.OutstandingPackets() == 0 ||
                 (o.Qos != qosAtMostOnce && waiting == 0);
        },
        deadline, 1);
    if (state.OutstandingPackets() == 0 || (o.Qos != qosAtMostOnce && waiting == 0)) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    if (!back(deadline)) gone = true;
  }
  const bool allWritten = state.OutstandingPackets() == 0 || (o.Qos != qosAtMostOnce && waiting == 0);
  ending = true;
  session.Disconnect();

  const std::string lossText =
      losses > 0 ? "; the connection was lost " + std::to_string(losses) + " time(s)" : std::string();
  if (gone) {
    session.Fail("connection lost after " + std::to_string(published) + " message(s) were queued" +
                 (losses > 1 ? lossText : std::string()));
    return 1;
  }
  int status = 0;
  if (lostInRestart > 0) {
    session.Fail(std::to_string(lostInRestart) + " of " + std::to_string(published) +
                 " message(s) lost: the broker came back without their session after its PUBREC (packet ids" +
                 lostIds + (lostInRestart > 20 ? " ..." : "") + ")");
    status = 1;
  }
  if (waiting > 0) {
    std::string ids;
    int shown = 0;
    for (const auto& [id, count] : pending) {
      if (shown++ == 20) {
        ids += " ...";
        break;
      }
      ids += " " + std::to_string(id);
    }
    session.Fail(std::to_string(waiting) + " of " + std::to_string(published) +
                 " message(s) not acknowledged (packet ids" + ids + ")" + lossText);
    return 1;
  }
  if (!allWritten) {
    session.Fail("not every message could be written" + lossText);
    return 1;
  }
  if (status == 0 && losses > 0 && o.Qos == qosAtMostOnce) {
    // At most once: what was on its way when the connection went may be
    // gone, and nothing tells which.
    session.Fail("the connection was lost " + std::to_string(losses) +
                 " time(s) and came back; QoS 0 messages on their way then may be lost");
  }
  return status;
}

}  // namespace

TESSIVA_CLI_COMMAND("pub", "publish messages (like mosquitto_pub)", RunPub);
