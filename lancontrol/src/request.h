// Building a request: length byte, command code, arguments.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk::lan {

// Longest request; the buffer holds a few bytes more.
constexpr std::size_t kMaxRequest = 99;
constexpr std::size_t kRequestBufferSize = 104;

class Request {
 public:
  // Starts a request with `code`; the length byte is kept up to date.
  explicit Request(uint8_t code);

  // Appends one byte.
  Request& Byte(int value);
  // Appends a 16-bit number, high byte first.
  Request& Word(unsigned value);
  // Appends `length` text bytes. Returns false, appending nothing, when the request would
  // grow past kMaxRequest bytes.
  bool Text(const char* text, std::size_t length);
  // Appends `value` as number text ("%f" in the classic locale). Returns false, appending
  // nothing, when the text is longer than 95 characters or the request would grow too long.
  bool Number(double value);

  const uint8_t* bytes() const { return bytes_; }
  std::size_t size() const { return size_; }

 private:
  uint8_t bytes_[kRequestBufferSize];
  std::size_t size_ = 0;
};

}  // namespace velk::lan
