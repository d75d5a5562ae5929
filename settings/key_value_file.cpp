#include "key_value_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string Reason(const std::string& path, const char* what) {
  return path + ": " + what + ": " + std::strerror(errno);
}

// Writes all of data to fd, retrying short writes and interruptions.
bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

bool ReadLines(const std::string& path, const std::function<void(std::string_view)>& onLine,
               std::string& error) {
  // O_NONBLOCK keeps a FIFO from blocking the open; anything but a regular file is refused.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error = Reason(path, "cannot open");
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
    ::close(fd);
    return false;
  }
  std::string line;
  char buffer[65536];
  bool lastWasCr = false;
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = Reason(path, "read failed");
      ok = false;
      break;
    }
    if (n == 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      char c = buffer[i];
      if (c == '\n' && lastWasCr) {
        lastWasCr = false;  // second half of CR LF
        continue;
      }
      lastWasCr = c == '\r';
      if (c == '\r' || c == '\n') {
        onLine(line);
        line.clear();
      } else {
        line.push_back(c);
      }
    }
  }
  if (!line.empty()) onLine(line);
  ::close(fd);
  return ok;
}

std::string TemporaryNameFor(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, base) + "." + path.substr(base) + kTemporaryMarker + "XXXXXX";
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error) {
  std::string tmp = TemporaryNameFor(path);
  // mkstemp makes the file 0600 whatever the umask; it stays so: these files hold the password.
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) {
    error = Reason(path, "cannot create a temporary file");
    return false;
  }
  // Held until the rename: a later start removes only temporary files nobody holds.
  ::flock(fd, LOCK_EX | LOCK_NB);
  bool ok = ::fchmod(fd, 0600) == 0;
  if (!ok) error = Reason(path, "cannot make the file private");
  if (ok && !WriteAll(fd, content)) {
    error = Reason(path, "write failed");
    ok = false;
  }
  if (ok && ::fsync(fd) != 0) {
    error = Reason(path, "flush failed");
    ok = false;
  }
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
    error = Reason(path, "cannot replace the file");
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    error = Reason(path, "close failed");
    ok = false;
  }
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

int RemoveStaleTemporaries(const std::string& folder,
                           const std::function<bool(std::string_view)>& isTarget) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return 0;
  const std::string_view marker = kTemporaryMarker;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    // ".<target>.velk-save.XXXXXX", as WriteFileAtomically makes them; nothing else.
    const size_t fixed = 1 + marker.size() + 6;
    if (name.size() <= fixed || name.front() != '.') continue;
    const std::string_view suffix = name.substr(name.size() - 6);
    if (name.substr(name.size() - 6 - marker.size(), marker.size()) != marker) continue;
    if (!std::all_of(suffix.begin(), suffix.end(), [](char c) { return std::isalnum(c); }))
      continue;
    if (isTarget(name.substr(1, name.size() - fixed))) names.emplace_back(name);
  }
  ::closedir(dir);
  int removed = 0;
  for (const std::string& name : names) {
    const std::string path = folder.empty() ? name : folder + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    // A file a running save holds stays; so does anything that is not a plain file.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::unlink(path.c_str()) == 0) {
      ++removed;
    }
    ::close(fd);
  }
  return removed;
}

KeyValueLine SplitAtFirstColon(std::string_view line) {
  KeyValueLine kv;
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    kv.value = line;
    return kv;
  }
  kv.hasColon = true;
  kv.key = line.substr(0, colon);
  kv.value = line.substr(colon + 1);
  return kv;
}

std::string_view TrimSpaces(std::string_view text) {
  size_t b = text.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  size_t e = text.find_last_not_of(' ');
  return text.substr(b, e - b + 1);
}

std::string FileNameWithNumber(std::string_view base, int number, std::string_view suffix) {
  std::string digits = std::to_string(number);
  std::string name(base);
  if (digits.size() >= name.size()) {
    name = digits;
  } else {
    name.replace(name.size() - digits.size(), digits.size(), digits);
  }
  return name + std::string(suffix);
}
