// The language-file reader over arbitrary file contents.
#include <cstdint>
#include <string_view>

#include "fuzz_workdir.h"
#include "language_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnterFuzzWorkdir();
  WriteFuzzFile("VCP002.LAN", std::string_view(reinterpret_cast<const char*>(data), size));
  static std::array<std::string, kLastTextNumber + 1> texts;
  LoadLanguage(2, texts);
  return 0;
}
