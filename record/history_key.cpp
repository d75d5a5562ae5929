#include "history_key.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string HistoryKeyPath(const std::string& db_path) {
  const std::string suffix = ".db";
  if (db_path.size() > suffix.size() &&
      db_path.compare(db_path.size() - suffix.size(), suffix.size(), suffix) == 0) {
    return db_path.substr(0, db_path.size() - suffix.size()) + ".key";
  }
  return db_path + ".key";
}

namespace {

// Makes the key file with fresh random bytes; false with error when it cannot.
bool MakeKey(const std::string& path, std::string& error) {
  unsigned char bytes[kHistoryKeySize];
  if (RAND_bytes(bytes, sizeof bytes) != 1) {
    error = "key file " + path + ": no random bytes to make it";
    return false;
  }
  // O_EXCL: a file made meanwhile by someone else is read, not overwritten.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return true;
    error = "key file " + path + " cannot be made: " + std::strerror(errno);
    return false;
  }
  const bool ok = ::fchmod(fd, 0600) == 0 && ::write(fd, bytes, sizeof bytes) == sizeof bytes &&
                  ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  if (!ok) {
    ::unlink(path.c_str());
    error = "key file " + path + " cannot be written: " + std::strerror(saved);
  }
  return ok;
}

}  // namespace

bool LoadHistoryKey(const std::string& key_path, bool make, std::string& key, std::string& error) {
  struct stat st {};
  if (::lstat(key_path.c_str(), &st) != 0) {
    if (errno != ENOENT || !make) {
      error = "key file " + key_path + " is missing or cannot be read: " + std::strerror(errno);
      return false;
    }
    if (!MakeKey(key_path, error)) return false;
  }
  const int fd = ::open(key_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = "key file " + key_path + " cannot be read: " + std::strerror(errno);
    return false;
  }
  unsigned char bytes[kHistoryKeySize + 1];
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const ssize_t n = regular ? ::read(fd, bytes, sizeof bytes) : -1;
  ::close(fd);
  if (!regular) {
    error = "key file " + key_path + " is not a regular file";
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    error = "key file " + key_path +
            " may be read or written by others: make it private (chmod 600); the history is off";
    return false;
  }
  if (n != static_cast<ssize_t>(kHistoryKeySize)) {
    error =
        "key file " + key_path + " is not a key of " + std::to_string(kHistoryKeySize) + " bytes";
    return false;
  }
  key.assign(reinterpret_cast<const char*>(bytes), kHistoryKeySize);
  return true;
}
