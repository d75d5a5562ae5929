// Who holds a simulated port: the processes with a descriptor of the port's slave device,
// found in /proc only when asked (never per command).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

struct PortHolder {
  pid_t pid = 0;
  std::string program;  // see ProgramName
};

// Returns the process, other than this one, that has a descriptor of device_path open (the
// lowest process id when several have; Wine's server, which keeps a copy of its programs'
// descriptors, only when no other process has one), or nothing when none has or /proc cannot
// tell (a process of another user whose descriptors may not be read counts as none).
std::optional<PortHolder> FindPortHolder(const std::string& device_path);

// Returns the name of process pid's program: the Windows program's file name for a program
// under Wine, the executable's file name otherwise, control characters replaced (see
// ProgramNameOf); empty when the process is gone.
std::string ProgramName(pid_t pid);

// The rule behind ProgramName: exe is the executable's path, command_line the process's
// arguments separated by NUL bytes (as /proc/PID/cmdline gives them). A Wine loader
// (wine, wine64, wine-preloader, wine64-preloader) names the first argument that ends in
// ".exe" (after its last '\' or '/'), else the file name of the first argument; any other
// executable names itself. Control characters in the name (C0, DEL, UTF-8's C1) are replaced
// by '?'. Returns an empty text when both are empty.
std::string ProgramNameOf(const std::string& exe, const std::string& command_line);
