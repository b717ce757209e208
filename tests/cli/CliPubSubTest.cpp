// tessiva-cli pub and sub against a real mosquitto, with mosquitto_pub /
// mosquitto_sub as the independent peers.
#include <gtest/gtest.h>

#include <csignal>

#include "ChildProcess.h"
#include "FakeBroker.h"
#include "MosquittoBroker.h"
#include "TempDir.h"
#include "TestWait.h"

using namespace tessiva::test;

namespace {

const std::string kCli = TESSIVA_CLI;

// Takes the CLI's connection on the fake broker, expects its CONNECT first and
// accepts it; null (with the failure recorded) when any step goes wrong.
std::unique_ptr<TFakeConnection> AcceptConnected(TFakeBroker& ABroker) {
  auto peer = ABroker.Accept();
  if (!peer) {
    ADD_FAILURE() << "the CLI did not connect";
    return nullptr;
  }
  const auto connect = peer->ReadFrame();
  if (!connect || connect->Type() != 1) {
    ADD_FAILURE() << "the first frame was not a CONNECT";
    return nullptr;
  }
  if (!peer->Send(TByteVector{0x20, 0x02, 0x00, 0x00})) {
    ADD_FAILURE() << "could not send the CONNACK";
    return nullptr;
  }
  return peer;
}

class CliPubSubTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TBrokerOptions options;
    options.Tls = true;
    FBroker = new TMosquittoBroker(options);
    TBrokerOptions secured;
    secured.Users = {{"printer", "pa55"}};
    FSecured = new TMosquittoBroker(secured);
    TBrokerOptions wrongHost;
    wrongHost.Plain = false;
    wrongHost.Tls = true;
    wrongHost.ServerCert = TBrokerOptions::scWrongHost;
    FWrongHost = new TMosquittoBroker(wrongHost);
    TBrokerOptions clientCert;
    clientCert.Plain = false;
    clientCert.Tls = true;
    clientCert.RequireClientCert = true;
    FClientCert = new TMosquittoBroker(clientCert);
  }
  static void TearDownTestSuite() {
    delete FBroker;
    delete FSecured;
    delete FWrongHost;
    delete FClientCert;
  }

  static std::vector<std::string> Cli(const std::string& ACommand, const std::vector<std::string>& AArgs) {
    return Concat({kCli, ACommand, "-h", "127.0.0.1", "-p", std::to_string(FBroker->Port())}, AArgs);
  }
  // The retained message of ATopic, exactly as mosquitto_sub receives it.
  static std::string Retained(const std::string& ATopic) {
    const TRunResult r = RunProcess(Concat(Concat({"mosquitto_sub"}, FBroker->ClientArgs()),
                                           {"-t", ATopic, "-C", "1", "-N", "-W", "10"}));
    EXPECT_EQ(r.ExitCode, 0) << r.Stderr;
    return r.Stdout;
  }

  static TMosquittoBroker* FBroker;
  static TMosquittoBroker* FSecured;
  static TMosquittoBroker* FWrongHost;
  static TMosquittoBroker* FClientCert;
};

TMosquittoBroker* CliPubSubTest::FBroker = nullptr;
TMosquittoBroker* CliPubSubTest::FSecured = nullptr;
TMosquittoBroker* CliPubSubTest::FWrongHost = nullptr;
TMosquittoBroker* CliPubSubTest::FClientCert = nullptr;

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
  const TRunResult lines =
      RunProcess(Cli("pub", {"-t", "cli/lines", "-l", "-q", "1"}), "eins\nzwei\r\ndrei\n");
  ASSERT_EQ(lines.ExitCode, 0) << lines.Stderr;
  const TRunResult repeat =
      RunProcess(Cli("pub", {"-t", "cli/lines", "-m", "again", "--repeat", "3", "-q", "1"}));
  ASSERT_EQ(repeat.ExitCode, 0) << repeat.Stderr;
  ASSERT_TRUE(sub.WaitForMessages(6, kWaitLong));
  std::vector<std::string> payloads;
  for (const auto& m : sub.Messages()) payloads.push_back(m.Payload);
  EXPECT_EQ(payloads, (std::vector<std::string>{"eins", "zwei", "drei", "again", "again", "again"}));
}

// While pub -l waits for its next input line it still serves the engine:
// the keep-alive ping goes out and the connection stays up.
TEST_F(CliPubSubTest, PubLinesKeepsTheConnectionAliveWhileWaitingForInput) {
  TFakeBroker broker;
  TChildProcess::TOptions options;
  options.KeepStdinOpen = true;
  TChildProcess pub({kCli, "pub", "-h", broker.Host(), "-p", std::to_string(broker.Port()), "-t", "cli/slow",
                     "-l", "-k", "1"},
                    options);
  auto peer = AcceptConnected(broker);
  ASSERT_TRUE(peer);
  pub.WriteStdin("first\n");
  const auto first = peer->ReadFrame();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Raw,
            MakeFrame(0x30, {0x00, 0x08, 'c', 'l', 'i', '/', 's', 'l', 'o', 'w', 'f', 'i', 'r', 's', 't'}));
  // No more input for now: the next packet must be the keep-alive ping.
  const auto ping = peer->ReadFrame();
  ASSERT_TRUE(ping) << "no keep-alive ping while waiting for input";
  EXPECT_EQ(ping->Raw, (TByteVector{0xC0, 0x00}));
  ASSERT_TRUE(peer->Send(TByteVector{0xD0, 0x00}));
  pub.WriteStdin("second\n");
  pub.CloseStdin();
  const auto second = peer->ReadFrame();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Type(), 3);
  const auto disconnect = peer->ReadFrame();
  ASSERT_TRUE(disconnect);
  EXPECT_EQ(disconnect->Raw, (TByteVector{0xE0, 0x00}));
  ASSERT_TRUE(pub.Wait(kWaitLong));
  EXPECT_EQ(pub.ExitCode(), 0) << pub.Stderr();
}

TEST_F(CliPubSubTest, SubPrintsWhatMosquittoPubSends) {
  TChildProcess sub(Cli("sub", {"-t", "cli/in/#", "-q", "2", "-v", "-C", "3"}));
  // Ready once a retained marker has come through.
  ASSERT_EQ(MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "cli/in/ready", "-r", "-m", "ready"})).ExitCode,
            0);
  ASSERT_TRUE(sub.WaitForStdoutText("cli/in/ready ready\n", kWaitLong)) << sub.Stderr();
  for (const auto& [qos, text] : {std::pair<std::string, std::string>{"1", "öne"}, {"2", "двa"}})
    ASSERT_EQ(
        MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "cli/in/q" + qos, "-q", qos, "-m", text})).ExitCode,
        0);
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
  const std::string wrongHostPort = std::to_string(FWrongHost->TlsPort());
  const TTestCertificates& certs = FBroker->Certificates();
  struct TCase {
    std::string Name;
    std::vector<std::string> Args;
    std::string Expected;  // part of the error line
  };
  const TCase cases[] = {
      {"unreachable",
       {kCli, "pub", "-h", "127.0.0.1", "-p", std::to_string(closedPort), "-t", "a", "-m", "x"},
       "cannot connect"},
      {"wrong password",
       {kCli, "pub", "-h", "127.0.0.1", "-p", securedPort, "-u", "printer", "-P", "nope", "-t", "a", "-m",
        "x"},
       "connection refused"},
      {"bad topic",
       {kCli, "pub", "-h", "127.0.0.1", "-p", securedPort, "-t", "a/#", "-m", "x"},
       "not a valid topic"},
      {"bad filter",
       {kCli, "sub", "-h", "127.0.0.1", "-p", securedPort, "-t", "a#"},
       "not a valid topic filter"},
      {"untrusted broker",
       {kCli, "pub", "-h", "localhost", "-p", tlsPort, "--cafile", certs.OtherCAFile(), "-t", "a", "-m", "x"},
       "cannot connect"},
      // As with mosquitto_pub, --insecure skips the host-name check only.
      {"untrusted broker, --insecure",
       {kCli, "pub", "-h", "localhost", "-p", tlsPort, "--cafile", certs.OtherCAFile(), "--insecure", "-t",
        "a", "-m", "x"},
       "certificate verification"},
      {"wrong host name",
       {kCli, "pub", "-h", "localhost", "-p", wrongHostPort, "--cafile", certs.CAFile(), "-t", "a", "-m",
        "x"},
       "hostname mismatch"},
      {"unknown option", {kCli, "pub", "-t", "a", "-m", "x", "--bogus"}, "unknown option --bogus"},
      {"option without its value", {kCli, "sub", "-t"}, "needs a value"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRunResult r = RunProcess(c.Args);
    EXPECT_NE(r.ExitCode, 0);
    EXPECT_EQ(std::count(r.Stderr.begin(), r.Stderr.end(), '\n'), 1) << r.Stderr;
    EXPECT_NE(r.Stderr.find(c.Expected), std::string::npos) << r.Stderr;
  }
  // The right password and a trusted TLS broker work.
  EXPECT_EQ(RunProcess({kCli, "pub", "-h", "127.0.0.1", "-p", securedPort, "-u", "printer", "-P", "pa55",
                        "-t", "a", "-m", "x", "-q", "1"})
                .ExitCode,
            0);
  const TRunResult tls = RunProcess({kCli, "pub", "-h", "localhost", "-p", tlsPort, "--cafile",
                                     certs.CAFile(), "-t", "cli/tls", "-m", "x", "-r"});
  EXPECT_EQ(tls.ExitCode, 0) << tls.Stderr;
  EXPECT_EQ(Retained("cli/tls"), "x");
  const TRunResult insecure =
      RunProcess({kCli, "pub", "-h", "localhost", "-p", wrongHostPort, "--cafile", certs.CAFile(),
                  "--insecure", "-t", "cli/tls", "-m", "y", "-q", "1"});
  EXPECT_EQ(insecure.ExitCode, 0) << insecure.Stderr;
}

// The exit status names the kind of failure, also when TLS fails only after
// the handshake: over TLS 1.3 a broker that wants a client certificate and
// gets none (or one it does not trust) says so with an alert after the
// client has finished its handshake.
TEST_F(CliPubSubTest, ExitStatusNamesTheKindOfFailure) {
  const TTestCertificates& certs = FBroker->Certificates();
  const std::string tlsPort = std::to_string(FBroker->TlsPort());
  const std::string certPort = std::to_string(FClientCert->TlsPort());
  struct TCase {
    std::string Name;
    std::vector<std::string> Args;  // after "tessiva-cli pub -t cli/status -m x"
    int ExitCode;
    std::string Expected;  // part of the error line
  };
  const TCase cases[] = {
      {"wrong password",
       {"-h", "127.0.0.1", "-p", std::to_string(FSecured->Port()), "-u", "printer", "-P", "nope"},
       3,
       "connection refused"},
      {"untrusted broker", {"-h", "localhost", "-p", tlsPort, "--cafile", certs.OtherCAFile()}, 4, "TLS"},
      {"no client certificate", {"-h", "localhost", "-p", certPort, "--cafile", certs.CAFile()}, 4, "TLS"},
      {"client certificate of another CA",
       {"-h", "localhost", "-p", certPort, "--cafile", certs.CAFile(), "--cert",
        certs.UntrustedClientCertFile(), "--key", certs.UntrustedClientKeyFile()},
       4,
       "TLS"},
      {"client certificate of the broker's CA",
       {"-h", "localhost", "-p", certPort, "--cafile", certs.CAFile(), "--cert", certs.ClientCertFile(),
        "--key", certs.ClientKeyFile(), "-q", "1"},
       0,
       ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRunResult r = RunProcess(Concat({kCli, "pub", "-t", "cli/status", "-m", "x"}, c.Args));
    EXPECT_EQ(r.ExitCode, c.ExitCode) << r.Stderr;
    if (c.ExitCode == 0) {
      EXPECT_EQ(r.Stderr, "");
      continue;
    }
    EXPECT_EQ(std::count(r.Stderr.begin(), r.Stderr.end(), '\n'), 1) << r.Stderr;
    EXPECT_NE(r.Stderr.find(c.Expected), std::string::npos) << r.Stderr;
    EXPECT_EQ(r.Stderr.find("CONNACK"), std::string::npos) << r.Stderr;
  }
}

// Strings that MQTT cannot carry (more than 65,535 bytes) are refused before
// anything is sent, naming the option; 65,535 bytes go through.
TEST_F(CliPubSubTest, OverlongMqttStringsAreRefusedUpFront) {
  const std::string overlong(65536, 't');
  const std::string closedPort = std::to_string(FreeLoopbackPort());
  struct TCase {
    std::string Command, Option;
    std::string Named;  // as the error line names it
  };
  const TCase cases[] = {
      {"pub", "-t", "--topic"},
      {"sub", "-t", "--topic"},
      {"pub", "-i", "--id"},
      {"sub", "-i", "--id"},
      {"pub", "-u", "--username"},
      {"pub", "-P", "--pw"},
      {"pub", "--will-topic", "--will-topic"},
      {"sub", "--will-payload", "--will-payload"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Command + " " + c.Option);
    // The port is closed: an attempt to connect would end in exit status 5.
    std::vector<std::string> args = {kCli, c.Command, "-h", "127.0.0.1", "-p", closedPort};
    if (c.Option != "-t") args = Concat(args, {"-t", "cli/long"});
    if (c.Command == "pub") args = Concat(args, {"-m", "x"});
    const TRunResult r = RunProcess(Concat(args, {c.Option, overlong}));
    EXPECT_EQ(r.ExitCode, 2) << r.Stderr;
    EXPECT_EQ(std::count(r.Stderr.begin(), r.Stderr.end(), '\n'), 1) << r.Stderr;
    EXPECT_NE(r.Stderr.find("option " + c.Named + ": 65536 bytes is too long, MQTT carries at most 65535"),
              std::string::npos)
        << r.Stderr;
  }
  // At the limit: a topic of 65,535 bytes reaches the broker and comes back.
  const std::string longest = "cli/" + std::string(65535 - 4, 'l');
  const TRunResult pub = RunProcess(Cli("pub", {"-t", longest, "-m", "at the limit", "-r", "-q", "1"}));
  EXPECT_EQ(pub.ExitCode, 0) << pub.Stderr;
  EXPECT_EQ(Retained(longest), "at the limit");
  MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", longest, "-r", "-n"}));
}

// A broker that accepts the connection but withholds the final
// acknowledgement: pub names the unacknowledged message and fails.
TEST_F(CliPubSubTest, PubReportsMessagesThatWereNotAcknowledged) {
  for (const std::string qos : {"1", "2"}) {
    SCOPED_TRACE(qos);
    TFakeBroker broker;
    TChildProcess pub({kCli, "pub", "-h", broker.Host(), "-p", std::to_string(broker.Port()), "-t",
                       "cli/unacked", "-m", "lost", "-q", qos, "-W", "1"});
    auto peer = AcceptConnected(broker);
    ASSERT_TRUE(peer);
    const auto publish = peer->ReadFrame();
    ASSERT_TRUE(publish);
    ASSERT_EQ(publish->Type(), 3);
    const uint16_t topicLength = publish->Word(0);
    const uint16_t id = publish->Word(2u + topicLength);
    if (qos == "2") {
      // PUBREC is answered with PUBREL; the PUBCOMP never comes.
      ASSERT_TRUE(
          peer->Send(TByteVector{0x50, 0x02, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)}));
      const auto pubrel = peer->ReadFrame();
      ASSERT_TRUE(pubrel);
      EXPECT_EQ(pubrel->FirstByte, 0x62);
      EXPECT_EQ(pubrel->Word(0), id);
    }
    ASSERT_TRUE(pub.Wait(kWaitLong)) << pub.Stderr();
    EXPECT_EQ(pub.ExitCode(), 1);
    const std::string err = pub.Stderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("1 of 1 message(s) not acknowledged (packet ids " + std::to_string(id) + ")"),
              std::string::npos)
        << err;
  }
}

// pub rides through a broker restart: it reconnects and publishes the rest
// (mosquitto_sub, the peer, reconnects and subscribes again as well).
TEST_F(CliPubSubTest, PubGoesOnAfterABrokerRestart) {
  for (const std::string qos : {"0", "1", "2"}) {
    SCOPED_TRACE(qos);
    const std::string topic = "cli/restart/" + qos;
    const std::string marker = "cli/restart/ready";
    TMosquittoSub sub(Concat(FBroker->ClientArgs(), {"-t", topic, "-t", marker, "-q", qos}));
    TChildProcess::TOptions options;
    options.KeepStdinOpen = true;
    TChildProcess pub(Cli("pub", {"-t", topic, "-l", "-q", qos}), options);
    pub.WriteStdin("before\n");
    ASSERT_TRUE(sub.WaitForMessages(1, kWaitLong));
    FBroker->Stop();
    FBroker->Start();
    // The subscriber is back once the new broker's retained marker reaches it.
    ASSERT_EQ(MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", marker, "-r", "-m", "ready"})).ExitCode, 0);
    ASSERT_TRUE(sub.WaitForMessages(2, std::chrono::milliseconds(30000)));
    pub.WriteStdin("after\n");
    pub.CloseStdin();
    ASSERT_TRUE(pub.Wait(std::chrono::milliseconds(30000))) << pub.Stderr();
    EXPECT_EQ(pub.ExitCode(), 0) << pub.Stderr();
    if (qos == "0")
      EXPECT_NE(pub.Stderr().find("lost 1 time(s) and came back"), std::string::npos) << pub.Stderr();
    else
      EXPECT_EQ(pub.Stderr(), "");
    ASSERT_TRUE(sub.WaitForMessages(3, kWaitLong));
    std::vector<std::string> payloads;
    for (const auto& m : sub.Messages()) payloads.push_back(m.Payload);
    EXPECT_EQ(payloads, (std::vector<std::string>{"before", "ready", "after"}));
    MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", marker, "-r", "-n"}));
  }
}

// A QoS 2 message whose PUBREC came before the connection was lost is the
// broker's to release at the PUBREL: a broker that comes back without the
// session has lost it, even when it answers the resent PUBREL. pub counts it
// as lost; with the session kept it is delivered.
TEST_F(CliPubSubTest, PubCountsAQoS2MessageTheBrokerForgotInARestart) {
  for (const bool sessionKept : {false, true}) {
    SCOPED_TRACE(sessionKept ? "session kept" : "session gone");
    TFakeBroker broker;
    TChildProcess pub({kCli, "pub", "-h", broker.Host(), "-p", std::to_string(broker.Port()), "-t",
                       "cli/forgot", "-m", "x", "-q", "2", "-c", "-i", "cli-forgot"});
    auto first = AcceptConnected(broker);
    ASSERT_TRUE(first);
    const auto publish = first->ReadFrame();
    ASSERT_TRUE(publish);
    ASSERT_EQ(publish->Type(), 3);
    const uint16_t id = publish->Word(2u + publish->Word(0));
    const uint8_t hi = static_cast<uint8_t>(id >> 8), lo = static_cast<uint8_t>(id);
    ASSERT_TRUE(first->Send(TByteVector{0x50, 0x02, hi, lo}));
    const auto pubrel = first->ReadFrame();
    ASSERT_TRUE(pubrel);
    EXPECT_EQ(pubrel->FirstByte, 0x62);
    first->CloseOrderly();

    auto second = broker.Accept();
    ASSERT_TRUE(second) << "pub did not reconnect";
    const auto connect = second->ReadFrame();
    ASSERT_TRUE(connect);
    ASSERT_EQ(connect->Type(), 1);
    ASSERT_TRUE(second->Send(TByteVector{0x20, 0x02, static_cast<uint8_t>(sessionKept ? 1 : 0), 0x00}));
    // With the session kept the PUBREL is sent again and answered; without
    // it pub knows the message is gone and need not wait (a PUBREL sent all
    // the same is answered, as brokers answer one they do not know).
    const auto again = second->ReadFrame();
    ASSERT_TRUE(again);
    if (sessionKept || again->FirstByte == 0x62) {
      EXPECT_EQ(again->FirstByte, 0x62);
      EXPECT_EQ(again->Word(0), id);
      ASSERT_TRUE(second->Send(TByteVector{0x70, 0x02, hi, lo}));
    }
    ASSERT_TRUE(pub.Wait(kWaitLong)) << pub.Stderr();
    const std::string err = pub.Stderr();
    if (sessionKept) {
      EXPECT_EQ(pub.ExitCode(), 0) << err;
      EXPECT_EQ(err, "");
    } else {
      EXPECT_EQ(pub.ExitCode(), 1) << err;
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
      EXPECT_NE(
          err.find("1 of 1 message(s) lost: the broker came back without their session after its PUBREC "
                   "(packet ids " +
                   std::to_string(id) + ")"),
          std::string::npos)
          << err;
    }
  }
}

TEST_F(CliPubSubTest, LastWillIsDeliveredWhenTheCliIsKilled) {
  TMosquittoSub will(Concat(FBroker->ClientArgs(), {"-t", "cli/will", "-q", "1"}));
  ASSERT_EQ(MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "cli/alive", "-r", "-m", "up"})).ExitCode, 0);
  TChildProcess sub(Cli("sub", {"-t", "cli/alive", "--will-topic", "cli/will", "--will-payload",
                                "printer gone", "--will-qos", "1"}));
  ASSERT_TRUE(sub.WaitForStdoutText("up\n", kWaitLong)) << sub.Stderr();
  sub.Kill(SIGKILL);
  ASSERT_TRUE(sub.Wait(kWaitLong));
  ASSERT_TRUE(will.WaitForMessages(1, kWaitLong));
  EXPECT_EQ(will.Messages()[0].Payload, "printer gone");
  MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "cli/alive", "-r", "-n"}));
}

}  // namespace
