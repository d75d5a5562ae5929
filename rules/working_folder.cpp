#include "working_folder.h"

#include "user_folder.h"

namespace fs = std::filesystem;

fs::path ProgramFolder() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).parent_path();
}

bool FindWorkingFolder(const std::string& dir, bool userFolder, WorkingFolder& chosen,
                       std::string& error) {
  chosen = {};
  if (!dir.empty()) {
    chosen.path = dir;
    return true;
  }
  if (!userFolder) {
    std::error_code ec;
    const fs::path current = fs::current_path(ec);
    if (ec) {
      error =
          "cannot read the current folder (" + ec.message() + "); give --dir DIR or --user-folder";
      return false;
    }
    if (IsWorkingFolder(current)) {
      chosen.path = current;
      return true;
    }
  }
  chosen.path = UserFolder();
  chosen.perUser = true;
  chosen.implied = !userFolder;
  if (chosen.path.empty()) {
    error = "no user folder: neither XDG_DATA_HOME nor HOME is set";
    return false;
  }
  return true;
}

bool EnterWorkingFolder(const std::string& dir, bool userFolder, WorkingFolder& chosen,
                        std::string& error) {
  error.clear();
  if (!FindWorkingFolder(dir, userFolder, chosen, error)) return false;
  if (chosen.perUser) return EnterUserFolder(chosen.path, ProgramFolder(), error);
  std::error_code ec;
  fs::current_path(chosen.path, ec);
  if (ec) error = "cannot enter " + chosen.path.string() + ": " + ec.message();
  return !ec;
}

std::string MissingShippedFilesAdvice(const fs::path& folder) {
  std::error_code ec;
  if (IsWorkingFolder(folder) || fs::exists(folder / "Velk_VCP.DDK", ec)) return {};
  const std::string from = ProgramFolder().string();
  return folder.string() +
         " lacks the shipped files (Velk_VCP.CFG, VCP001.LAN, Velk_VCP.DDK); fill it with: cp " +
         from + "/*.LAN " + from + "/*.DRV " + from + "/Velk_VCP.DDK " + folder.string() +
         "/ (or work in the per-user folder: --user-folder)";
}
