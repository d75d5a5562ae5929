#include "activity_log.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <iostream>

ActivityLog::~ActivityLog() { Close(); }

bool ActivityLog::Open(const std::string& path) {
  Close();
  on_ = true;
  write_failed_ = false;
  fd_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    std::cerr << "Velk_VCP: cannot open the log file " << path << ": " << strerror(errno) << "\n";
    return false;
  }
  return true;
}

void ActivityLog::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  on_ = false;
}

void ActivityLog::WriteLine(const std::string& text) {
  if (!on_ || fd_ < 0) return;
  const std::string line = text + "\r\n";
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = write(fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (!write_failed_) std::cerr << "Velk_VCP: the log file cannot be written\n";
      write_failed_ = true;
      return;
    }
    done += static_cast<size_t>(n);
  }
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
