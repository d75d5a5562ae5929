#include "port_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

std::string PortFolder() {
  const char* env = std::getenv("VELK_VCP_PORT_DIR");
  return env && *env ? std::string(env) : std::string("ports");
}

bool IsValidPortName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.') return false;
  for (char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

bool EnsureFolder(const std::string& folder, std::string& error) {
  if (folder.empty()) {
    error = "empty port folder name";
    return false;
  }
  for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    std::string part = folder.substr(0, end);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = "cannot create the port folder " + part + ": " + strerror(errno);
      return false;
    }
    if (end == std::string::npos) break;
  }
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = "the port folder " + folder + " is not a folder";
    return false;
  }
  return true;
}

bool MarkPortsShared(const std::string& folder, bool shared) {
  const std::string path = folder + "/" + kSharedPortsMarker;
  if (!shared) return unlink(path.c_str()) == 0 || errno == ENOENT;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno == ENOENT;  // no folder yet: made with the first port
  close(fd);
  return true;
}

bool PortCanBeOpened(int n) { return PortCanBeOpened(PortFolder(), n); }

bool PortCanBeOpened(const std::string& folder, int n) {
  if (n < 1) return false;
  std::string path = folder + "/COM" + std::to_string(n);
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}
