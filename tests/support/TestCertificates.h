// Certificates made at test time with the openssl command: a test CA, a
// server certificate for localhost / 127.0.0.1 / ::1, a server certificate
// for another host name, a server certificate of an unknown CA, and a client
// certificate. Generated once per test process, in a private directory.
#pragma once

#include <memory>
#include <string>

#include "TempDir.h"

namespace tessiva::test {

class TTestCertificates {
 public:
  // The set shared by every test of this process (made on first use).
  static const TTestCertificates& Shared();

  TTestCertificates();  // generates a new set; throws std::runtime_error on failure

  std::string CAFile() const { return FDir.File("ca.crt"); }
  std::string CAKeyFile() const { return FDir.File("ca.key"); }
  // A folder with the CA certificate under its subject-hash name (for CAPath).
  std::string CADir() const { return FDir.File("cadir"); }
  // Valid for localhost, 127.0.0.1 and ::1, issued by CAFile().
  std::string ServerCertFile() const { return FDir.File("server.crt"); }
  std::string ServerKeyFile() const { return FDir.File("server.key"); }
  // Issued by CAFile() for "wrong.host.invalid" only.
  std::string WrongHostCertFile() const { return FDir.File("wronghost.crt"); }
  std::string WrongHostKeyFile() const { return FDir.File("wronghost.key"); }
  // Valid for localhost and 127.0.0.1 but issued by another CA (OtherCAFile()).
  std::string UntrustedCertFile() const { return FDir.File("untrusted.crt"); }
  std::string UntrustedKeyFile() const { return FDir.File("untrusted.key"); }
  std::string OtherCAFile() const { return FDir.File("other-ca.crt"); }
  // Client certificate "tessiva-test-client" issued by CAFile().
  std::string ClientCertFile() const { return FDir.File("client.crt"); }
  std::string ClientKeyFile() const { return FDir.File("client.key"); }
  // Client certificate issued by the other CA.
  std::string UntrustedClientCertFile() const { return FDir.File("untrusted-client.crt"); }
  std::string UntrustedClientKeyFile() const { return FDir.File("untrusted-client.key"); }

  const std::string& Dir() const { return FDir.Path(); }

 private:
  void MakeCA(const std::string& AName, const std::string& ASubject) const;
  void MakeLeaf(const std::string& AName, const std::string& ASubject, const std::string& AExtensions,
                const std::string& ACAName) const;

  TTempDir FDir;
};

}  // namespace tessiva::test
