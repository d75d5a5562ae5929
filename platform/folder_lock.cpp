#include "folder_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

FolderLock::~FolderLock() { Release(); }

bool FolderLock::HoldShared(const std::string& folder) { return Hold(folder, LOCK_SH); }

bool FolderLock::TryHoldAlone(const std::string& folder) { return Hold(folder, LOCK_EX | LOCK_NB); }

bool FolderLock::Hold(const std::string& folder, int operation) {
  Release();
  const std::string path = folder + "/" + kFolderLockName;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  int result;
  do {
    result = flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int reason = errno;
    close(fd);
    errno = reason;
    return false;
  }
  fd_ = fd;
  return true;
}

void FolderLock::Release() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
}
