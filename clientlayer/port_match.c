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

static const char* Folder(void) {
  const char* folder = getenv("VELK_VCP_PORT_DIR");
  return folder == NULL || *folder == '\0' ? "ports" : folder;
}

int IsPortDevice(dev_t device) {
  return FolderHasDevice(Folder(), device) || ListHasDevice(getenv("VELK_CLIENT_PORTS"), device);
}

int PortsShared(void) {
  const int dir = (int)syscall(SYS_openat, AT_FDCWD, Folder(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return 0;
  struct stat st;
  const int shared = fstatat(dir, ".shared-ports", &st, AT_SYMLINK_NOFOLLOW) == 0;
  syscall(SYS_close, dir);
  return shared;
}

int IsPortPath(int dirfd, const char* path) {
  struct stat st;
  if (path == NULL || fstatat(dirfd, path, &st, 0) != 0 || !IsPtsDevice(&st)) return 0;
  return IsPortDevice(st.st_rdev);
}
