// tessiva-cli printer and jobs against a real mosquitto: a fleet answering
// every job, each refusal reaching the service, repeats not printed twice,
// injected faults showing in the report, the will of a dropped printer, the
// JSON and JUnit reports, and the exit statuses of failed connections.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <set>

#include "ChildProcess.h"
#include "Json.h"
#include "MosquittoBroker.h"
#include "PictureFixtures.h"
#include "PrintPresets.h"
#include "PrintTask.h"
#include "TempDir.h"
#include "TestWait.h"

using namespace tessiva::test;

namespace {

const std::string kCli = TESSIVA_CLI;

class FleetCommandsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TBrokerOptions options;
    options.Tls = true;
    FBroker = new TMosquittoBroker(options);
    TBrokerOptions secured;
    secured.Users = {{"service", "s3cret"}};
    FSecured = new TMosquittoBroker(secured);
  }
  static void TearDownTestSuite() {
    delete FBroker;
    delete FSecured;
  }

  // Connection and topic options for printers and jobs under APrefix.
  static std::vector<std::string> Common(const std::string& APrefix) {
    return {"-h",        "127.0.0.1",
            "-p",        std::to_string(FBroker->Port()),
            "--jobs",    APrefix + "/{serial}/jobs",
            "--replies", APrefix + "/{serial}/replies"};
  }

  // A running fleet, its subscriptions acknowledged.
  static std::unique_ptr<TChildProcess> StartPrinters(const std::string& APrefix,
                                                      const std::vector<std::string>& AArgs) {
    TChildProcess::TOptions options;
    options.MergeStderr = true;
    auto p =
        std::make_unique<TChildProcess>(Concat(Concat({kCli, "printer"}, Common(APrefix)), AArgs), options);
    EXPECT_TRUE(p->WaitForStdoutText("printers online", kWaitLong)) << p->Stdout();
    return p;
  }

  // Ends a fleet with SIGINT and returns its output (job lines and summary).
  static std::string StopPrinters(TChildProcess& APrinters) {
    APrinters.Kill(SIGINT);
    EXPECT_TRUE(APrinters.Wait(kWaitLong));
    EXPECT_EQ(APrinters.ExitCode(), 0);
    return APrinters.Stdout();
  }

  static TRunResult Jobs(const std::string& APrefix, const std::vector<std::string>& AArgs) {
    return RunProcess(Concat(Concat({kCli, "jobs"}, Common(APrefix)), AArgs), std::string(),
                      std::chrono::milliseconds(60000));
  }

  // xmllint's answer to AExpression on AFile (it refuses a file that is not XML).
  static std::string XPath(const std::string& AFile, const std::string& AExpression) {
    const TRunResult r = RunProcess({"xmllint", "--xpath", AExpression, AFile});
    EXPECT_EQ(r.ExitCode, 0) << r.Stderr;
    std::string out = r.Stdout;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }

  static TJsonValue Report(const TRunResult& ARun) {
    try {
      return ParseJson(ARun.Stdout);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not JSON: " << e.what() << "\n" << ARun.Stdout << ARun.Stderr;
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

  // The job lines of a printer's output (not the summary or status lines).
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
  // Field AIndex (0-based, space separated) of a job line.
  static std::string Field(const std::string& ALine, int AIndex) {
    std::size_t at = 0;
    for (int i = 0; i < AIndex; ++i) at = ALine.find(' ', at) + 1;
    return ALine.substr(at, ALine.find(' ', at) - at);
  }

  static TMosquittoBroker* FBroker;
  static TMosquittoBroker* FSecured;
};

TMosquittoBroker* FleetCommandsTest::FBroker = nullptr;
TMosquittoBroker* FleetCommandsTest::FSecured = nullptr;

TEST_F(FleetCommandsTest, EveryJobOfAFleetIsDoneAndMatched) {
  auto printers = StartPrinters("fleet/all", {"--count", "3", "--serial-format", "FA%02d"});
  TTempDir dir;
  const std::string junit = dir.File("jobs.xml");
  const TRunResult r =
      Jobs("fleet/all", {"--count", "3", "--serial-format", "FA%02d", "--total", "12", "--rate", "100",
                         "--json", "--junit", junit, "--preset", "label-sample"});
  EXPECT_EQ(r.ExitCode, 0) << r.Stdout << r.Stderr;
  const TJsonValue report = Report(r);
  EXPECT_EQ(Number(report, "sent"), 12);
  EXPECT_EQ(Number(report, "done"), 12);
  EXPECT_EQ(Number(report, "refused"), 0);
  EXPECT_EQ(Number(report, "lost"), 0);
  EXPECT_EQ(Number(report, "duplicates"), 0);
  ASSERT_NE(report.Member("latency_ms"), nullptr);
  ASSERT_TRUE(report.Member("latency_ms")->IsObject());
  EXPECT_NE(report.Member("latency_ms")->Member("p99"), nullptr);

  // The JUnit file is XML with one passing case per printer.
  EXPECT_EQ(XPath(junit, "count(//testsuite/testcase)"), "3");
  EXPECT_EQ(XPath(junit, "count(//failure)"), "0");
  EXPECT_EQ(XPath(junit, "string(//testcase[2]/@name)"), "FA02");

  const std::string out = StopPrinters(*printers);
  const auto lines = JobLines(out);
  ASSERT_EQ(lines.size(), 12u) << out;
  std::map<std::string, int> perPrinter;
  std::set<std::string> ids;
  for (const std::string& line : lines) {
    ++perPrinter[Field(line, 1)];
    ids.insert(Field(line, 2));
    EXPECT_EQ(Field(line, 3), "TSPL") << line;
    EXPECT_EQ(Field(line, 4), "1") << line;
    EXPECT_EQ(Field(line, 5), "1") << line;
  }
  EXPECT_EQ(perPrinter, (std::map<std::string, int>{{"FA01", 4}, {"FA02", 4}, {"FA03", 4}}));
  EXPECT_EQ(ids.size(), 12u);
  EXPECT_NE(out.find("summary: printers 3, online 3, messages 12, jobs 12, printed 12, refused 0"),
            std::string::npos)
      << out;
}

// Two shards of one fleet, in two processes, answer one jobs run that
// addresses the whole fleet; neither shard has a printer of the other.
TEST_F(FleetCommandsTest, ShardsTogetherMakeTheWholeFleet) {
  const std::vector<std::string> fleet = {"--count", "5", "--serial-format", "SH%d"};
  auto first = StartPrinters("fleet/shard", Concat(fleet, {"--shard", "1/2"}));
  auto second = StartPrinters("fleet/shard", Concat(fleet, {"--shard", "2/2"}));
  const TRunResult r = Jobs("fleet/shard", Concat(fleet, {"--total", "10", "--rate", "100", "--json"}));
  EXPECT_EQ(r.ExitCode, 0) << r.Stdout << r.Stderr;
  EXPECT_EQ(Number(Report(r), "done"), 10);
  std::set<std::string> one, two;
  for (const std::string& line : JobLines(StopPrinters(*first))) one.insert(Field(line, 1));
  for (const std::string& line : JobLines(StopPrinters(*second))) two.insert(Field(line, 1));
  EXPECT_EQ(one, (std::set<std::string>{"SH1", "SH2"}));
  EXPECT_EQ(two, (std::set<std::string>{"SH3", "SH4", "SH5"}));
}

// A picture as the content: the ESC/POS raster job of `envelope --image`.
TEST_F(FleetCommandsTest, APictureJobIsPrinted) {
  TTempDir dir;
  const std::string png = dir.File("logo.png");
  WritePng(png, TestPattern(64, 32), pkRgb);
  auto printer = StartPrinters("fleet/image", {"--serial", "IM1"});
  const TRunResult r = Jobs("fleet/image", {"--serial", "IM1", "--total", "2", "--image", png, "--json"});
  EXPECT_EQ(r.ExitCode, 0) << r.Stdout << r.Stderr;
  EXPECT_EQ(Number(Report(r), "done"), 2);
  const auto lines = JobLines(StopPrinters(*printer));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Field(lines[0], 3), "ESC/POS");
  EXPECT_EQ(Field(lines[0], 5), "1");
}

TEST_F(FleetCommandsTest, EachRefusalReachesTheServiceWithItsReason) {
  auto printer = StartPrinters("fleet/refuse", {"--serial", "RF1"});
  TMosquittoSub replies(Concat(FBroker->ClientArgs(), {"-t", "fleet/refuse/RF1/replies", "-q", "1"}));
  auto envelope = [](const std::string& ADvsno, const std::string& AId, const std::string& AFileSize,
                     const std::string& ATarget) {
    return "{\"dvsno\":\"" + ADvsno + "\",\"kind\":\"PRINT_TASK\",\"count\":\"1\",\"list\":[{\"task_id\":\"" +
           AId + "\",\"usbidx\":\"0\",\"file_size\":\"" + AFileSize + "\",\"target_file\":\"" + ATarget +
           "\"}]}";
  };
  const std::string big = EncodePrintBase64(TPrintBytes(1024 * 1024 + 1, 0x0A));
  struct TCase {
    const char* Name;
    std::string Message;
    std::string TaskId, Status, Reason;
  };
  const TCase cases[] = {
      {"not JSON", "PRINT_TASK please", "", "2", "not a valid envelope"},
      {"wrong printer", envelope("RF2", "T-dvsno", "12", "G0IDAQAAAAA="), "T-dvsno", "3", "not this printer"},
      {"file_size wrong", envelope("RF1", "T-size", "13", "G0IDAQAAAAA="), "T-size", "4", "file_size 13"},
      {"Base64 wrong", envelope("RF1", "T-b64", "12", "G0IDAQ$AAAA="), "T-b64", "5", "Base64"},
      {"over 1 MB", envelope("RF1", "T-big", std::to_string(big.size()), big), "T-big", "6", "over 1 MB"},
  };
  TTempDir dir;
  for (const TCase& c : cases) {
    const std::string file = dir.WriteFile("message", c.Message);
    const TRunResult pub = RunProcess({kCli, "pub", "-h", "127.0.0.1", "-p", std::to_string(FBroker->Port()),
                                       "-t", "fleet/refuse/RF1/jobs", "-q", "1", "-f", file});
    ASSERT_EQ(pub.ExitCode, 0) << pub.Stderr;
  }
  ASSERT_TRUE(replies.WaitForMessages(std::size(cases), kWaitLong));
  const auto messages = replies.Messages();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const TCase& c = cases[i];
    SCOPED_TRACE(c.Name);
    const TJsonValue reply = ParseJson(messages[i].Payload);
    EXPECT_EQ(reply.Member("dvsno")->Text, "RF1");
    EXPECT_EQ(reply.Member("kind")->Text, "PRINT_TASK_DONE");
    EXPECT_EQ(reply.Member("task_id")->Text, c.TaskId);
    EXPECT_EQ(reply.Member("status")->Text, c.Status);
    ASSERT_NE(reply.Member("reason"), nullptr);
    EXPECT_NE(reply.Member("reason")->Text.find(c.Reason), std::string::npos) << reply.Member("reason")->Text;
  }

  // The same refusals as jobs counts them: by status, and failing the printer's case.
  const std::string bad = BuzzerEnvelope();
  std::string wrongSize = bad;
  wrongSize.replace(wrongSize.find("\"file_size\":\"12\""), 16, "\"file_size\":\"99\"");
  const std::string file = dir.WriteFile("wrong-size.json", wrongSize);
  const std::string junit = dir.File("jobs.xml");
  const TRunResult r = Jobs("fleet/refuse", {"--serial", "RF1", "--total", "3", "--rate", "50", "--file",
                                             file, "--json", "--junit", junit});
  EXPECT_EQ(r.ExitCode, 1) << r.Stdout << r.Stderr;
  const TJsonValue report = Report(r);
  EXPECT_EQ(Number(report, "sent"), 3);
  EXPECT_EQ(Number(report, "done"), 0);
  EXPECT_EQ(Number(report, "refused"), 3);
  EXPECT_EQ(Number(report, "lost"), 0);
  ASSERT_NE(report.Member("refused_by_status"), nullptr);
  EXPECT_EQ(Number(*report.Member("refused_by_status"), "4"), 3);
  EXPECT_EQ(XPath(junit, "count(//testcase/failure)"), "1");
  StopPrinters(*printer);
}

TEST_F(FleetCommandsTest, ARepeatIsAnsweredAgainButNotPrintedTwice) {
  auto printer = StartPrinters("fleet/repeat", {"--serial", "RP1"});
  TMosquittoSub replies(Concat(FBroker->ClientArgs(), {"-t", "fleet/repeat/RP1/replies", "-q", "1"}));
  const TRunResult envelope =
      RunProcess({kCli, "envelope", "--preset", "cutter", "--dvsno", "RP1", "--task-id", "REPEAT-1"});
  ASSERT_EQ(envelope.ExitCode, 0) << envelope.Stderr;
  for (int i = 0; i < 2; ++i) {
    const TRunResult pub = RunProcess({kCli, "pub", "-h", "127.0.0.1", "-p", std::to_string(FBroker->Port()),
                                       "-t", "fleet/repeat/RP1/jobs", "-q", "1", "-s"},
                                      envelope.Stdout);
    ASSERT_EQ(pub.ExitCode, 0) << pub.Stderr;
    ASSERT_TRUE(replies.WaitForMessages(static_cast<std::size_t>(i + 1), kWaitLong));
  }
  const auto messages = replies.Messages();
  EXPECT_EQ(ParseJson(messages[0].Payload).Member("status")->Text, "1");
  EXPECT_EQ(ParseJson(messages[1].Payload).Member("status")->Text, "duplicate");
  EXPECT_EQ(ParseJson(messages[1].Payload).Member("task_id")->Text, "REPEAT-1");
  const auto lines = JobLines(StopPrinters(*printer));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Field(lines[0], 4) + " " + Field(lines[0], 5), "1 1");          // one page, printed
  EXPECT_EQ(Field(lines[1], 4) + " " + Field(lines[1], 5), "0 duplicate");  // nothing printed
}

TEST_F(FleetCommandsTest, InjectedFaultsShowInTheReport) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Fault;
    long Done, Refused, Lost, Duplicates;
    int Exit;
  };
  const TCase cases[] = {
      {"dropped jobs are lost", {"--drop-rate", "1"}, 0, 0, 6, 0, 1},
      {"failed jobs are refused", {"--fail-rate", "1"}, 0, 6, 0, 0, 1},
      {"answered twice", {"--duplicate-rate", "1"}, 6, 0, 0, 6, 1},
      {"late but done", {"--delay", "300-400"}, 6, 0, 0, 0, 0},
  };
  int n = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string prefix = "fleet/fault" + std::to_string(n++);
    auto printers =
        StartPrinters(prefix, Concat({"--count", "2", "--serial-format", "FT%d", "--seed", "1"}, c.Fault));
    const TRunResult r = Jobs(prefix, {"--count", "2", "--serial-format", "FT%d", "--total", "6", "--rate",
                                       "100", "--timeout", "2", "--json"});
    EXPECT_EQ(r.ExitCode, c.Exit) << r.Stdout << r.Stderr;
    const TJsonValue report = Report(r);
    EXPECT_EQ(Number(report, "sent"), 6);
    EXPECT_EQ(Number(report, "done"), c.Done);
    EXPECT_EQ(Number(report, "refused"), c.Refused);
    EXPECT_EQ(Number(report, "lost"), c.Lost);
    EXPECT_EQ(Number(report, "duplicates"), c.Duplicates);
    if (c.Refused > 0) {
      EXPECT_EQ(Number(*report.Member("refused_by_status"), "8"), c.Refused);
    }
    if (c.Fault[0] == "--delay") {
      // No answer can come before the printer's delay.
      const TJsonValue* latency = report.Member("latency_ms");
      ASSERT_TRUE(latency != nullptr && latency->IsObject());
      EXPECT_GE(std::stod(latency->Member("min")->Text), 300.0);
    }
    const std::string out = StopPrinters(*printers);
    EXPECT_EQ(JobLines(out).size(), 6u) << out;
  }
}

TEST_F(FleetCommandsTest, TheSeedRepeatsTheFaults) {
  std::vector<std::string> runs;
  for (int run = 0; run < 2; ++run) {
    const std::string prefix = "fleet/seed" + std::to_string(run);
    auto printer = StartPrinters(
        prefix, {"--serial", "SD1", "--seed", "42", "--drop-rate", "0.5", "--fail-rate", "0.3"});
    const TRunResult r =
        Jobs(prefix, {"--serial", "SD1", "--total", "20", "--rate", "200", "--timeout", "1", "--json"});
    EXPECT_EQ(r.ExitCode, 1);
    std::string pattern;
    for (const std::string& line : JobLines(StopPrinters(*printer)))
      pattern += line.find("fault=dropped") != std::string::npos ? 'D' : Field(line, 5) == "8" ? 'F' : '.';
    EXPECT_EQ(pattern.size(), 20u);
    runs.push_back(pattern);
  }
  EXPECT_EQ(runs[0], runs[1]);
  EXPECT_NE(runs[0].find('D'), std::string::npos);
  EXPECT_NE(runs[0].find('.'), std::string::npos);
}

TEST_F(FleetCommandsTest, TheWillFiresWhenAPrinterDropsAndItComesBack) {
  TMosquittoSub status(Concat(FBroker->ClientArgs(), {"-t", "fleet/will/WL1/replies", "-q", "1"}));
  auto printer = StartPrinters("fleet/will", {"--serial", "WL1", "--offline-every", "1"});
  ASSERT_TRUE(status.WaitForMessages(3, kWaitLong));
  const auto messages = status.Messages();
  EXPECT_EQ(messages[0].Payload, "{\"dvsno\":\"WL1\",\"kind\":\"PRINTER_STATUS\",\"status\":\"online\"}");
  EXPECT_EQ(messages[1].Payload, "{\"dvsno\":\"WL1\",\"kind\":\"PRINTER_STATUS\",\"status\":\"offline\"}");
  EXPECT_EQ(messages[2].Payload, "{\"dvsno\":\"WL1\",\"kind\":\"PRINTER_STATUS\",\"status\":\"online\"}");
  // Back online, it still prints.
  const TRunResult r = Jobs("fleet/will", {"--serial", "WL1", "--total", "1", "--json", "--timeout", "5"});
  const TJsonValue report = Report(r);
  EXPECT_GE(Number(report, "done") + Number(report, "lost"), 1);
  const std::string out = StopPrinters(*printer);
  EXPECT_NE(out.find("offline "), std::string::npos) << out;
  EXPECT_EQ(out.find("offline 0,"), std::string::npos) << out;
}

TEST_F(FleetCommandsTest, FailedConnectionsHaveDistinctExitStatuses) {
  const int closedPort = FreeLoopbackPort();
  const std::string tlsPort = std::to_string(FBroker->TlsPort());
  const std::string securedPort = std::to_string(FSecured->Port());
  const std::string otherCA = FBroker->Certificates().OtherCAFile();
  const std::vector<std::string> topics = {"--jobs",     "x/{serial}", "--replies",
                                           "y/{serial}", "--serial",   "S"};
  struct TCase {
    const char* Name;
    std::vector<std::string> Connect;
    int Exit;
  };
  const TCase cases[] = {
      {"unreachable", {"-h", "127.0.0.1", "-p", std::to_string(closedPort)}, 5},
      {"wrong password", {"-h", "127.0.0.1", "-p", securedPort, "-u", "service", "-P", "nope"}, 3},
      {"untrusted certificate", {"-h", "localhost", "-p", tlsPort, "--cafile", otherCA}, 4},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRunResult pub = RunProcess(Concat(Concat({kCli, "pub"}, c.Connect), {"-t", "a", "-m", "x"}));
    EXPECT_EQ(pub.ExitCode, c.Exit) << pub.Stderr;
    const TRunResult sub = RunProcess(Concat(Concat({kCli, "sub"}, c.Connect), {"-t", "a", "-W", "5"}));
    EXPECT_EQ(sub.ExitCode, c.Exit) << sub.Stderr;
    const TRunResult jobs = RunProcess(Concat(Concat({kCli, "jobs"}, c.Connect), topics));
    EXPECT_EQ(jobs.ExitCode, c.Exit) << jobs.Stderr;
    const TRunResult printer = RunProcess(Concat(Concat({kCli, "printer"}, c.Connect), topics));
    EXPECT_EQ(printer.ExitCode, c.Exit) << printer.Stderr;
  }
  const TRunResult help = RunProcess({kCli, "--help"});
  EXPECT_EQ(help.ExitCode, 0);
  for (const char* line :
       {"  3  the broker refused", "  4  TLS failure", "  5  the broker could not be reached"})
    EXPECT_NE(help.Stdout.find(line), std::string::npos) << help.Stdout;
  const TRunResult version = RunProcess({kCli, "--version"});
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_EQ(version.Stdout.rfind("tessiva-cli ", 0), 0u) << version.Stdout;
  EXPECT_EQ(RunProcess({kCli, "jobs", "--serial", "S", "--jobs", "a"}).ExitCode, 2);
  EXPECT_EQ(
      RunProcess({kCli, "printer", "--count", "2", "--serial-format", "S%s", "--jobs", "a", "--replies", "b"})
          .ExitCode,
      2);
}

}  // namespace
