// tessiva-cli jobs: the print service's side and its stopwatch. Sends print
// tasks to a fleet of printers at a steady rate, each with a fresh task id,
// matches the PRINT_TASK_DONE replies by task id and reports what was done,
// refused, lost or answered twice, and how long each job took.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>
#include <unordered_map>

#include "BitmapPrintJob.h"
#include "CliCommand.h"
#include "CliFleet.h"
#include "CliMqtt.h"
#include "CliOptions.h"
#include "Fleet.h"
#include "Json.h"
#include "Nelo.MQTT.Topics.h"
#include "TaskEnvelope.h"
#include "TaskReply.h"

namespace {

struct TJobsOptions {
  TCliConnectOptions Connect;
  TFleetOptions Fleet;
  long Total = 0;
  double Rate = 10;
  int TimeoutSeconds = 10;
  TNeloMQTTQoS Qos = qosAtLeastOnce;
  std::string Preset, Image, File;
  bool Json = false;
  std::string JUnitFile;
};

struct TJob {
  std::size_t Printer = 0;
  std::chrono::steady_clock::time_point Sent;
  int Replies = 0;
  std::string Status;  // of the first reply
  std::string Reason;
  double Ms = 0;  // publish to first reply
};

struct TPrinterTally {
  long Sent = 0, Done = 0, Refused = 0, Lost = 0, Duplicates = 0;
  std::vector<std::string> Problems;  // a few examples for the JUnit message
};

// The service's session: the replies it matches, on the session's loop.
class TJobsSide : public TNeloMQTTFleetHandler {
 public:
  explicit TJobsSide(bool ADebug) : Logger(ADebug), Debug(ADebug) {}
  TNeloMQTTFleet* Fleet = nullptr;
  TCliLogger Logger;
  const bool Debug;
  class TSender : public TNeloObject {
   public:
    std::string ClassName() const override { return "TNeloMQTTFleet"; }
  } Sender;
  std::vector<TJob> Jobs;
  std::unordered_map<std::string, std::size_t> JobOfTask;
  std::atomic<std::size_t> JobCount{0};
  std::atomic<long> Answered{0};
  long Duplicates = 0, Unmatched = 0, Online = 0, Offline = 0;
  std::atomic<int64_t> LastReplyMs{TNeloMQTTFleet::NowMs()};
  std::atomic<std::size_t> SubAcks{0};
  std::atomic<bool> SubRefused{false};
  std::atomic<int> Status{csNotConnected};
  std::atomic<bool> Connected{false}, EverConnected{false}, Failed{false};
  std::atomic<long> Losses{0};
  TNeloMQTTConnectionStatus FailedStatus = csNotConnected;  // written before Failed
  std::string FailedText;

  void OnStatus(std::size_t, TNeloMQTTConnectionStatus AStatus, const std::string& AError) override {
    Status = AStatus;
    const bool connected = AStatus == csConnected;
    if (Connected.load() && !connected) ++Losses;
    Connected = connected;
    if (connected) EverConnected = true;
    if (!EverConnected.load() && !Failed.load() && AStatus != csConnecting && AStatus != csReconnecting) {
      FailedStatus = AStatus;
      FailedText = AError;
      Failed = true;
    }
  }
  void OnLog(std::size_t, TNeloMQTTLogLevel ALevel, const std::string& AText) override {
    if (Debug) LogFleetLine(Logger, &Sender, ALevel, AText);
  }
  void OnSubscribed(std::size_t, uint16_t, const TNeloMQTTSubscriptions& ASubs) override {
    for (const TNeloMQTTSubscription& s : ASubs)
      if (!s.Accepted) SubRefused = true;
    ++SubAcks;
  }
  void OnMessage(std::size_t, TNeloMQTTMessage& AMessage) override {
    const auto now = std::chrono::steady_clock::now();
    LastReplyMs = TNeloMQTTFleet::NowMs();
    const TReadReply reply = ReadPrinterReply(std::string(AMessage.Payload.begin(), AMessage.Payload.end()));
    if (reply.Kind == rkPrinterStatus) {
      if (reply.Online) ++Online;
      if (reply.Offline) ++Offline;
      return;
    }
    if (reply.Kind != rkTaskDone) {
      ++Unmatched;
      return;
    }
    const auto it = JobOfTask.find(reply.Done.TaskId);
    if (it == JobOfTask.end()) {
      ++Unmatched;
      return;
    }
    TJob& job = Jobs[it->second];
    if (++job.Replies > 1) {
      ++Duplicates;
      return;
    }
    job.Status = reply.Done.Status;
    job.Reason = reply.Done.Reason;
    job.Ms = std::chrono::duration<double, std::milli>(now - job.Sent).count();
    ++Answered;
  }
};

double Percentile(const std::vector<double>& ASorted, double AShare) {
  if (ASorted.empty()) return 0;
  // Nearest rank.
  std::size_t rank = static_cast<std::size_t>(std::ceil(AShare * static_cast<double>(ASorted.size())));
  if (rank < 1) rank = 1;
  return ASorted[std::min(rank, ASorted.size()) - 1];
}

std::string XmlEscape(const std::string& AText) {
  std::string out;
  for (const char c : AText) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') ? ' ' : c;
    }
  }
  return out;
}

std::string Fixed(double AValue, int ADigits = 3) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", ADigits, AValue);
  return buffer;
}

int RunJobs(const std::vector<std::string>& AArgs) {
  TJobsOptions o;
  TJobsOptions* p = &o;
  int sources = 0;
  TCliParser parser(
      "jobs",
      "usage: tessiva-cli jobs (--serial SN | --count N --serial-format F) --jobs TOPIC --replies TOPIC\n"
      "                        [--total M] [--rate R] [options]\n"
      "Sends print tasks to the printers in turn, each with a fresh task id and the\n"
      "printer's serial as dvsno, and matches their PRINT_TASK_DONE replies.");
  parser
      .Int("", "--total", "M", "print tasks to send (default: one per printer)", 1, 100000000,
           [p](long v) { p->Total = v; })
      .Number("--rate", "R", "tasks per second (10)", 0.001, 1000000, [p](double v) { p->Rate = v; })
      .Int("", "--timeout", "S", "wait up to S seconds after the last send (10)", 0, 86400,
           [p](long v) { p->TimeoutSeconds = static_cast<int>(v); })
      .Value("-q", "--qos", "QOS", "QoS of the tasks (1)",
             [p](const std::string& v) { p->Qos = ParseQos(v); })
      .Value("", "--preset", "NAME", "content: a preset of `tessiva-cli envelope` (buzzer)",
             [p, &sources](const std::string& v) { p->Preset = v, ++sources; })
      .Value("", "--image", "FILE", "content: a picture, as `tessiva-cli envelope --image`",
             [p, &sources](const std::string& v) { p->Image = v, ++sources; })
      .Value("", "--file", "ENVELOPE", "content: an envelope file",
             [p, &sources](const std::string& v) { p->File = v, ++sources; })
      .Flag("", "--json", "the report as one JSON object", [p] { p->Json = true; })
      .Value("", "--junit", "FILE", "a JUnit report, one test case per printer",
             [p](const std::string& v) { p->JUnitFile = v; })
      .Printers(o.Fleet)
      .Connection(o.Connect)
      .Epilog(
          "The report: sent, done, refused (by status), lost, duplicate replies and the\n"
          "time from publish to done (min, p50, p90, p99, max). Exit status 0 only when\n"
          "every job was done exactly once.");
  if (const auto status = parser.Parse(AArgs)) return *status;
  std::vector<std::string> serials;
  try {
    if (sources > 1) throw ECliUsage("give only one of --preset, --image and --file");
    if (sources == 0) o.Preset = "buzzer";
    if (o.Fleet.JobsTopic.empty() || o.Fleet.RepliesTopic.empty())
      throw ECliUsage("--jobs TOPIC and --replies TOPIC are needed");
    serials = FleetSerials(o.Fleet);
    CheckMqttTextLengths(o.Connect, 0, {o.Fleet.JobsTopic, o.Fleet.RepliesTopic}, serials);
  } catch (const ECliUsage& e) {
    return parser.UsageError(e.what());
  }
  if (o.Total == 0) o.Total = static_cast<long>(serials.size());

  // The content, read before connecting.
  std::string envelope;
  try {
    if (!o.Preset.empty()) {
      if (!PresetEnvelope(o.Preset, envelope)) throw ECliUsage("unknown preset '" + o.Preset + "'");
    } else if (!o.Image.empty()) {
      envelope = MakeBitmapPrintTask(o.Image, TBitmapPrintSettings()).base64text;
    } else {
      std::ifstream in(o.File, std::ios::binary);
      if (!in) throw std::runtime_error("cannot read " + o.File);
      envelope.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  } catch (const ECliUsage& e) {
    std::fprintf(stderr, "tessiva-cli jobs: %s (see tessiva-cli jobs --help)\n", e.what());
    return ceUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tessiva-cli jobs: %s\n", e.what());
    return ceFailure;
  }
  std::unique_ptr<TTaskEnvelopeTemplate> content;
  try {
    content = std::make_unique<TTaskEnvelopeTemplate>(envelope);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tessiva-cli jobs: the content is not a usable envelope: %s\n", e.what());
    return ceFailure;
  }

  std::vector<std::string> jobTopics;
  std::unordered_map<std::string, std::size_t> printerOfSerial;
  for (std::size_t i = 0; i < serials.size(); ++i) {
    jobTopics.push_back(ExpandSerial(o.Fleet.JobsTopic, serials[i]));
    printerOfSerial.emplace(serials[i], i);
    if (!TNeloMQTTTopic::ValidateTopicName(jobTopics.back())) {
      std::fprintf(stderr, "tessiva-cli jobs: '%s' is not a valid topic name\n", jobTopics.back().c_str());
      return ceFailure;
    }
  }
  TNeloStringArray replyFilters;
  const std::string wildcard = SerialWildcardFilter(o.Fleet.RepliesTopic);
  if (!wildcard.empty())
    replyFilters.push_back(wildcard);
  else
    for (const std::string& s : serials) replyFilters.push_back(ExpandSerial(o.Fleet.RepliesTopic, s));
  for (const std::string& f : replyFilters) {
    if (!TNeloMQTTTopic::ValidateTopicFilter(f)) {
      std::fprintf(stderr, "tessiva-cli jobs: '%s' is not a valid topic filter\n", f.c_str());
      return ceFailure;
    }
  }

  InstallStopSignals();
  // One session on one loop of the fleet engine. Everything the session
  // touches (the jobs, the task ids, the counts) belongs to that loop until
  // the engine stops; this thread waits on the atomics.
  TJobsSide side(o.Connect.Debug);
  side.Jobs.reserve(std::min<std::size_t>(static_cast<std::size_t>(o.Total), 1000000) * content->TaskCount());
  TNeloMQTTFleetOptions fleetOptions = FleetOptionsFrom(o.Connect, {});
  fleetOptions.Loops = 1;
  TNeloMQTTFleet fleet(fleetOptions, 1, side);
  side.Fleet = &fleet;
  std::string startError;
  auto fail = [](const std::string& AText) { std::fprintf(stderr, "tessiva-cli jobs: %s\n", AText.c_str()); };
  const std::string where =
      o.Connect.Host + ":" +
      std::to_string(o.Connect.Port != 0 ? o.Connect.Port : (o.Connect.Tls ? 8883 : 1883));
  if (!fleet.Start(startError)) {
    fail("cannot connect to " + where + " (" + startError + ")");
    return ConnectFailureExitCode(csConnectionRejected_ServerUnavailable, startError);
  }
  fleet.Connect(0, std::make_shared<const TNeloMQTTFleetSessionSettings>(SessionSettingsFrom(o.Connect)));
  auto waitUntil = [](const std::function<bool()>& ADone, std::chrono::steady_clock::time_point ADeadline) {
    for (;;) {
      if (ADone()) return true;
      if (CliStopRequested() || std::chrono::steady_clock::now() >= ADeadline) return ADone();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  };
  waitUntil([&] { return side.EverConnected.load() || side.Failed.load(); },
            std::chrono::steady_clock::now() + std::chrono::seconds(15));
  if (!side.EverConnected.load()) {
    fleet.Stop();
    const TNeloMQTTConnectionStatus status =
        side.Failed.load() ? side.FailedStatus : static_cast<TNeloMQTTConnectionStatus>(side.Status.load());
    const std::string& last = side.FailedText;
    if (status == csConnecting || status == csReconnecting) {
      fail("no answer from " + o.Connect.Host + " (no CONNACK)");
    } else if (status == csConnectionLost) {
      // Open, but no CONNACK: the peer closed the connection or never answered.
      fail(last.find("CONNACK") != std::string::npos ? "no answer from " + o.Connect.Host + " (no CONNACK)"
                                                     : "the broker closed the connection before its CONNACK");
    } else if (status == csConnectionRejected_ServerUnavailable && !last.empty()) {
      fail("cannot connect to " + where + " (" + last + ")");
    } else {
      fail(ConnectionStatusText(status));
    }
    return ConnectFailureExitCode(status == csConnecting ? csConnecting : status, last);
  }

  // Replies first, so no answer can come before we listen.
  constexpr std::size_t kFiltersPerSubscribe = 64;
  std::size_t subscribes = 0;
  for (std::size_t i = 0; i < replyFilters.size(); i += kFiltersPerSubscribe) {
    const std::size_t n = std::min(kFiltersPerSubscribe, replyFilters.size() - i);
    const TNeloStringArray part(replyFilters.begin() + static_cast<long>(i),
                                replyFilters.begin() + static_cast<long>(i + n));
    fleet.Subscribe(0, part, TNeloQosArray(n, qosAtLeastOnce));
    ++subscribes;
  }
  waitUntil([&] { return side.SubAcks.load() >= subscribes || !side.Connected.load(); },
            std::chrono::steady_clock::now() + std::chrono::seconds(15));
  if (side.SubAcks.load() < subscribes || side.SubRefused.load()) {
    fail(side.SubRefused.load() ? "the broker refused the subscription to the replies"
                                : "no SUBACK from the broker");
    fleet.Disconnect(0);
    fleet.Stop();
    return ceFailure;
  }

  // The sender runs on the session's loop: due by the rate, at most
  // queueLimit tasks unacknowledged or waiting (also while the connection
  // is down and the engine brings it back).
  const std::size_t queueLimit = 200;
  const auto start = std::chrono::steady_clock::now();
  const int64_t startMs = TNeloMQTTFleet::NowMs();
  std::vector<std::string> ids(content->TaskCount());
  std::atomic<long> sentMessages{0};
  std::atomic<bool> sending{true};
  std::atomic<int64_t> sendEndMs{0};
  std::function<void()> sendStep = [&] {
    for (;;) {
      const long n = sentMessages.load();
      if (n >= o.Total || CliStopRequested()) {
        sendEndMs = TNeloMQTTFleet::NowMs();
        sending = false;
        return;
      }
      const auto due =
          start + std::chrono::microseconds(static_cast<int64_t>(static_cast<double>(n) * 1e6 / o.Rate));
      const auto now = std::chrono::steady_clock::now();
      if (now < due) {
        fleet.RunAt(0,
                    TNeloMQTTFleet::NowMs() +
                        std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count(),
                    sendStep);
        return;
      }
      if (fleet.Outstanding(0) >= queueLimit) {
        fleet.RunAt(0, TNeloMQTTFleet::NowMs() + 1, sendStep);
        return;
      }
      const std::size_t printer = static_cast<std::size_t>(n) % serials.size();
      for (std::string& id : ids) id = NewTaskId();
      const std::string message = content->Make(serials[printer], ids);
      const auto sentAt = std::chrono::steady_clock::now();
      for (const std::string& id : ids) {
        side.JobOfTask.emplace(id, side.Jobs.size());
        TJob job;
        job.Printer = printer;
        job.Sent = sentAt;
        side.Jobs.push_back(job);
      }
      side.JobCount = side.Jobs.size();
      fleet.Publish(0, jobTopics[printer], TNeloMQTTBytes(message.begin(), message.end()), o.Qos, false);
      ++sentMessages;
    }
  };
  fleet.Run(0, sendStep);
  waitUntil([&] { return !sending.load(); }, CliNoDeadline());
  if (sending.load()) {
    // Stopped by a signal while waiting: the sender ends at its next step.
    waitUntil([&] { return !sending.load(); }, std::chrono::steady_clock::now() + std::chrono::seconds(2));
  }
  const int64_t sendEnd = sendEndMs.load() != 0 ? sendEndMs.load() : TNeloMQTTFleet::NowMs();
  const double sendSeconds = static_cast<double>(sendEnd - startMs) / 1000.0;

  // Wait for the answers; once all are in, a little longer for late
  // duplicates.
  const auto deadline =
      std::chrono::steady_clock::now() +
      std::chrono::milliseconds(sendEnd + int64_t{o.TimeoutSeconds} * 1000 - TNeloMQTTFleet::NowMs());
  waitUntil([&] { return side.Answered.load() == static_cast<long>(side.JobCount.load()); }, deadline);
  // Then until the replies have been quiet for half a second (bounded by the
  // deadline), so duplicates that trail their first answer are counted.
  waitUntil([&] { return TNeloMQTTFleet::NowMs() - side.LastReplyMs.load() >= 500; }, deadline);
  const bool lostConnection = !side.Connected.load();
  const long losses = side.Losses.load();
  fleet.Disconnect(0);
  fleet.Stop();
  std::vector<TJob>& jobs = side.Jobs;
  const long answered = side.Answered.load(), duplicates = side.Duplicates, unmatched = side.Unmatched,
             online = side.Online, offline = side.Offline;
  (void)answered;

  // Tally.
  const long sent = static_cast<long>(jobs.size());
  long done = 0, refused = 0, lost = 0;
  std::map<std::string, long> refusedByStatus;
  std::vector<double> ms;
  std::vector<TPrinterTally> tally(serials.size());
  for (const TJob& job : jobs) {
    TPrinterTally& t = tally[job.Printer];
    ++t.Sent;
    t.Duplicates += job.Replies > 1 ? job.Replies - 1 : 0;
    if (job.Replies == 0) {
      ++lost;
      ++t.Lost;
      if (t.Problems.size() < 5) t.Problems.push_back("a job got no answer");
      continue;
    }
    ms.push_back(job.Ms);
    if (job.Status == kJobPrinted) {
      ++done;
      ++t.Done;
    } else {
      ++refused;
      ++t.Refused;
      ++refusedByStatus[job.Status];
      if (t.Problems.size() < 5)
        t.Problems.push_back("refused with status " + job.Status + ": " + job.Reason);
    }
  }
  std::sort(ms.begin(), ms.end());
  const bool haveMs = !ms.empty();
  const double mMin = haveMs ? ms.front() : 0, mMax = haveMs ? ms.back() : 0;
  const double p50 = Percentile(ms, 0.50), p90 = Percentile(ms, 0.90), p99 = Percentile(ms, 0.99);
  const double rate = sendSeconds > 0 ? static_cast<double>(sentMessages.load()) / sendSeconds : 0;

  if (o.Json) {
    std::string j = "{\"printers\":" + std::to_string(serials.size()) + ",\"sent\":" + std::to_string(sent) +
                    ",\"done\":" + std::to_string(done) + ",\"refused\":" + std::to_string(refused) +
                    ",\"refused_by_status\":{";
    bool first = true;
    for (const auto& [status, n] : refusedByStatus) {
      if (!first) j += ",";
      first = false;
      j += JsonQuote(status) + ":" + std::to_string(n);
    }
    j += "},\"lost\":" + std::to_string(lost) + ",\"duplicates\":" + std::to_string(duplicates) +
         ",\"unmatched\":" + std::to_string(unmatched) + ",\"online\":" + std::to_string(online) +
         ",\"offline\":" + std::to_string(offline) + ",\"send_seconds\":" + Fixed(sendSeconds) +
         ",\"send_rate\":" + Fixed(rate, 1) + ",\"latency_ms\":";
    if (haveMs)
      j += "{\"min\":" + Fixed(mMin) + ",\"p50\":" + Fixed(p50) + ",\"p90\":" + Fixed(p90) +
           ",\"p99\":" + Fixed(p99) + ",\"max\":" + Fixed(mMax) + "}";
    else
      j += "null";
    j += ",\"connection_lost\":" + std::string(lostConnection ? "true" : "false") +
         ",\"reconnects\":" + std::to_string(losses) + "}\n";
    std::fputs(j.c_str(), stdout);
  } else {
    std::printf("printers   %zu\n", serials.size());
    std::printf("sent       %ld (%.1f/s over %.3f s)\n", sent, rate, sendSeconds);
    std::printf("done       %ld\n", done);
    std::printf("refused    %ld", refused);
    for (const auto& [status, n] : refusedByStatus) std::printf("  [status %s: %ld]", status.c_str(), n);
    std::printf("\nlost       %ld\nduplicates %ld\n", lost, duplicates);
    if (unmatched > 0) std::printf("unmatched  %ld\n", unmatched);
    if (online + offline > 0) std::printf("status     %ld online, %ld offline\n", online, offline);
    if (losses > 0) std::printf("reconnects %ld\n", losses);
    if (haveMs)
      std::printf("publish to done (ms): min %.3f  p50 %.3f  p90 %.3f  p99 %.3f  max %.3f\n", mMin, p50, p90,
                  p99, mMax);
  }
  std::fflush(stdout);

  if (!o.JUnitFile.empty()) {
    long failures = 0;
    std::string cases;
    for (std::size_t i = 0; i < serials.size(); ++i) {
      const TPrinterTally& t = tally[i];
      cases += "    <testcase classname=\"tessiva.jobs\" name=\"" + XmlEscape(serials[i]) + "\" time=\"0\"";
      if (t.Lost > 0 || t.Refused > 0) {
        ++failures;
        std::string text;
        for (const std::string& p : t.Problems) text += p + "\n";
        cases += ">\n      <failure message=\"" +
                 XmlEscape(std::to_string(t.Lost) + " lost, " + std::to_string(t.Refused) + " refused of " +
                           std::to_string(t.Sent)) +
                 "\">" + XmlEscape(text) + "</failure>\n    </testcase>\n";
      } else {
        cases += "/>\n";
      }
    }
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n  <testsuite name=\"tessiva-jobs\" "
        "tests=\"" +
        std::to_string(serials.size()) + "\" failures=\"" + std::to_string(failures) + "\" errors=\"0\">\n" +
        cases + "  </testsuite>\n</testsuites>\n";
    std::ofstream out(o.JUnitFile, std::ios::binary | std::ios::trunc);
    out << xml;
    if (!out.flush()) {
      fail("cannot write " + o.JUnitFile);
      return ceFailure;
    }
  }
  if (lostConnection)
    fail("the connection to the broker was lost");
  else if (losses > 0)
    fail("the connection to the broker was lost " + std::to_string(losses) +
         (losses == 1 ? " time" : " times") + " and came back");
  const bool exact =
      sent > 0 && done == sent && refused == 0 && lost == 0 && duplicates == 0 && !lostConnection;
  return exact ? ceOk : ceFailure;
}

}  // namespace

TESSIVA_CLI_COMMAND("jobs", "send print tasks to printers and time the answers", RunJobs);
