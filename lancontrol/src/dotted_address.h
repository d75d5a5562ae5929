// Reading of a dotted IPv4 address text, used when name resolution fails.
#pragma once

#include <cstdint>

namespace velk::lan {

// Longest part of a host text that is read.
constexpr int kMaxHostPart = 103;

// Reads `text` as four parts: parts 1 to 3 each run to the next "." or the end of the text
// (a part ended by the end of the text is read again by the next part); part 4 runs from
// there to the end. Each part is read as atoi reads it and its low 8 bits become the next
// byte of `address` (network order). Returns false, leaving `address` unspecified, when a
// part is empty, longer than kMaxHostPart characters or does not start with a digit, or
// `text` is null.
bool ReadDottedAddress(const char* text, uint8_t address[4]);

}  // namespace velk::lan
