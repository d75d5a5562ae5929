#include "user_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

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

// Creates folder and its missing parents owner-only (0700), whatever the umask. Returns false
// with the reason in error when a part cannot be made.
bool CreatePrivateFolders(const fs::path& folder, std::string& error) {
  fs::path part;
  for (const fs::path& piece : folder) {
    part /= piece;
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = "cannot create " + part.string() + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

// Copies from to a new file to, private (0600) from the moment it exists: the settings file
// will hold the password. Returns false with the reason in error; a file already at to stays.
bool CopyPrivately(const fs::path& from, const fs::path& to, std::string& error) {
  std::ifstream in(from, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    error = "cannot read " + from.string();
    return false;
  }
  const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot create " + to.string() + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  if (done == bytes.size()) return true;
  error = "cannot write " + to.string();
  ::unlink(to.c_str());
  return false;
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
  if (!CreatePrivateFolders(folder, error)) return false;
  if (!fs::is_directory(folder, ec)) {
    error = folder.string() + " is not a folder";
    return false;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(shippedFolder, ec)) {
    if (!entry.is_regular_file() || !IsShippedFile(entry.path())) continue;
    const fs::path target = folder / entry.path().filename();
    if (fs::exists(fs::symlink_status(target, ec))) continue;
    if (std::string copyError; !CopyPrivately(entry.path(), target, copyError)) {
      error += copyError + "\n";
    }
  }
  fs::current_path(folder, ec);
  if (ec) {
    error += "cannot enter " + folder.string() + ": " + ec.message();
    return false;
  }
  return true;
}
