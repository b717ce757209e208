// The TLS settings of a broker connection and the one place they become an
// OpenSSL client context and session: TLS 1.2 or later, the CA file or
// folder (else the system trust store), the chain check, the client
// certificate, SNI for host names and the host-name (or address) check.
// Both the seed's transport and the fleet engine set up TLS through here.
#pragma once

#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

// TLS settings of the transport, read at every Open. TLS 1.2 or later is
// negotiated, SNI is sent for host names, and by default the broker's chain
// and host name are verified against the system trust store.
class TNeloMQTTTlsSettings {
 public:
  std::string CAFile, CAPath;     // empty: the system trust store
  std::string CertFile, KeyFile;  // client certificate, optional
  bool VerifyPeer = true;         // false: chain and host name unchecked (explicit opt-out)
  std::string ServerName;         // SNI and host-name check; empty: the transport's HostName
  bool VerifyHostName = true;     // false (with VerifyPeer): the chain is checked, the name is not
};

// A new client context for ASettings, or nullptr with AError set ("Could not
// load the CA certificates: ...", "Could not load the client certificate: ...").
// The caller frees it with SSL_CTX_free.
SSL_CTX* NeloMQTTNewTlsContext(const TNeloMQTTTlsSettings& ASettings, std::string& AError);

// Names the broker on ASsl: SNI (for a host name, not an address literal)
// and, when verified, the host name or address its certificate must carry.
// AHostName is used when ASettings.ServerName is empty. False with AError
// set when the name cannot be checked.
bool NeloMQTTSetTlsPeer(SSL* ASsl, const TNeloMQTTTlsSettings& ASettings, const std::string& AHostName,
                        std::string& AError);

// Every pending OpenSSL error of this thread as one text (the queue is emptied).
std::string NeloMQTTTlsErrorText();
