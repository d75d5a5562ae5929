// A network client's connection as TLS (server side), on a socket it does not own: the
// handshake runs as the socket becomes ready, never blocking, and then the client's bytes
// pass encrypted. Output the TLS layer could not take at once is held here (one chunk), so
// that a retry hands OpenSSL the same bytes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "byte_transport.h"
#include "tls_context.h"

typedef struct ssl_st SSL;

class TlsTransport : public ByteTransport {
 public:
  // Starts the server side of a handshake on fd with context (kept while the connection
  // lives). A failure to set up shows in the first Progress.
  TlsTransport(int fd, std::shared_ptr<TlsContext> context);
  TlsTransport(const TlsTransport&) = delete;
  TlsTransport& operator=(const TlsTransport&) = delete;
  ~TlsTransport() override;  // says close_notify when it can, frees the connection

  bool Progress() override;
  bool Established() const override { return established_; }
  ssize_t Receive(uint8_t* data, size_t size) override;
  ssize_t Send(const uint8_t* data, size_t size) override;
  bool Buffered() const override;
  uint32_t Events(uint32_t wanted) const override;
  // The subject common name of the client's verified certificate; empty without one.
  const std::string& peer_name() const { return peer_name_; }

 private:
  // Handles the result of an SSL call that did not move data: kWait or kFailed.
  ssize_t Result(int returned, const char* what);
  bool Flush();

  std::shared_ptr<TlsContext> context_;
  SSL* ssl_ = nullptr;
  bool established_ = false;
  bool wants_write_ = false;   // the last call waits for the socket to take output
  std::vector<uint8_t> held_;  // output OpenSSL asked to be handed again
  std::string peer_name_;
};
