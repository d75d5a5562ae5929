#include "start_process.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

pid_t StartProcess(const ProcessStart& start) {
  std::vector<char*> argv;
  for (const std::string& arg : start.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (start.out >= 0) dup2(start.out, 1);
  if (start.err >= 0) dup2(start.err, 2);
  if (!start.output_file.empty() && (!freopen(start.output_file.c_str(), "a", stdout) ||
                                     !freopen(start.output_file.c_str(), "a", stderr))) {
    _exit(127);
  }
  if (!start.folder.empty() && chdir(start.folder.c_str()) != 0) _exit(127);
  for (const auto& [name, value] : start.env) {
    if (value.empty()) {
      unsetenv(name.c_str());
    } else {
      setenv(name.c_str(), value.c_str(), 1);
    }
  }
  if (argv[0] != nullptr) execvp(argv[0], argv.data());
  _exit(127);
}
