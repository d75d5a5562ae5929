#include "dotted_address.h"

#include <cstring>

#include "wire_numbers.h"

namespace velk::lan {

bool ReadDottedAddress(const char* text, uint8_t address[4]) {
  if (text == nullptr) return false;
  const std::size_t length = std::strlen(text);
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t end = length;
    if (part < 3) {
      const void* dot = std::memchr(text + start, '.', length - start);
      if (dot != nullptr) end = static_cast<std::size_t>(static_cast<const char*>(dot) - text);
    }
    const std::size_t part_length = end - start;
    if (part_length == 0 || part_length > kMaxHostPart) return false;
    // A name is not an address: atoi would read its parts as 0.
    if (text[start] < '0' || text[start] > '9') return false;
    char part_text[kMaxHostPart + 1];
    std::memcpy(part_text, text + start, part_length);
    part_text[part_length] = '\0';
    address[part] = static_cast<uint8_t>(ReadAsInt(part_text) & 0xFF);
    if (end < length) start = end + 1;
  }
  return true;
}

}  // namespace velk::lan
