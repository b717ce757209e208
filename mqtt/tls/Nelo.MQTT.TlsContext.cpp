#include "Nelo.MQTT.TlsContext.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

int NoPassphrase(char*, int, int, void*) { return 0; }

bool IsAddressLiteral(const std::string& AName) {
  in6_addr address6{};
  in_addr address4{};
  return inet_pton(AF_INET, AName.c_str(), &address4) == 1 ||
         inet_pton(AF_INET6, AName.c_str(), &address6) == 1;
}

}  // namespace

std::string NeloMQTTTlsErrorText() {
  std::string text;
  unsigned long code;
  while ((code = ERR_get_error()) != 0) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    if (!text.empty()) text += "; ";
    text += buffer;
  }
  return text.empty() ? std::string("unknown TLS error") : text;
}

SSL_CTX* NeloMQTTNewTlsContext(const TNeloMQTTTlsSettings& ASettings, std::string& AError) {
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) {
    AError = "TLS set-up failed: " + NeloMQTTTlsErrorText();
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_ENABLE_PARTIAL_WRITE);
  auto fail = [&](const std::string& AText) -> SSL_CTX* {
    AError = AText + NeloMQTTTlsErrorText();
    SSL_CTX_free(ctx);
    return nullptr;
  };
  if (ASettings.VerifyPeer) {
    if (!ASettings.CAFile.empty() || !ASettings.CAPath.empty()) {
      if (SSL_CTX_load_verify_locations(ctx, ASettings.CAFile.empty() ? nullptr : ASettings.CAFile.c_str(),
                                        ASettings.CAPath.empty() ? nullptr : ASettings.CAPath.c_str()) != 1)
        return fail("Could not load the CA certificates: ");
    } else if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
      return fail("Could not load the system trust store: ");
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  } else {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  }
  if (!ASettings.CertFile.empty()) {
    // A passphrase-protected key is refused instead of prompting on a
    // terminal (which would stall the connecting thread indefinitely).
    SSL_CTX_set_default_passwd_cb(ctx, NoPassphrase);
    const std::string& keyFile = ASettings.KeyFile.empty() ? ASettings.CertFile : ASettings.KeyFile;
    if (SSL_CTX_use_certificate_chain_file(ctx, ASettings.CertFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1)
      return fail("Could not load the client certificate: ");
  }
  return ctx;
}

bool NeloMQTTSetTlsPeer(SSL* ASsl, const TNeloMQTTTlsSettings& ASettings, const std::string& AHostName,
                        std::string& AError) {
  const std::string serverName = ASettings.ServerName.empty() ? AHostName : ASettings.ServerName;
  const bool literal = IsAddressLiteral(serverName);
  if (!literal && !serverName.empty()) SSL_set_tlsext_host_name(ASsl, serverName.c_str());
  if (ASettings.VerifyPeer && ASettings.VerifyHostName) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ASsl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const int set = literal ? X509_VERIFY_PARAM_set1_ip_asc(param, serverName.c_str())
                            : X509_VERIFY_PARAM_set1_host(param, serverName.c_str(), 0);
    if (set != 1) {
      AError = "Invalid TLS server name '" + serverName + "'";
      return false;
    }
  }
  return true;
}
