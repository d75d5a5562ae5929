// The lock a running program holds on its working folder: a file ".Velk_VCP.lock" in the
// folder, locked with flock. Programs share it; a tool that changes the settings file takes it
// alone, so it never writes while a program runs there (that program writes the settings file
// when it ends and would undo the change). The kernel drops the lock when its holder dies.
#pragma once

#include <string>

inline constexpr const char* kFolderLockName = ".Velk_VCP.lock";

class FolderLock {
 public:
  FolderLock() = default;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

  // Takes the lock of folder shared with other programs, waiting while a tool holds it alone.
  // Returns false when the lock file cannot be made or locked (nothing is held then).
  bool HoldShared(const std::string& folder);
  // Takes the lock of folder for this process alone, without waiting. Returns false when a
  // program holds it (errno EWOULDBLOCK) or the lock file cannot be made (nothing is held then).
  bool TryHoldAlone(const std::string& folder);
  // Gives the lock up; the file stays. Nothing when none is held.
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  bool Hold(const std::string& folder, int operation);

  int fd_ = -1;
};
