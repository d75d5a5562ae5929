// The lock a running program holds on its working folder: a file ".Velk_VCP.lock" in the
// folder, locked with flock. One program holds it at a time (a second would write the same
// settings file and answer on the same socket); a tool that changes the settings file takes it
// alone, so it never writes while a program runs there (that program writes the settings file
// when it ends and would undo the change). Tools take turns through a second lock file,
// ".Velk_VCP.tool.lock", so that a tool that finds the folder lock taken knows it is a program
// that holds it. The kernel drops the locks when their holder dies.
#pragma once

#include <chrono>
#include <functional>
#include <string>

inline constexpr const char* kFolderLockName = ".Velk_VCP.lock";
inline constexpr const char* kToolLockName = ".Velk_VCP.tool.lock";

class FolderLock {
 public:
  // What HoldForTool found.
  enum class ToolResult { Held, ProgramRuns, ToolBusy, Failed };

  FolderLock() = default;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

  // What HoldForProgram found.
  enum class ProgramResult { Held, OtherProgram, Failed };
  // For a program: takes the lock of folder for this process alone, waiting while a tool
  // holds the folder (onWait, when given, is called once before such a wait). Returns Held;
  // OtherProgram when another program works in the folder (its settings, log and socket are
  // that program's); Failed (errno set) when a lock file cannot be made. Nothing is held
  // unless Held.
  ProgramResult HoldForProgram(const std::string& folder, const std::function<void()>& onWait = {});
  // Takes the lock of folder for this process alone, without waiting. Returns false when a
  // program holds it (errno EWOULDBLOCK) or the lock file cannot be made (nothing is held then).
  bool TryHoldAlone(const std::string& folder);
  // For a tool: waits up to patience for other tools to finish, then takes the folder lock
  // alone. Returns Held; ProgramRuns when a program holds the folder lock (the tool lock is
  // then held, so that tools changing the settings through the program take turns); ToolBusy
  // when another tool held the folder that long; Failed (errno set) when a lock file cannot be
  // made. Nothing is held on ToolBusy and Failed.
  ToolResult HoldForTool(const std::string& folder, std::chrono::milliseconds patience);
  // Gives the locks up; the files stay. Nothing when none is held.
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  bool Hold(const std::string& folder, int operation);

  int fd_ = -1;
  int tool_fd_ = -1;
};
