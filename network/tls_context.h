// The station's TLS identity for network ports: its certificate chain and private key and,
// when given, the CA whose client certificates alone are let in, loaded into one OpenSSL
// context. TLS 1.2 and 1.3 only, no renegotiation, no compression, no session resumption.
// Connections made from it keep it alive (OpenSSL counts them), so a context loaded anew
// serves the next client while connected ones go on with the old one.
#pragma once

#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;

class TlsContext {
 public:
  // Loads cert (PEM chain), key (PEM) and, unless empty, client_ca (PEM CA certificates;
  // clients then must present a certificate it signed). Returns null with the reason ("tls:
  // /etc/velk/key.pem: ...") when a file cannot be read or the key does not fit the
  // certificate.
  static std::shared_ptr<TlsContext> Load(const std::string& cert, const std::string& key,
                                          const std::string& client_ca, std::string& reason);
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;
  ~TlsContext();

  SSL_CTX* get() const { return context_; }

 private:
  explicit TlsContext(SSL_CTX* context) : context_(context) {}
  SSL_CTX* context_;
};

// Sets up context (a server context made elsewhere, such as the web page's HTTP library's) as
// Load does: the protocol limits, the certificate chain, the key and, unless client_ca is empty,
// the client certificates asked for. Returns false with the reason as Load gives it.
bool ConfigureServerTls(SSL_CTX* context, const std::string& cert, const std::string& key,
                        const std::string& client_ca, std::string& reason);

// The text of OpenSSL's oldest queued error ("unsupported protocol"), emptying the queue;
// fallback when none is queued.
std::string TlsErrorText(const std::string& fallback);
