#include "proc_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

std::optional<std::string> ReadProcFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      close(fd);
      return std::nullopt;
    }
  }
  close(fd);
  return bytes;
}
