#include "normal_user.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

std::string RunAsNormalUser(const std::function<std::string()>& body) {
  int channel[2];
  if (pipe(channel) != 0) return "no pipe";
  const pid_t child = fork();
  if (child < 0) return "no fork";
  if (child == 0) {
    close(channel[0]);
    std::string result;
    if (geteuid() == 0) {
      __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
      __user_cap_data_struct data[2]{};
      const unsigned bit = 1u << (CAP_SYS_ADMIN % 32);
      if (syscall(SYS_capget, &header, data) == 0) {
        data[CAP_SYS_ADMIN / 32].effective &= ~bit;
        data[CAP_SYS_ADMIN / 32].permitted &= ~bit;
        data[CAP_SYS_ADMIN / 32].inheritable &= ~bit;
      }
      if (syscall(SYS_capset, &header, data) != 0) result = "cannot give up CAP_SYS_ADMIN";
    }
    if (result.empty()) result = body();
    if (!result.empty() && write(channel[1], result.data(), result.size()) < 0) _exit(2);
    _exit(0);
  }
  close(channel[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) result += " (the child ended abnormally)";
  return result;
}
