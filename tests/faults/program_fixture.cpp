#include "program_fixture.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "temp_dir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const kFaultDdk = R"(socket: Velk_VCP.sock
device: 1
footswitch: 0
name: Foot switch
input: 1
value: 1.234
input: 2
status: novalue
input: 3
status: outofrange
input: 4
status: noanswer
input: 5
status: 5
input: 6
status: -32768
input: 7
status: 32767
input: 8
value: 2.5
)";

std::string FaultSettings() {
  std::ifstream preset(std::string(VELK_DATA_DIR) + "/LIB000.DRV", std::ios::binary);
  std::stringstream text;
  text << "20:5\r\n40:0\r\n50:1\r\n";
  for (int n = 1; n <= 8; ++n) {
    const int key = 1000 + (n - 1) * 5;
    text << key << ":1\r\n" << key + 1 << ":" << n << "\r\n" << key + 2 << ":" << n * 10 << "\r\n";
  }
  text << preset.rdbuf();
  return text.str();
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

std::string ReadFor(int fd, size_t expected, std::chrono::milliseconds timeout) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got.size() < expected && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EAGAIN) continue;
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

ProgramTest::ProgramTest() {
  dir_ = MakeTempFolder("velk-faults");
  EXPECT_FALSE(dir_.empty());
  for (const auto& entry : fs::directory_iterator(VELK_DATA_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".DRV") || name.ends_with(".LAN")) fs::copy_file(entry.path(), Path(name));
  }
  Write("Velk_VCP.DDK", kFaultDdk);
}

ProgramTest::~ProgramTest() {
  for (pid_t pid : running_) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

void ProgramTest::Write(const std::string& name, const std::string& text) const {
  std::ofstream(Path(name), std::ios::binary) << text;
}

std::string ProgramTest::Read(const std::string& name) const {
  std::ifstream in(Path(name), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool ProgramTest::Exists(const std::string& name) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(Path(name), ignored));
}

pid_t ProgramTest::Start(const Options& options, const std::string& tag) {
  const std::string out = Path(tag + ".out");
  const std::string err = Path(tag + ".err");
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<int> moved;
    for (const int fd : options.inherited) moved.push_back(fcntl(fd, F_DUPFD, 100));
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string folder = options.folder.empty() ? dir_ : Path(options.folder);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || chdir(folder.c_str()) != 0) {
      _exit(127);
    }
    setenv("VELK_DDK_LIBRARY", options.library.c_str(), 1);
    if (options.port_dir.empty()) {
      unsetenv("VELK_VCP_PORT_DIR");
    } else {
      setenv("VELK_VCP_PORT_DIR", options.port_dir.c_str(), 1);
    }
    unsetenv("DISPLAY");
    for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
    if (!options.inherited.empty()) {
      close(o);
      close(e);
      for (size_t i = 0; i < moved.size(); ++i) dup2(moved[i], 3 + static_cast<int>(i));
      setenv("LISTEN_FDS", std::to_string(moved.size()).c_str(), 1);
      setenv("LISTEN_FDNAMES", options.inherited_names.c_str(), 1);
      setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
    }
    umask(options.umask);
    if (options.file_size_limit != RLIM_INFINITY) {
      // Past the limit a write fails with EFBIG instead of ending the process.
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{options.file_size_limit, options.file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (options.desktop) {
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      setenv("VELK_VCP_INPUT_DEVICES", "none", 1);
      execl(VELK_VCP, VELK_VCP, static_cast<char*>(nullptr));
    } else {
      execl(VELK_VCP, VELK_VCP, "--headless", static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  if (pid > 0) running_.push_back(pid);
  if (options.desktop) {
    desktop_tags_.insert(tag);
  } else {
    desktop_tags_.erase(tag);
  }
  return pid;
}

bool ProgramTest::WaitUntilServing(const std::string& tag, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string out = Out(tag);
    // " simulates " comes as the port is made, before the listeners and the web page start.
    if (out.find("serving;") != std::string::npos ||
        (desktop_tags_.count(tag) != 0 && out.find(" simulates ") != std::string::npos))
      return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

int ProgramTest::Wait(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      running_.erase(std::remove(running_.begin(), running_.end(), pid), running_.end());
      if (WIFSIGNALED(status)) {
        std::cerr << "program " << pid << " ended by signal " << WTERMSIG(status) << "\n";
      }
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(10ms);
  }
  std::cerr << "program " << pid << " did not end in time; killed\n";
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  running_.erase(std::remove(running_.begin(), running_.end(), pid), running_.end());
  return -1;
}

int ProgramTest::Stop(pid_t pid, std::chrono::milliseconds timeout) {
  kill(pid, SIGTERM);
  return Wait(pid, timeout);
}

int ProgramTest::OpenPort(const std::string& name) const {
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  for (;;) {
    const int fd = open(Path("ports/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 || errno != EBUSY || std::chrono::steady_clock::now() > deadline) return fd;
    std::this_thread::sleep_for(1ms);
  }
}

bool ProgramTest::WaitForDeparture(size_t before, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Departures() <= before) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

size_t ProgramTest::WriteWithoutReading(int fd, const std::string& bytes,
                                        std::chrono::milliseconds duration) const {
  size_t written = 0;
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (written < bytes.size() && std::chrono::steady_clock::now() < deadline) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n > 0) written += static_cast<size_t>(n);
    if (n <= 0) std::this_thread::sleep_for(1ms);
  }
  return written;
}

std::string ProgramTest::Ask(int fd, const std::string& command, size_t expected) const {
  EXPECT_TRUE(WriteAll(fd, command, 5s));
  return ReadFor(fd, expected, 5s);
}

bool ProgramTest::WriteAll(int fd, const std::string& bytes,
                           std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  size_t done = 0;
  while (done < bytes.size()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 10);
    }
  }
  return true;
}

long ProgramTest::ResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
  }
  return 0;
}

bool ProgramTest::MemoryIsMeasurable() {
#if defined(__SANITIZE_ADDRESS__)
  return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return false;
#endif
#endif
  return true;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}
