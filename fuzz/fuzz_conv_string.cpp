// ConvString over arbitrary configured texts, command addresses and flags.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text_notation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SettingsRecord s;
  if (size < 3) return 0;
  s.Blanks = data[0] & 1;
  int16_t antwort = (data[0] >> 1) & 1;
  // Device and input may lie outside the table to check the guard.
  auto dev = static_cast<int16_t>(static_cast<int8_t>(data[1]) % 12);
  auto adr = static_cast<int16_t>(static_cast<int8_t>(data[2]) * 2);
  std::string text(reinterpret_cast<const char*>(data + 3), size - 3);
  size_t split = text.find('\n');
  std::string adrText = split == std::string::npos ? "" : text.substr(split + 1);
  if (dev >= 0 && dev < kDeviceCount && adr >= 0 && adr < kInputCount) {
    s.Inputs[dev][adr].CommandAdr = adrText;
  }
  std::string out = ConvString(text.substr(0, split), dev, adr, antwort, s);
  // Each item yields at most one byte or the quoted text or the address, so the result can
  // never be longer than the input plus one address per item.
  if (out.size() > text.size() * (adrText.size() + 1) + 1) std::abort();
  return 0;
}
