#include "folder_run.h"

#include <errno.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "folder_lock.h"
#include "key_value_file.h"
#include "presets.h"
#include "running_program.h"
#include "settings_file.h"
#include "working_folder.h"

namespace fs = std::filesystem;

namespace {

// How long a tool waits for another one that changes the same folder.
constexpr std::chrono::seconds kToolPatience{30};

// While the program runs in the folder: writes the changed settings file and has the program
// take it over ("reload"); when it cannot, the file is as it was and the program's reason is
// reported. Returns the exit status.
int ChangeThroughProgram(const std::string& here, const std::function<void()>& change) {
  std::string before;
  {
    std::ifstream in(kSettingsFileName, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    before = text.str();
  }
  if (!ReadCurrentSettings()) return kFileError;
  change();
  if (!WriteSettings()) return kFileError;
  const int status =
      AskRunningProgram("reload", [](const nlohmann::json&, const std::string&) { return 0; });
  if (status == 0) return 0;
  std::string error;
  if (!WriteFileAtomically(kSettingsFileName, before, error)) {
    std::cerr << "velk-vcp-config: " << error << "\n";
    return kFileError;
  }
  std::cerr << "velk-vcp-config: the Velk_VCP in " << here
            << " kept its settings; nothing changed\n";
  return status == kNoProgram || status == kUsageError ? kProgramRunning : status;
}

}  // namespace

bool ReadCurrentSettings() {
  if (fs::exists(kSettingsFileName)) return ReadSettings();
  SetDefaultSettings(Settings);
  Settings.CommandFormat = 0;
  LoadPreset(Settings);
  return true;
}

int RunInWorkingFolder(const std::string& dir, bool userFolder, const VerbAction& action) {
  std::string error;
  WorkingFolder folder;
  if (!EnterWorkingFolder(dir, userFolder, folder, error)) {
    std::cerr << "velk-vcp-config: " << error << "\n";
    return kFileError;
  }
  if (action.ask) return action.ask();
  const std::string here = folder.path.string();
  FolderLock lock;
  if (action.change) {
    switch (lock.HoldForTool(".", kToolPatience)) {
      case FolderLock::ToolResult::Held:
        break;
      case FolderLock::ToolResult::ProgramRuns:
        return ChangeThroughProgram(here, action.change);
      case FolderLock::ToolResult::ToolBusy:
        std::cerr << "velk-vcp-config: another velk-vcp-config has been changing " << here
                  << " for " << kToolPatience.count() << " s; try again later\n";
        return kProgramRunning;
      case FolderLock::ToolResult::Failed:
        std::cerr << "velk-vcp-config: cannot lock " << here << ": " << std::strerror(errno)
                  << "\n";
        return kFileError;
    }
  }
  if (!ReadCurrentSettings()) return kFileError;
  if (action.read) return action.read();
  action.change();
  return WriteSettings() ? 0 : kFileError;
}
