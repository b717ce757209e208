// The fleet engine's parts that need no broker: reading --bind-address,
// what the host's limits allow and how a fleet too large is refused, the
// deadline heap and the loop's timer that serves it.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "ChildProcess.h"
#include "MosquittoBroker.h"
#include "Nelo.MQTT.Fleet.Addresses.h"
#include "Nelo.MQTT.Fleet.Deadlines.h"
#include "Nelo.MQTT.Fleet.h"
#include "TestWait.h"

using namespace tessiva::test;

namespace {

std::string Join(const std::vector<boost::asio::ip::address>& AList) {
  std::string out;
  for (const auto& a : AList) out += (out.empty() ? "" : ",") + a.to_string();
  return out;
}

TEST(BindAddressTest, ListsAndRangesGiveTheAddressesInOrder) {
  struct TCase {
    const char* Text;
    const char* Expected;
  };
  const TCase cases[] = {
      {"127.0.0.1", "127.0.0.1"},
      {"127.0.0.1,127.0.0.2", "127.0.0.1,127.0.0.2"},
      {" 127.0.0.3 , 127.0.0.1 ", "127.0.0.3,127.0.0.1"},
      {"127.0.0.1-127.0.0.4", "127.0.0.1,127.0.0.2,127.0.0.3,127.0.0.4"},
      {"127.0.0.1-3", "127.0.0.1,127.0.0.2,127.0.0.3"},
      {"127.0.0.254-127.0.1.1", "127.0.0.254,127.0.0.255,127.0.1.0,127.0.1.1"},
      {"127.0.0.9-127.0.0.9", "127.0.0.9"},
      {"::1", "::1"},
      {"::1-::3", "::1,::2,::3"},
      {"fd00::ffff-fd00::1:1", "fd00::ffff,fd00::1:0,fd00::1:1"},
      {"127.0.0.1,127.0.0.5-6,::1", "127.0.0.1,127.0.0.5,127.0.0.6,::1"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(Join(NeloMQTTParseBindAddresses(c.Text)), c.Expected);
  }
  EXPECT_EQ(NeloMQTTParseBindAddresses("10.0.0.0-10.0.255.255").size(), 65536u);
}

TEST(BindAddressTest, WhatCannotBeReadIsRefusedWithTheReason) {
  struct TCase {
    const char* Text;
    const char* Reason;
  };
  const TCase cases[] = {
      {"", "no source address"},
      {"   ", "no source address"},
      {"localhost", "not an IP address"},
      {"127.0.0.256", "not an IP address"},
      {"127.0.0.1,", "empty element"},
      {",127.0.0.1", "empty element"},
      {"127.0.0.1,,127.0.0.2", "empty element"},
      {"127.0.0.5-127.0.0.1", "runs backwards"},
      {"127.0.0.5-1", "runs backwards"},
      {"127.0.0.1-300", "not an IP address"},
      {"127.0.0.1-::1", "mixes IPv4 and IPv6"},
      {"127.0.0.1-", "not an IP address"},
      {"-127.0.0.1", "not an IP address"},
      {"127.0.0.1,127.0.0.1", "named twice"},
      {"127.0.0.1-4,127.0.0.3", "named twice"},
      {"10.0.0.0-10.1.0.0", "more than 65536"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    try {
      NeloMQTTParseBindAddresses(c.Text);
      ADD_FAILURE() << "accepted";
    } catch (const ENeloMQTTBindAddressError& e) {
      EXPECT_NE(std::string(e.what()).find(c.Reason), std::string::npos) << e.what();
    }
  }
}

TEST(FleetCapacityTest, TheSmallerLimitDecidesAndIsNamed) {
  TNeloMQTTFleetCapacity c;
  c.OpenFiles = 1064;
  c.HardOpenFiles = 1064;
  c.ReservedFiles = 64;
  c.PortsPerAddress = 28232;
  c.SourceAddresses = 1;
  c.Connections = 1000;
  struct TCase {
    long OpenFiles, Addresses, Count;
    const char* Says;  // empty: allowed
    const char* AlsoSays;
  };
  const TCase cases[] = {
      {1064, 1, 1000, "", ""},
      {1064, 1, 1001, "the open-file limit (1064, hard limit 1064) allows 1000", ""},
      {200064, 1, 28232, "", ""},
      {200064, 1, 28233, "1 source address with 28232 ephemeral ports each allow 28232", "--bind-address"},
      {200064, 4, 100000, "", ""},
      {200064, 3, 100000, "3 source addresses with 28232 ephemeral ports each allow 84696", ""},
      {1064, 1, 50000, "allows 1000", "allow 28232"},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(std::to_string(k.Count));
    c.OpenFiles = c.HardOpenFiles = k.OpenFiles;
    c.SourceAddresses = k.Addresses;
    c.Connections = std::min(c.ByFiles(), c.ByPorts());
    const std::string problem = NeloMQTTCapacityProblem(k.Count, c);
    if (std::string(k.Says).empty()) {
      EXPECT_EQ(problem, "");
    } else {
      EXPECT_NE(problem.find(k.Says), std::string::npos) << problem;
      EXPECT_NE(problem.find(k.AlsoSays), std::string::npos) << problem;
      EXPECT_EQ(problem.rfind(std::to_string(k.Count) + " connections", 0), 0u) << problem;
    }
  }
}

TEST(FleetCapacityTest, TheSoftLimitIsRaisedAsFarAsTheHardLimitLets) {
  const TNeloMQTTFleetCapacity c = NeloMQTTFleetCapacity(100, 0);
  EXPECT_GE(c.OpenFiles, 164);
  EXPECT_EQ(c.SourceAddresses, 1);
  EXPECT_EQ(c.PortsPerAddress, NeloMQTTEphemeralPorts());
  const TNeloMQTTFleetCapacity most = NeloMQTTFleetCapacity(c.HardOpenFiles * 2, 4);
  EXPECT_EQ(most.OpenFiles, most.HardOpenFiles);
  EXPECT_EQ(most.SourceAddresses, 4);
}

// A fleet larger than the limits allow is refused before anything is made,
// with the number that can be had; the tool raises the soft limit itself.
TEST(FleetCapacityTest, PrinterRefusesACountTheLimitsCannotHold) {
  struct TCase {
    const char* Name;
    std::string Limits;  // shell commands run before the CLI
    std::vector<std::string> Args;
    int Exit;
    std::string Says;
  };
  const std::string cli = TESSIVA_CLI;
  const std::vector<std::string> topics = {"-p",        "1",          "--jobs",          "j/{serial}",
                                           "--replies", "r/{serial}", "--serial-format", "S%d"};
  const TCase cases[] = {
      {"open files", "ulimit -Sn 100; ulimit -Hn 300", {"--count", "1000"}, 2, "allows 236"},
      {"ports of one address", "", {"--count", "10000000"}, 2, "--bind-address"},
      {"ports of three addresses",
       "",
       {"--count", "10000000", "--bind-address", "127.0.0.1-3"},
       2,
       "3 source addresses with"},
      {"a bad --bind-address", "", {"--count", "10", "--bind-address", "127.0.0.9-1"}, 2, "runs backwards"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string command = c.Limits + (c.Limits.empty() ? "" : "; ") + "exec \"$0\" printer \"$@\"";
    std::vector<std::string> args = {"sh", "-c", command, cli};
    args.insert(args.end(), topics.begin(), topics.end());
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const TRunResult r = RunProcess(args);
    EXPECT_EQ(r.ExitCode, c.Exit) << r.Stderr;
    EXPECT_NE(r.Stderr.find(c.Says), std::string::npos) << r.Stderr;
  }
  // Below the hard limit the soft one is raised, and the fleet goes ahead
  // (to the closed port, which it then reports).
  const TRunResult raised =
      RunProcess({"sh", "-c",
                  "ulimit -Sn 100; ulimit -Hn 2000; exec \"$0\" printer -h 127.0.0.1 -p " +
                      std::to_string(FreeLoopbackPort()) +
                      " --count 1000 --serial-format S%d --jobs 'j/{serial}' --replies 'r/{serial}'",
                  cli});
  EXPECT_EQ(raised.ExitCode, 5) << raised.Stderr;
  EXPECT_EQ(raised.Stderr.find("connections are more than"), std::string::npos) << raised.Stderr;
}

// Texts MQTT cannot carry (a string is at most 65,535 bytes) are refused
// before connecting, naming which; at the limit they pass (and the command
// goes on to its closed port).
TEST(FleetCapacityTest, TextsMqttCannotCarryAreRefusedUpFront) {
  const std::string cli = TESSIVA_CLI;
  const std::string closed = std::to_string(FreeLoopbackPort());
  const std::string longest(65535, 'a'), over(65536, 'a');
  struct TCase {
    const char* Name;
    std::vector<std::string> Args;
    int Exit;
    const char* Says;
  };
  const TCase cases[] = {
      {"printer, a job topic",
       {"printer", "--serial", "S", "--jobs", over, "--replies", "r"},
       2,
       "option --jobs: 65536 bytes is too long"},
      {"printer, {serial} makes it too long",
       {"printer", "--serial", std::string(20, 's'), "--jobs", longest.substr(9) + "{serial}x", "--replies",
        "r"},
       2,
       "a topic is 65547"},
      {"printer, the client id with its serial",
       {"printer", "--serial", "S", "-i", longest.substr(1), "--jobs", "j", "--replies", "r"},
       2,
       "the client id is 65536"},
      {"printer, at the limit",
       {"printer", "--serial", "S", "-i", longest.substr(2), "--jobs", "j", "--replies", "r"},
       5,
       "cannot connect"},
      {"jobs, the user name",
       {"jobs", "--serial", "S", "-u", over, "--jobs", "j", "--replies", "r"},
       2,
       "option --username: 65536 bytes is too long"},
      {"jobs, the will message",
       {"jobs", "--serial", "S", "--will-topic", "w", "--will-payload", over, "--jobs", "j", "--replies",
        "r"},
       2,
       "option --will-payload: 65536 bytes is too long"},
      {"jobs, a client id at the limit",
       {"jobs", "--serial", "S", "-i", longest, "--jobs", "j", "--replies", "r"},
       5,
       "cannot connect"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRunResult r = RunProcess(Concat(Concat({cli}, c.Args), {"-h", "127.0.0.1", "-p", closed}));
    EXPECT_EQ(r.ExitCode, c.Exit) << r.Stderr.substr(0, 300);
    EXPECT_NE(r.Stderr.find(c.Says), std::string::npos) << r.Stderr.substr(0, 300);
  }
}

TEST(DeadlinesTest, DueEntriesComeEarliestFirstAndInOrderOfAdding) {
  TNeloMQTTDeadlines d;
  EXPECT_EQ(d.Next(), TNeloMQTTDeadlines::kNever);
  d.Add(30, 3, 0);
  d.Add(10, 1, 0);
  d.Add(20, 2, 7);
  d.Add(10, 4, 0);
  d.Add(50, 5, 0);
  EXPECT_EQ(d.Next(), 10);
  std::vector<std::pair<std::size_t, uint64_t>> woken;
  d.TakeDue(25, [&](std::size_t AKey, uint64_t AGeneration) {
    woken.emplace_back(AKey, AGeneration);
    // Added while serving: due now, so served in the same call; later ones wait.
    if (AKey == 1) d.Add(15, 6, 0);
    if (AKey == 2) d.Add(40, 7, 0);
  });
  EXPECT_EQ(woken, (std::vector<std::pair<std::size_t, uint64_t>>{{1, 0}, {4, 0}, {6, 0}, {2, 7}}));
  EXPECT_EQ(d.Next(), 30);
  EXPECT_EQ(d.Size(), 3u);
  woken.clear();
  d.TakeDue(1000, [&](std::size_t AKey, uint64_t) { woken.emplace_back(AKey, 0); });
  EXPECT_EQ(woken, (std::vector<std::pair<std::size_t, uint64_t>>{{3, 0}, {7, 0}, {5, 0}}));
  EXPECT_EQ(d.Size(), 0u);
}

class TNoEvents : public TNeloMQTTFleetHandler {
 public:
  void OnStatus(std::size_t, TNeloMQTTConnectionStatus, const std::string&) override {}
  void OnMessage(std::size_t, TNeloMQTTMessage&) override {}
};

// The loop's one timer serves steps of many sessions in the order of
// their times, each on its session's loop thread.
TEST(FleetLoopTest, StepsRunInTheOrderOfTheirTimesOnTheirSessionsLoop) {
  TNoEvents events;
  TNeloMQTTFleetOptions options;
  options.Host = "127.0.0.1";
  options.Loops = 2;
  TNeloMQTTFleet fleet(options, 10, events);
  std::string error;
  ASSERT_TRUE(fleet.Start(error)) << error;
  EXPECT_EQ(fleet.Loops(), 2u);
  std::mutex lock;
  std::vector<int> order[2];
  std::atomic<int> wrongThread{0}, done{0};
  const int64_t base = TNeloMQTTFleet::NowMs() + 50;
  // Given out of order, on both loops, from this (foreign) thread.
  const int offsets[] = {40, 0, 30, 10, 20, 0};
  for (int i = 0; i < 6; ++i) {
    const std::size_t session = static_cast<std::size_t>(i % 2 == 0 ? 2 : 3);
    fleet.RunAt(session, base + offsets[i], [&, i, session] {
      if (!fleet.OnLoopOf(session)) ++wrongThread;
      std::lock_guard<std::mutex> guard(lock);
      order[fleet.LoopOf(session)].push_back(offsets[i] * 10 + i);
      ++done;
    });
  }
  ASSERT_TRUE(WaitUntil([&] { return done.load() == 6; }));
  fleet.Stop();
  EXPECT_EQ(wrongThread.load(), 0);
  // Session 2 is on loop 0, session 3 on loop 1; equal times keep their order.
  EXPECT_EQ(order[0], (std::vector<int>{204, 302, 400}));
  EXPECT_EQ(order[1], (std::vector<int>{1, 5, 103}));
}

}  // namespace
