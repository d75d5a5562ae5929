#include "activity_log.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>

ActivityLog::~ActivityLog() { Close(); }

namespace {

constexpr int64_t kSmallestLimit = 4096;

int OpenForAppending(const std::string& path) {
  // Private: the log records what clients send and receive.
  return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
}

}  // namespace

bool ActivityLog::Open(const std::string& path) {
  Close();
  on_ = true;
  write_failed_ = false;
  path_ = path;
  if (const char* limit = getenv("VELK_VCP_LOG_LIMIT"); limit && *limit) {
    SetLimit(strtoll(limit, nullptr, 10));
  }
  fd_ = OpenForAppending(path);
  if (fd_ < 0) {
    std::cerr << "Velk_VCP: cannot open the log file " << path << ": " << strerror(errno) << "\n";
    return false;
  }
  struct stat st {};
  size_ = fstat(fd_, &st) == 0 ? st.st_size : 0;
  return true;
}

void ActivityLog::SetLimit(int64_t bytes) { limit_ = std::max(bytes, kSmallestLimit); }

void ActivityLog::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  on_ = false;
}

void ActivityLog::WriteLine(const std::string& text) {
  if (!on_ || fd_ < 0) return;
  const std::string line = text + "\r\n";
  if (size_ > 0 && size_ + static_cast<int64_t>(line.size()) > limit_) Rotate();
  WriteRaw(line);
}

bool ActivityLog::WriteRaw(const std::string& line) {
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = write(fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (!write_failed_) std::cerr << "Velk_VCP: the log file cannot be written\n";
      write_failed_ = true;
      return false;
    }
    done += static_cast<size_t>(n);
    size_ += n;
  }
  return true;
}

void ActivityLog::Rotate() {
  const std::string older = path_ + ".1";
  const std::string name = path_.substr(path_.rfind('/') + 1);
  WriteRaw("*** Log continues in " + name + " ***\r\n");
  if (rename(path_.c_str(), older.c_str()) != 0) {
    // The file cannot be moved aside: it is emptied instead, so the bound still holds.
    if (!write_failed_) {
      std::cerr << "Velk_VCP: the log file cannot be renamed: " << strerror(errno) << "\n";
    }
    if (ftruncate(fd_, 0) == 0) size_ = 0;
    return;
  }
  const int fd = OpenForAppending(path_);
  if (fd < 0) {
    std::cerr << "Velk_VCP: cannot open the log file " << path_ << ": " << strerror(errno) << "\n";
    close(fd_);
    fd_ = -1;
    return;
  }
  close(fd_);
  fd_ = fd;
  size_ = 0;
  WriteRaw("*** Log continued from " + name + ".1 ***\r\n");
}

void ActivityLog::Command(const std::string& text) {
  if (!on_) return;
  list1_.Add(text);
  ++changes_;
  WriteLine("C: " + text);
}

void ActivityLog::Answer(const std::string& text) {
  if (!on_) return;
  list2_.Add(text);
  ++changes_;
  WriteLine("A: " + text);
}

void ActivityLog::ClearLists() {
  list1_.Clear();
  list2_.Clear();
  ++changes_;
}
