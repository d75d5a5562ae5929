#include "service_manager.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "stop_signals.h"

namespace service {
namespace {

using Clock = std::chrono::steady_clock;

std::string last_status;
bool stopping = false;
std::map<std::string, int> inherited;
uint64_t watchdog_usec = 0;
bool watchdog_read = false;
Clock::time_point last_watchdog{};

void Notify(const std::string& message) {
  if (Active()) sd_notify(0, message.c_str());
}

}  // namespace

bool Active() {
  const char* socket = getenv("NOTIFY_SOCKET");
  return socket != nullptr && *socket != '\0';
}

void Ready(const std::string& status) {
  last_status = status;
  Notify("READY=1\nSTATUS=" + status);
}

void Status(const std::string& status) {
  if (status == last_status) return;
  last_status = status;
  Notify("STATUS=" + status);
}

void Reloading() { Notify("RELOADING=1"); }

void Stopping() {
  stopping = true;
  Notify("STOPPING=1");
}

bool ShuttingDown() { return stopping; }

int WatchdogTick() {
  if (!watchdog_read) {
    watchdog_read = true;
    if (sd_watchdog_enabled(0, &watchdog_usec) <= 0) watchdog_usec = 0;
  }
  if (watchdog_usec == 0) return -1;
  const auto half = std::chrono::microseconds(watchdog_usec / 2);
  const auto now = Clock::now();
  if (now - last_watchdog >= half) {
    sd_notify(0, "WATCHDOG=1");
    last_watchdog = now;
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(last_watchdog + half - now);
  return static_cast<int>(std::max<long long>(left.count(), 1));
}

bool StorePort(const std::string& name, int master) {
  if (!Active() || master < 0) return false;
  const std::string message = "FDSTORE=1\nFDPOLL=0\nFDNAME=" + name;
  return sd_pid_notify_with_fds(0, 0, message.c_str(), &master, 1) > 0;
}

void ForgetPort(const std::string& name) {
  if (stopping || HandOverRequested()) return;
  Notify("FDSTOREREMOVE=1\nFDNAME=" + name);
}

void CollectInherited() {
  char** names = nullptr;
  const int count = sd_listen_fds_with_names(1, &names);
  for (int i = 0; i < count; ++i) {
    const int fd = SD_LISTEN_FDS_START + i;
    const std::string name = names && names[i] ? names[i] : "";
    if (name.empty() || inherited.count(name) != 0) {
      close(fd);
    } else {
      inherited[name] = fd;
    }
  }
  if (names) {
    for (int i = 0; i < count; ++i) free(names[i]);
    free(names);
  }
}

int TakeInherited(const std::string& name) {
  const auto it = inherited.find(name);
  if (it == inherited.end()) return -1;
  const int fd = it->second;
  inherited.erase(it);
  return fd;
}

void CloseUnclaimedInherited() {
  for (const auto& [name, fd] : inherited) {
    ForgetPort(name);
    close(fd);
  }
  inherited.clear();
}

std::vector<std::pair<std::string, int>> handed_over;

// Runs path again in this process with argv, handing it the named descriptors as inherited
// ones. Returns only on failure, with the reason.
std::string Reexecute(const std::string& path, char** argv,
                      const std::vector<std::pair<std::string, int>>& ports);

std::string OwnExecutable() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<size_t>(n));
  // A binary replaced by an upgrade reads as "PATH (deleted)": the new one is at PATH.
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() && path.ends_with(deleted))
    path.resize(path.size() - deleted.size());
  return path;
}

std::string Reexecute(const std::string& path, char** argv,
                      const std::vector<std::pair<std::string, int>>& ports) {
  // Out of the way first, then into place from SD_LISTEN_FDS_START on, without close-on-exec.
  std::vector<int> moved;
  for (const auto& port : ports) {
    const int fd = fcntl(port.second, F_DUPFD_CLOEXEC, 1000);
    if (fd < 0) return std::string("cannot hand over the ports: ") + strerror(errno);
    moved.push_back(fd);
  }
  std::string names;
  for (size_t i = 0; i < moved.size(); ++i) {
    const int target = SD_LISTEN_FDS_START + static_cast<int>(i);
    if (dup2(moved[i], target) < 0)
      return std::string("cannot hand over the ports: ") + strerror(errno);
    fcntl(target, F_SETFD, 0);
    names += (i ? ":" : "") + ports[i].first;
  }
  for (const int fd : moved) close(fd);
  setenv("LISTEN_FDS", std::to_string(ports.size()).c_str(), 1);
  setenv("LISTEN_FDNAMES", names.c_str(), 1);
  setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
  execv(path.c_str(), argv);
  return "cannot start " + path + ": " + strerror(errno);
}

void KeepForHandOver(const std::string& name, int master) {
  if (!HandOverRequested() || master < 0) return;
  const int copy = fcntl(master, F_DUPFD_CLOEXEC, 3);
  if (copy >= 0) handed_over.emplace_back(name, copy);
}

std::string HandOver(bool headless) {
  std::error_code ignored;
  const std::string self = OwnExecutable();
  if (self.empty()) return "cannot find the program's executable";
  const std::string folder = std::filesystem::current_path(ignored).string();
  std::string headlessFlag = "--headless", dirFlag = "--dir";
  std::vector<char*> args{const_cast<char*>(self.c_str())};
  if (headless) args.push_back(headlessFlag.data());
  args.push_back(dirFlag.data());
  args.push_back(const_cast<char*>(folder.c_str()));
  args.push_back(nullptr);
  BlockStopSignals();
  // A stop that came since the hand-over began wins: this run ends instead.
  if (!HandOverRequested()) return {};
  return Reexecute(self, args.data(), handed_over);
}

}  // namespace service
