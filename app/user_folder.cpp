#include "user_folder.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace fs = std::filesystem;

namespace {

bool IsShippedFile(const fs::path& file) {
  std::string extension = file.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  // Velk_VCP.CFG of the shipped folder gives a first start its settings (the example gauges
  // switched on).
  return extension == ".LAN" || extension == ".DRV" || extension == ".DDK" || extension == ".ICO" ||
         file.filename() == "Velk_VCP.CFG";
}

}  // namespace

fs::path UserFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && *data != '\0') return fs::path(data) / "Velk_VCP";
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return fs::path(home) / ".local/share/Velk_VCP";
  return {};
}

bool IsWorkingFolder(const fs::path& folder) {
  std::error_code ec;
  return fs::exists(folder / "Velk_VCP.CFG", ec) || fs::exists(folder / "VCP001.LAN", ec);
}

bool EnterUserFolder(const fs::path& folder, const fs::path& shippedFolder, std::string& error) {
  error.clear();
  std::error_code ec;
  if (folder.empty()) {
    error = "no user folder: neither XDG_DATA_HOME nor HOME is set";
    return false;
  }
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder)) {
    error = "cannot create " + folder.string() + ": " + ec.message();
    return false;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(shippedFolder, ec)) {
    if (!entry.is_regular_file() || !IsShippedFile(entry.path())) continue;
    const fs::path target = folder / entry.path().filename();
    if (fs::exists(target)) continue;
    std::error_code copyError;
    if (!fs::copy_file(entry.path(), target, copyError)) {
      error += "cannot copy " + entry.path().string() + ": " + copyError.message() + "\n";
    }
  }
  fs::current_path(folder, ec);
  if (ec) {
    error += "cannot enter " + folder.string() + ": " + ec.message();
    return false;
  }
  return true;
}
