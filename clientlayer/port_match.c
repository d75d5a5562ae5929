#define _GNU_SOURCE
#include "port_match.h"

#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// Unix98 pseudo-terminal slaves use majors 136 to 143.
enum { kFirstPtsMajor = 136, kLastPtsMajor = 143 };

// Looks of a path at the port folder while the link it leads through keeps moving.
enum { kMatchAttempts = 32 };

static int IsPtsDevice(const struct stat* st) {
  if (!S_ISCHR(st->st_mode)) return 0;
  const unsigned int m = major(st->st_rdev);
  return m >= kFirstPtsMajor && m <= kLastPtsMajor;
}

int IsPseudoTerminal(int fd, dev_t* device) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !IsPtsDevice(&st)) return 0;
  *device = st.st_rdev;
  return 1;
}

static int PathIsDevice(const char* path, dev_t device) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device;
}

// COM followed by one or more digits and nothing else.
static int IsComName(const char* name) {
  if (strncmp(name, "COM", 3) != 0 || name[3] == '\0') return 0;
  for (const char* c = name + 3; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return 0;
  }
  return 1;
}

// The record getdents64 fills in.
struct FolderEntry {
  uint64_t inode;
  int64_t offset;
  unsigned short length;
  unsigned char type;
  char name[];
};

static int FolderHasDevice(const char* folder, dev_t device) {
  const int dir = (int)syscall(SYS_openat, AT_FDCWD, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return 0;
  int found = 0;
  _Alignas(8) char buffer[2048];
  long filled;
  while (!found && (filled = syscall(SYS_getdents64, dir, buffer, sizeof buffer)) > 0) {
    for (long at = 0; at < filled && !found;) {
      const struct FolderEntry* entry = (const struct FolderEntry*)(buffer + at);
      struct stat st;
      found = IsComName(entry->name) && fstatat(dir, entry->name, &st, 0) == 0 &&
              S_ISCHR(st.st_mode) && st.st_rdev == device;
      at += entry->length;
    }
  }
  syscall(SYS_close, dir);
  return found;
}

static int ListHasDevice(const char* list, dev_t device) {
  char path[4096];
  while (list != NULL && *list != '\0') {
    const char* end = strchr(list, ':');
    const size_t length = end == NULL ? strlen(list) : (size_t)(end - list);
    if (length > 0 && length < sizeof path) {
      memcpy(path, list, length);
      path[length] = '\0';
      if (PathIsDevice(path, device)) return 1;
    }
    list = end == NULL ? NULL : end + 1;
  }
  return 0;
}

const char* PortFolderPath(void) {
  const char* folder = getenv("VELK_VCP_PORT_DIR");
  return folder == NULL || *folder == '\0' ? "ports" : folder;
}

int IsPortDevice(dev_t device) {
  return FolderHasDevice(PortFolderPath(), device) ||
         ListHasDevice(getenv("VELK_CLIENT_PORTS"), device);
}

int PortsShared(void) {
  const int dir =
      (int)syscall(SYS_openat, AT_FDCWD, PortFolderPath(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return 0;
  struct stat st;
  const int shared = fstatat(dir, ".shared-ports", &st, AT_SYMLINK_NOFOLLOW) == 0;
  syscall(SYS_close, dir);
  return shared;
}

int IsPortPath(int dirfd, const char* path) {
  struct stat before;
  if (path == NULL || fstatat(dirfd, path, &before, 0) != 0 || !IsPtsDevice(&before)) return 0;
  for (int attempt = 0; attempt < kMatchAttempts; ++attempt) {
    if (IsPortDevice(before.st_rdev)) return 1;
    // The program may have moved the link between the look-up and the scan: the path is
    // matched anew, also when it leads to the same terminal again (the link may have left it
    // and come back while a slow scan read the folder). Only on a refused open, so the
    // bounded retries cost nothing on the way in.
    struct stat after;
    if (fstatat(dirfd, path, &after, 0) != 0 || !IsPtsDevice(&after)) return 0;
    before = after;
  }
  return 0;
}

int IsPtsPath(int dirfd, const char* path, dev_t* device) {
  struct stat st;
  if (path == NULL || fstatat(dirfd, path, &st, 0) != 0 || !IsPtsDevice(&st)) return 0;
  *device = st.st_rdev;
  return 1;
}

// Writes the decimal digits of value to text; returns the end.
static char* PutNumber(char* text, unsigned long value) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *text++ = digits[--count];
  return text;
}

static int IsNumber(const char* name) {
  if (*name == '\0') return 0;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9') return 0;
  }
  return 1;
}

// Whether one of the descriptors in the open folder fds (a /proc/PID/fd) names target.
static int DescriptorsName(int fds, const char* target, size_t length) {
  int found = 0;
  _Alignas(8) char buffer[2048];
  long filled;
  while (!found && (filled = syscall(SYS_getdents64, fds, buffer, sizeof buffer)) > 0) {
    for (long at = 0; at < filled && !found;) {
      const struct FolderEntry* entry = (const struct FolderEntry*)(buffer + at);
      char link[64];
      const ssize_t n = readlinkat(fds, entry->name, link, sizeof link);
      found = n == (ssize_t)length && memcmp(link, target, length) == 0;
      at += entry->length;
    }
  }
  return found;
}

int DeviceHeld(dev_t device) {
  const unsigned int m = major(device);
  if (m < kFirstPtsMajor || m > kLastPtsMajor) return 0;
  // The descriptor links of /proc name the slave as /dev/pts/N; readlink, unlike stat, never
  // waits for the file system a descriptor is on.
  char target[32] = "/dev/pts/";
  const size_t length =
      (size_t)(PutNumber(target + 9, (m - kFirstPtsMajor) * 256ul + minor(device)) - target);
  const int proc = (int)syscall(SYS_openat, AT_FDCWD, "/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) return 0;
  int held = 0;
  _Alignas(8) char buffer[2048];
  long filled;
  while (!held && (filled = syscall(SYS_getdents64, proc, buffer, sizeof buffer)) > 0) {
    for (long at = 0; at < filled && !held;) {
      const struct FolderEntry* entry = (const struct FolderEntry*)(buffer + at);
      at += entry->length;
      const size_t name_length = strlen(entry->name);
      if (!IsNumber(entry->name) || name_length > 20) continue;
      char fd_folder[32];
      memcpy(fd_folder, entry->name, name_length);
      memcpy(fd_folder + name_length, "/fd", 4);
      const int fds = (int)syscall(SYS_openat, proc, fd_folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fds < 0) continue;  // gone, or another user's
      held = DescriptorsName(fds, target, length);
      syscall(SYS_close, fds);
    }
  }
  syscall(SYS_close, proc);
  return held;
}
