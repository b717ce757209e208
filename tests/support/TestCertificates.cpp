#include "TestCertificates.h"

#include <sys/stat.h>

#include <mutex>
#include <random>
#include <stdexcept>

#include "ChildProcess.h"

namespace tessiva::test {

namespace {

void RunOpenSsl(const std::vector<std::string>& AArgs) {
  std::vector<std::string> args{"openssl"};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  const TRunResult result = RunProcess(args, std::string(), std::chrono::milliseconds(60000));
  if (result.ExitCode != 0) {
    std::string command;
    for (const auto& arg : args) command += arg + " ";
    throw std::runtime_error("certificate generation failed: " + command + "\n" + result.Stdout +
                             result.Stderr);
  }
}

std::string RandomSerial() {
  std::random_device device;
  std::mt19937_64 generator(device());
  const char* digits = "0123456789abcdef";
  std::string serial = "0x1";
  for (int i = 0; i < 30; ++i) serial += digits[generator() % 16];
  return serial;
}

}  // namespace

const TTestCertificates& TTestCertificates::Shared() {
  static std::once_flag once;
  static std::unique_ptr<TTestCertificates> shared;
  std::call_once(once, [] { shared = std::make_unique<TTestCertificates>(); });
  return *shared;
}

void TTestCertificates::MakeCA(const std::string& AName, const std::string& ASubject) const {
  RunOpenSsl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
              "-keyout", FDir.File(AName + ".key"), "-out", FDir.File(AName + ".crt"), "-days", "30", "-subj",
              ASubject, "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
              "keyUsage=critical,keyCertSign,cRLSign"});
}

void TTestCertificates::MakeLeaf(const std::string& AName, const std::string& ASubject,
                                 const std::string& AExtensions, const std::string& ACAName) const {
  const std::string extFile = FDir.WriteFile(AName + ".ext", AExtensions);
  RunOpenSsl({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
              FDir.File(AName + ".key"), "-out", FDir.File(AName + ".csr"), "-subj", ASubject});
  RunOpenSsl({"x509", "-req", "-in", FDir.File(AName + ".csr"), "-CA", FDir.File(ACAName + ".crt"), "-CAkey",
              FDir.File(ACAName + ".key"), "-set_serial", RandomSerial(), "-days", "30", "-sha256",
              "-extfile", extFile, "-out", FDir.File(AName + ".crt")});
}

TTestCertificates::TTestCertificates() : FDir("tessiva-certs-") {
  MakeCA("ca", "/CN=Tessiva Test CA");
  MakeCA("other-ca", "/CN=Tessiva Other CA");
  const std::string server =
      "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
      "extendedKeyUsage=serverAuth\nsubjectAltName=";
  const std::string client =
      "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
      "extendedKeyUsage=clientAuth\n";
  MakeLeaf("server", "/CN=localhost", server + "DNS:localhost,IP:127.0.0.1,IP:::1\n", "ca");
  MakeLeaf("wronghost", "/CN=wrong.host.invalid", server + "DNS:wrong.host.invalid\n", "ca");
  MakeLeaf("untrusted", "/CN=localhost", server + "DNS:localhost,IP:127.0.0.1,IP:::1\n", "other-ca");
  MakeLeaf("client", "/CN=tessiva-test-client", client, "ca");
  MakeLeaf("untrusted-client", "/CN=tessiva-untrusted-client", client, "other-ca");

  ::mkdir(CADir().c_str(), 0700);
  FDir.WriteFile("cadir/tessiva-test-ca.pem", ReadWholeFile(CAFile()));
  RunOpenSsl({"rehash", CADir()});
}

}  // namespace tessiva::test
