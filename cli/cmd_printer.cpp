// tessiva-cli printer: one or many virtual printers in one process. Each is
// an MQTT client that announces itself, takes print task envelopes from its
// job topic, prints them (PrinterJob) and answers PRINT_TASK_DONE for every
// entry; faults can be injected to test a service's error paths.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <deque>
#include <memory>
#include <queue>
#include <random>
#include <unordered_set>

#include "CliCommand.h"
#include "CliMqtt.h"
#include "CliOptions.h"
#include "Fleet.h"
#include "Nelo.MQTT.Client.Threading.h"
#include "Nelo.MQTT.Topics.h"
#include "PrinterJob.h"

namespace {

// How many task ids a printer remembers.
constexpr std::size_t kRememberedTasks = 100;

struct TPrinterOptions {
  TCliConnectOptions Connect;
  TFleetOptions Fleet;
  TNeloMQTTQoS Qos = qosAtLeastOnce;
  std::string OutDir;
  std::string Profile = DefaultPrinterProfile().Name;
  double FailRate = 0, DropRate = 0, DuplicateRate = 0;
  int DelayMin = 0, DelayMax = 0;
  int OfflineEvery = 0;
  bool HaveSeed = false;
  uint64_t Seed = 0;
  int ConnectRate = 0;
};

void ParseDelay(const std::string& AText, TPrinterOptions& AOptions) {
  const std::size_t dash = AText.find('-');
  auto number = [&](const std::string& APart) {
    char* end = nullptr;
    const long v = std::strtol(APart.c_str(), &end, 10);
    if (APart.empty() || *end != '\0' || v < 0 || v > 3600000)
      throw ECliUsage("--delay takes MS or MS-MS, not '" + AText + "'");
    return static_cast<int>(v);
  };
  AOptions.DelayMin = number(AText.substr(0, dash));
  AOptions.DelayMax = dash == std::string::npos ? AOptions.DelayMin : number(AText.substr(dash + 1));
  if (AOptions.DelayMax < AOptions.DelayMin) throw ECliUsage("--delay: the range runs backwards");
}

void DeclarePrinter(TCliParser& AParser, TPrinterOptions& AOptions) {
  TPrinterOptions* o = &AOptions;
  AParser
      .Value("-q", "--qos", "QOS", "QoS of the job subscription (1)",
             [o](const std::string& v) { o->Qos = ParseQos(v); })
      .Value("", "--out", "DIR", "pages go to DIR/SN/TASK_ID.png",
             [o](const std::string& v) { o->OutDir = v; })
      .Profile(o->Profile)
      .Section("faults")
      .Number("--fail-rate", "F", "answer this share of jobs with an error status (0..1)", 0, 1,
              [o](double v) { o->FailRate = v; })
      .Number("--drop-rate", "F", "never answer this share of jobs", 0, 1, [o](double v) { o->DropRate = v; })
      .Value("", "--delay", "MS|MS-MS", "answer late, by MS or a random time in the range",
             [o](const std::string& v) { ParseDelay(v, *o); })
      .Number("--duplicate-rate", "F", "answer this share of jobs twice", 0, 1,
              [o](double v) { o->DuplicateRate = v; })
      .Int("", "--offline-every", "S",
           "drop the connection abruptly every S seconds (the will fires) and come back", 1, 86400,
           [o](long v) { o->OfflineEvery = static_cast<int>(v); })
      .Int("", "--seed", "N", "makes the faults repeatable", 0, 2147483647,
           [o](long v) {
             o->Seed = static_cast<uint64_t>(v);
             o->HaveSeed = true;
           })
      .Int("", "--connect-rate", "N", "connections opened per second at start (0: as fast as possible)", 0,
           1000000, [o](long v) { o->ConnectRate = static_cast<int>(v); })
      .Printers(o->Fleet)
      .Connection(o->Connect, false)
      .Epilog(
          "One line per job on standard output: time, serial, task id, language, pages,\n"
          "status [reason=\"...\"] [fault=...]; a summary line when SIGINT or SIGTERM ends it.\n"
          "Each printer announces itself online on its reply topic and leaves an offline\n"
          "will; the reply statuses are 1 (printed), 2 (not a valid envelope), 3 (another\n"
          "printer's dvsno), 4 (file_size wrong), 5 (Base64 wrong), 6 (over 1 MB),\n"
          "7 (lint error), 8 (printer fault) and duplicate (a repeat, not printed again).");
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string UtcTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const long ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return buffer;
}

struct TFleetCounters {
  long Messages = 0, Entries = 0, Printed = 0, Refused = 0, Duplicates = 0;
  long Replies = 0, Dropped = 0, Failed = 0, Delayed = 0, Duplicated = 0;
  long OfflineDrops = 0, Reconnects = 0, RepliesLost = 0;
};

class TVirtualPrinter {
 public:
  std::string Serial, JobsTopic, RepliesTopic;
  std::unique_ptr<TNeloMQTTClient> Client;
  std::mt19937_64 Rng;
  std::deque<std::string> Recent;
  std::unordered_set<std::string> RecentSet;
  bool Started = false;
  bool EverOnline = false;
  bool Online = false;
  bool Ready = false;  // its first job subscription is acknowledged

  // True when ATaskId was seen before; remembers it otherwise.
  bool SeenBefore(const std::string& ATaskId) {
    if (RecentSet.count(ATaskId) != 0) return true;
    Recent.push_back(ATaskId);
    RecentSet.insert(ATaskId);
    if (Recent.size() > kRememberedTasks) {
      RecentSet.erase(Recent.front());
      Recent.pop_front();
    }
    return false;
  }
  double Draw() { return std::uniform_real_distribution<double>(0.0, 1.0)(Rng); }
};

// A reply due later, or a connection to drop.
struct TTimedStep {
  int64_t Due;
  uint64_t Order;
  std::size_t Printer;
  bool Drop;  // false: publish Payload
  std::string Payload;
  bool operator>(const TTimedStep& AOther) const {
    return Due != AOther.Due ? Due > AOther.Due : Order > AOther.Order;
  }
};

class TPrinterFleet {
 public:
  TPrinterFleet(const TPrinterOptions& AOptions, const std::vector<std::string>& ASerials)
      : FOptions(AOptions), FLogger(std::make_unique<TCliLogger>(AOptions.Connect.Debug)) {
    std::random_device device;
    const uint64_t seed = AOptions.HaveSeed ? AOptions.Seed : (uint64_t{device()} << 32 | device());
    FPrinters.reserve(ASerials.size());
    for (std::size_t i = 0; i < ASerials.size(); ++i) {
      auto p = std::make_unique<TVirtualPrinter>();
      p->Serial = ASerials[i];
      p->JobsTopic = ExpandSerial(AOptions.Fleet.JobsTopic, p->Serial);
      p->RepliesTopic = ExpandSerial(AOptions.Fleet.RepliesTopic, p->Serial);
      // Seeded by serial, so a printer's faults do not depend on which
      // shard or process it runs in, nor on the order jobs arrive across printers.
      std::seed_seq seq{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32),
                        static_cast<uint32_t>(std::hash<std::string>()(p->Serial))};
      p->Rng.seed(seq);
      FPrinters.push_back(std::move(p));
    }
  }

  ~TPrinterFleet() {
    // Clients first: their destructors serve the hand-offs still queued.
    for (auto& p : FPrinters) p->Client.reset();
  }

  // Checks the topics of every printer; false with AError set when one is
  // not a valid topic name.
  bool CheckTopics(std::string& AError) const {
    for (const auto& p : FPrinters) {
      if (!TNeloMQTTTopic::ValidateTopicName(p->JobsTopic)) {
        AError = "'" + p->JobsTopic + "' is not a valid topic name";
        return false;
      }
      if (!TNeloMQTTTopic::ValidateTopicName(p->RepliesTopic)) {
        AError = "'" + p->RepliesTopic + "' is not a valid topic name";
        return false;
      }
    }
    return true;
  }

  int Run() {
    const int64_t started = NowMs();
    std::size_t next = 0;
    bool reportedOnline = false;
    while (!CliStopRequested()) {
      // Open connections, paced by --connect-rate.
      const int64_t now = NowMs();
      std::size_t allowed = FPrinters.size();
      if (FOptions.ConnectRate > 0)
        allowed = std::min<std::size_t>(
            FPrinters.size(), static_cast<std::size_t>((now - started) * FOptions.ConnectRate / 1000 + 1));
      for (int batch = 0; next < allowed && batch < 25; ++batch) Start(next++);

      // A printer that never got online ends the fleet with the reason.
      for (std::size_t i = FFirstUnsettled; i < next; ++i) {
        TVirtualPrinter& p = *FPrinters[i];
        if (p.EverOnline) {
          if (i == FFirstUnsettled) ++FFirstUnsettled;
          continue;
        }
        const TNeloMQTTConnectionStatus s = p.Client->ConnectionStatus();
        const bool failed = (s != csConnecting && s != csReconnecting && s != csConnected) ||
                            (s == csConnecting && !p.Client->Session()->HasActiveNetworkConnection());
        if (failed) {
          const std::string last = FLogger->LastError();
          std::fprintf(stderr, "tessiva-cli printer: %s: %s\n", p.Serial.c_str(),
                       s == csConnectionRejected_ServerUnavailable && !last.empty()
                           ? ("cannot connect to " + FOptions.Connect.Host + " (" + last + ")").c_str()
                           : ConnectionStatusText(s).c_str());
          return ConnectFailureExitCode(s, last);
        }
      }
      if (!reportedOnline && FReady == FPrinters.size()) {
        reportedOnline = true;
        // Online and subscribed: jobs sent from now on reach every printer.
        std::fprintf(stderr, "tessiva-cli printer: %zu of %zu printers online after %.3f s\n", FReady,
                     FPrinters.size(), static_cast<double>(NowMs() - started) / 1000.0);
        std::fflush(stderr);
      }
      RunDueSteps();
      int wait = next < FPrinters.size() ? 1 : 10;
      if (!FSteps.empty()) wait = static_cast<int>(std::clamp<int64_t>(FSteps.top().Due - NowMs(), 0, wait));
      NeloCheckSynchronize(wait);
    }
    std::size_t online = 0;
    for (const auto& p : FPrinters)
      if (p->Online) ++online;
    // The summary first: taking a large fleet down takes a while.
    PrintSummary(online);
    for (auto& p : FPrinters)
      if (p->Client && p->Client->IsConnected()) p->Client->Disconnect();
    return ceOk;
  }

 private:
  void Start(std::size_t AIndex) {
    TVirtualPrinter& p = *FPrinters[AIndex];
    p.Client = std::make_unique<TNeloMQTTClient>();
    TNeloMQTTClient& c = *p.Client;
    TCliConnectOptions connect = FOptions.Connect;
    if (!connect.ClientId.empty()) connect.ClientId += "-" + p.Serial;
    connect.WillTopic = p.RepliesTopic;
    connect.WillPayload = PrinterStatusMessage(p.Serial, false);
    connect.WillQos = qosAtLeastOnce;
    connect.WillRetain = false;
    ConfigureClient(c, connect, FLogger.get());
    c.SetPacketSentNotifications(false);
    c.KeepAliveSettings()->SetAutoReconnect(true);
    c.KeepAliveSettings()->SetAutoReconnectInterval(1);
    c.OnConnectedStatusChanged = [this, AIndex](TNeloObject*, bool AConnected, TNeloMQTTConnectionStatus) {
      OnStatus(AIndex, AConnected);
    };
    c.OnPublishReceived = [this, AIndex](TNeloObject*, uint16_t, const std::string& ATopic,
                                         const TNeloMQTTBytes& APayload) {
      if (ATopic == FPrinters[AIndex]->JobsTopic) OnJob(AIndex, APayload);
    };
    c.OnSubscriptionAcknowledged = [this, AIndex](TNeloObject*, uint16_t, const TNeloMQTTSubscriptions&) {
      TVirtualPrinter& printer = *FPrinters[AIndex];
      if (!printer.Ready) {
        printer.Ready = true;
        ++FReady;
      }
    };
    p.Started = true;
    c.Connect(FOptions.Connect.CleanSession);
    if (FOptions.OfflineEvery > 0) {
      // Spread over the period, so the fleet does not drop all at once.
      const int64_t period = int64_t{FOptions.OfflineEvery} * 1000;
      const int64_t phase = static_cast<int64_t>(p.Draw() * static_cast<double>(period));
      Schedule(NowMs() + period / 2 + phase / 2, AIndex, true, std::string());
    }
  }

  void OnStatus(std::size_t AIndex, bool AConnected) {
    TVirtualPrinter& p = *FPrinters[AIndex];
    if (AConnected == p.Online) return;
    p.Online = AConnected;
    if (!AConnected) return;
    if (p.EverOnline)
      ++FCounters.Reconnects;
    else
      ++FOnline;
    p.EverOnline = true;
    TNeloMQTTClient& c = *p.Client;
    // Subscribed again after every (re)connect: the session is clean.
    c.Subscribe(p.JobsTopic, FOptions.Qos);
    c.Publish(p.RepliesTopic, PrinterStatusMessage(p.Serial, true), qosAtLeastOnce, false);
  }

  void OnJob(std::size_t AIndex, const TNeloMQTTBytes& APayload) {
    TVirtualPrinter& p = *FPrinters[AIndex];
    ++FCounters.Messages;
    TPrinterJobOptions job;
    job.Serial = p.Serial;
    job.OutDir = FOptions.OutDir;
    job.Profile = FOptions.Profile;
    job.SeenBefore = [&p](const std::string& ATaskId) { return p.SeenBefore(ATaskId); };
    std::vector<TPrinterJobResult> results =
        RunPrinterJob(std::string(APayload.begin(), APayload.end()), job);
    for (TPrinterJobResult& r : results) {
      ++FCounters.Entries;
      if (r.Status == kJobPrinted)
        ++FCounters.Printed;
      else if (r.Status == kJobDuplicate)
        ++FCounters.Duplicates;
      else
        ++FCounters.Refused;
      std::string fault;
      // Each fault is drawn for every job, so a seed gives the same faults
      // whichever options are combined.
      const bool fail = p.Draw() < FOptions.FailRate;
      const bool drop = p.Draw() < FOptions.DropRate;
      const bool twice = p.Draw() < FOptions.DuplicateRate;
      const int delay = FOptions.DelayMax > FOptions.DelayMin
                            ? std::uniform_int_distribution<int>(FOptions.DelayMin, FOptions.DelayMax)(p.Rng)
                            : FOptions.DelayMin;
      if (fail && r.Status == kJobPrinted) {
        r.Status = kJobFailed;
        r.Reason = "printer fault (injected)";
        ++FCounters.Failed;
        fault += " fault=failed";
      }
      PrintJobLine(p, r);
      if (drop) {
        ++FCounters.Dropped;
        std::printf("%s fault=dropped\n", fault.c_str());
        continue;
      }
      const std::string reply = PrintTaskDoneReply(p.Serial, r);
      const int copies = twice ? 2 : 1;
      if (twice) {
        ++FCounters.Duplicated;
        fault += " fault=duplicated";
      }
      if (delay > 0) {
        ++FCounters.Delayed;
        fault += " fault=delayed:" + std::to_string(delay) + "ms";
      }
      std::printf("%s\n", fault.c_str());
      for (int i = 0; i < copies; ++i) {
        if (delay > 0)
          Schedule(NowMs() + delay, AIndex, false, reply);
        else
          Reply(AIndex, reply);
      }
    }
    std::fflush(stdout);
  }

  void PrintJobLine(const TVirtualPrinter& AP, const TPrinterJobResult& AR) {
    std::printf("%s %s %s %s %d %s", UtcTimestamp().c_str(), AP.Serial.c_str(),
                AR.TaskId.empty() ? "-" : AR.TaskId.c_str(), AR.Language.empty() ? "-" : AR.Language.c_str(),
                AR.Pages, AR.Status.c_str());
    if (!AR.Reason.empty()) std::printf(" reason=%s", JsonQuoteForLine(AR.Reason).c_str());
  }
  static std::string JsonQuoteForLine(const std::string& AText);

  void Reply(std::size_t AIndex, const std::string& APayload) {
    TVirtualPrinter& p = *FPrinters[AIndex];
    if (!p.Client->IsConnected()) {
      // Printed while the link was down: answered once it is back.
      Schedule(NowMs() + 100, AIndex, false, APayload);
      return;
    }
    p.Client->Publish(p.RepliesTopic, APayload, qosAtLeastOnce, false);
    ++FCounters.Replies;
  }

  void Schedule(int64_t ADue, std::size_t APrinter, bool ADrop, std::string APayload) {
    FSteps.push(TTimedStep{ADue, FOrder++, APrinter, ADrop, std::move(APayload)});
  }

  void RunDueSteps() {
    const int64_t now = NowMs();
    while (!FSteps.empty() && FSteps.top().Due <= now) {
      TTimedStep step = FSteps.top();
      FSteps.pop();
      TVirtualPrinter& p = *FPrinters[step.Printer];
      if (step.Drop) {
        if (p.Client->IsConnected()) {
          // Abrupt: no DISCONNECT, so the broker sends the will; the engine
          // sees the loss and reconnects by itself.
          ++FCounters.OfflineDrops;
          p.Client->Connection()->Close();
        }
        Schedule(now + int64_t{FOptions.OfflineEvery} * 1000, step.Printer, true, std::string());
      } else {
        Reply(step.Printer, step.Payload);
      }
    }
  }

  void PrintSummary(std::size_t AOnline) {
    long pending = 0;
    while (!FSteps.empty()) {
      if (!FSteps.top().Drop) ++pending;
      FSteps.pop();
    }
    const TFleetCounters& c = FCounters;
    std::printf(
        "summary: printers %zu, online %zu, messages %ld, jobs %ld, printed %ld, refused %ld, duplicate %ld, "
        "replies %ld, dropped %ld, failed %ld, delayed %ld, duplicated %ld, unsent %ld, offline %ld, "
        "reconnects %ld\n",
        FPrinters.size(), AOnline, c.Messages, c.Entries, c.Printed, c.Refused, c.Duplicates, c.Replies,
        c.Dropped, c.Failed, c.Delayed, c.Duplicated, pending, c.OfflineDrops, c.Reconnects);
    std::fflush(stdout);
  }

  const TPrinterOptions& FOptions;
  std::unique_ptr<TCliLogger> FLogger;
  std::vector<std::unique_ptr<TVirtualPrinter>> FPrinters;
  std::priority_queue<TTimedStep, std::vector<TTimedStep>, std::greater<TTimedStep>> FSteps;
  uint64_t FOrder = 0;
  std::size_t FOnline = 0;
  std::size_t FReady = 0;
  std::size_t FFirstUnsettled = 0;
  TFleetCounters FCounters;
};

std::string TPrinterFleet::JsonQuoteForLine(const std::string& AText) {
  std::string out = "\"";
  for (const char c : AText) {
    if (c == '"' || c == '\\') out += '\\';
    out += (c == '\n' || c == '\r') ? ' ' : c;
  }
  return out + "\"";
}

int RunPrinter(const std::vector<std::string>& AArgs) {
  TPrinterOptions o;
  TCliParser parser(
      "printer",
      "usage: tessiva-cli printer (--serial SN | --count N --serial-format F) --jobs TOPIC --replies "
      "TOPIC [options]\n"
      "One or many virtual printers: each takes print tasks on its job topic and answers\n"
      "PRINT_TASK_DONE on its reply topic.");
  DeclarePrinter(parser, o);
  if (const auto status = parser.Parse(AArgs)) return *status;
  std::vector<std::string> serials;
  try {
    if (o.Fleet.JobsTopic.empty() || o.Fleet.RepliesTopic.empty())
      throw ECliUsage("--jobs TOPIC and --replies TOPIC are needed");
    serials = FleetSerials(o.Fleet);
  } catch (const ECliUsage& e) {
    return parser.UsageError(e.what());
  }
  // One socket per printer, plus the process's own files.
  const long needed = static_cast<long>(serials.size()) + 64;
  const long limit = RaiseOpenFileLimit(needed);
  if (limit < needed)
    std::fprintf(stderr, "tessiva-cli printer: the open-file limit (%ld) is below the %ld this fleet needs\n",
                 limit, needed);
  NeloSetMainThread();
  InstallStopSignals();
  TPrinterFleet fleet(o, serials);
  std::string error;
  if (!fleet.CheckTopics(error)) {
    std::fprintf(stderr, "tessiva-cli printer: %s\n", error.c_str());
    return ceFailure;
  }
  return fleet.Run();
}

}  // namespace

TESSIVA_CLI_COMMAND("printer", "virtual printers that take print tasks and answer", RunPrinter);
