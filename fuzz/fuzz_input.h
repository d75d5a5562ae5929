// The fuzzer's input bytes, read front to back; zeros once they run out.
#pragma once

#include <cstddef>
#include <cstdint>

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return size_ == 0; }
  uint8_t Byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};
