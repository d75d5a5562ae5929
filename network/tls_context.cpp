#include "tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

std::string TlsErrorText(const std::string& fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  const char* reason = ERR_reason_error_string(code);
  return reason ? reason : fallback;
}

std::shared_ptr<TlsContext> TlsContext::Load(const std::string& cert, const std::string& key,
                                             const std::string& client_ca, std::string& reason) {
  ERR_clear_error();
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (!context) {
    reason = "tls: " + TlsErrorText("no TLS context");
    return nullptr;
  }
  std::shared_ptr<TlsContext> made(new TlsContext(context));
  if (!ConfigureServerTls(context, cert, key, client_ca, reason)) return nullptr;
  return made;
}

bool ConfigureServerTls(SSL_CTX* context, const std::string& cert, const std::string& key,
                        const std::string& client_ca, std::string& reason) {
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION |
                                   SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_TICKET |
                                   SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_num_tickets(context, 0);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE);
  if (SSL_CTX_use_certificate_chain_file(context, cert.c_str()) != 1) {
    reason = "tls: " + cert + ": " + TlsErrorText("no certificate");
    return false;
  }
  if (SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1) {
    reason = "tls: " + key + ": " + TlsErrorText("no private key");
    return false;
  }
  if (SSL_CTX_check_private_key(context) != 1) {
    reason = "tls: " + key + " is not the key of " + cert;
    ERR_clear_error();
    return false;
  }
  if (!client_ca.empty()) {
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(client_ca.c_str());
    if (!names || SSL_CTX_load_verify_locations(context, client_ca.c_str(), nullptr) != 1) {
      if (names) sk_X509_NAME_pop_free(names, X509_NAME_free);
      reason = "tls: " + client_ca + ": " + TlsErrorText("no CA certificate");
      return false;
    }
    SSL_CTX_set_client_CA_list(context, names);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  return true;
}

TlsContext::~TlsContext() { SSL_CTX_free(context_); }
