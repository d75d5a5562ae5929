// The settings-file reader in both modes over arbitrary file contents.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz_workdir.h"
#include "settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnterFuzzWorkdir();
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  WriteFuzzFile(kSettingsFileName, bytes);
  WriteFuzzFile("f.con", bytes);
  static SettingsRecord s;
  ReadSettings("", s);
  SettingsRecord named = s;
  ReadSettings("f.con", named);
  // Program-wide keys never change through a named configuration.
  if (named.LanguageNo != s.LanguageNo || named.VcpCom1 != s.VcpCom1 ||
      named.Password != s.Password || named.HotKey4 != s.HotKey4) {
    std::abort();
  }
  // Reading trims values, so one write and read may change a record; after that the record
  // must be stable: what was read writes and reads back the same.
  if (!WriteSettings("", s)) std::abort();
  SettingsRecord back;
  ReadSettings("", back);
  if (!WriteSettings("", back)) std::abort();
  SettingsRecord again;
  ReadSettings("", again);
  if (!(again == back)) std::abort();
  return 0;
}
