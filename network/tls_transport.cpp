#include "tls_transport.h"

#include <errno.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// At most one TLS record's worth is handed to OpenSSL at a time.
constexpr size_t kChunk = 16 * 1024;

// The socket under the TLS layer, read and written without SIGPIPE (OpenSSL's own socket BIO
// writes with write(2), which raises it when the peer has gone).
int SocketOf(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

int BioWrite(BIO* bio, const char* data, int size) {
  BIO_clear_retry_flags(bio);
  const ssize_t n =
      send(SocketOf(bio), data, static_cast<size_t>(size), MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
    BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int size) {
  BIO_clear_retry_flags(bio);
  const ssize_t n = recv(SocketOf(bio), data, static_cast<size_t>(size), MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_read(bio);
  return static_cast<int>(n);
}

long BioControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

BIO_METHOD* SocketMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "velk socket");
    BIO_meth_set_write(m, BioWrite);
    BIO_meth_set_read(m, BioRead);
    BIO_meth_set_ctrl(m, BioControl);
    return m;
  }();
  return method;
}

// The subject common name of the peer's certificate, control characters replaced.
std::string PeerCommonName(SSL* ssl) {
  X509* certificate = SSL_get0_peer_certificate(ssl);
  if (!certificate) return "";
  char name[256] = {};
  if (X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name,
                                sizeof name) <= 0) {
    return "";
  }
  std::string text = name;
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  }
  return text;
}

}  // namespace

TlsTransport::TlsTransport(int fd, std::shared_ptr<TlsContext> context)
    : context_(std::move(context)) {
  ERR_clear_error();
  ssl_ = context_ ? SSL_new(context_->get()) : nullptr;
  BIO* bio = ssl_ ? BIO_new(SocketMethod()) : nullptr;
  if (!bio) {
    error_ = "TLS: " + TlsErrorText("cannot set up the connection");
    return;
  }
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
  BIO_set_init(bio, 1);
  SSL_set_bio(ssl_, bio, bio);
  SSL_set_accept_state(ssl_);
}

TlsTransport::~TlsTransport() {
  if (!ssl_) return;
  if (established_) SSL_shutdown(ssl_);  // close_notify if the socket takes it now
  ERR_clear_error();
  SSL_free(ssl_);
}

ssize_t TlsTransport::Result(int returned, const char* what) {
  const int error = SSL_get_error(ssl_, returned);
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
    wants_write_ = error == SSL_ERROR_WANT_WRITE;
    ERR_clear_error();
    return kWait;
  }
  if (error == SSL_ERROR_SYSCALL && errno != 0 && ERR_peek_error() == 0) {
    error_ = std::string("connection lost: ") + std::strerror(errno);
  } else {
    const long verified = SSL_get_verify_result(ssl_);
    std::string why = verified != X509_V_OK ? X509_verify_cert_error_string(verified)
                                            : TlsErrorText("the connection closed");
    error_ = std::string(what) + ": " + why;
  }
  ERR_clear_error();
  return kFailed;
}

bool TlsTransport::Progress() {
  if (!ssl_) return false;
  if (established_) {
    wants_write_ = false;
    return Flush();
  }
  ERR_clear_error();
  errno = 0;
  const int done = SSL_do_handshake(ssl_);
  if (done == 1) {
    established_ = true;
    wants_write_ = false;
    peer_name_ = PeerCommonName(ssl_);
    return true;
  }
  if (done == 0) {  // the peer closed the connection during the handshake
    Result(done, "TLS handshake failed");
    if (error_.empty()) error_ = "TLS handshake failed: the connection closed";
    return false;
  }
  return Result(done, "TLS handshake failed") != kFailed;
}

bool TlsTransport::Flush() {
  while (!held_.empty()) {
    ERR_clear_error();
    errno = 0;
    const int n = SSL_write(ssl_, held_.data(), static_cast<int>(held_.size()));
    if (n <= 0) return Result(n, "TLS") != kFailed;
    held_.erase(held_.begin(), held_.begin() + n);
  }
  return true;
}

ssize_t TlsTransport::Send(const uint8_t* data, size_t size) {
  if (!Progress()) return kFailed;
  if (!established_ || !held_.empty()) return kWait;
  const size_t n = std::min(size, kChunk);
  ERR_clear_error();
  errno = 0;
  const int sent = SSL_write(ssl_, data, static_cast<int>(n));
  if (sent > 0) return sent;
  const ssize_t result = Result(sent, "TLS");
  if (result == kFailed) return kFailed;
  // OpenSSL wants these very bytes again: they are held here and count as taken.
  held_.assign(data, data + n);
  return static_cast<ssize_t>(n);
}

ssize_t TlsTransport::Receive(uint8_t* data, size_t size) {
  if (!established_) {
    if (!Progress()) return kFailed;
    if (!established_) return kWait;
  }
  ERR_clear_error();
  errno = 0;
  const int n = SSL_read(ssl_, data, static_cast<int>(std::min(size, kChunk)));
  if (n > 0) return n;
  const int error = SSL_get_error(ssl_, n);
  if (error == SSL_ERROR_ZERO_RETURN ||
      (error == SSL_ERROR_SYSCALL && errno == 0 && ERR_peek_error() == 0)) {
    ERR_clear_error();
    return 0;
  }
  return Result(n, "TLS");
}

bool TlsTransport::Buffered() const { return ssl_ && established_ && SSL_pending(ssl_) > 0; }

uint32_t TlsTransport::Events(uint32_t wanted) const {
  uint32_t events = wanted & static_cast<uint32_t>(EPOLLRDHUP);
  if (!established_) return events | (wants_write_ ? EPOLLOUT : EPOLLIN);
  events = wanted;
  if (!held_.empty() || wants_write_) events |= EPOLLOUT;
  return events;
}
