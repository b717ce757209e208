// Fleets of tessiva-cli printer on the fleet engine against a real
// mosquitto: two hundred printers from several source addresses answering
// every job, pages still written for content rendered once, a heavy job
// that holds up no other printer, and jobs riding through a broker restart.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "ChildProcess.h"
#include "Json.h"
#include "MosquittoBroker.h"
#include "PrintTask.h"
#include "TempDir.h"
#include "TestWait.h"

using namespace tessiva::test;

namespace {

const std::string kCli = TESSIVA_CLI;
constexpr std::chrono::milliseconds kWaitFleet{60000};

class FleetBrokerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TBrokerOptions options;
    options.Tls = true;
    FBroker = new TMosquittoBroker(options);
  }
  static void TearDownTestSuite() { delete FBroker; }

  static std::vector<std::string> Common(const TMosquittoBroker& ABroker, const std::string& APrefix) {
    return {"-h",        "127.0.0.1",
            "-p",        std::to_string(ABroker.Port()),
            "--jobs",    APrefix + "/{serial}/jobs",
            "--replies", APrefix + "/{serial}/replies"};
  }
  static std::unique_ptr<TChildProcess> StartPrinters(const TMosquittoBroker& ABroker,
                                                      const std::string& APrefix,
                                                      const std::vector<std::string>& AArgs) {
    TChildProcess::TOptions options;
    options.MergeStderr = true;
    auto p = std::make_unique<TChildProcess>(
        Concat(Concat({kCli, "printer"}, Common(ABroker, APrefix)), AArgs), options);
    EXPECT_TRUE(p->WaitForStdoutText("printers online", kWaitFleet)) << p->Stdout();
    return p;
  }
  static std::string StopPrinters(TChildProcess& APrinters) {
    APrinters.Kill(SIGINT);
    EXPECT_TRUE(APrinters.Wait(kWaitFleet));
    EXPECT_EQ(APrinters.ExitCode(), 0);
    return APrinters.Stdout();
  }
  static TJsonValue Report(const std::string& AText) {
    try {
      return ParseJson(AText);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not JSON: " << e.what() << "\n" << AText;
      return TJsonValue();
    }
  }
  static long Number(const TJsonValue& AReport, const std::string& AName) {
    const TJsonValue* v = AReport.Member(AName);
    if (v == nullptr || v->Kind != TJsonValue::jkNumber) {
      ADD_FAILURE() << AName << " is not a number in the report";
      return -1;
    }
    return std::stol(v->Text);
  }
  // The job lines of a printer's output.
  static std::vector<std::string> JobLines(const std::string& AOutput) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < AOutput.size()) {
      const std::size_t end = AOutput.find('\n', at);
      const std::string line = AOutput.substr(at, end == std::string::npos ? std::string::npos : end - at);
      if (!line.empty() && line[0] >= '0' && line[0] <= '9') lines.push_back(line);
      if (end == std::string::npos) break;
      at = end + 1;
    }
    return lines;
  }
  static std::string Field(const std::string& ALine, int AIndex) {
    std::size_t at = 0;
    for (int i = 0; i < AIndex; ++i) at = ALine.find(' ', at) + 1;
    return ALine.substr(at, ALine.find(' ', at) - at);
  }

  static TMosquittoBroker* FBroker;
};

TMosquittoBroker* FleetBrokerTest::FBroker = nullptr;

TEST_F(FleetBrokerTest, TwoHundredPrintersFromFourAddressesAnswerEveryJob) {
  const std::vector<std::string> fleet = {"--count", "200", "--serial-format", "FL%03d"};
  auto printers =
      StartPrinters(*FBroker, "fleet/many", Concat(fleet, {"--bind-address", "127.0.0.1-127.0.0.4"}));
  const TRunResult r = RunProcess(Concat(Concat({kCli, "jobs"}, Common(*FBroker, "fleet/many")),
                                         Concat(fleet, {"--total", "600", "--rate", "400", "--json"})),
                                  std::string(), kWaitFleet);
  EXPECT_EQ(r.ExitCode, 0) << r.Stdout << r.Stderr;
  const TJsonValue report = Report(r.Stdout);
  EXPECT_EQ(Number(report, "sent"), 600);
  EXPECT_EQ(Number(report, "done"), 600);
  EXPECT_EQ(Number(report, "lost"), 0);
  EXPECT_EQ(Number(report, "duplicates"), 0);

  const std::string out = StopPrinters(*printers);
  EXPECT_NE(out.find("200 of 200 printers online"), std::string::npos) << out.substr(0, 2000);
  EXPECT_NE(out.find("summary: printers 200, online 200, messages 600, jobs 600, printed 600"),
            std::string::npos);
  std::map<std::string, int> perPrinter;
  for (const std::string& line : JobLines(out)) ++perPrinter[Field(line, 1)];
  EXPECT_EQ(perPrinter.size(), 200u);
  for (const auto& [serial, jobs] : perPrinter) EXPECT_EQ(jobs, 3) << serial;
  // The broker saw the printers come from each of the four addresses.
  const std::string log = FBroker->LogText();
  for (const char* source : {"127.0.0.1:", "127.0.0.2:", "127.0.0.3:", "127.0.0.4:"})
    EXPECT_NE(log.find(std::string("New client connected from ") + source), std::string::npos) << source;
}

// Printers and the service over TLS: the broker's chain is checked against
// the CA (--insecure skips the host name only), its name or address too.
TEST_F(FleetBrokerTest, PrintersAndJobsOverTls) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Connect;
    int Exit;  // of the printers when they cannot come online; 0: they do
  };
  const std::string port = std::to_string(FBroker->TlsPort());
  const std::string ca = FBroker->Certificates().CAFile();
  const std::string other = FBroker->Certificates().OtherCAFile();
  const TCase cases[] = {
      {"the certificate's host name", {"-h", "localhost", "-p", port, "--cafile", ca}, 0},
      {"the certificate's address", {"-h", "127.0.0.1", "-p", port, "--cafile", ca}, 0},
      {"a CA that did not sign it", {"-h", "localhost", "-p", port, "--cafile", other}, 4},
      {"--insecure still checks the chain",
       {"-h", "localhost", "-p", port, "--cafile", other, "--insecure"},
       4},
  };
  int n = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string prefix = "fleet/tls" + std::to_string(n++);
    const std::vector<std::string> topics = {
        "--jobs", prefix + "/{serial}/jobs", "--replies", prefix + "/{serial}/replies", "--count",
        "2",      "--serial-format",         "TL%d"};
    if (c.Exit != 0) {
      const TRunResult r = RunProcess(Concat(Concat({kCli, "printer"}, c.Connect), topics));
      EXPECT_EQ(r.ExitCode, c.Exit) << r.Stderr;
      EXPECT_NE(r.Stderr.find("TLS"), std::string::npos) << r.Stderr;
      continue;
    }
    TChildProcess::TOptions options;
    options.MergeStderr = true;
    TChildProcess printers(Concat(Concat({kCli, "printer"}, c.Connect), topics), options);
    ASSERT_TRUE(printers.WaitForStdoutText("printers online", kWaitFleet)) << printers.Stdout();
    const TRunResult r = RunProcess(Concat(Concat({kCli, "jobs"}, c.Connect),
                                           Concat(topics, {"--total", "4", "--rate", "50", "--json"})));
    EXPECT_EQ(r.ExitCode, 0) << r.Stdout << r.Stderr;
    EXPECT_EQ(Number(Report(r.Stdout), "done"), 4);
    EXPECT_EQ(JobLines(StopPrinters(printers)).size(), 4u);
  }
}

// The printers render one content once, but every job still leaves its
// own page files, the same dots for the same content.
TEST_F(FleetBrokerTest, EveryJobWritesItsPagesThoughTheContentIsRenderedOnce) {
  TTempDir dir;
  const std::vector<std::string> fleet = {"--count", "2", "--serial-format", "PG%d"};
  auto printers = StartPrinters(*FBroker, "fleet/pages", Concat(fleet, {"--out", dir.File("pages")}));
  const TRunResult r = RunProcess(
      Concat(Concat({kCli, "jobs"}, Common(*FBroker, "fleet/pages")),
             Concat(fleet, {"--total", "6", "--rate", "50", "--preset", "label-sample", "--json"})));
  EXPECT_EQ(r.ExitCode, 0) << r.Stdout << r.Stderr;
  const auto lines = JobLines(StopPrinters(*printers));
  ASSERT_EQ(lines.size(), 6u);
  std::set<std::string> contents;
  for (const std::string& line : lines) {
    const std::string file = dir.File("pages/" + Field(line, 1) + "/" + Field(line, 2) + ".png");
    const std::string png = ReadWholeFile(file);
    EXPECT_EQ(png.substr(1, 3), "PNG") << file;
    contents.insert(png);
  }
  EXPECT_EQ(contents.size(), 1u);
}

// One printer's job of 200 large labels, each different, takes its printer
// a while; another printer of the process answers first, and the heavy
// printer's own answers keep their order, its next job after them. HV1 and
// HV9 share an event loop on hosts of 1, 2, 4 or 8 CPUs (sessions are dealt
// to the loops in turn), so rendering on the loop would hold HV9 up too.
TEST_F(FleetBrokerTest, AHeavyJobHoldsUpNoOtherPrinter) {
  auto printers = StartPrinters(*FBroker, "fleet/heavy", {"--count", "9", "--serial-format", "HV%d"});
  TMosquittoSub replies(Concat(FBroker->ClientArgs(), {"-t", "fleet/heavy/+/replies", "-q", "1", "-v"}));
  auto envelope = [](const std::string& ADvsno, const std::vector<std::string>& AJobs,
                     const std::string& AIdBase) {
    std::string list;
    for (std::size_t i = 0; i < AJobs.size(); ++i) {
      const std::string b64 = EncodePrintBase64(TPrintBytes(AJobs[i].begin(), AJobs[i].end()));
      list += std::string(i == 0 ? "" : ",") + "{\"task_id\":\"" + AIdBase + std::to_string(i) +
              "\",\"usbidx\":\"0\",\"file_size\":\"" + std::to_string(b64.size()) + "\",\"target_file\":\"" +
              b64 + "\"}";
    }
    return "{\"dvsno\":\"" + ADvsno + "\",\"kind\":\"PRINT_TASK\",\"count\":\"" +
           std::to_string(AJobs.size()) + "\",\"list\":[" + list + "]}";
  };
  std::vector<std::string> labels;
  for (int i = 0; i < 200; ++i) {
    std::string label = "SIZE 100 mm,150 mm\r\nGAP 2 mm,0 mm\r\nCLS\r\n";
    for (int row = 0; row < 8; ++row)
      label += "QRCODE " + std::to_string(20 + (row % 2) * 400) + "," + std::to_string(20 + (row / 2) * 270) +
               ",H,6,A,0,\"label " + std::to_string(i) + " row " + std::to_string(row) +
               " of a heavy job that every printer must draw dot by dot\"\r\n";
    label += "TEXT 20,1150,\"3\",0,2,2,\"LABEL " + std::to_string(i) + "\"\r\nPRINT 1\r\n";
    labels.push_back(label);
  }
  const std::string light = "SIZE 40 mm,30 mm\r\nCLS\r\nTEXT 10,10,\"3\",0,1,1,\"light\"\r\nPRINT 1\r\n";
  TTempDir dir;
  const std::vector<std::pair<std::string, std::string>> messages = {
      {"HV1", envelope("HV1", labels, "HEAVY-")},
      {"HV1", envelope("HV1", {light}, "AFTER-")},
      {"HV9", envelope("HV9", {light}, "OTHER-")},
  };
  for (const auto& [serial, message] : messages) {
    const TRunResult pub = RunProcess({kCli, "pub", "-h", "127.0.0.1", "-p", std::to_string(FBroker->Port()),
                                       "-t", "fleet/heavy/" + serial + "/jobs", "-q", "1", "-f",
                                       dir.WriteFile("message.json", message)});
    ASSERT_EQ(pub.ExitCode, 0) << pub.Stderr;
  }
  ASSERT_TRUE(replies.WaitForMessages(202, kWaitFleet)) << replies.Messages().size();
  std::vector<std::string> order;
  for (const auto& m : replies.Messages()) {
    const TJsonValue reply = ParseJson(m.Payload);
    if (reply.Member("kind")->Text != "PRINT_TASK_DONE") continue;
    EXPECT_EQ(reply.Member("status")->Text, "1") << m.Payload;
    order.push_back(reply.Member("task_id")->Text);
  }
  ASSERT_EQ(order.size(), 202u);
  EXPECT_EQ(order.front(), "OTHER-0");
  for (int i = 0; i < 200; ++i)
    EXPECT_EQ(order[static_cast<std::size_t>(i + 1)], "HEAVY-" + std::to_string(i));
  EXPECT_EQ(order.back(), "AFTER-0");
  StopPrinters(*printers);
}

// The broker goes down and comes back in the middle of a jobs run: the
// service and the printers reconnect and go on, every job is sent, and
// the report's counts add up to what was sent.
TEST_F(FleetBrokerTest, JobsRideThroughABrokerRestart) {
  TMosquittoBroker broker;
  const std::vector<std::string> fleet = {"--count", "5", "--serial-format", "RS%d"};
  auto printers = StartPrinters(broker, "fleet/restart", fleet);
  TChildProcess::TOptions options;
  TChildProcess jobs(Concat(Concat({kCli, "jobs"}, Common(broker, "fleet/restart")),
                            Concat(fleet, {"--total", "400", "--rate", "100", "--timeout", "10", "--json"})),
                     options);
  ASSERT_TRUE(printers->WaitForStdout([](const std::string& AText) { return JobLines(AText).size() >= 80; },
                                      kWaitFleet));
  broker.Stop();
  broker.Start();
  ASSERT_TRUE(jobs.Wait(std::chrono::milliseconds(90000)));
  const TJsonValue report = Report(jobs.Stdout());
  const long sent = Number(report, "sent"), done = Number(report, "done"), lost = Number(report, "lost"),
             refused = Number(report, "refused"), duplicates = Number(report, "duplicates");
  EXPECT_EQ(sent, 400) << jobs.Stdout() << jobs.Stderr();
  EXPECT_EQ(done + refused + lost, sent);
  EXPECT_GE(Number(report, "reconnects"), 1);
  ASSERT_NE(report.Member("connection_lost"), nullptr);
  EXPECT_EQ(report.Member("connection_lost")->Kind, TJsonValue::jkBool);
  EXPECT_FALSE(report.Member("connection_lost")->Bool);
  // Jobs were done after the restart too, not just before it.
  EXPECT_GT(done, 80);
  EXPECT_EQ(jobs.ExitCode(), lost == 0 && refused == 0 && duplicates == 0 ? 0 : 1) << jobs.Stderr();
  // What the service counts as done, the printers printed.
  const std::string out = StopPrinters(*printers);
  std::set<std::string> printed;
  for (const std::string& line : JobLines(out))
    if (Field(line, 5) == "1") printed.insert(Field(line, 2));
  EXPECT_GE(static_cast<long>(printed.size()), done);
  // Each printer came back once at least.
  const std::size_t at = out.rfind("reconnects ");
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_GE(std::stol(out.substr(at + 11)), 5) << out.substr(out.rfind("summary"));
}

}  // namespace
