#include "client_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "start_process.h"

ClientRun RunClient(const std::vector<std::string>& argv, const std::string& folder,
                    const Environment& environment,
                    const std::function<void(const std::string&)>& on_line,
                    std::chrono::seconds timeout) {
  ClientRun run;
  int out[2];
  if (argv.empty() || pipe2(out, O_CLOEXEC) != 0) return run;
  ProcessStart start;
  start.argv = argv;
  start.folder = folder;
  start.env.assign(environment.begin(), environment.end());
  start.out = out[1];
  start.err = out[1];
  const pid_t pid = StartProcess(start);
  close(out[1]);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string line;
  bool timed_out = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{out[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
      timed_out = true;
      break;
    }
    char buffer[4096];
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      run.output += buffer[i];
      if (buffer[i] != '\n') {
        if (buffer[i] != '\r') line += buffer[i];
        continue;
      }
      if (on_line) on_line(line);
      line.clear();
    }
  }
  close(out[0]);
  if (pid < 0) return run;
  if (timed_out) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = !timed_out && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}
