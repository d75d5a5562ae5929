// Velk_VCP: with windows where a display is available, otherwise (or with --headless) on
// standard output and standard error. --user-folder (the desktop menu's start) works in the
// user's own data folder instead of the current directory.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "folder_lock.h"
#include "run_headless.h"
#include "user_folder.h"
#ifdef VELK_WITH_GUI
#include "desktop_program.h"
#endif

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

bool HasDisplay() { return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM"); }

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  bool headless = false;
  bool userFolder = false;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::strcmp(argv[i], "--headless") == 0) {
      headless = true;
    } else if (i > 0 && std::strcmp(argv[i], "--help") == 0) {
      headless = true;  // the usage is printed there
      args.push_back(argv[i]);
    } else if (i > 0 && std::strcmp(argv[i], "--user-folder") == 0) {
      userFolder = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  if (userFolder) {
    std::error_code ec;
    const std::filesystem::path shipped =
        std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    std::string error;
    const bool entered = EnterUserFolder(UserFolder(), shipped, error);
    if (!error.empty()) std::fprintf(stderr, "Velk_VCP: %s\n", error.c_str());
    if (!entered) return 1;
  }
  // Held until the program ends, so that velk-vcp-config leaves the settings file alone.
  FolderLock folderLock;
  folderLock.HoldShared(".");
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
#ifdef VELK_WITH_GUI
  if (!headless && HasDisplay()) return RunDesktop(count, args.data());
#else
  (void)headless;
  (void)HasDisplay;
#endif
  return RunHeadless(count, args.data());
}
