#include "port_match.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

// Unix98 pseudo-terminal slaves use majors 136 to 143.
enum { kFirstPtsMajor = 136, kLastPtsMajor = 143 };

int IsPseudoTerminal(int fd, dev_t* device) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  const unsigned int m = major(st.st_rdev);
  if (m < kFirstPtsMajor || m > kLastPtsMajor) return 0;
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

static int FolderHasDevice(const char* folder, dev_t device) {
  DIR* dir = opendir(folder);
  if (dir == NULL) return 0;
  int found = 0;
  char path[4096];
  for (struct dirent* entry = readdir(dir); entry != NULL && !found; entry = readdir(dir)) {
    if (!IsComName(entry->d_name)) continue;
    if (snprintf(path, sizeof path, "%s/%s", folder, entry->d_name) >= (int)sizeof path) continue;
    found = PathIsDevice(path, device);
  }
  closedir(dir);
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

int IsPortDevice(dev_t device) {
  const char* folder = getenv("VELK_VCP_PORT_DIR");
  if (folder == NULL || *folder == '\0') folder = "ports";
  return FolderHasDevice(folder, device) || ListHasDevice(getenv("VELK_CLIENT_PORTS"), device);
}
