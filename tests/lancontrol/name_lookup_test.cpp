// Host names against a name server of the test's own: the process enters private user, mount
// and network namespaces, where /etc/resolv.conf names 127.0.0.1 and a thread of the test
// answers there. It answers "no such name" to every query except names with a label "silent",
// which it never answers. Nothing leaves the namespace's loopback interface.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"
#include "velk_qentrix_control.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string g_namespace_error;  // why the private name server could not be set up

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path);
  file << text;
  file.close();
  return static_cast<bool>(file);
}

// Enters the namespaces (the process must still be single-threaded) and points the name
// resolution at 127.0.0.1. Returns "" or what failed.
std::string EnterPrivateResolver() {
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0) {
    return std::string("unshare: ") + std::strerror(errno);
  }
  if (!WriteFile("/proc/self/setgroups", "deny") ||
      !WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
      !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
    return "cannot map the user";
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return "mount private";
  const std::string folder = MakeTempFolder("velk-resolver");
  if (folder.empty()) return "mkdtemp";
  const std::string resolv = folder + "/resolv.conf";
  const std::string hosts = folder + "/hosts";
  if (!WriteFile(resolv, "nameserver 127.0.0.1\n") || !WriteFile(hosts, "127.0.0.1 localhost\n")) {
    return "cannot write the resolver files";
  }
  if (mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0 ||
      mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
    return std::string("bind mount: ") + std::strerror(errno);
  }
  // The mounts keep the files; the folder need not stay.
  unlink(resolv.c_str());
  unlink(hosts.c_str());
  rmdir(folder.c_str());
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq request{};
  std::strcpy(request.ifr_name, "lo");
  request.ifr_flags = IFF_UP;
  const bool up = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return up ? "" : "cannot bring up the loopback interface";
}

// The name server on 127.0.0.1:53.
class NameServer {
 public:
  bool Start() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    thread_ = std::thread([this] { Serve(); });
    return true;
  }
  ~NameServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  // How many queries that went unanswered named `label`.
  int SilentQueries(const std::string& label) {
    std::lock_guard<std::mutex> lock(mutex_);
    int count = 0;
    for (const std::string& query : silent_) count += query.find(label) != std::string::npos;
    return count;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd entry{fd_, POLLIN, 0};
      if (poll(&entry, 1, 50) != 1) continue;
      unsigned char packet[512];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t n =
          recvfrom(fd_, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (n < 12) continue;
      if (memmem(packet, static_cast<size_t>(n), "\6silent", 7) != nullptr) {
        std::lock_guard<std::mutex> lock(mutex_);
        silent_.emplace_back(reinterpret_cast<const char*>(packet), static_cast<size_t>(n));
        continue;
      }
      packet[2] |= 0x80;                                               // an answer
      packet[3] = static_cast<unsigned char>((packet[3] & 0xF0) | 3);  // no such name
      sendto(fd_, packet, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), length);
    }
  }

  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> silent_;
  std::thread thread_;
};

// The library loaded for one test, unloaded by the test or at its end.
struct Library {
  Library() : handle(dlopen(VELK_QENTRIX_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {
    if (handle == nullptr) return;
    init = reinterpret_cast<decltype(init)>(dlsym(handle, "Control_Init"));
    deinit = reinterpret_cast<decltype(deinit)>(dlsym(handle, "Control_DeInit"));
  }
  ~Library() { Unload(); }
  void Unload() {
    if (handle != nullptr) dlclose(handle);
    handle = nullptr;
  }
  void* handle;
  decltype(&Control_Init) init = nullptr;
  decltype(&Control_DeInit) deinit = nullptr;
};

int ThreadCount() {
  int count = 0;
  DIR* tasks = opendir("/proc/self/task");
  while (const dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
  closedir(tasks);
  return count;
}

class NameLookUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_namespace_error.empty()) GTEST_SKIP() << "no private name server: " << g_namespace_error;
    ASSERT_TRUE(server.Start());
    ASSERT_NE(lib.handle, nullptr) << dlerror();
  }
  NameServer server;
  Library lib;
};

TEST_F(NameLookUpTest, NamesWithoutAnAddressGiveTwoAndConnectNowhere) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 8), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const uint16_t port = ntohs(address.sin_port);

  for (const char* host : {"nosuchhost", "x.y", "a.b.c.d.e", "qentrix-pc.invalid", "gauge_pc"}) {
    EXPECT_EQ(lib.init(0, host, port), 2) << host;
    EXPECT_LT(accept(listener, nullptr, nullptr), 0) << host << " connected";
  }
  for (const char* host : {"127.0.0.1", "localhost", "127.1"}) {
    EXPECT_EQ(lib.init(0, host, port), 0) << host;
    const int accepted = accept(listener, nullptr, nullptr);
    EXPECT_GE(accepted, 0) << host;
    close(accepted);
  }
  lib.deinit(0);
  close(listener);
}

TEST_F(NameLookUpTest, ANameServerThatNeverAnswersIsBoundedAndAbandonable) {
  // Without a bound the C library waits 5 s for each of two tries.
  auto start = Clock::now();
  EXPECT_EQ(lib.init(0, "gauge.silent", 1), 1);
  EXPECT_LT(Clock::now() - start, 8s);

  std::atomic<int> result{-1};
  std::thread init([&] { result = lib.init(1, "other.silent", 1); });
  ASSERT_TRUE(WaitFor([&] { return server.SilentQueries("other") > 0; }, 10s));
  start = Clock::now();
  lib.deinit(1);
  EXPECT_LT(Clock::now() - start, 2s) << "Control_DeInit waited for the name server";
  init.join();
  EXPECT_EQ(result, 1);
  EXPECT_LT(Clock::now() - start, 2s);
}

TEST_F(NameLookUpTest, UnloadingDuringALookUpLeavesNothingOfTheLibraryRunning) {
  const int threads = ThreadCount();
  std::atomic<int> result{-1};
  const auto init_call = lib.init;
  std::thread init([&] { result = init_call(2, "unload.silent", 1); });
  ASSERT_TRUE(WaitFor([&] { return server.SilentQueries("unload") > 0; }, 10s));
  lib.Unload();
  init.join();
  EXPECT_EQ(result, 1);
  // The C library's look-up threads finish their tries (about 10 s) without the library.
  EXPECT_TRUE(WaitFor([&] { return ThreadCount() <= threads; }, 60s)) << ThreadCount();
}

}  // namespace

int main(int argc, char** argv) {
  g_namespace_error = EnterPrivateResolver();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
