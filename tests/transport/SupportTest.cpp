// The shared test support that other suites build on: the mosquitto launcher
// (password file, restart on the same port, IPv6 listener), the mosquitto
// client helpers, and the fake broker's frame cutting.
#include <gtest/gtest.h>

#include "FakeBroker.h"
#include "MosquittoBroker.h"
#include "Nelo.MQTT.Connection.h"

namespace {

using namespace tessiva::test;

TEST(TestSupport, PasswordBrokerAndRestartOnTheSamePort) {
  TBrokerOptions options;
  options.Users = {{"printer", "s3cret"}};
  options.IPv6 = true;
  TMosquittoBroker broker(options);

  // Anonymous access is off, the user's credentials work.
  const std::vector<std::string> anonymous{"-h", "127.0.0.1", "-p", std::to_string(broker.Port()),
                                           "-V", "mqttv311"};
  EXPECT_NE(MosquittoPub(Concat(anonymous, {"-t", "t/1", "-m", "x"})).ExitCode, 0);
  {
    TMosquittoSub sub(Concat(broker.ClientArgs(), {"-t", "t/#", "-q", "1"}));
    const TRunResult pub =
        MosquittoPub(Concat(broker.ClientArgs(), {"-t", "t/2", "-q", "1", "-s"}), "hello printer");
    ASSERT_EQ(pub.ExitCode, 0) << pub.Stderr;
    ASSERT_TRUE(sub.WaitForMessages(1, kWaitLong)) << sub.Process().Stdout();
    ASSERT_EQ(sub.Messages().size(), 1u);
    EXPECT_EQ(sub.Messages()[0].Topic, "t/2");
    EXPECT_EQ(sub.Messages()[0].Payload, "hello printer");
  }

  // The IPv6 loopback listener is a listener of the same broker.
  TNeloMQTTNetworkConnection v6;
  v6.SetIPVersion(Id_IPv6);
  v6.SetHostName("::1");
  v6.SetPort(broker.IPv6Port());
  EXPECT_NO_THROW(v6.Open());
  v6.Close();

  const int port = broker.Port();
  broker.Stop();
  EXPECT_FALSE(broker.Running());
  EXPECT_FALSE(PortAccepts("127.0.0.1", port, kWaitShort));
  broker.Start();
  EXPECT_EQ(broker.Port(), port);
  EXPECT_TRUE(PortAccepts("127.0.0.1", port, kWaitShort));
  EXPECT_EQ(MosquittoPub(Concat(broker.ClientArgs(), {"-t", "t/3", "-m", "again"})).ExitCode, 0);
}

TEST(TestSupport, ChildProcessCapturesAndEnds) {
  const TRunResult cat = RunProcess({"cat"}, "line one\nline two\n");
  EXPECT_EQ(cat.ExitCode, 0);
  EXPECT_EQ(cat.Stdout, "line one\nline two\n");

  TChildProcess sleeper({"sleep", "60"});
  EXPECT_TRUE(sleeper.Running());
  sleeper.Stop();
  EXPECT_FALSE(sleeper.Running());
  EXPECT_EQ(sleeper.TermSignal(), SIGTERM);

  const TRunResult failing = RunProcess({"sh", "-c", "echo oops >&2; exit 3"});
  EXPECT_EQ(failing.ExitCode, 3);
  EXPECT_EQ(failing.Stderr, "oops\n");
}

// Frames are cut by the remaining-length rule: seven bits per byte, least
// significant group first, at most four bytes.
TEST(TestSupport, FakeBrokerCutsFrames) {
  TFakeBroker broker;
  TNeloMQTTNetworkConnection client;
  client.SetHostName(broker.Host());
  client.SetPort(broker.Port());
  client.Open();
  auto peer = broker.Accept();
  ASSERT_TRUE(peer);

  const struct {
    uint32_t Length;
    TByteVector Encoded;
  } lengths[] = {{0, {0x00}},
                 {127, {0x7F}},
                 {128, {0x80, 0x01}},
                 {16383, {0xFF, 0x7F}},
                 {16384, {0x80, 0x80, 0x01}},
                 {2097152, {0x80, 0x80, 0x80, 0x01}}};
  for (const auto& l : lengths) {
    SCOPED_TRACE(l.Length);
    EXPECT_EQ(EncodeRemainingLength(l.Length), l.Encoded);
    TByteVector body(l.Length);
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i);
    const TByteVector frame = MakeFrame(0x32, body);
    // Two frames back to back are cut apart.
    TNeloMQTTBytes twice(frame.begin(), frame.end());
    twice.insert(twice.end(), frame.begin(), frame.end());
    client.Write(twice);
    for (int copy = 0; copy < 2; ++copy) {
      const auto got = peer->ReadFrame();
      ASSERT_TRUE(got);
      EXPECT_EQ(got->FirstByte, 0x32);
      EXPECT_EQ(got->Type(), 3);
      EXPECT_EQ(got->Flags(), 2);
      EXPECT_EQ(got->RemainingLength, l.Length);
      EXPECT_TRUE(got->Body == body);
      EXPECT_TRUE(got->Raw == frame);
    }
  }
  client.Write({0x40, 0x02, 0x12, 0x34});
  const auto ack = peer->ReadFrame();
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->Word(0), 0x1234);

  client.Write({0x30, 0xFF, 0xFF, 0xFF, 0xFF, 0x01});
  EXPECT_THROW(peer->ReadFrame(), std::runtime_error) << "a fifth length byte is malformed";

  client.Close();
  EXPECT_TRUE(peer->WaitForPeerClose());
  EXPECT_FALSE(peer->ReadFrame(kWaitShort)) << "nothing more after the close";
}

}  // namespace
