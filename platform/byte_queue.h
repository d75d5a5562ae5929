// Bytes waiting in order, taken from the front and added at the back, kept in one contiguous
// block so that the front can be handed to a single read or write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ByteQueue {
 public:
  size_t size() const { return bytes_.size() - head_; }
  bool empty() const { return size() == 0; }
  // The waiting bytes, size() of them.
  const uint8_t* data() const { return bytes_.data() + head_; }

  void Append(const uint8_t* data, size_t count) {
    if (empty()) Clear();  // start at the front again instead of growing
    bytes_.insert(bytes_.end(), data, data + count);
  }
  // Takes count bytes (at most size()) from the front.
  void Consume(size_t count) {
    head_ += count < size() ? count : size();
    // Moves the rest forward once the taken part is large, so that memory stays bounded.
    if (empty()) {
      Clear();
    } else if (head_ >= 64 * 1024 && head_ >= size()) {
      bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
  }
  void Clear() {
    bytes_.clear();
    head_ = 0;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t head_ = 0;  // bytes_ before it are taken
};
