// The program Velk_VCP --headless as a separate process in a fresh working folder, with the
// real simulated device library, clients on its real port links, and ways to make its
// surroundings fail: a missing library, a file-size limit, an unwritable log.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "normal_user.h"
#include "wait_for.h"

// Devices of the fault tests: 1.1 = 1.234 and 1.8 = 2.5 are valid; inputs 1.2 .. 1.7 report
// no value, out of range, no answer, 5, -32768 and 32767; device 1 has foot switch 0.
extern const char* const kFaultDdk;
// Preset 0 on COM5 with log on and the inputs 1.1 .. 1.8 at command addresses 1 .. 8, answered
// as 10, 20, .. 80.
std::string FaultSettings();

// Returns how often what occurs in text.
size_t Count(const std::string& text, const std::string& what);

// Reads what arrives on fd until it holds expected bytes, the link ends or timeout passes.
std::string ReadFor(int fd, size_t expected, std::chrono::milliseconds timeout);

// Runs a shell command; returns its status as std::system does.
int Shell(const std::string& command);

class ProgramTest : public ::testing::Test {
 protected:
  struct Options {
    std::string library = VELK_DDK_SIM;      // VELK_DDK_LIBRARY of the program
    rlim_t file_size_limit = RLIM_INFINITY;  // RLIMIT_FSIZE; writes past it fail with EFBIG
    std::string folder;    // working folder below the test's folder; empty: the folder itself
    std::string port_dir;  // VELK_VCP_PORT_DIR; empty: "ports" in the working folder
    mode_t umask = 022;    // the program's file mode creation mask
    std::vector<std::pair<std::string, std::string>> env;  // further environment variables
    // Descriptors handed to the program from 3 on, with LISTEN_FDS, LISTEN_FDNAMES and
    // LISTEN_PID set as a service manager sets them (names separated by ':').
    std::vector<int> inherited;
    std::string inherited_names;
    bool desktop = false;  // the program with its windows (offscreen), not --headless
  };

  ProgramTest();
  ~ProgramTest() override;

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Write(const std::string& name, const std::string& text) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;

  // Starts a program in the working folder; its standard output and error go to files.
  // Returns its process id.
  pid_t Start(const Options& options, const std::string& tag = "run");
  pid_t Start() { return Start(Options{}); }
  // Waits until the program with that tag prints that it serves (true), or timeout passes
  // (false). The program without windows says so once everything is up (the web page and the
  // program's socket too); with its windows, which print no such line, the port it simulates
  // is taken instead.
  bool WaitUntilServing(const std::string& tag = "run",
                        std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Sends SIGTERM (when still running) and returns the exit status; -1 after a crash or
  // when it did not end within the timeout (it is then killed).
  int Stop(pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Waits for the program to end by itself; the exit status as Stop.
  int Wait(pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  std::string Out(const std::string& tag = "run") const { return Read(tag + ".out"); }
  std::string Err(const std::string& tag = "run") const { return Read(tag + ".err"); }

  // Opens a client on a port link of the program (O_RDWR | O_NONBLOCK), waiting (at most
  // 2 s) while the port is busy settling the previous client, as a Windows program's open
  // does through the client layer; -1 on failure (errno set).
  int OpenPort(const std::string& name) const;
  // Writes command and reads until expected bytes arrived (or 5 s passed).
  std::string Ask(int fd, const std::string& command, size_t expected) const;
  std::string Ask(int fd, const std::string& command, const std::string& expected) const {
    return Ask(fd, command, expected.size());
  }
  // Writes all bytes, waiting while the port does not take them; false after timeout.
  bool WriteAll(int fd, const std::string& bytes, std::chrono::milliseconds timeout) const;
  // Writes bytes for at most duration without reading, as far as the port takes them;
  // returns how many it took.
  size_t WriteWithoutReading(int fd, const std::string& bytes,
                             std::chrono::milliseconds duration) const;
  // Client departures the program has logged so far ("VCP=Closed"; the log must be on).
  size_t Departures() const { return Count(Read("Velk_VCP.LOG"), "VCP=Closed"); }
  // Waits (at most timeout) until more than before departures are logged: a client run by root,
  // whom the exclusive mode does not stop, that opens the port only then is told apart for
  // certain from the one that left. Returns whether it came.
  bool WaitForDeparture(size_t before,
                        std::chrono::milliseconds timeout = std::chrono::seconds(1)) const;
  // Resident memory of a process in kB (0 when unknown).
  static long ResidentKb(pid_t pid);
  // False in a build with AddressSanitizer: freed memory stays quarantined there, so resident
  // memory tells nothing, and the leak check at the program's exit (its exit status) takes over.
  static bool MemoryIsMeasurable();

 private:
  std::string dir_;
  std::vector<pid_t> running_;
  std::set<std::string> desktop_tags_;  // runs with the program's windows
};
