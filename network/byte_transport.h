// What carries a network client's bytes over its connected socket: the socket itself
// (SocketTransport) or a layer on it such as TLS. The client's coding (raw or telnet) sits on
// it and does not know which. Non-blocking throughout; calls come from the serving thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

class ByteTransport {
 public:
  // Results of Receive and Send besides a count of bytes.
  static constexpr ssize_t kWait = -1;    // nothing now: wait for the events Events names
  static constexpr ssize_t kFailed = -2;  // the connection failed; error() says why

  virtual ~ByteTransport() = default;
  // Moves the connection on without data (a handshake, output held inside). Returns false
  // when the connection failed (error() says why).
  virtual bool Progress() { return true; }
  // True once data can pass (after a handshake).
  virtual bool Established() const { return true; }
  // Reads up to size bytes into data. Returns their number, 0 when the peer ended its
  // sending, kWait or kFailed.
  virtual ssize_t Receive(uint8_t* data, size_t size) = 0;
  // Takes up to size bytes of data for the peer. Returns how many were taken, kWait or
  // kFailed.
  virtual ssize_t Send(const uint8_t* data, size_t size) = 0;
  // True while received bytes wait inside the transport, where epoll does not see them.
  virtual bool Buffered() const { return false; }
  // The epoll events to wait for when the client wants wanted.
  virtual uint32_t Events(uint32_t wanted) const { return wanted; }
  // Why the connection failed ("connection lost: Connection reset by peer").
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

// The bytes as they are, on the socket fd (which the transport does not own).
class SocketTransport : public ByteTransport {
 public:
  explicit SocketTransport(int fd) : fd_(fd) {}
  ssize_t Receive(uint8_t* data, size_t size) override;
  ssize_t Send(const uint8_t* data, size_t size) override;

 private:
  int fd_;
};
