// The preset reader and the preset catalogue over arbitrary file contents.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz_workdir.h"
#include "presets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnterFuzzWorkdir();
  WriteFuzzFile("LIB004.DRV", std::string_view(reinterpret_cast<const char*>(data), size));
  static SettingsRecord s;
  SettingsRecord before = s;
  s.CommandFormat = 4;
  LoadPreset(s);
  // A preset changes command-format fields only.
  if (s.LanguageNo != before.LanguageNo || s.Password != before.Password ||
      !(s.Inputs == before.Inputs) || s.FsSelect != before.FsSelect) {
    std::abort();
  }
  std::vector<PresetEntry> list = PresetCatalogue("own");
  if (list.size() != 2 || list[0].number != 4) std::abort();
  return 0;
}
