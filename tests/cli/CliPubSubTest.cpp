// tessiva-cli pub and sub against a real mosquitto, with mosquitto_pub /
// mosquitto_sub as the independent peers.
#include <gtest/gtest.h>

#include <csignal>

#include "ChildProcess.h"
#include "MosquittoBroker.h"
#include "TempDir.h"
#include "TestWait.h"

using namespace tessiva::test;

namespace {

const std::string kCli = TESSIVA_CLI_PATH;

class CliPubSubTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TBrokerOptions options;
    options.Tls = true;
    FBroker = new TMosquittoBroker(options);
    TBrokerOptions secured;
    secured.Users = {{"printer", "pa55"}};
    FSecured = new TMosquittoBroker(secured);
  }
  static void TearDownTestSuite() {
    delete FBroker;
    delete FSecured;
  }

  static std::vector<std::string> Cli(const std::string& ACommand, const std::vector<std::string>& AArgs) {
    return Concat({kCli, ACommand, "-h", "127.0.0.1", "-p", std::to_string(FBroker->Port())}, AArgs);
  }
  // The retained message of ATopic, exactly as mosquitto_sub receives it.
  static std::string Retained(const std::string& ATopic) {
    const TRunResult r =
        RunProcess(Concat(Concat({"mosquitto_sub"}, FBroker->ClientArgs()), {"-t", ATopic, "-C", "1", "-N", "-W", "10"}));
    EXPECT_EQ(r.ExitCode, 0) << r.Stderr;
    return r.Stdout;
  }

  static TMosquittoBroker* FBroker;
  static TMosquittoBroker* FSecured;
};

TMosquittoBroker* CliPubSubTest::FBroker = nullptr;
TMosquittoBroker* CliPubSubTest::FSecured = nullptr;

TEST_F(CliPubSubTest, PubDeliversAtEveryQoS) {
  for (const std::string qos : {"0", "1", "2"}) {
    SCOPED_TRACE(qos);
    const std::string topic = "cli/打印/" + qos;
    TMosquittoSub sub(Concat(FBroker->ClientArgs(), {"-t", topic, "-q", qos}));
    const TRunResult r = RunProcess(Cli("pub", {"-t", topic, "-q", qos, "-m", "票据 " + qos}));
    EXPECT_EQ(r.ExitCode, 0) << r.Stderr;
    EXPECT_EQ(r.Stderr, "");
    ASSERT_TRUE(sub.WaitForMessages(1, kWaitLong));
    EXPECT_EQ(sub.Messages()[0].Topic, topic);
    EXPECT_EQ(sub.Messages()[0].Payload, "票据 " + qos);
  }
}

TEST_F(CliPubSubTest, PubStdinIsPublishedByteForByte) {
  std::string bytes = "{\r\n  \"kind\": \"PRINT_TASK\"\n}\n";
  bytes += std::string("\x00\x1b\x40\xff\xfe\n\n", 7);
  const TRunResult r = RunProcess(Cli("pub", {"-t", "cli/stdin", "-s", "-r", "-q", "1"}), bytes);
  ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
  EXPECT_EQ(Retained("cli/stdin"), bytes);
}

TEST_F(CliPubSubTest, EnvelopePipedIntoPubArrivesUnchanged) {
  const TRunResult envelope = RunProcess({kCli, "envelope", "--preset", "buzzer"});
  ASSERT_EQ(envelope.ExitCode, 0) << envelope.Stderr;
  ASSERT_FALSE(envelope.Stdout.empty());
  const TRunResult r = RunProcess(Cli("pub", {"-t", "cli/envelope", "-s", "-r"}), envelope.Stdout);
  ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
  EXPECT_EQ(Retained("cli/envelope"), envelope.Stdout);
}

TEST_F(CliPubSubTest, PubFileOfOneMebibyteAndLinesAndRepeat) {
  TTempDir dir;
  std::string big(1 << 20, 'x');
  for (size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>('A' + i % 26);
  const std::string file = dir.WriteFile("big.bin", big);
  const TRunResult r = RunProcess(Cli("pub", {"-t", "cli/file", "-f", file, "-r", "-q", "2"}));
  ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
  EXPECT_TRUE(Retained("cli/file") == big);

  TMosquittoSub sub(Concat(FBroker->ClientArgs(), {"-t", "cli/lines", "-q", "1"}));
  const TRunResult lines = RunProcess(Cli("pub", {"-t", "cli/lines", "-l", "-q", "1"}), "eins\nzwei\r\ndrei\n");
  ASSERT_EQ(lines.ExitCode, 0) << lines.Stderr;
  const TRunResult repeat = RunProcess(Cli("pub", {"-t", "cli/lines", "-m", "again", "--repeat", "3", "-q", "1"}));
  ASSERT_EQ(repeat.ExitCode, 0) << repeat.Stderr;
  ASSERT_TRUE(sub.WaitForMessages(6, kWaitLong));
  std::vector<std::string> payloads;
  for (const auto& m : sub.Messages()) payloads.push_back(m.Payload);
  EXPECT_EQ(payloads, (std::vector<std::string>{"eins", "zwei", "drei", "again", "again", "again"}));
}

TEST_F(CliPubSubTest, SubPrintsWhatMosquittoPubSends) {
  TChildProcess sub(Cli("sub", {"-t", "cli/in/#", "-q", "2", "-v", "-C", "3"}));
  // Ready once a retained marker has come through.
  ASSERT_EQ(MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "cli/in/ready", "-r", "-m", "ready"})).ExitCode, 0);
  ASSERT_TRUE(sub.WaitForStdoutText("cli/in/ready ready\n", kWaitLong)) << sub.Stderr();
  for (const auto& [qos, text] : {std::pair<std::string, std::string>{"1", "öne"}, {"2", "двa"}})
    ASSERT_EQ(MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "cli/in/q" + qos, "-q", qos, "-m", text})).ExitCode, 0);
  ASSERT_TRUE(sub.Wait(kWaitLong));
  EXPECT_EQ(sub.ExitCode(), 0) << sub.Stderr();
  EXPECT_EQ(sub.Stdout(), "cli/in/ready ready\ncli/in/q1 öne\ncli/in/q2 двa\n");
  // Clear the retained marker for later runs.
  MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "cli/in/ready", "-r", "-n"}));
}

TEST_F(CliPubSubTest, SubComesBackAndSubscribesAgainAfterABrokerRestart) {
  ASSERT_EQ(MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "cli/re", "-r", "-m", "one"})).ExitCode, 0);
  TChildProcess sub(Cli("sub", {"-t", "cli/re", "-C", "2"}));
  ASSERT_TRUE(sub.WaitForStdoutText("one\n", kWaitLong)) << sub.Stderr();
  FBroker->Stop();
  FBroker->Start();  // retained messages are gone with the old broker
  ASSERT_EQ(MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "cli/re", "-r", "-m", "two"})).ExitCode, 0);
  ASSERT_TRUE(sub.Wait(std::chrono::milliseconds(30000))) << sub.Stderr();
  EXPECT_EQ(sub.ExitCode(), 0) << sub.Stderr();
  EXPECT_EQ(sub.Stdout(), "one\ntwo\n");
  MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "cli/re", "-r", "-n"}));
}

TEST_F(CliPubSubTest, SubTimesOutWithStatus27) {
  const TRunResult r = RunProcess(Cli("sub", {"-t", "cli/nothing", "-C", "1", "-W", "1"}));
  EXPECT_EQ(r.ExitCode, 27);
  EXPECT_EQ(r.Stdout, "");
}

TEST_F(CliPubSubTest, ErrorsGiveOneLineAndAFailureStatus) {
  int closedPort;
  {
    // A port nobody listens on any more.
    closedPort = FreeLoopbackPort();
  }
  const std::string securedPort = std::to_string(FSecured->Port());
  const std::string tlsPort = std::to_string(FBroker->TlsPort());
  const TTestCertificates& certs = FBroker->Certificates();
  struct TCase {
    std::string Name;
    std::vector<std::string> Args;
    std::string Expected;  // part of the error line
  };
  const TCase cases[] = {
      {"unreachable", {kCli, "pub", "-h", "127.0.0.1", "-p", std::to_string(closedPort), "-t", "a", "-m", "x"},
       "cannot connect"},
      {"wrong password",
       {kCli, "pub", "-h", "127.0.0.1", "-p", securedPort, "-u", "printer", "-P", "nope", "-t", "a", "-m", "x"},
       "connection refused"},
      {"bad topic", {kCli, "pub", "-h", "127.0.0.1", "-p", securedPort, "-t", "a/#", "-m", "x"}, "not a valid topic"},
      {"bad filter", {kCli, "sub", "-h", "127.0.0.1", "-p", securedPort, "-t", "a#"}, "not a valid topic filter"},
      {"untrusted broker",
       {kCli, "pub", "-h", "localhost", "-p", tlsPort, "--cafile", certs.OtherCAFile(), "-t", "a", "-m", "x"},
       "cannot connect"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRunResult r = RunProcess(c.Args);
    EXPECT_NE(r.ExitCode, 0);
    EXPECT_EQ(std::count(r.Stderr.begin(), r.Stderr.end(), '\n'), 1) << r.Stderr;
    EXPECT_NE(r.Stderr.find(c.Expected), std::string::npos) << r.Stderr;
  }
  // The right password and a trusted TLS broker work.
  EXPECT_EQ(RunProcess({kCli, "pub", "-h", "127.0.0.1", "-p", securedPort, "-u", "printer", "-P", "pa55", "-t", "a",
                        "-m", "x", "-q", "1"})
                .ExitCode,
            0);
  const TRunResult tls = RunProcess(
      {kCli, "pub", "-h", "localhost", "-p", tlsPort, "--cafile", certs.CAFile(), "-t", "cli/tls", "-m", "x", "-r"});
  EXPECT_EQ(tls.ExitCode, 0) << tls.Stderr;
  EXPECT_EQ(Retained("cli/tls"), "x");
}

TEST_F(CliPubSubTest, LastWillIsDeliveredWhenTheCliIsKilled) {
  TMosquittoSub will(Concat(FBroker->ClientArgs(), {"-t", "cli/will", "-q", "1"}));
  ASSERT_EQ(MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "cli/alive", "-r", "-m", "up"})).ExitCode, 0);
  TChildProcess sub(Cli("sub", {"-t", "cli/alive", "--will-topic", "cli/will", "--will-payload", "printer gone",
                                "--will-qos", "1"}));
  ASSERT_TRUE(sub.WaitForStdoutText("up\n", kWaitLong)) << sub.Stderr();
  sub.Kill(SIGKILL);
  ASSERT_TRUE(sub.Wait(kWaitLong));
  ASSERT_TRUE(will.WaitForMessages(1, kWaitLong));
  EXPECT_EQ(will.Messages()[0].Payload, "printer gone");
  MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "cli/alive", "-r", "-n"}));
}

}  // namespace
