#include "folder_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <thread>

namespace {

int OpenLockFile(const std::string& folder, const char* name) {
  const std::string path = folder + "/" + name;
  return open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

int Lock(int fd, int operation) {
  int result;
  do {
    result = flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

void CloseKeepingErrno(int fd) {
  const int reason = errno;
  close(fd);
  errno = reason;
}

}  // namespace

FolderLock::~FolderLock() { Release(); }

FolderLock::ProgramResult FolderLock::HoldForProgram(const std::string& folder,
                                                     const std::function<void()>& onWait) {
  Release();
  bool waited = false;
  while (!Hold(folder, LOCK_EX | LOCK_NB)) {
    if (errno != EWOULDBLOCK) return ProgramResult::Failed;
    // Tools hold the tool lock whenever they hold the folder or change it through a program.
    // The folder taken while no tool is at work is held by a program; asked twice, so that a
    // tool that let both go in between is not taken for one.
    const int tool = OpenLockFile(folder, kToolLockName);
    if (tool < 0) return ProgramResult::Failed;
    const bool toolAtWork = Lock(tool, LOCK_SH | LOCK_NB) != 0;
    close(tool);
    if (!toolAtWork) {
      if (Hold(folder, LOCK_EX | LOCK_NB)) break;
      if (errno != EWOULDBLOCK) return ProgramResult::Failed;
      return ProgramResult::OtherProgram;
    }
    if (!waited && onWait) onWait();
    waited = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ProgramResult::Held;
}

bool FolderLock::TryHoldAlone(const std::string& folder) { return Hold(folder, LOCK_EX | LOCK_NB); }

FolderLock::ToolResult FolderLock::HoldForTool(const std::string& folder,
                                               std::chrono::milliseconds patience) {
  Release();
  const int tool = OpenLockFile(folder, kToolLockName);
  if (tool < 0) return ToolResult::Failed;
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (Lock(tool, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) {
      CloseKeepingErrno(tool);
      return ToolResult::Failed;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      close(tool);
      return ToolResult::ToolBusy;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Tools take the folder lock only while they hold the tool lock: whoever holds it now is a
  // program.
  if (!Hold(folder, LOCK_EX | LOCK_NB)) {
    if (errno != EWOULDBLOCK) {
      CloseKeepingErrno(tool);
      return ToolResult::Failed;
    }
    // The tool lock stays held: a tool that changes the settings through the running program
    // reads, writes and has them taken over while no other tool does.
    tool_fd_ = tool;
    return ToolResult::ProgramRuns;
  }
  tool_fd_ = tool;
  return ToolResult::Held;
}

bool FolderLock::Hold(const std::string& folder, int operation) {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  const int fd = OpenLockFile(folder, kFolderLockName);
  if (fd < 0) return false;
  if (Lock(fd, operation) != 0) {
    CloseKeepingErrno(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void FolderLock::Release() {
  if (fd_ >= 0) close(fd_);
  if (tool_fd_ >= 0) close(tool_fd_);
  fd_ = tool_fd_ = -1;
}
