// The transport's TLS against a real mosquitto: a valid chain and host name
// are accepted, a wrong host name or an unknown issuer is refused unless
// verification is turned off, and client certificates are presented.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "ChildProcess.h"
#include "MosquittoBroker.h"
#include "Nelo.MQTT.Connection.h"
#include "RecordingLogger.h"
#include "TempDir.h"
#include "TestWait.h"

namespace {

using namespace tessiva::test;

// A hand-made MQTT 3.1.1 CONNECT (clean session, keep-alive 60 s) and the
// broker's CONNACK: proves that bytes travel both ways through the tunnel.
TNeloMQTTBytes ConnectPacket(const std::string& AClientId, uint8_t AProtocolLevel = 4) {
  TNeloMQTTBytes body{0x00, 0x04, 'M', 'Q', 'T', 'T', AProtocolLevel, 0x02, 0x00, 0x3C};
  body.push_back(static_cast<uint8_t>(AClientId.size() >> 8));
  body.push_back(static_cast<uint8_t>(AClientId.size()));
  body.insert(body.end(), AClientId.begin(), AClientId.end());
  const uint8_t length = static_cast<uint8_t>(body.size());
  body.insert(body.begin(), {uint8_t{0x10}, length});
  return body;
}

TNeloMQTTBytes Exchange(TNeloMQTTNetworkConnection& AConnection, const TNeloMQTTBytes& APacket) {
  AConnection.Write(APacket);
  EXPECT_TRUE(WaitUntil([&] { return AConnection.HasData() || !AConnection.IsReady(); }));
  TNeloMQTTBytes reply;
  AConnection.Read(reply, 4, false);
  return reply;
}

const TNeloMQTTBytes kAccepted{0x20, 0x02, 0x00, 0x00};

// Polls until the transport reports the loss; returns what still arrived
// before it, or nothing when the loss was not reported in time.
std::optional<TNeloMQTTBytes> DrainUntilClosed(TNeloMQTTNetworkConnection& AConnection) {
  TNeloMQTTBytes received;
  const bool closed = WaitUntil([&] {
    if (AConnection.HasData()) {
      uint8_t byte;
      try {
        AConnection.Read(byte);
        received.push_back(byte);
      } catch (const ENeloMQTTSocketError&) {
      }
    }
    return !AConnection.IsReady();
  });
  if (!closed) return std::nullopt;
  return received;
}

class TlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TBrokerOptions valid;
    valid.Tls = true;
    Valid = new TMosquittoBroker(valid);
    TBrokerOptions wrongHost = valid;
    wrongHost.Plain = false;
    wrongHost.ServerCert = TBrokerOptions::scWrongHost;
    WrongHost = new TMosquittoBroker(wrongHost);
    TBrokerOptions untrusted = wrongHost;
    untrusted.ServerCert = TBrokerOptions::scUntrusted;
    Untrusted = new TMosquittoBroker(untrusted);
    TBrokerOptions clientCert = valid;
    clientCert.Plain = false;
    clientCert.RequireClientCert = true;
    ClientCert = new TMosquittoBroker(clientCert);
  }
  static void TearDownTestSuite() {
    delete Valid;
    delete WrongHost;
    delete Untrusted;
    delete ClientCert;
    Valid = WrongHost = Untrusted = ClientCert = nullptr;
  }

  TlsTest() : Connection(&Log) {
    Connection.SetUseSSL(true);
    Connection.OnDisconnected = [this](TNeloObject*) { ++Disconnected; };
  }

  void Target(const TMosquittoBroker& ABroker, const std::string& AHost = "localhost") {
    Connection.SetHostName(AHost);
    Connection.SetPort(ABroker.TlsPort());
  }

  static const TTestCertificates& Certs() { return TTestCertificates::Shared(); }

  static TMosquittoBroker* Valid;
  static TMosquittoBroker* WrongHost;
  static TMosquittoBroker* Untrusted;
  static TMosquittoBroker* ClientCert;

  TRecordingLogger Log{vDEBUG};
  TNeloMQTTNetworkConnection Connection;
  std::atomic<int> Disconnected{0};
};

TMosquittoBroker* TlsTest::Valid = nullptr;
TMosquittoBroker* TlsTest::WrongHost = nullptr;
TMosquittoBroker* TlsTest::Untrusted = nullptr;
TMosquittoBroker* TlsTest::ClientCert = nullptr;

TEST_F(TlsTest, VerificationDecidesWhichBrokersAreAccepted) {
  enum TTrust { trCAFile, trCAPath, trSystem };
  struct TCase {
    const char* Name;
    TMosquittoBroker** Broker;
    const char* Host;
    TTrust Trust;
    bool Verify;
    const char* ServerName;
    bool Accepted;
    bool CheckName = true;  // VerifyHostName
  };
  const TCase cases[] = {
      {"valid chain, host name", &TlsTest::Valid, "localhost", trCAFile, true, "", true},
      {"valid chain, IP address in the certificate", &TlsTest::Valid, "127.0.0.1", trCAFile, true, "", true},
      {"valid chain through a CA folder", &TlsTest::Valid, "localhost", trCAPath, true, "", true},
      {"test CA not in the system store", &TlsTest::Valid, "localhost", trSystem, true, "", false},
      {"wrong host name", &TlsTest::WrongHost, "localhost", trCAFile, true, "", false},
      {"wrong host name, verification off", &TlsTest::WrongHost, "localhost", trCAFile, false, "", true},
      {"server name set to the certificate's", &TlsTest::WrongHost, "localhost", trCAFile, true,
       "wrong.host.invalid", true},
      {"server name that the certificate lacks", &TlsTest::Valid, "localhost", trCAFile, true,
       "other.invalid", false},
      {"unknown issuer", &TlsTest::Untrusted, "localhost", trCAFile, true, "", false},
      {"unknown issuer, verification off", &TlsTest::Untrusted, "localhost", trSystem, false, "", true},
      {"wrong host name, name check off", &TlsTest::WrongHost, "localhost", trCAFile, true, "", true, false},
      {"unknown issuer, name check off: the chain still counts", &TlsTest::Untrusted, "localhost", trCAFile,
       true, "", false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Log.Clear();
    TNeloMQTTTlsSettings& tls = *Connection.SSLIOHandler();
    tls = TNeloMQTTTlsSettings();
    if (c.Trust == trCAFile) tls.CAFile = Certs().CAFile();
    if (c.Trust == trCAPath) tls.CAPath = Certs().CADir();
    tls.VerifyPeer = c.Verify;
    tls.ServerName = c.ServerName;
    tls.VerifyHostName = c.CheckName;
    Target(**c.Broker, c.Host);
    if (c.Accepted) {
      ASSERT_NO_THROW(Connection.Open());
      EXPECT_TRUE(Connection.IsReady());
      EXPECT_EQ(Exchange(Connection, ConnectPacket("tessiva-tls")), kAccepted);
      Connection.Close();
    } else {
      try {
        Connection.Open();
        ADD_FAILURE() << "the broker's certificate was accepted";
        Connection.Close();
      } catch (const ENeloMQTTSocketError& error) {
        EXPECT_NE(std::string(error.what()).find("certificate verification"), std::string::npos)
            << error.what();
      }
      EXPECT_FALSE(Connection.IsReady());
      EXPECT_EQ(Log.Count("Exception while connecting ..."), 1u);
    }
  }
}

TEST_F(TlsTest, ClientCertificate) {
  struct TCase {
    const char* Name;
    std::string Cert, Key;
    bool Accepted;
  };
  const TCase cases[] = {
      {"certificate of the broker's CA", Certs().ClientCertFile(), Certs().ClientKeyFile(), true},
      {"certificate of another CA", Certs().UntrustedClientCertFile(), Certs().UntrustedClientKeyFile(),
       false},
      {"no certificate", "", "", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TNeloMQTTTlsSettings& tls = *Connection.SSLIOHandler();
    tls = TNeloMQTTTlsSettings();
    tls.CAFile = Certs().CAFile();
    tls.CertFile = c.Cert;
    tls.KeyFile = c.Key;
    Target(*ClientCert);
    Disconnected = 0;
    if (c.Accepted) {
      ASSERT_NO_THROW(Connection.Open());
      EXPECT_EQ(Exchange(Connection, ConnectPacket("tessiva-cert")), kAccepted);
      Connection.Close();
    } else {
      // Over TLS 1.2 the broker refuses within the handshake; over TLS 1.3 the
      // client's handshake is complete before the broker judges it, and the
      // refusal arrives as an alert that ends the connection.
      bool opened = true;
      try {
        Connection.Open();
      } catch (const ENeloMQTTSocketError& error) {
        opened = false;
        EXPECT_EQ(Log.Count("Exception while connecting ..."), 1u) << error.what();
      }
      if (opened) {
        try {
          Connection.Write(ConnectPacket("tessiva-nocert"));
        } catch (const ENeloMQTTConnectionClosed&) {
          // the alert was already there: the write found the connection gone
        }
        const auto received = DrainUntilClosed(Connection);
        ASSERT_TRUE(received) << "the broker kept the connection";
        EXPECT_TRUE(received->empty()) << "the broker answered the CONNECT";
        EXPECT_EQ(Disconnected.load(), 1);
      }
      Connection.Close();
      EXPECT_FALSE(Connection.IsReady());
    }
    Log.Clear();
  }
  // A key that does not belong to the certificate, or one that needs a
  // passphrase (never asked for on a terminal), is refused before connecting.
  TTempDir dir;
  const std::string encrypted = dir.File("encrypted.key");
  const TRunResult made = RunProcess({"openssl", "pkey", "-in", Certs().ClientKeyFile(), "-aes256",
                                      "-passout", "pass:secret", "-out", encrypted});
  ASSERT_EQ(made.ExitCode, 0) << made.Stderr;
  for (const std::string& key : {Certs().ServerKeyFile(), encrypted}) {
    SCOPED_TRACE(key);
    Log.Clear();
    TNeloMQTTTlsSettings& tls = *Connection.SSLIOHandler();
    tls.CertFile = Certs().ClientCertFile();
    tls.KeyFile = key;
    try {
      Connection.Open();
      ADD_FAILURE() << "the key was accepted";
      Connection.Close();
    } catch (const ENeloMQTTSocketError& error) {
      EXPECT_NE(std::string(error.what()).find("Could not load the client certificate"), std::string::npos)
          << error.what();
    }
    EXPECT_EQ(Log.Count("Connection opened"), 0u);
  }
}

// Over TLS the broker's close is reported through HasData like over TCP:
// a CONNECT with an unknown protocol level is answered and then dropped.
TEST_F(TlsTest, BrokerCloseIsReportedOnce) {
  Connection.SSLIOHandler()->CAFile = Certs().CAFile();
  Target(*Valid);
  Connection.Open();
  const TNeloMQTTBytes reply = Exchange(Connection, ConnectPacket("tessiva-old", 99));
  EXPECT_EQ(reply, (TNeloMQTTBytes{0x20, 0x02, 0x00, 0x01})) << "unacceptable protocol version";
  const auto rest = DrainUntilClosed(Connection);
  ASSERT_TRUE(rest);
  EXPECT_TRUE(rest->empty());
  EXPECT_EQ(Disconnected.load(), 1);
  EXPECT_EQ(Log.Count("Connection closed by remote host"), 1u);
  Connection.Close();
  EXPECT_EQ(Disconnected.load(), 1);
}

// A plain transport and a TLS transport side by side on one broker.
TEST_F(TlsTest, PlainAndTlsListenersOfOneBroker) {
  TNeloMQTTNetworkConnection plain;
  plain.SetHostName(Valid->Host());
  plain.SetPort(Valid->Port());
  plain.Open();
  Connection.SSLIOHandler()->CAFile = Certs().CAFile();
  Target(*Valid);
  Connection.Open();
  EXPECT_EQ(Exchange(plain, ConnectPacket("tessiva-plain")), kAccepted);
  EXPECT_EQ(Exchange(Connection, ConnectPacket("tessiva-tls2")), kAccepted);
  // The TLS listener does not speak plain MQTT.
  TNeloMQTTNetworkConnection wrong;
  wrong.SetHostName("localhost");
  wrong.SetPort(Valid->TlsPort());
  wrong.Open();
  wrong.Write(ConnectPacket("tessiva-wrong"));
  EXPECT_TRUE(DrainUntilClosed(wrong)) << "the broker drops a client that skips the handshake";

  // The launcher's client arguments reach the TLS listener with the test CA.
  const TRunResult pub = MosquittoPub(Concat(Valid->TlsClientArgs(), {"-t", "tls/check", "-m", "x"}));
  EXPECT_EQ(pub.ExitCode, 0) << pub.Stderr;
}

}  // namespace
