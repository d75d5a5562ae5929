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
  // Private: the log records what clients send and receive. Never through a link: a link
  // would let the log append client bytes to a file of someone's choice.
  return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
              0600);
}

void ReportOpenFailure(const std::string& path) {
  if (errno == ELOOP) {
    std::cerr << "Velk_VCP: the log file " << path
              << " is a symbolic link; nothing is logged (remove the link to log)\n";
  } else {
    std::cerr << "Velk_VCP: cannot open the log file " << path << ": " << strerror(errno) << "\n";
  }
}

}  // namespace

std::string LogText(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 32 || code == 127 || c == '<') {
      text += '<' + std::to_string(code) + '>';
    } else {
      text += c;
    }
  }
  return text;
}

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
    ReportOpenFailure(path);
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
    ReportOpenFailure(path_);
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
  WriteLine("C: " + LogText(text));
}

void ActivityLog::Answer(const std::string& text) {
  if (!on_) return;
  list2_.Add(text);
  ++changes_;
  WriteLine("A: " + LogText(text));
}

void ActivityLog::ClearLists() {
  list1_.Clear();
  list2_.Clear();
  ++changes_;
}
