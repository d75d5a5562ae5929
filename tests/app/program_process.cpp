#include "program_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "start_process.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

ProgramFolder::ProgramFolder() {
  path_ = MakeTempFolder("velk-program");
  if (path_.empty()) throw std::runtime_error("mkdtemp failed");
  for (const char* name :
       {"VCP001.LAN", "VCP002.LAN", "VCP003.LAN", "LIB000.DRV", "Velk_VCP.DDK"}) {
    fs::copy_file(fs::path(VELK_DATA_DIR) / name, fs::path(path_) / name);
  }
  for (const char* name : {"1.ico", "2.ico", "3.ico", "4.ico"}) {
    fs::copy_file(fs::path(VELK_RUN_DIR) / name, fs::path(path_) / name);
  }
}

ProgramFolder::~ProgramFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void ProgramFolder::Write(const std::string& name, const std::string& text) const {
  std::ofstream(path_ + "/" + name, std::ios::binary) << text;
}

std::string ProgramFolder::PortPath(int n) const {
  return path_ + "/ports/COM" + std::to_string(n);
}

bool ProgramFolder::PortExists(int n) const {
  std::error_code ignored;
  return fs::is_symlink(PortPath(n), ignored);
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& folder, const std::vector<std::string>& extraEnv) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
  ProcessStart start;
  start.argv.push_back(program);
  start.argv.insert(start.argv.end(), args.begin(), args.end());
  start.folder = folder;
  for (const std::string& entry : extraEnv) {
    const size_t equals = entry.find('=');
    start.env.emplace_back(entry.substr(0, equals), entry.substr(equals + 1));
  }
  start.err = pipeFds[1];
  pid_ = StartProcess(start);
  close(pipeFds[1]);
  err_ = pipeFds[0];
  fcntl(err_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (err_ >= 0) close(err_);
}

int ChildProcess::Stop(int signal) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  int status = 0;
  const bool ended = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
  if (!ended) return -1;
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ChildProcess::Errors() {
  char buffer[4096];
  ssize_t got;
  while (err_ >= 0 && (got = read(err_, buffer, sizeof buffer)) > 0) {
    errors_.append(buffer, static_cast<size_t>(got));
  }
  return errors_;
}

int OpenClient(const std::string& path) { return open(path.c_str(), O_RDWR | O_NOCTTY); }

std::string Ask(int client, const std::string& command) {
  if (write(client, command.data(), command.size()) != static_cast<ssize_t>(command.size())) {
    return {};
  }
  std::string answer;
  // 15 s: the desktop program under a loaded machine's X server can be slow to answer.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (answer.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{client, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buffer[256];
    const ssize_t got = read(client, buffer, sizeof buffer);
    if (got <= 0) break;
    answer.append(buffer, static_cast<size_t>(got));
  }
  return answer;
}

XServer::XServer() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], 3);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1024x768x24",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  for (int i = 0; i < 500; ++i) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char c;
    if (read(fds[0], &c, 1) != 1) break;
    if (c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (!number.empty()) display_ = ":" + number;
}

XServer::~XServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}
