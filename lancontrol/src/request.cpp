#include "request.h"

#include <cstring>

#include "wire_numbers.h"

namespace velk::lan {

Request::Request(uint8_t code) : bytes_{2, code}, size_(2) {}

Request& Request::Byte(int value) {
  if (size_ < kMaxRequest) {
    bytes_[size_++] = static_cast<uint8_t>(value & 0xFF);
    bytes_[0] = static_cast<uint8_t>(size_);
  }
  return *this;
}

Request& Request::Word(unsigned value) {
  Byte(static_cast<int>(value >> 8));
  return Byte(static_cast<int>(value));
}

bool Request::Text(const char* text, std::size_t length) {
  if (length > kMaxRequest - size_) return false;
  std::memcpy(bytes_ + size_, text, length);
  size_ += length;
  bytes_[0] = static_cast<uint8_t>(size_);
  return true;
}

bool Request::Number(double value) {
  char text[100];
  const std::size_t length = FormatNumberText(value, text, sizeof text);
  return length != 0 && Text(text, length);
}

}  // namespace velk::lan
