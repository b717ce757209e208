// The TCP transport against the scripted fake broker on loopback: opening,
// polling, reading with time-outs, writing, the loss of the connection
// (orderly close and reset alike), Close while other threads are inside the
// transport, and connect failures.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "FakeBroker.h"
#include "Nelo.MQTT.Connection.h"
#include "RecordingLogger.h"
#include "TestWait.h"

namespace {

using namespace tessiva::test;

class TransportTest : public ::testing::Test {
 protected:
  TransportTest() : Connection(&Log) {
    Connection.SetHostName(Broker.Host());
    Connection.SetPort(Broker.Port());
    Connection.OnConnected = [this](TNeloObject* ASender) {
      std::lock_guard<std::mutex> guard(Lock);
      ++Connected;
      ConnectedSender = ASender;
      ReadyWhenConnected = Connection.IsReady();
    };
    Connection.OnDisconnected = [this](TNeloObject* ASender) {
      std::lock_guard<std::mutex> guard(Lock);
      ++Disconnected;
      DisconnectedSender = ASender;
      DisconnectThread = std::this_thread::get_id();
      ReadyWhenDisconnected = Connection.IsReady();
    };
  }

  // Opens and takes the broker's side of the connection.
  std::unique_ptr<TFakeConnection> OpenAndAccept() {
    Connection.Open();
    auto peer = Broker.Accept();
    if (!peer) ADD_FAILURE() << "the fake broker saw no connection";
    return peer;
  }

  int DisconnectCount() {
    std::lock_guard<std::mutex> guard(Lock);
    return Disconnected;
  }

  TFakeBroker Broker;
  TRecordingLogger Log{vDEBUG};
  TNeloMQTTNetworkConnection Connection;

  std::mutex Lock;
  int Connected = 0, Disconnected = 0;
  TNeloObject* ConnectedSender = nullptr;
  TNeloObject* DisconnectedSender = nullptr;
  std::thread::id DisconnectThread;
  bool ReadyWhenConnected = false, ReadyWhenDisconnected = true;
};

TEST_F(TransportTest, Defaults) {
  TNeloMQTTNetworkConnection fresh;
  EXPECT_EQ(fresh.Port(), 1883);
  EXPECT_EQ(fresh.IPVersion(), Id_IPv4);
  EXPECT_FALSE(fresh.UseSSL());
  EXPECT_FALSE(fresh.IsReady());
  EXPECT_EQ(fresh.HostName(), "");
  ASSERT_NE(fresh.SSLIOHandler(), nullptr);
  EXPECT_TRUE(fresh.SSLIOHandler()->VerifyPeer) << "TLS verification is on unless turned off";
  EXPECT_EQ(fresh.ReadTimeout(), 0);
}

// A literal address is not resolved; a host name is.
TEST_F(TransportTest, OpenLogsItsStepsAndRaisesOnConnected) {
  struct TCase {
    const char* Host;
    bool Resolves;
  };
  for (const TCase& c : {TCase{"127.0.0.1", false}, TCase{"localhost", true}}) {
    SCOPED_TRACE(c.Host);
    Log.Clear();
    Connected = 0;
    Connection.SetHostName(c.Host);
    auto peer = OpenAndAccept();
    EXPECT_TRUE(Connection.IsReady());
    EXPECT_EQ(Connected, 1);
    EXPECT_TRUE(ReadyWhenConnected);
    EXPECT_EQ(ConnectedSender, &Connection);
    std::vector<std::string> expected = {"Initializing TCP Client", "Connecting TCP Client",
                                         "Socket allocated ... "};
    if (c.Resolves) expected.push_back("TNeloMQTTTcpClient - resolving...");
    expected.insert(expected.end(), {"TNeloMQTTTcpClient - connecting...", "Connection opened",
                                     "TNeloMQTTTcpClient - connected..."});
    EXPECT_EQ(Log.Messages(), expected);
    for (const auto& entry : Log.Entries()) EXPECT_EQ(entry.Sender, "TNeloMQTTNetworkConnection");
    EXPECT_EQ(Connection.ReadTimeout(), 2000);

    // Opening an open transport changes nothing.
    const std::size_t logged = Log.Entries().size();
    Connection.Open();
    EXPECT_EQ(Log.Entries().size(), logged);
    EXPECT_EQ(Connected, 1);
    Connection.Close();
  }
}

TEST_F(TransportTest, WritesAndReadsBytes) {
  auto peer = OpenAndAccept();
  ASSERT_TRUE(peer);
  EXPECT_FALSE(Connection.HasData()) << "nothing sent yet";

  const TNeloMQTTBytes request{0x10, 0x03, 0xAA, 0xBB, 0xCC};
  Connection.Write(request);
  EXPECT_EQ(peer->ReadBytes(request.size()), request);

  ASSERT_TRUE(peer->Send(TByteVector{0x20, 0x02, 0x00, 0x00, 1, 2, 3, 4, 5, 6, 7}));
  ASSERT_TRUE(WaitUntil([&] { return Connection.HasData(); }));
  uint8_t first = 0;
  Connection.Read(first);
  EXPECT_EQ(first, 0x20);
  EXPECT_EQ(Connection.ReadTimeout(), 2000) << "the single-byte read keeps the time-out of the open";

  TNeloMQTTBytes data;
  for (int i = 0; i < 3; ++i) Connection.Read(data, 1, true);
  EXPECT_EQ(data, (TNeloMQTTBytes{0x02, 0x00, 0x00}));
  EXPECT_EQ(Connection.ReadTimeout(), 5000) << "the array read sets the longer time-out";

  Connection.Read(data, 0, false);
  EXPECT_EQ(data.size(), 3u) << "a zero-length read leaves the array alone";
  Connection.Read(data, 4, false);
  EXPECT_EQ(data, (TNeloMQTTBytes{1, 2, 3, 4}));
  Connection.Read(data, 3, true);
  EXPECT_EQ(data, (TNeloMQTTBytes{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_FALSE(Connection.HasData());

  // A large payload arrives whole in both directions.
  TNeloMQTTBytes large(3 * 1024 * 1024 + 17);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 31 + 7);
  std::thread writer([&] { Connection.Write(large); });
  const auto echoed = peer->ReadBytes(large.size());
  writer.join();
  ASSERT_TRUE(echoed);
  EXPECT_TRUE(*echoed == large);
  ASSERT_TRUE(peer->Send(*echoed));
  TNeloMQTTBytes back;
  Connection.Read(back, large.size(), false);
  EXPECT_TRUE(back == large);
  EXPECT_EQ(Connection.ReadTimeout(), 5000) << "kept for the rest of the connection";
}

TEST_F(TransportTest, ReadRaisesATimeOutOnAnIdleConnection) {
  auto peer = OpenAndAccept();
  uint8_t byte = 0x55;
  EXPECT_THROW(Connection.Read(byte), ENeloMQTTReadTimeout);
  EXPECT_EQ(byte, 0x55);
  EXPECT_TRUE(Connection.IsReady()) << "a time-out does not end the connection";
  // Bytes that arrive later are still read in order.
  ASSERT_TRUE(peer->Send(TByteVector{0x42}));
  Connection.Read(byte);
  EXPECT_EQ(byte, 0x42);
}

TEST_F(TransportTest, NotReadyMeansNoEffect) {
  uint8_t byte = 9;
  TNeloMQTTBytes data{1, 2};
  // Before the first Open ...
  EXPECT_FALSE(Connection.HasData());
  EXPECT_NO_THROW(Connection.Write({1, 2, 3}));
  Connection.Read(byte);
  Connection.Read(data, 5, false);
  EXPECT_EQ(byte, 9);
  EXPECT_EQ(data, (TNeloMQTTBytes{1, 2}));
  Connection.Close();
  EXPECT_TRUE(Log.Entries().empty()) << "Close without a TCP client object logs nothing";

  // ... and after Close: nothing reaches the peer.
  auto peer = OpenAndAccept();
  Connection.Close();
  EXPECT_NO_THROW(Connection.Write({1, 2, 3}));
  Connection.Read(data, 5, true);
  EXPECT_EQ(data, (TNeloMQTTBytes{1, 2}));
  ASSERT_TRUE(peer->WaitForPeerClose());
  EXPECT_EQ(peer->Buffered(), 0u);
}

TEST_F(TransportTest, CloseReportsTheDisconnectionBeforeReturning) {
  auto peer = OpenAndAccept();
  Log.Clear();
  Connection.Close();
  EXPECT_FALSE(Connection.IsReady());
  EXPECT_EQ(Disconnected, 1);
  EXPECT_FALSE(ReadyWhenDisconnected);
  EXPECT_EQ(DisconnectedSender, &Connection);
  EXPECT_EQ(DisconnectThread, std::this_thread::get_id());
  EXPECT_EQ(Log.Messages(),
            (std::vector<std::string>{"Disconnecting TCP Client", "TNeloMQTTSocketHandler - disconnecting...",
                                      "TNeloMQTTSocketHandler - disconnected .. .",
                                      "Connection closed by remote host"}));
  EXPECT_TRUE(peer->WaitForPeerClose()) << "the peer is told at the socket level";

  Log.Clear();
  Connection.Close();
  EXPECT_TRUE(Log.Entries().empty());
  EXPECT_EQ(Disconnected, 1);

  // A closed transport opens again from scratch.
  auto again = OpenAndAccept();
  EXPECT_TRUE(Connection.IsReady());
  EXPECT_EQ(Log.Count("Initializing TCP Client"), 1u);
}

// The peer going away, orderly or by reset, is seen by the polling thread:
// bytes sent before are still delivered, then HasData answers False, the
// loss is reported once on that thread, and the transport is no longer ready.
TEST_F(TransportTest, PeerCloseOrResetIsReportedOnceOnThePollingThread) {
  for (const bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "orderly close");
    Log.Clear();
    Disconnected = 0;
    auto peer = OpenAndAccept();
    ASSERT_TRUE(peer->Send(TByteVector{0x30, 0x00}));
    ASSERT_TRUE(WaitUntil([&] { return Connection.HasData(); }));
    TNeloMQTTBytes frame;
    Connection.Read(frame, 2, false);
    EXPECT_EQ(frame, (TNeloMQTTBytes{0x30, 0x00}));
    if (reset) {
      peer->Reset();
    } else {
      peer->CloseOrderly();
    }

    std::thread::id poller;
    bool sawReadyFalse = false;
    std::thread reader([&] {
      poller = std::this_thread::get_id();
      sawReadyFalse = WaitUntil([&] {
        EXPECT_FALSE(Connection.HasData());
        return !Connection.IsReady();
      });
    });
    reader.join();
    ASSERT_TRUE(sawReadyFalse);
    EXPECT_EQ(DisconnectCount(), 1);
    EXPECT_EQ(DisconnectThread, poller);
    EXPECT_EQ(Log.Count("Connection closed by remote host"), 1u);
    EXPECT_EQ(Log.Count("TNeloMQTTSocketHandler - disconnected .. ."), 1u);
    EXPECT_FALSE(Connection.HasData());
    EXPECT_NO_THROW(Connection.Write({0xC0, 0x00})) << "a dropped transport drops writes";

    // Close after the loss frees the TCP client without a second report.
    Log.Clear();
    Connection.Close();
    EXPECT_EQ(Log.Messages(), std::vector<std::string>{"Disconnecting TCP Client"});
    EXPECT_EQ(DisconnectCount(), 1);
  }
}

// A blocked read learns of the loss as a closed connection (not a time-out).
TEST_F(TransportTest, ReadRaisesConnectionClosedWhenThePeerGoes) {
  auto peer = OpenAndAccept();
  ASSERT_TRUE(peer->Send(TByteVector{1, 2}));
  auto reading = std::async(std::launch::async, [&] {
    TNeloMQTTBytes data;
    Connection.Read(data, 10, false);
  });
  ASSERT_TRUE(WaitUntil([&] { return Connection.ReadTimeout() == 5000; }));
  peer->Reset();
  ASSERT_EQ(reading.wait_for(kWaitLong), std::future_status::ready);
  EXPECT_THROW(reading.get(), ENeloMQTTConnectionClosed);
  EXPECT_EQ(DisconnectCount(), 1);
  EXPECT_FALSE(Connection.IsReady());
}

// From a dropped connection, Open reuses the TCP client object and connects
// again; the TLS choice is read anew, so a transport switched to TLS never
// talks plain text.
TEST_F(TransportTest, OpenAfterThePeerDroppedReusesTheClientAndRereadsUseSSL) {
  auto peer = OpenAndAccept();
  peer->CloseOrderly();
  ASSERT_TRUE(WaitUntil([&] { return !Connection.HasData() && !Connection.IsReady(); }));

  auto second = OpenAndAccept();
  ASSERT_TRUE(second);
  EXPECT_TRUE(Connection.IsReady());
  EXPECT_EQ(Log.Count("Initializing TCP Client"), 1u);
  EXPECT_EQ(Log.Count("Connecting TCP Client"), 2u);
  EXPECT_EQ(Connection.ReadTimeout(), 2000);
  Connection.Write({0xC0, 0x00});
  EXPECT_EQ(second->ReadBytes(2), (TByteVector{0xC0, 0x00}));

  second->CloseOrderly();
  ASSERT_TRUE(WaitUntil([&] { return !Connection.HasData() && !Connection.IsReady(); }));
  Connection.SetUseSSL(true);
  Connection.SSLIOHandler()->VerifyPeer = false;
  auto opening = std::async(std::launch::async, [&] { Connection.Open(); });
  auto third = Broker.Accept();
  ASSERT_TRUE(third);
  const auto hello = third->ReadBytes(1);
  ASSERT_TRUE(hello);
  EXPECT_EQ((*hello)[0], 0x16) << "a TLS handshake record, not plain MQTT";
  third->Reset();
  ASSERT_EQ(opening.wait_for(kWaitLong), std::future_status::ready);
  EXPECT_THROW(opening.get(), ENeloMQTTSocketError);
  EXPECT_FALSE(Connection.IsReady());
}

TEST_F(TransportTest, FailedOpenLogsAndLeavesNoClient) {
  Broker.CloseListener();
  for (int attempt = 1; attempt <= 2; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_THROW(Connection.Open(), ENeloMQTTSocketError);
    EXPECT_FALSE(Connection.IsReady());
    EXPECT_EQ(Log.Count("Initializing TCP Client"), static_cast<std::size_t>(attempt))
        << "a failed Open leaves no TCP client object behind";
    EXPECT_EQ(Log.Count("Exception while connecting ..."), static_cast<std::size_t>(attempt));
  }
  EXPECT_EQ(Connected, 0);
  EXPECT_EQ(Disconnected, 0);
  const auto entries = Log.Entries();
  const auto failure = std::find_if(entries.begin(), entries.end(), [](const auto& e) {
    return e.Message == "Exception while connecting ...";
  });
  ASSERT_NE(failure, entries.end());
  EXPECT_EQ(failure->Level, vERROR);
  EXPECT_NE(failure->Line.find("\r\nCould not connect to 127.0.0.1:"), std::string::npos) << failure->Line;

  Log.Clear();
  Connection.Close();
  EXPECT_TRUE(Log.Entries().empty());

  // An empty host name is refused without asking any resolver.
  Connection.SetHostName("");
  EXPECT_THROW(Connection.Open(), ENeloMQTTSocketError);
  EXPECT_EQ(Log.Count("TNeloMQTTTcpClient - resolving..."), 0u);
  EXPECT_EQ(Log.Count("Exception while connecting ..."), 1u);
}

TEST_F(TransportTest, AddressFamilyAndPortBits) {
  // Only the low 16 bits of the port are used.
  Connection.SetPort(65536 + Broker.Port());
  auto peer = OpenAndAccept();
  EXPECT_TRUE(peer);
  Connection.Close();

  // An IPv6 literal needs the IPv6 family.
  TFakeBroker broker6(true);
  Connection.SetHostName("::1");
  Connection.SetPort(broker6.Port());
  EXPECT_THROW(Connection.Open(), ENeloMQTTSocketError);
  Connection.SetIPVersion(Id_IPv6);
  Connection.Open();
  auto peer6 = broker6.Accept();
  ASSERT_TRUE(peer6);
  Connection.Write({0xE0, 0x00});
  EXPECT_EQ(peer6->ReadBytes(2), (TByteVector{0xE0, 0x00}));
}

TEST_F(TransportTest, ConnectTimesOutWhenTheBrokerNeverAnswers) {
  Broker.Saturate();
  try {
    Connection.Open();
    FAIL() << "Open succeeded against a listener that drops every SYN";
  } catch (const ENeloMQTTSocketError& error) {
    EXPECT_NE(std::string(error.what()).find("timed out"), std::string::npos) << error.what();
  }
  EXPECT_FALSE(Connection.IsReady());
  EXPECT_EQ(Log.Count("Exception while connecting ..."), 1u);
}

// Writing into a connection that the peer has closed or reset fails with an
// error and a disconnection report, and SIGPIPE never ends the process (after
// a FIN and the RST that answers the next write, the socket reports EPIPE).
TEST_F(TransportTest, WriteAfterThePeerWentRaisesWithoutSigpipe) {
  for (const bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "orderly close");
    Disconnected = 0;
    auto peer = OpenAndAccept();
    if (reset) {
      peer->Reset();
    } else {
      peer->CloseOrderly();
    }
    int failures = 0;
    ASSERT_TRUE(WaitUntil([&] {
      try {
        Connection.Write(TNeloMQTTBytes(1024, 0x33));
      } catch (const ENeloMQTTConnectionClosed&) {
        ++failures;
      }
      return !Connection.IsReady();
    }));
    EXPECT_EQ(failures, 1) << "the failing write raises, later ones are dropped";
    EXPECT_EQ(DisconnectCount(), 1);
    Connection.Close();
  }
}

// Close from another thread while a call is in progress: the blocked call
// wakes with an error promptly, nothing is freed under it.
TEST_F(TransportTest, CloseWhileAReadIsBlocked) {
  auto peer = OpenAndAccept();
  auto reading = std::async(std::launch::async, [&] {
    TNeloMQTTBytes data;
    Connection.Read(data, 4, false);
  });
  ASSERT_TRUE(WaitUntil([&] { return Connection.ReadTimeout() == 5000; })) << "the reader is inside Read";
  Connection.Close();
  ASSERT_EQ(reading.wait_for(kWaitLong), std::future_status::ready);
  EXPECT_THROW(reading.get(), ENeloMQTTConnectionClosed);
  EXPECT_EQ(DisconnectCount(), 1);
}

TEST_F(TransportTest, CloseWhileAWriteIsBlocked) {
  auto peer = OpenAndAccept();
  // Far more than the socket buffers hold while the peer reads nothing.
  const TNeloMQTTBytes huge(64 * 1024 * 1024, 0x5A);
  std::atomic<bool> started{false};
  auto writing = std::async(std::launch::async, [&] {
    started = true;
    Connection.Write(huge);
  });
  ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
  ASSERT_TRUE(peer->ReadBytes(1)) << "bytes are flowing: the writer is inside Write";
  Connection.Close();
  const bool ended = writing.wait_for(kWaitLong) == std::future_status::ready;
  if (!ended) peer->Reset();  // unblock a faulty writer before failing
  ASSERT_TRUE(ended);
  EXPECT_THROW(writing.get(), ENeloMQTTSocketError);
  EXPECT_EQ(DisconnectCount(), 1);
}

TEST_F(TransportTest, CloseWhilePollingAndWritingConcurrently) {
  auto peer = OpenAndAccept();
  std::atomic<bool> stop{false};
  std::atomic<int> polls{0};
  std::thread poller([&] {
    while (!stop) {
      Connection.HasData();
      ++polls;
    }
  });
  std::thread writer([&] {
    while (!stop) {
      try {
        Connection.Write({0xC0, 0x00});
      } catch (const ENeloMQTTSocketError&) {
      }
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return polls.load() > 100; }));
  ASSERT_TRUE(peer->ReadBytes(2));
  Connection.Close();
  stop = true;
  poller.join();
  writer.join();
  EXPECT_EQ(DisconnectCount(), 1);
  EXPECT_FALSE(Connection.IsReady());
  EXPECT_TRUE(peer->WaitForPeerClose());
}

// SetLogger switches the destination of later lines; without a logger the
// transport works silently.
TEST_F(TransportTest, SetLogger) {
  TRecordingLogger other(vDEBUG);
  Connection.SetLogger(&other);
  auto peer = OpenAndAccept();
  EXPECT_TRUE(Log.Entries().empty());
  EXPECT_EQ(other.Count("Connection opened"), 1u);
  Connection.SetLogger(nullptr);
  Connection.Close();
  EXPECT_EQ(other.Count("Connection closed by remote host"), 0u);
  EXPECT_EQ(Disconnected, 1);
}

}  // namespace
