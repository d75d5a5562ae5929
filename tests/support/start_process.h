// Starting a program from a test: what to run, in which folder, with which environment and
// where its output goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

struct ProcessStart {
  std::vector<std::string> argv;  // argv[0]: a path, or a name looked up on PATH
  std::string folder;             // working folder; empty: the test's own
  // Changes to the environment, in order: NAME set to value, or removed when value is empty.
  std::vector<std::pair<std::string, std::string>> env;
  int out = -1;  // descriptor that becomes standard output; -1: the test's own
  int err = -1;  // descriptor that becomes standard error; -1: the test's own
  // When set, standard output and error are appended to this file instead.
  std::string output_file;
};

// Starts the program with fork and exec. Returns the child's process id, or -1 when fork
// fails; a child that cannot enter its folder, open its output file or run the program ends
// with status 127.
pid_t StartProcess(const ProcessStart& start);
