#include "key_value_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error) {
  std::string tmp = path + ".XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) {
    error = Reason(path, "cannot create a temporary file");
    return false;
  }
  // Keep the permissions of the file being replaced; a new file gets the usual 0666 & ~umask.
  struct stat st {};
  mode_t mode;
  if (::stat(path.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  bool ok = WriteAll(fd, content);
  if (!ok) error = Reason(path, "write failed");
  if (ok && ::fsync(fd) != 0) {
    error = Reason(path, "flush failed");
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    error = Reason(path, "close failed");
    ok = false;
  }
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
    error = Reason(path, "cannot replace the file");
    ok = false;
  }
  if (!ok) ::unlink(tmp.c_str());
  return ok;
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
