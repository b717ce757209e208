// tessiva-cli printer: one or many virtual printers in one process. Each is
// an MQTT client that announces itself, takes print task envelopes from its
// job topic, prints them (PrinterJob) and answers PRINT_TASK_DONE for every
// entry; faults can be injected to test a service's error paths.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <queue>
#include <random>
#include <thread>
#include <unordered_set>

#include "CliCommand.h"
#include "CliFleet.h"
#include "CliMqtt.h"
#include "CliOptions.h"
#include "Fleet.h"
#include "Nelo.MQTT.Fleet.Addresses.h"
#include "Nelo.MQTT.Topics.h"
#include "VirtualPrinter.h"

namespace {

struct TPrinterOptions {
  TCliConnectOptions Connect;
  TFleetOptions Fleet;
  TNeloMQTTQoS Qos = qosAtLeastOnce;
  std::string OutDir;
  std::string Profile = DefaultPrinterProfile().Name;
  TPrinterFaults Faults;
  int OfflineEvery = 0;
  bool HaveSeed = false;
  uint64_t Seed = 0;
  int ConnectRate = 0;
  std::string BindAddresses;
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
  TPrinterFaults& f = AOptions.Faults;
  f.DelayMin = number(AText.substr(0, dash));
  f.DelayMax = dash == std::string::npos ? f.DelayMin : number(AText.substr(dash + 1));
  if (f.DelayMax < f.DelayMin) throw ECliUsage("--delay: the range runs backwards");
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
              [o](double v) { o->Faults.FailRate = v; })
      .Number("--drop-rate", "F", "never answer this share of jobs", 0, 1,
              [o](double v) { o->Faults.DropRate = v; })
      .Value("", "--delay", "MS|MS-MS", "answer late, by MS or a random time in the range",
             [o](const std::string& v) { ParseDelay(v, *o); })
      .Number("--duplicate-rate", "F", "answer this share of jobs twice", 0, 1,
              [o](double v) { o->Faults.DuplicateRate = v; })
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
      .Value("", "--bind-address", "ADDR[,ADDR...]",
             "connect from these local addresses in turn; a range such as 127.0.0.1-127.0.0.20 counts "
             "each (past the ephemeral ports of one address)",
             [o](const std::string& v) { o->BindAddresses = v; })
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
  std::atomic<long> Messages{0}, Entries{0}, Printed{0}, Refused{0}, Duplicates{0};
  std::atomic<long> Replies{0}, Dropped{0}, Failed{0}, Delayed{0}, Duplicated{0};
  std::atomic<long> OfflineDrops{0}, Reconnects{0}, Unsent{0};
};

// One printer of the fleet on its session's loop. The printer itself (its
// generator, the task ids it remembers) is made at its first job, or at the
// start when it must draw when to go offline: a printer costs little until
// it has work.
struct TPrinterSlot {
  std::string JobsTopic, RepliesTopic;
  std::unique_ptr<TVirtualPrinter> Printer;  // used by one job at a time, in the render pool
  std::vector<TNeloMQTTBytes> Waiting;       // jobs behind the one being rendered, in order
  bool Rendering = false;
  bool EverOnline = false;
  bool Online = false;
  bool Ready = false;  // its first job subscription is acknowledged
};

class TPrinterFleet : public TNeloMQTTFleetHandler {
 public:
  TPrinterFleet(const TPrinterOptions& AOptions, std::vector<std::string> ASerials,
                const std::vector<boost::asio::ip::address>& ASources)
      : FOptions(AOptions),
        FSerials(std::move(ASerials)),
        FLogger(std::make_unique<TCliLogger>(AOptions.Connect.Debug)),
        FPool(std::max(2u, std::thread::hardware_concurrency())) {
    std::random_device device;
    FSeed = AOptions.HaveSeed ? AOptions.Seed : (uint64_t{device()} << 32 | device());
    FPrinters.resize(FSerials.size());
    FFleet = std::make_unique<TNeloMQTTFleet>(FleetOptionsFrom(AOptions.Connect, ASources), FSerials.size(),
                                              *this);
  }

  ~TPrinterFleet() override {
    // The pool's last steps post to stopped loops; nothing of theirs runs.
    FFleet->Stop();
  }

  // Checks the topics of every printer; false with AError set when one is
  // not a valid topic name.
  bool CheckTopics(std::string& AError) const {
    for (const std::string& serial : FSerials) {
      for (const std::string& topic : {ExpandSerial(FOptions.Fleet.JobsTopic, serial),
                                       ExpandSerial(FOptions.Fleet.RepliesTopic, serial)}) {
        if (!TNeloMQTTTopic::ValidateTopicName(topic)) {
          AError = "'" + topic + "' is not a valid topic name";
          return false;
        }
      }
    }
    return true;
  }

  int Run() {
    std::string error;
    if (!FFleet->Start(error)) {
      std::fprintf(stderr, "tessiva-cli printer: cannot connect to %s (%s)\n", FOptions.Connect.Host.c_str(),
                   error.c_str());
      return ConnectFailureExitCode(csConnectionRejected_ServerUnavailable, error);
    }
    const int64_t started = NowMs();
    std::size_t next = 0;
    bool reportedOnline = false;
    while (!CliStopRequested()) {
      // Open connections, paced by --connect-rate (the engine's connect
      // window paces them otherwise).
      const int64_t now = NowMs();
      std::size_t allowed = FSerials.size();
      if (FOptions.ConnectRate > 0)
        allowed = std::min<std::size_t>(
            FSerials.size(), static_cast<std::size_t>((now - started) * FOptions.ConnectRate / 1000 + 1));
      while (next < allowed) Start(next++);
      {
        // A printer that never got online ends the fleet with the reason.
        std::lock_guard<std::mutex> guard(FFailureLock);
        if (FFailed) {
          std::fprintf(stderr, "tessiva-cli printer: %s: %s\n", FSerials[FFailedPrinter].c_str(),
                       FFailedStatus == csConnectionRejected_ServerUnavailable && !FFailedText.empty()
                           ? ("cannot connect to " + FOptions.Connect.Host + " (" + FFailedText + ")").c_str()
                           : ConnectionStatusText(FFailedStatus).c_str());
          return ConnectFailureExitCode(FFailedStatus, FFailedText);
        }
      }
      if (!reportedOnline && FReady.load() == FSerials.size()) {
        reportedOnline = true;
        // Online and subscribed: jobs sent from now on reach every printer.
        std::fprintf(stderr, "tessiva-cli printer: %zu of %zu printers online after %.3f s\n", FReady.load(),
                     FSerials.size(), static_cast<double>(NowMs() - started) / 1000.0);
        std::fflush(stderr);
      }
      // This thread only starts printers and watches: once all are online it
      // looks for a stop signal or a failure a few times a second.
      std::this_thread::sleep_for(std::chrono::milliseconds(next < FSerials.size() ? 1
                                                            : reportedOnline       ? 50
                                                                                   : 10));
    }
    // The summary first: taking a large fleet down takes a while.
    PrintSummary(FOnline.load());
    for (std::size_t i = 0; i < next; ++i) FFleet->Disconnect(i);
    FFleet->Stop();
    return ceOk;
  }

  // ---- the engine's events, on the printer's loop ----
  void OnStatus(std::size_t AIndex, TNeloMQTTConnectionStatus AStatus, const std::string& AError) override {
    TPrinterSlot& p = *FPrinters[AIndex];
    if (!p.EverOnline && AStatus != csConnecting && AStatus != csReconnecting && AStatus != csConnected) {
      std::lock_guard<std::mutex> guard(FFailureLock);
      if (!FFailed) {
        FFailed = true;
        FFailedPrinter = AIndex;
        FFailedStatus = AStatus;
        FFailedText = AError;
      }
      return;
    }
    const bool connected = AStatus == csConnected;
    if (connected == p.Online) return;
    p.Online = connected;
    if (!connected) {
      --FOnline;
      return;
    }
    ++FOnline;
    if (p.EverOnline) {
      // The engine renews the job subscription itself when the broker kept
      // no session.
      ++FCounters.Reconnects;
    } else {
      FFleet->Subscribe(AIndex, {p.JobsTopic}, {FOptions.Qos});
    }
    p.EverOnline = true;
    FFleet->Publish(AIndex, p.RepliesTopic, Bytes(PrinterStatusMessage(FSerials[AIndex], true)),
                    qosAtLeastOnce, false);
  }

  void OnSubscribed(std::size_t AIndex, uint16_t, const TNeloMQTTSubscriptions&) override {
    TPrinterSlot& p = *FPrinters[AIndex];
    if (!p.Ready) {
      p.Ready = true;
      ++FReady;
    }
  }

  void OnMessage(std::size_t AIndex, TNeloMQTTMessage& AMessage) override {
    TPrinterSlot& p = *FPrinters[AIndex];
    if (AMessage.Topic != p.JobsTopic) return;
    ++FCounters.Messages;
    if (p.Rendering) {
      p.Waiting.push_back(std::move(AMessage.Payload));
      return;
    }
    Render(AIndex, std::move(AMessage.Payload));
  }

  void OnLog(std::size_t AIndex, TNeloMQTTLogLevel ALevel, const std::string& AText) override {
    if (FOptions.Connect.Debug) LogFleetLine(*FLogger, &FSender, ALevel, FSerials[AIndex] + ": " + AText);
  }

 private:
  class TSender : public TNeloObject {
   public:
    std::string ClassName() const override { return "TNeloMQTTFleet"; }
  };

  static TNeloMQTTBytes Bytes(const std::string& AText) { return TNeloMQTTBytes(AText.begin(), AText.end()); }

  std::unique_ptr<TVirtualPrinter> MakePrinter(std::size_t AIndex) const {
    const TPrinterSlot& p = *FPrinters[AIndex];
    TVirtualPrinterOptions options;
    options.JobsTopic = p.JobsTopic;
    options.RepliesTopic = p.RepliesTopic;
    options.OutDir = FOptions.OutDir;
    options.Faults = FOptions.Faults;
    options.Render.Profile = FOptions.Profile;
    options.Seed = FSeed;
    options.RenderCache = &FCache;
    return std::make_unique<TVirtualPrinter>(FSerials[AIndex], std::move(options));
  }

  void Start(std::size_t AIndex) {
    auto p = std::make_unique<TPrinterSlot>();
    const std::string& serial = FSerials[AIndex];
    p->JobsTopic = ExpandSerial(FOptions.Fleet.JobsTopic, serial);
    p->RepliesTopic = ExpandSerial(FOptions.Fleet.RepliesTopic, serial);
    TCliConnectOptions connect = FOptions.Connect;
    if (!connect.ClientId.empty()) connect.ClientId += "-" + serial;
    connect.WillTopic = p->RepliesTopic;
    connect.WillPayload = PrinterStatusMessage(serial, false);
    connect.WillQos = qosAtLeastOnce;
    connect.WillRetain = false;
    FPrinters[AIndex] = std::move(p);
    int64_t firstDrop = 0;
    if (FOptions.OfflineEvery > 0) {
      // Spread over the period, so the fleet does not drop all at once.
      FPrinters[AIndex]->Printer = MakePrinter(AIndex);
      const int64_t period = int64_t{FOptions.OfflineEvery} * 1000;
      const int64_t phase =
          static_cast<int64_t>(FPrinters[AIndex]->Printer->Draw() * static_cast<double>(period));
      firstDrop = NowMs() + period / 2 + phase / 2;
    }
    FFleet->Connect(AIndex,
                    std::make_shared<const TNeloMQTTFleetSessionSettings>(SessionSettingsFrom(connect)));
    if (firstDrop != 0) FFleet->RunAt(AIndex, firstDrop, [this, AIndex] { DropStep(AIndex); });
  }

  // The printer's next job goes to the render pool; its answer comes back
  // to the printer's loop, and then the job after it goes.
  void Render(std::size_t AIndex, TNeloMQTTBytes APayload) {
    TPrinterSlot& p = *FPrinters[AIndex];
    p.Rendering = true;
    if (!p.Printer) p.Printer = MakePrinter(AIndex);
    TVirtualPrinter* printer = p.Printer.get();
    FPool.Post([this, AIndex, printer, payload = std::move(APayload)] {
      auto replies = std::make_shared<std::vector<TPrinterReply>>(
          printer->OnMessage(printer->JobsTopic(), std::string(payload.begin(), payload.end())));
      FFleet->Run(AIndex, [this, AIndex, replies] { Answer(AIndex, *replies); });
    });
  }

  void Answer(std::size_t AIndex, const std::vector<TPrinterReply>& AReplies) {
    TPrinterSlot& p = *FPrinters[AIndex];
    for (const TPrinterReply& r : AReplies) {
      ++FCounters.Entries;
      if (r.Printed)
        ++FCounters.Printed;
      else if (r.Duplicate)
        ++FCounters.Duplicates;
      else
        ++FCounters.Refused;
      if (r.Failed) ++FCounters.Failed;
      WriteLine(UtcTimestamp() + " " + r.JobLine(FSerials[AIndex]) + "\n");
      if (r.Dropped) {
        ++FCounters.Dropped;
        continue;
      }
      if (r.Copies > 1) ++FCounters.Duplicated;
      if (r.DelayMs > 0) ++FCounters.Delayed;
      for (int i = 0; i < r.Copies; ++i) {
        if (r.DelayMs > 0) {
          ++FCounters.Unsent;
          FFleet->RunAt(AIndex, NowMs() + r.DelayMs, [this, AIndex, reply = r.Payload] {
            --FCounters.Unsent;
            Reply(AIndex, reply);
          });
        } else {
          Reply(AIndex, r.Payload);
        }
      }
    }
    p.Rendering = false;
    if (!p.Waiting.empty()) {
      TNeloMQTTBytes next = std::move(p.Waiting.front());
      p.Waiting.erase(p.Waiting.begin());
      if (p.Waiting.empty()) std::vector<TNeloMQTTBytes>().swap(p.Waiting);
      Render(AIndex, std::move(next));
    }
  }

  void WriteLine(const std::string& ALine) {
    std::lock_guard<std::mutex> guard(FOutputLock);
    std::fputs(ALine.c_str(), stdout);
    std::fflush(stdout);
  }

  void Reply(std::size_t AIndex, const std::string& APayload) {
    TPrinterSlot& p = *FPrinters[AIndex];
    if (!p.Online) {
      // Printed while the link was down: answered once it is back.
      ++FCounters.Unsent;
      FFleet->RunAt(AIndex, NowMs() + 100, [this, AIndex, APayload] {
        --FCounters.Unsent;
        Reply(AIndex, APayload);
      });
      return;
    }
    FFleet->Publish(AIndex, p.RepliesTopic, Bytes(APayload), qosAtLeastOnce, false);
    ++FCounters.Replies;
  }

  void DropStep(std::size_t AIndex) {
    TPrinterSlot& p = *FPrinters[AIndex];
    if (p.Online) {
      // Abrupt: no DISCONNECT, so the broker sends the will; the engine
      // sees the loss and reconnects by itself.
      ++FCounters.OfflineDrops;
      FFleet->Drop(AIndex);
    }
    FFleet->RunAt(AIndex, NowMs() + int64_t{FOptions.OfflineEvery} * 1000,
                  [this, AIndex] { DropStep(AIndex); });
  }

  void PrintSummary(std::size_t AOnline) {
    const TFleetCounters& c = FCounters;
    std::lock_guard<std::mutex> guard(FOutputLock);
    std::printf(
        "summary: printers %zu, online %zu, messages %ld, jobs %ld, printed %ld, refused %ld, duplicate %ld, "
        "replies %ld, dropped %ld, failed %ld, delayed %ld, duplicated %ld, unsent %ld, offline %ld, "
        "reconnects %ld\n",
        FSerials.size(), AOnline, c.Messages.load(), c.Entries.load(), c.Printed.load(), c.Refused.load(),
        c.Duplicates.load(), c.Replies.load(), c.Dropped.load(), c.Failed.load(), c.Delayed.load(),
        c.Duplicated.load(), c.Unsent.load(), c.OfflineDrops.load(), c.Reconnects.load());
    std::fflush(stdout);
  }

  const TPrinterOptions& FOptions;
  const std::vector<std::string> FSerials;
  std::unique_ptr<TCliLogger> FLogger;
  TSender FSender;
  uint64_t FSeed = 0;
  // Made when the printer starts; a printer not started costs a pointer.
  std::vector<std::unique_ptr<TPrinterSlot>> FPrinters;
  mutable TRenderCache FCache;
  std::mutex FOutputLock;
  std::atomic<std::size_t> FOnline{0}, FReady{0};
  std::mutex FFailureLock;
  bool FFailed = false;
  std::size_t FFailedPrinter = 0;
  TNeloMQTTConnectionStatus FFailedStatus = csNotConnected;
  std::string FFailedText;
  TFleetCounters FCounters;
  std::unique_ptr<TNeloMQTTFleet> FFleet;
  // Declared last, so it goes first: its steps still reach the (stopped)
  // fleet and the printers.
  TRenderPool FPool;
};

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
    std::size_t longestSerial = 0;
    for (const std::string& s : serials) longestSerial = std::max(longestSerial, s.size());
    // A printer's client id is the given one, "-" and its serial; its will
    // is its offline status on its reply topic.
    CheckMqttTextLengths(o.Connect, 1 + longestSerial, {o.Fleet.JobsTopic, o.Fleet.RepliesTopic}, serials);
  } catch (const ECliUsage& e) {
    return parser.UsageError(e.what());
  }
  std::vector<boost::asio::ip::address> sources;
  if (!o.BindAddresses.empty()) {
    try {
      sources = NeloMQTTParseBindAddresses(o.BindAddresses);
    } catch (const ENeloMQTTBindAddressError& e) {
      return parser.UsageError(std::string("--bind-address: ") + e.what());
    }
  }
  // One socket per printer, plus the process's own files: the open-file
  // limit is raised as far as the system lets it, and a fleet the limits
  // cannot hold is refused before anything is made for it.
  const TNeloMQTTFleetCapacity capacity =
      NeloMQTTFleetCapacity(static_cast<long>(serials.size()), sources.size());
  const std::string problem = NeloMQTTCapacityProblem(static_cast<long>(serials.size()), capacity);
  if (!problem.empty()) {
    std::fprintf(stderr, "tessiva-cli printer: %s\n", problem.c_str());
    return ceUsage;
  }
  InstallStopSignals();
  std::string error;
  TPrinterFleet fleet(o, std::move(serials), sources);
  if (!fleet.CheckTopics(error)) {
    std::fprintf(stderr, "tessiva-cli printer: %s\n", error.c_str());
    return ceFailure;
  }
  return fleet.Run();
}

}  // namespace

TESSIVA_CLI_COMMAND("printer", "virtual printers that take print tasks and answer", RunPrinter);
