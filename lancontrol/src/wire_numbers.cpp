#include "wire_numbers.h"

#include <charconv>
#include <cstring>

#include "classic_numbers.h"

namespace velk::lan {

std::size_t FormatNumberText(double value, char* out, std::size_t size) {
  if (size == 0) return 0;
  const std::to_chars_result result =
      std::to_chars(out, out + size - 1, value, std::chars_format::fixed, 6);
  if (result.ec != std::errc()) return 0;
  const auto length = static_cast<std::size_t>(result.ptr - out);
  if (length > kMaxNumberText) return 0;
  *result.ptr = '\0';
  return length;
}

double ReadAsDouble(const char* text) { return ClassicStrtod(text); }

int32_t ReadAsInt(const char* text) {
  const long long value = ClassicStrtoll(text);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(value)));
}

}  // namespace velk::lan
