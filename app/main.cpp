// Velk_VCP: with windows where a display is available, otherwise (or with --headless) on
// standard output and standard error, in a working folder chosen by the command line.
#include <errno.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "folder_lock.h"
#include "run_headless.h"
#include "working_folder.h"
#ifdef VELK_WITH_GUI
#include "desktop_program.h"
#endif

namespace fs = std::filesystem;

namespace {

constexpr const char* kEnvironment =
    "Working folder:\n"
    "  --dir DIR, else --user-folder, else the current folder when it holds Velk_VCP.CFG or\n"
    "  VCP001.LAN, else the per-user folder ($XDG_DATA_HOME/Velk_VCP or\n"
    "  ~/.local/share/Velk_VCP, filled with the shipped files on first use).\n"
    "\n"
    "Environment:\n"
    "  DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM\n"
    "                 any of them set: windows (unless --headless)\n"
    "  VELK_VCP_PORT_DIR\n"
    "                 folder of the simulated ports (default: ports in the working folder)\n"
    "  VELK_DDK_LIBRARY\n"
    "                 the device library to load (default: libVelk_DDK.so beside the program)\n"
    "  VELK_VCP_INPUT_DEVICES\n"
    "                 input devices to read hot keys from, separated by ':' (default: the\n"
    "                 readable keyboards of /dev/input; none: no input device)\n"
    "  VELK_VCP_LOG_LIMIT\n"
    "                 the activity log's size bound in bytes (default 64 MiB)\n"
    "  VELK_VCP_VALUE_QUEUE\n"
    "                 values the history and the MQTT publisher each hold while they lag\n"
    "                 (default 100000)\n"
    "  XDG_DATA_HOME, HOME\n"
    "                 where the per-user folder lies\n"
    "  LC_ALL, LC_MESSAGES, LANG\n"
    "                 the language of a first start\n"
    "\n"
    "Exit status: 0 after a normal end; 1 when start-up ended early (no working folder, the\n"
    "device library did not start, no port could be created); 2 for bad arguments.";

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

bool HasDisplay() { return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM"); }

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Velk_VCP serves measured values of gauges on simulated serial ports."};
  app.name("Velk_VCP");
  app.set_version_flag("--version", VELK_VERSION);
  bool headless = false;
  bool userFolder = false;
  std::string dir;
  app.add_flag("--headless", headless, "serve without windows, on standard output and error");
  auto* dirOption = app.add_option("--dir", dir, "work in folder DIR")->type_name("DIR");
  app.add_flag("--user-folder", userFolder, "work in the per-user folder")->excludes(dirOption);
  app.footer(kEnvironment);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::cerr << "Velk_VCP: " << e.what() << " (see --help)\n";
    return 2;
  }

  std::string error;
  WorkingFolder folder;
  const bool entered = EnterWorkingFolder(dir, userFolder, folder, error);
  if (!error.empty()) std::cerr << "Velk_VCP: " << error << std::endl;
  if (!entered) return 1;
  std::error_code ec;
  if (folder.implied)
    std::cerr << "Velk_VCP: working in " << fs::current_path(ec).string() << std::endl;
  if (const std::string advice = MissingShippedFilesAdvice(fs::current_path(ec)); !advice.empty()) {
    std::cerr << "Velk_VCP: " << advice << std::endl;
  }
  // Held until the program ends, so that velk-vcp-config leaves the settings file alone.
  FolderLock folderLock;
  switch (folderLock.HoldForProgram(".", [] {
    std::cerr << "Velk_VCP: velk-vcp-config is changing the settings here; waiting for it to "
                 "finish"
              << std::endl;
  })) {
    case FolderLock::ProgramResult::Held:
      break;
    case FolderLock::ProgramResult::OtherProgram:
      std::cerr << "Velk_VCP: another Velk_VCP works in " << fs::current_path(ec).string()
                << " (its settings, log and status socket are its own); ending" << std::endl;
      return 1;
    case FolderLock::ProgramResult::Failed:
      // A folder the lock file cannot be made in (read-only) is served all the same.
      std::cerr << "Velk_VCP: cannot lock " << fs::current_path(ec).string() << " ("
                << std::strerror(errno)
                << "); serving without the lock, so velk-vcp-config cannot tell that it runs"
                << std::endl;
      break;
  }

  int count = 1;
  char* args[] = {argv[0], nullptr};
#ifdef VELK_WITH_GUI
  if (!headless && HasDisplay()) return RunDesktop(count, args);
#else
  (void)headless;
  (void)HasDisplay;
#endif
  return RunHeadless(count, args);
}
