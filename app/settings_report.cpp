// Stand-in for the program without windows while its engine is not built: reports the
// settings it reads from the current directory.
#include <cstdio>
#include <filesystem>

#include "headless_entry.h"
#include "settings_file.h"
#include "settings_record.h"

int RunHeadless(int, char**) {
  const std::filesystem::path file = std::filesystem::absolute(kSettingsFileName);
  if (!ReadSettings()) {
    std::fprintf(stderr, "Velk_VCP: cannot read %s\n", file.c_str());
    return 1;
  }
  std::printf("Settings read from %s\n", file.c_str());
  std::printf("LanguageNo %d, VcpCom1..4 %d %d %d %d, HotKey1..4 %d %d %d %d\n",
              Settings.LanguageNo, Settings.VcpCom1, Settings.VcpCom2, Settings.VcpCom3,
              Settings.VcpCom4, Settings.HotKey1, Settings.HotKey2, Settings.HotKey3,
              Settings.HotKey4);
  std::printf("CommandFormat %d, LogOn %d, ShowInfoWin %d, DeviceName %s\n", Settings.CommandFormat,
              Settings.LogOn, Settings.ShowInfoWin, Settings.DeviceName.c_str());
  return 0;
}
