// The real Velk_VCP started as a process in a fresh working folder, and an X server of its own.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "wait_for.h"

// A working folder with the shipped language files, presets, device file and icons.
class ProgramFolder {
 public:
  ProgramFolder();
  ~ProgramFolder();
  const std::string& path() const { return path_; }
  void Write(const std::string& name, const std::string& text) const;
  // True while the port folder holds the link COM<n>.
  bool PortExists(int n) const;
  std::string PortPath(int n) const;

 private:
  std::string path_;
};

// A child process; killed (SIGKILL) if it still runs when the object goes.
class ChildProcess {
 public:
  // Starts program with args in folder; extraEnv entries ("NAME=value") are added to (or, with
  // an empty value, removed from) the environment. Standard error goes to a pipe.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& folder, const std::vector<std::string>& extraEnv);
  ~ChildProcess();
  bool running() const { return pid_ > 0; }
  // Sends signal and waits for the end; returns the exit status, -1 when it did not exit
  // normally within 20 s.
  int Stop(int signal);
  // What the process wrote to standard error so far.
  std::string Errors();

 private:
  pid_t pid_ = -1;
  int err_ = -1;
  std::string errors_;
};

// Opens a port as a client does; -1 on failure.
int OpenClient(const std::string& path);
// Writes command and returns what arrives up to and including the first line feed (at most 5 s).
std::string Ask(int client, const std::string& command);

// An Xvfb server on a free display, for as long as the object lives.
class XServer {
 public:
  XServer();
  ~XServer();
  // ":N", empty when the server could not be started.
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};
