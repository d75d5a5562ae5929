// The receive ring of the poll cycle: bytes from the current port waiting to be cut into
// commands. Positions 0..9999 are used; RxRead = RxWrite means empty, so it holds at most
// 9999 bytes. Writers must check Room(): the ring never overwrites unconsumed bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

class ReceiveRing {
 public:
  static constexpr int kPositions = 10000;
  static constexpr int kCapacity = kPositions - 1;

  int RxRead() const { return read_; }
  int RxWrite() const { return write_; }
  int Used() const { return (write_ - read_ + kPositions) % kPositions; }
  int Room() const { return kCapacity - Used(); }
  bool Empty() const { return read_ == write_; }

  // Appends b; returns false (and stores nothing) when the ring is full.
  bool Push(uint8_t b) {
    if (Room() == 0) return false;
    bytes_[static_cast<size_t>(write_)] = b;
    write_ = (write_ + 1) % kPositions;
    return true;
  }
  // Returns the waiting bytes, oldest first, as characters.
  std::string Text() const {
    std::string text;
    text.reserve(static_cast<size_t>(Used()));
    for (int i = read_; i != write_; i = (i + 1) % kPositions) {
      text.push_back(static_cast<char>(bytes_[static_cast<size_t>(i)]));
    }
    return text;
  }
  // Consumes the oldest count bytes (at most all that wait).
  void Consume(int count) {
    if (count > Used()) count = Used();
    if (count > 0) read_ = (read_ + count) % kPositions;
  }
  // Empties the ring and sets both positions to 0.
  void Reset() { read_ = write_ = 0; }

 private:
  std::array<uint8_t, kPositions + 2> bytes_{};
  int read_ = 0;
  int write_ = 0;
};
