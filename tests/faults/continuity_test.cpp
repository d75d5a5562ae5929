// Ports that outlive the program: the test plays the service manager through its documented
// protocol (a notify socket that receives READY, STATUS, WATCHDOG and the stored descriptors;
// LISTEN_FDS on the next start) while a client holds its port throughout.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "loopback.h"
#include "port_holder.h"
#include "program_fixture.h"

namespace {

using namespace std::chrono_literals;

const std::string kValue1 = "10:+0001.234\r\n";
const std::string kValue8 = "80:+000002.5\r\n";

// The service manager's side of the notify socket: messages, and the descriptor store they
// keep up to date (FDSTORE adds under FDNAME, FDSTOREREMOVE removes the name).
class ServiceManager {
 public:
  explicit ServiceManager(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    unlink(path.c_str());
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~ServiceManager() {
    Stop();
    close(fd_);
  }
  bool bound() const { return bound_; }
  const std::string& path() const { return path_; }

  // Reads messages until one after the last one matched holds text (true) or timeout passes;
  // all messages are kept. Messages read along with an earlier match count: the program may
  // send its next line right after the one waited for.
  // With also_last_match, the message the last match was found in counts too: a status line
  // may already hold what the next wait looks for (a holder named before READY was sent).
  bool WaitFor(const std::string& text, std::chrono::milliseconds timeout,
               bool also_last_match = false) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (also_last_match && matched_ < messages_.size() &&
        messages_[matched_].find(text) != std::string::npos) {
      return true;
    }
    for (;;) {
      for (size_t i = next_; i < messages_.size(); ++i) {
        if (messages_[i].find(text) == std::string::npos) continue;
        next_ = i + 1;
        matched_ = i;
        return true;
      }
      next_ = std::max(next_, messages_.size());
      if (std::chrono::steady_clock::now() > deadline) return false;
      Receive(10ms);
    }
  }
  // Counts the messages holding text that arrive within duration.
  size_t CountFor(const std::string& text, std::chrono::milliseconds duration) {
    const size_t seen = messages_.size();
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) Receive(10ms);
    size_t count = 0;
    for (size_t i = seen; i < messages_.size(); ++i) {
      count += messages_[i].find(text) != std::string::npos ? 1 : 0;
    }
    return count;
  }
  // The stored descriptors and their names, as LISTEN_FDS and LISTEN_FDNAMES hand them over.
  std::pair<std::vector<int>, std::string> Stored() const {
    std::vector<int> fds;
    std::string names;
    for (const auto& [name, fd] : store_) {
      fds.push_back(fd);
      names += (names.empty() ? "" : ":") + name;
    }
    return {fds, names};
  }
  // A final stop: the store is closed.
  void Stop() {
    for (const auto& [name, fd] : store_) close(fd);
    store_.clear();
  }

 private:
  void Receive(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return;
    char text[4096];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 16)];
    iovec io{text, sizeof text - 1};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd_, &message, MSG_CMSG_CLOEXEC);
    if (n < 0) return;
    const std::string body(text, static_cast<size_t>(n));
    std::vector<int> fds;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
      const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (size_t i = 0; i < count; ++i) {
        int fd;
        std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
        fds.push_back(fd);
      }
    }
    const size_t at = body.find("FDNAME=");
    const std::string name =
        at == std::string::npos ? "" : body.substr(at + 7, body.find('\n', at) - at - 7);
    if (body.find("FDSTOREREMOVE=1") != std::string::npos && store_.count(name)) {
      close(store_[name]);
      store_.erase(name);
    }
    if (body.find("FDSTORE=1") != std::string::npos && !fds.empty()) {
      if (store_.count(name)) close(store_[name]);
      store_[name] = fds.front();
      fds.erase(fds.begin());
    }
    for (const int fd : fds) close(fd);
    messages_.push_back(body);
  }

  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
  std::map<std::string, int> store_;
  std::vector<std::string> messages_;
  size_t next_ = 0;            // the first message a WaitFor looks at
  size_t matched_ = SIZE_MAX;  // the message the last WaitFor found its text in
};

class ContinuityTest : public ProgramTest {
 protected:
  std::string Link() const {
    std::error_code ec;
    return std::filesystem::read_symlink(Path("ports/COM5"), ec).string();
  }
};

// A client holds COM5 while the program ends and starts again: by SIGTERM (a restart), by
// SIGKILL (a crash, restarted), and by its own hand-over (SIGUSR2: it runs itself again). The
// command it writes in the gap is answered once when the new run serves; its descriptor and
// the pseudo-terminal stay the same.
TEST_F(ContinuityTest, AClientKeepsItsPortThroughRestartsAndAHandOver) {
  // COM6 (every port answering) is also served over TCP: its listener is kept as well, and a
  // connection made in the gap is served by the next run.
  const int tcp = FreePort();
  Write("Velk_VCP.CFG", FaultSettings() + "82:6\r\n96:1\r\n612:" + std::to_string(tcp) + "\r\n");
  for (const int how : {SIGTERM, SIGKILL, SIGUSR2}) {
    SCOPED_TRACE(strsignal(how));
    ServiceManager manager(Path("notify.sock"));
    ASSERT_TRUE(manager.bound());
    Options options;
    options.env = {{"NOTIFY_SOCKET", manager.path()}};
    pid_t pid = Start(options, "first");
    ASSERT_TRUE(manager.WaitFor("READY=1", 20s)) << Err("first");
    const int fd = OpenPort("COM5");
    ASSERT_GE(fd, 0);
    ASSERT_EQ(Ask(fd, "M1\r", kValue1), kValue1);
    // The status line names each holder as the status does.
    const std::string com5 =
        "COM5 (held by " + std::to_string(getpid()) + " " + ProgramName(getpid()) + ")";
    ASSERT_TRUE(manager.WaitFor(com5, 20s)) << Err("first");
    const std::string terminal = Link();
    // A network client holds COM6 as the run ends: its locked pty is not kept.
    const int held = ConnectLoopback(tcp);
    ASSERT_GE(held, 0);
    ASSERT_EQ(Ask(held, "M1\r", kValue1), kValue1);
    ASSERT_TRUE(manager.WaitFor("COM6 (held by network 127.0.0.1:", 20s));

    kill(pid, how);
    int remote = -1;
    if (how != SIGUSR2) {
      ASSERT_NE(Wait(pid), -2);
      // In the gap: the client writes; nothing answers yet. A network client connects.
      ASSERT_TRUE(WriteAll(fd, "M8\r", 1s));
      EXPECT_EQ(ReadFor(fd, 1, 300ms), "");
      remote = ConnectLoopback(tcp);
      ASSERT_GE(remote, 0);
      ASSERT_TRUE(WriteAll(remote, "M1\r", 1s));
      const auto [stored, names] = manager.Stored();
      ASSERT_EQ(names, "COM5:netCOM6");
      options.inherited = stored;
      options.inherited_names = names;
      pid = Start(options, "second");
    } else {
      ASSERT_TRUE(WriteAll(fd, "M8\r", 1s));
    }
    // Ready with the client holding COM5 at once; its name follows once it is looked up.
    ASSERT_TRUE(manager.WaitFor("READY=1\nSTATUS=serving COM5 (held by ", 20s))
        << Err("first") << Err("second");
    ASSERT_TRUE(manager.WaitFor("STATUS=serving " + com5, 20s, true)) << Err("second");
    EXPECT_EQ(ReadFor(fd, kValue8.size(), 10s) + ReadFor(fd, 1, 300ms), kValue8);
    EXPECT_EQ(Ask(fd, "M1\r", kValue1), kValue1);
    EXPECT_EQ(Link(), terminal);
    if (remote >= 0) {
      EXPECT_EQ(ReadFor(remote, kValue1.size() + 1, 5s), kValue1);
      close(remote);
    }
    close(held);
    // COM6 lets a pty client in again (one bound by the exclusive mode).
    EXPECT_EQ(RunAsNormalUser([this] {
                for (int tries = 0; tries < 100; ++tries) {
                  const int com6 = open(Path("ports/COM6").c_str(), O_RDWR | O_NOCTTY);
                  if (com6 >= 0) {
                    close(com6);
                    return std::string();
                  }
                  std::this_thread::sleep_for(50ms);
                }
                return std::string("COM6: ") + std::strerror(errno);
              }),
              "");

    // A final stop: the program removes its link, the manager closes the store, and the
    // client is hung up.
    EXPECT_EQ(Stop(pid), 0);
    manager.Stop();
    EXPECT_FALSE(Exists("ports/COM5"));
    // The run after a hand-over writes to the same standard error: each line has one prefix.
    EXPECT_EQ(Count(Err("first") + Err("second"), "Velk_VCP: Velk_VCP:"), 0u) << Err("first");
    char byte;
    EXPECT_LE(read(fd, &byte, 1), 0);
    close(fd);
  }
}

// With the watchdog on, the serving loop itself tells the manager it is alive; a loop that
// stops turning stops telling it.
TEST_F(ContinuityTest, TheServingLoopFeedsTheWatchdog) {
  Write("Velk_VCP.CFG", FaultSettings());
  ServiceManager manager(Path("notify.sock"));
  ASSERT_TRUE(manager.bound());
  Options options;
  options.env = {{"NOTIFY_SOCKET", manager.path()}, {"WATCHDOG_USEC", "200000"}};
  const pid_t pid = Start(options);
  ASSERT_TRUE(manager.WaitFor("READY=1", 20s)) << Err();
  EXPECT_GE(manager.CountFor("WATCHDOG=1", 1s), 3u);
  kill(pid, SIGSTOP);
  manager.CountFor("WATCHDOG=1", 100ms);  // one may have been on its way
  EXPECT_EQ(manager.CountFor("WATCHDOG=1", 600ms), 0u);
  kill(pid, SIGCONT);
  EXPECT_GE(manager.CountFor("WATCHDOG=1", 1s), 2u);
  EXPECT_EQ(Stop(pid), 0);
  EXPECT_TRUE(manager.WaitFor("STOPPING=1", 10s));
}

// A client floods COM5 with 20,000 commands while the program is handed over again and again
// (SIGUSR2 every 300 ms, a second one while the first still starts, a burst every 20 ms) or
// restarted by the service manager: every command is answered once and whole, in order, and
// the program never dies of a signal that came while it started.
TEST_F(ContinuityTest, AFloodIsAnsweredOnceAndWholeThroughHandOversAndRestarts) {
  Write("Velk_VCP.CFG", FaultSettings());
  constexpr int kCommands = 20000;
  const struct {
    const char* name;
    int signal;
    std::vector<int> gaps_ms;  // before each signal
  } cases[] = {
      {"hand-overs every 300 ms", SIGUSR2, std::vector<int>(10, 300)},
      {"a second hand-over while the first starts", SIGUSR2, {300, 450, 300, 450}},
      {"hand-overs every 20 ms", SIGUSR2, {300, 20, 20, 20, 20}},
      {"restarts by the service manager", SIGTERM, {300, 600}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ServiceManager manager(Path("notify.sock"));
    ASSERT_TRUE(manager.bound());
    Options options;
    options.env = {{"NOTIFY_SOCKET", manager.path()}};
    pid_t pid = Start(options, "flood");
    ASSERT_TRUE(manager.WaitFor("READY=1", 20s)) << Err("flood");
    const int fd = OpenPort("COM5");
    ASSERT_GE(fd, 0);
    std::string commands;
    for (int i = 0; i < kCommands; ++i) commands += "M1\r";
    std::thread writer([&] { WriteAll(fd, commands, 120s); });
    std::string received;
    std::atomic<bool> read{false};
    std::thread reader([&] {
      received = ReadFor(fd, kValue1.size() * kCommands, 120s);
      read = true;
    });
    int restarts = 0;
    for (const int gap : c.gaps_ms) {
      manager.CountFor("", std::chrono::milliseconds(gap));  // keeps the store up to date
      if (c.signal != SIGTERM) {
        kill(pid, c.signal);
        continue;
      }
      kill(pid, SIGTERM);
      EXPECT_EQ(Wait(pid), 0) << Err("flood");
      const auto [stored, names] = manager.Stored();
      options.inherited = stored;
      options.inherited_names = names;
      pid = Start(options, "flood" + std::to_string(++restarts));
      if (!manager.WaitFor("READY=1", 20s)) break;
    }
    // The manager reads its socket all along, as a real one does: the program's notifications
    // would wait for room otherwise.
    while (!read) manager.CountFor("", 50ms);
    writer.join();
    reader.join();
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the program ended: " << Err("flood");
    size_t whole = 0;
    while (whole < received.size() / kValue1.size() &&
           received.compare(whole * kValue1.size(), kValue1.size(), kValue1) == 0) {
      ++whole;
    }
    EXPECT_EQ(whole, static_cast<size_t>(kCommands))
        << received.size() << " bytes; after answer " << whole << ": "
        << received.substr(whole * kValue1.size(), 40);
    close(fd);
    // A stop, even one that comes during a hand-over, ends the program cleanly.
    kill(pid, SIGTERM);
    int status = -1;
    for (int i = 0; i < 400 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
      manager.CountFor("", 50ms);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << Err("flood");
    manager.Stop();
  }
}

// The program with its windows (offscreen) handed over twice during a flood of 5,000 commands,
// three floods in a row: as without windows, every command is answered once and whole, in
// order, and the client's link and pseudo-terminal stay what they were.
TEST_F(ContinuityTest, WithWindowsAFloodIsAnsweredOnceAndWholeThroughHandOvers) {
  Write("Velk_VCP.CFG", FaultSettings());
  constexpr int kCommands = 5000;
  Options options;
  options.desktop = true;
  const pid_t pid = Start(options, "desktop");
  ASSERT_TRUE(WaitUntilServing("desktop")) << Err("desktop");
  const std::string link = Link();
  ASSERT_FALSE(link.empty());
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  std::string commands;
  for (int i = 0; i < kCommands; ++i) commands += "M1\r";
  size_t runs = 1;
  for (int flood = 1; flood <= 3; ++flood) {
    SCOPED_TRACE("flood " + std::to_string(flood));
    std::thread writer([&] { WriteAll(fd, commands, 30s); });
    std::string received;
    std::thread reader([&] { received = ReadFor(fd, kValue1.size() * kCommands, 30s); });
    for (int k = 0; k < 2; ++k) {
      std::this_thread::sleep_for(30ms);
      kill(pid, SIGUSR2);
      ++runs;
      EXPECT_TRUE(WaitFor([&] { return Count(Out("desktop"), "simulates COM5") == runs; }))
          << Out("desktop") << Err("desktop");
    }
    writer.join();
    reader.join();
    size_t whole = 0;
    while (whole < received.size() / kValue1.size() &&
           received.compare(whole * kValue1.size(), kValue1.size(), kValue1) == 0) {
      ++whole;
    }
    ASSERT_EQ(whole, static_cast<size_t>(kCommands))
        << received.size() << " bytes; after answer " << whole << ": "
        << received.substr(whole * kValue1.size(), 40);
    EXPECT_EQ(received.size(), kValue1.size() * kCommands);
    EXPECT_EQ(Link(), link);
  }
  EXPECT_EQ(Ask(fd, "M1\r", kValue1), kValue1);
  close(fd);
  EXPECT_EQ(Stop(pid), 0) << Err("desktop");
}

}  // namespace
