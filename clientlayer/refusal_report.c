#include "refusal_report.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

void ReportRefusedOpen(int dirfd, const char* path) {
  if (path == NULL || (path[0] != '/' && dirfd != AT_FDCWD)) return;
  const int saved = errno;
  const char* slash = strrchr(path, '/');
  const char* name = slash ? slash + 1 : path;
  const size_t folder = slash ? (size_t)(slash - path) + 1 : 0;
  static const char kSocket[] = "../Velk_VCP.control";
  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const size_t length = strlen(name);
  if (folder + sizeof kSocket > sizeof address.sun_path || length == 0 || length > 32) {
    errno = saved;
    return;
  }
  memcpy(address.sun_path, path, folder);
  memcpy(address.sun_path + folder, kSocket, sizeof kSocket);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd >= 0) {
    if (connect(fd, (const struct sockaddr*)&address, sizeof address) == 0) {
      char line[48] = "refused ";
      memcpy(line + 8, name, length);
      line[8 + length] = '\n';
      (void)!send(fd, line, 9 + length, MSG_NOSIGNAL);
    }
    syscall(SYS_close, fd);  // the layer's own close is for the program's descriptors
  }
  errno = saved;
}
