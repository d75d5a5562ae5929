#include "port_claim.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

PortClaim::~PortClaim() { Release(); }

bool PortClaim::Acquire(const std::string& folder, const std::string& name) {
  Release();
  const std::string path = folder + "/." + name + ".lock";
  // The owner removes the file when it lets go; a file locked after it was removed is not
  // the claim any more, so check that the locked file is still the one at the path.
  for (int attempt = 0; attempt < 5; ++attempt) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      errno = EWOULDBLOCK;
      return false;
    }
    struct stat locked {
    }, current{};
    if (fstat(fd, &locked) == 0 && stat(path.c_str(), &current) == 0 &&
        locked.st_dev == current.st_dev && locked.st_ino == current.st_ino) {
      fd_ = fd;
      path_ = path;
      return true;
    }
    close(fd);
  }
  errno = EWOULDBLOCK;
  return false;
}

void PortClaim::Release() {
  if (fd_ < 0) return;
  unlink(path_.c_str());
  close(fd_);
  fd_ = -1;
  path_.clear();
}

bool IsPtyTarget(const std::string& target) { return target.rfind("/dev/pts/", 0) == 0; }
