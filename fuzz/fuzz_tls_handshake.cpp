// The server side of a TLS network client over arbitrary bytes from the peer: records cut
// anywhere, lengths that lie, a plain client's text. The first byte picks whether client
// certificates are asked for. The bytes come on a socket pair whose other end then closes:
// the transport must fail or be established within a bounded number of steps (never turn on
// with nothing to read), and never crash or read out of bounds.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz_workdir.h"
#include "tls_context.h"
#include "tls_transport.h"

namespace {

// A key and a certificate of its own for "fuzz", written as cert.pem and key.pem.
void MakeCertificate() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("fuzz"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509_sign(cert, key, EVP_sha256());
  FILE* out = fopen("cert.pem", "w");
  PEM_write_X509(out, cert);
  fclose(out);
  out = fopen("key.pem", "w");
  PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  fclose(out);
  X509_free(cert);
  EVP_PKEY_free(key);
}

std::shared_ptr<TlsContext> Context(bool clientCertificates) {
  static std::shared_ptr<TlsContext> contexts[2];
  std::shared_ptr<TlsContext>& context = contexts[clientCertificates];
  if (!context) {
    EnterFuzzWorkdir();
    MakeCertificate();
    std::string reason;
    context = TlsContext::Load("cert.pem", "key.pem", clientCertificates ? "cert.pem" : "", reason);
    if (!context) {
      std::fprintf(stderr, "%s\n", reason.c_str());
      std::abort();
    }
  }
  return context;
}

// Takes whatever the transport sent, so that it never waits for room.
void Drain(int fd) {
  char buffer[65536];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 65536) return 0;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) != 0) return 0;
  {
    TlsTransport transport(pair[0], Context(data[0] & 1));
    if (write(pair[1], data + 1, size - 1) != static_cast<ssize_t>(size - 1)) std::abort();
    shutdown(pair[1], SHUT_WR);
    bool failed = false;
    for (int step = 0; step < 64 && !failed && !transport.Established(); ++step) {
      failed = !transport.Progress();
      Drain(pair[1]);
    }
    if (transport.Established()) {
      uint8_t buffer[4096];
      for (int step = 0; step < 64; ++step) {
        const ssize_t n = transport.Receive(buffer, sizeof buffer);
        if (n == 0 || n == ByteTransport::kFailed) break;
        Drain(pair[1]);
      }
    } else if (!failed) {
      // All input is there and the peer has closed: waiting for more would never end.
      std::fprintf(stderr, "the handshake neither failed nor ended\n");
      std::abort();
    }
  }
  close(pair[0]);
  close(pair[1]);
  return 0;
}
