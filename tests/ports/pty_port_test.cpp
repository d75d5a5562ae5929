// Simulated serial ports on real pseudo-terminals, driven by a client opening the port link.
#include "pty_port.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "normal_user.h"
#include "port_events.h"
#include "port_folder.h"
#include "temp_dir.h"
#include "wait_for.h"

namespace fs = std::filesystem;

namespace {

// Reads from fd until count bytes arrived or 2 s passed (or, with count 0, for 50 ms).
std::vector<uint8_t> ClientRead(int fd, size_t count, int quiet_ms = 2000) {
  std::vector<uint8_t> got;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(quiet_ms);
  while ((count == 0 || got.size() < count) && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5) <= 0) continue;
    uint8_t buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

// Opens path read-write in a child that the exclusive mode binds as it binds a normal user
// (a root child gives up CAP_SYS_ADMIN). Returns "opened" or the error's name.
std::string OpenAsNormalUser(const std::string& path) {
  return RunAsNormalUser([&path] {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return std::string(fd >= 0 ? "opened" : strerrorname_np(errno));
  });
}

// Follows the port's clients as the serving loop does when woken, and tells whether one
// holds the port.
bool Opened(PtyPort& port) {
  port.FollowClients();
  return port.IsOpened();
}

std::vector<uint8_t> PortRead(PtyPort& port, size_t count) {
  port.FollowClients();
  WaitFor([&] { return port.InCount() >= static_cast<int32_t>(count); });
  std::vector<uint8_t> got(static_cast<size_t>(std::max(port.InCount(), 1)));
  int32_t n = port.InCount();
  port.ReadData(got.data(), n);
  got.resize(static_cast<size_t>(n));
  return got;
}

class PtyPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempFolder("velk-ports");
    ASSERT_FALSE(root_.empty());
    folder_ = root_ + "/run/ports";  // created by the first port
  }
  void TearDown() override {
    for (int fd : clients_) close(fd);
    fs::remove_all(root_);
  }
  int OpenClient(const std::string& name) {
    int fd = open((folder_ + "/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) clients_.push_back(fd);
    return fd;
  }
  void CloseClient(int fd) {
    close(fd);
    std::erase(clients_, fd);
  }

  std::string root_;
  std::string folder_;
  std::vector<int> clients_;
};

TEST_F(PtyPortTest, EveryByteValuePassesUnchangedBothWays) {
  PtyPort port(folder_);
  ASSERT_TRUE(port.CreatePort("COM7"));
  EXPECT_EQ(port.link_path(), folder_ + "/COM7");
  int client = OpenClient("COM7");
  ASSERT_GE(client, 0);
  EXPECT_TRUE(Opened(port));

  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);  // CR, LF, NUL, XON, ^C ...
  ASSERT_EQ(write(client, all.data(), all.size()), 256);
  EXPECT_EQ(PortRead(port, 256), all);
  EXPECT_TRUE(ClientRead(client, 0, 50).empty());  // nothing echoed back

  port.WriteData(all.data(), 256);
  port.Pump();
  EXPECT_EQ(ClientRead(client, 256), all);
  EXPECT_EQ(PortRead(port, 0).size(), 0u);  // and nothing echoed the other way
}

TEST_F(PtyPortTest, IsOpenedFollowsClientsComingAndGoing) {
  PtyPort none(folder_);
  EXPECT_FALSE(Opened(none));  // an element without a port
  none.DeletePort();
  EXPECT_EQ(none.InCount(), 0);
  none.ResetPort();

  PtyPort port(folder_);
  port.SetShared(true);  // two clients share the port
  ASSERT_TRUE(port.CreatePort("COM2"));
  EXPECT_FALSE(Opened(port));
  int first = OpenClient("COM2");
  EXPECT_TRUE(Opened(port));
  int second = OpenClient("COM2");
  CloseClient(first);
  EXPECT_TRUE(Opened(port));
  CloseClient(second);
  EXPECT_FALSE(Opened(port));
  int again = OpenClient("COM2");
  ASSERT_GE(again, 0);
  EXPECT_TRUE(Opened(port));
  const uint8_t hello[] = {'h', 'i'};
  port.WriteData(hello, 2);
  port.Pump();
  EXPECT_EQ(ClientRead(again, 2), std::vector<uint8_t>(hello, hello + 2));
}

TEST_F(PtyPortTest, ResetPortDiscardsPendingInputAndOutput) {
  PtyPort port(folder_);
  ASSERT_TRUE(port.CreatePort("COM3"));
  int client = OpenClient("COM3");
  ASSERT_TRUE(Opened(port));
  ASSERT_EQ(write(client, "M1\r", 3), 3);
  ASSERT_TRUE(WaitFor([&] { return port.InCount() == 3; }));
  ASSERT_EQ(write(client, "M2\r", 3), 3);  // in the kernel, not yet taken by the port
  const uint8_t answer[] = {'1', '2', '\r'};
  port.WriteData(answer, 3);  // not read by the client
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  port.ResetPort();
  EXPECT_EQ(port.InCount(), 0);
  EXPECT_TRUE(ClientRead(client, 0, 50).empty());
  ASSERT_EQ(write(client, "M3\r", 3), 3);
  EXPECT_EQ(PortRead(port, 3), std::vector<uint8_t>({'M', '3', '\r'}));
}

TEST_F(PtyPortTest, DeletePortRemovesTheLinkAndHangsUpTheClient) {
  PtyPort port(folder_);
  ASSERT_TRUE(port.CreatePort("COM4"));
  int client = OpenClient("COM4");
  ASSERT_GE(client, 0);
  port.DeletePort();
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder_ + "/COM4")));
  EXPECT_FALSE(fs::exists(folder_ + "/.COM4.lock"));
  EXPECT_FALSE(Opened(port));
  EXPECT_TRUE(port.link_path().empty());
  char c;
  EXPECT_LE(read(client, &c, 1), 0);     // hung up: end of file or EIO
  port.DeletePort();                     // twice is harmless
  ASSERT_TRUE(port.CreatePort("COM4"));  // the element takes a new port
}

TEST_F(PtyPortTest, NameTakenByALivePortOrAnotherEntryIsRefused) {
  PtyPort live(folder_);
  ASSERT_TRUE(live.CreatePort("COM5"));
  const std::string target = fs::read_symlink(folder_ + "/COM5");
  fs::create_symlink("/dev/null", folder_ + "/COM9");
  std::ofstream(folder_ + "/COM8") << "not a port";
  PtyPort other(folder_);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(other.CreatePort("COM5"));
  EXPECT_FALSE(other.CreatePort("COM9"));
  EXPECT_FALSE(other.CreatePort("COM8"));
  for (const char* bad : {"", "../COM1", "a/b", ".COM5", "COM 1", "COM1\n"}) {
    EXPECT_FALSE(other.CreatePort(bad)) << bad;
  }
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("port COM5: in use"), std::string::npos) << errors;
  EXPECT_FALSE(Opened(other));
  EXPECT_EQ(fs::read_symlink(folder_ + "/COM5"), target);
  EXPECT_EQ(fs::read_symlink(folder_ + "/COM9"), "/dev/null");
  EXPECT_TRUE(fs::is_regular_file(folder_ + "/COM8"));
  EXPECT_FALSE(fs::exists(root_ + "/run/COM1"));
  // The live port still serves.
  int client = OpenClient("COM5");
  EXPECT_TRUE(Opened(live));
  const uint8_t x = 'x';
  live.WriteData(&x, 1);
  live.Pump();
  EXPECT_EQ(ClientRead(client, 1).size(), 1u);
}

TEST_F(PtyPortTest, PortOfADeadProcessIsStaleAndReplaced) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto* port = new PtyPort(folder_);  // never deleted: the process dies holding it
    _exit(port->CreatePort("COM12") ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(fs::is_symlink(folder_ + "/COM12"));
  EXPECT_FALSE(PortCanBeOpened(folder_, 12));  // dangling: the pty went with the process
  PtyPort port(folder_);
  ASSERT_TRUE(port.CreatePort("COM12"));
  int client = OpenClient("COM12");
  ASSERT_GE(client, 0);
  EXPECT_TRUE(Opened(port));
}

TEST_F(PtyPortTest, RemoveStalePortsKeepsLivePortsAndUserLinks) {
  PtyPort live(folder_);
  ASSERT_TRUE(live.CreatePort("COM6"));
  fs::create_symlink("/dev/pts/999999", folder_ + "/COM4");  // dangling, from a dead run
  fs::create_symlink("/dev/null", folder_ + "/COM5");        // a user's real device
  std::ofstream(folder_ + "/.COM10.lock");                   // a lock file nobody holds
  // A link into a pty that exists but that no port claims (its number was reused).
  int stranger = open("/dev/ptmx", O_RDWR | O_NOCTTY);
  ASSERT_GE(stranger, 0);
  ASSERT_EQ(grantpt(stranger), 0);
  ASSERT_EQ(unlockpt(stranger), 0);
  fs::create_symlink(ptsname(stranger), folder_ + "/COM11");

  PtyPort element0(folder_);  // holds no port itself
  element0.RemoveStalePorts();
  close(stranger);
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder_ + "/COM4")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder_ + "/COM11")));
  EXPECT_FALSE(fs::exists(folder_ + "/.COM10.lock"));
  EXPECT_TRUE(fs::is_symlink(folder_ + "/COM5"));
  EXPECT_TRUE(fs::is_symlink(folder_ + "/COM6"));
  EXPECT_TRUE(PortCanBeOpened(folder_, 6));
  EXPECT_TRUE(fs::exists(folder_ + "/.COM6.lock"));
}

TEST_F(PtyPortTest, AClientThatDoesNotReadHoldsBackInputAndLosesOnlyWholeAnswers) {
  PtyPort port(folder_);
  ASSERT_TRUE(port.CreatePort("COM7"));
  int client = OpenClient("COM7");
  ASSERT_TRUE(Opened(port));
  ASSERT_EQ(write(client, "M1\r", 3), 3);
  // Answers of 1000 bytes each, numbered, 2 MiB in all: twice what the queue holds.
  constexpr size_t kAnswer = 1000;
  const size_t answers = 2 * BoundedOutput::kQueueMax / kAnswer;
  testing::internal::CaptureStderr();
  for (size_t i = 0; i < answers; ++i) {
    std::vector<uint8_t> answer(kAnswer, static_cast<uint8_t>(i % 251));
    port.WriteData(answer.data(), static_cast<int32_t>(answer.size()));
    if (i % 16 == 0) port.Pump();
    EXPECT_LE(port.queued_output(), BoundedOutput::kQueueMax);
  }
  port.Pump();
  EXPECT_TRUE(port.InputPaused());
  EXPECT_EQ(port.InCount(), 0) << "input waits while the client does not read";

  // The client catches up: every answer it gets is whole and in order; then input flows.
  std::vector<uint8_t> got;
  for (int round = 0; round < 2000 && port.queued_output() > 0; ++round) {
    std::vector<uint8_t> part = ClientRead(client, 0, 2);
    got.insert(got.end(), part.begin(), part.end());
    port.Pump();
  }
  std::vector<uint8_t> rest = ClientRead(client, 0, 50);
  got.insert(got.end(), rest.begin(), rest.end());
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(port.queued_output(), 0u);
  ASSERT_EQ(got.size() % kAnswer, 0u) << "an answer was cut";
  ASSERT_GE(got.size(), BoundedOutput::kQueueMax - kAnswer);
  for (size_t k = 0; k + kAnswer <= got.size(); k += kAnswer) {
    ASSERT_EQ(std::count(got.begin() + k, got.begin() + k + kAnswer, got[k]), kAnswer) << k;
    if (k > 0) {
      ASSERT_NE(got[k], got[k - 1]) << "answers out of order at " << k;
    }
  }
  const size_t dropped = answers - got.size() / kAnswer;
  EXPECT_NE(errors.find(std::to_string(dropped) + " answers"), std::string::npos) << errors;
  EXPECT_FALSE(port.InputPaused());
  EXPECT_EQ(PortRead(port, 3), std::vector<uint8_t>({'M', '1', '\r'}));
}

TEST_F(PtyPortTest, NoClientEverSeesOutputOlderThanItsArrival) {
  PtyPort port(folder_);
  ASSERT_TRUE(port.CreatePort("COM1"));
  const uint8_t stale[] = {'o', 'l', 'd'};
  port.WriteData(stale, 3);  // nobody there
  int first = OpenClient("COM1");
  ASSERT_TRUE(Opened(port));
  EXPECT_TRUE(ClientRead(first, 0, 50).empty());

  // A client that leaves in the middle of a large answer: the rest is dropped quietly.
  std::vector<uint8_t> big(200 * 1024, 'b');
  testing::internal::CaptureStderr();
  port.WriteData(big.data(), static_cast<int32_t>(big.size()));
  testing::internal::GetCapturedStderr();
  CloseClient(first);
  port.Pump();
  EXPECT_FALSE(Opened(port));
  EXPECT_EQ(port.queued_output(), 0u);
  port.WriteData(stale, 3);

  int second = OpenClient("COM1");
  ASSERT_TRUE(Opened(port));
  EXPECT_TRUE(ClientRead(second, 0, 50).empty());
  const uint8_t fresh[] = {'n', 'e', 'w'};
  port.WriteData(fresh, 3);
  port.Pump();
  EXPECT_EQ(ClientRead(second, 3), std::vector<uint8_t>(fresh, fresh + 3));
}

// An open that followed the link just before a departure moved it reaches the terminal the
// link led to: that must still be there and refuse the client, which then opens again through
// the link. Neither the device gone nor a spare that took its number (nobody would serve it).
TEST_F(PtyPortTest, AnOpenByTheLinksOldTargetIsBusyNeverUnserved) {
  for (const bool shared : {false, true}) {
    PtyPort port(folder_);
    port.SetShared(shared);
    ASSERT_TRUE(port.CreatePort("COM3"));
    for (int departure = 0; departure < 3; ++departure) {
      const std::string old_target = fs::read_symlink(port.link_path()).string();
      const int client = OpenClient("COM3");
      ASSERT_GE(client, 0);
      ASSERT_TRUE(Opened(port));
      CloseClient(client);
      ASSERT_FALSE(Opened(port));
      ASSERT_NE(port.slave_path(), old_target);
      EXPECT_EQ(OpenAsNormalUser(old_target), "EBUSY")
          << (shared ? "shared" : "exclusive") << ", departure " << departure;
      const int next = OpenClient("COM3");
      ASSERT_GE(next, 0);
      EXPECT_TRUE(Opened(port));
      const uint8_t hello[] = {'h', 'i'};
      port.WriteData(hello, 2);
      port.Pump();
      EXPECT_EQ(ClientRead(next, 2), std::vector<uint8_t>(hello, hello + 2));
      CloseClient(next);
      ASSERT_FALSE(Opened(port));
    }
  }
}

// The pseudo-terminal numbers of this process's masters (its ports' terminals).
std::vector<unsigned> OwnTerminalNumbers() {
  std::vector<unsigned> numbers;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error) != "/dev/ptmx") continue;
    unsigned number = 0;
    if (ioctl(std::stoi(entry.path().filename().string()), TIOCGPTN, &number) == 0) {
      numbers.push_back(number);
    }
  }
  return numbers;
}

// An opener by a kept /dev/pts path (root, whom the exclusive mode does not stop) that holds
// the port's spare terminal before the link ever led to it is hung up when the port moves
// there: the next client through the link is served alone, and nothing the stale opener
// writes reaches the port.
TEST_F(PtyPortTest, ASpareHeldBeforeItWasLinkedIsReplacedNotServed) {
  PtyPort port(folder_);
  ASSERT_TRUE(port.CreatePort("COM3"));
  const int client = OpenClient("COM3");
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Opened(port));
  std::string spare;
  for (unsigned number : OwnTerminalNumbers()) {
    if ("/dev/pts/" + std::to_string(number) != port.slave_path()) {
      spare = "/dev/pts/" + std::to_string(number);
    }
  }
  ASSERT_FALSE(spare.empty()) << "no spare terminal";
  const int stale = open(spare.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(stale, 0) << spare;
  clients_.push_back(stale);
  CloseClient(client);
  ASSERT_FALSE(Opened(port));
  EXPECT_NE(port.slave_path(), spare);
  // The stale opener was hung up; what it writes goes nowhere.
  pollfd hung{stale, POLLIN, 0};
  EXPECT_EQ(poll(&hung, 1, 2000), 1);
  EXPECT_TRUE(hung.revents & (POLLHUP | POLLERR)) << hung.revents;
  EXPECT_EQ(write(stale, "M8\r", 3), -1);
  const int next = OpenClient("COM3");
  ASSERT_GE(next, 0);
  ASSERT_TRUE(Opened(port));
  ASSERT_EQ(write(next, "M1\r", 3), 3);
  const std::vector<uint8_t> received = PortRead(port, 3);
  EXPECT_EQ(std::string(received.begin(), received.end()), "M1\r");
}

TEST_F(PtyPortTest, AnOpenerOfTheTerminalTheLinkJustLeftIsServedThere) {
  // Root, whom the exclusive mode does not stop, may follow the link in the moment it moves
  // and open the terminal it left: that opener came through the port and is its client.
  if (geteuid() != 0) GTEST_SKIP() << "only root opens a terminal that is exclusive";
  PtyPort port(folder_);
  ASSERT_TRUE(port.CreatePort("COM3"));
  const int client = OpenClient("COM3");
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Opened(port));
  const std::string left = port.slave_path();
  CloseClient(client);
  ASSERT_FALSE(Opened(port));
  ASSERT_NE(port.slave_path(), left);
  const int late = open(left.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(late, 0) << left;
  clients_.push_back(late);
  ASSERT_EQ(write(late, "M1\r", 3), 3);
  pollfd woke{port.retired_watch_descriptor(), POLLIN, 0};
  EXPECT_EQ(poll(&woke, 1, 2000), 1) << "the open woke nothing";
  ASSERT_TRUE(Opened(port));
  EXPECT_EQ(port.slave_path(), left);
  EXPECT_EQ(fs::read_symlink(folder_ + "/COM3").string(), left);
  const std::vector<uint8_t> received = PortRead(port, 3);
  EXPECT_EQ(std::string(received.begin(), received.end()), "M1\r");
  // Its departure moves the port on as any other.
  CloseClient(late);
  ASSERT_FALSE(Opened(port));
  EXPECT_NE(port.slave_path(), left);
  const int next = OpenClient("COM3");
  ASSERT_GE(next, 0);
  EXPECT_TRUE(Opened(port));
}

TEST_F(PtyPortTest, LineGoesBackToRawWhenTheClientLeaves) {
  PtyPort port(folder_);
  ASSERT_TRUE(port.CreatePort("COM2"));
  int client = OpenClient("COM2");
  ASSERT_TRUE(Opened(port));
  termios t{};
  ASSERT_EQ(tcgetattr(client, &t), 0);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  t.c_lflag |= ECHO | ICANON | ISIG;
  t.c_iflag |= ICRNL | IXON;
  ASSERT_EQ(tcsetattr(client, TCSANOW, &t), 0);
  CloseClient(client);
  EXPECT_FALSE(Opened(port));
  client = OpenClient("COM2");
  ASSERT_TRUE(Opened(port));
  ASSERT_EQ(tcgetattr(client, &t), 0);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
}

TEST_F(PtyPortTest, ReadDataGivesWhatArrivedAndRejectsBadArguments) {
  PtyPort port(folder_);
  ASSERT_TRUE(port.CreatePort("COM3"));
  int client = OpenClient("COM3");
  ASSERT_TRUE(Opened(port));
  ASSERT_EQ(write(client, "abcdef", 6), 6);
  ASSERT_TRUE(WaitFor([&] { return port.InCount() == 6; }));
  uint8_t buffer[16] = {};
  int32_t count = 2;
  port.ReadData(buffer, count);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(std::string(buffer, buffer + 2), "ab");
  count = 16;  // more than arrived
  port.ReadData(buffer, count);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(std::string(buffer, buffer + 4), "cdef");
  count = -5;
  port.ReadData(buffer, count);
  EXPECT_EQ(count, 0);
  count = 3;
  port.ReadData(nullptr, count);
  EXPECT_EQ(count, 0);
  port.WriteData(nullptr, 10);
  port.WriteData(buffer, -1);
  EXPECT_TRUE(ClientRead(client, 0, 20).empty());
}

TEST_F(PtyPortTest, ProbeSeesEntriesThatOpen) {
  EXPECT_FALSE(PortCanBeOpened(folder_, 1));  // no folder yet
  PtyPort port(folder_);
  ASSERT_TRUE(port.CreatePort("COM1"));
  fs::create_symlink("/dev/null", folder_ + "/COM2");
  fs::create_symlink("/nonexistent/ttyUSB0", folder_ + "/COM3");
  EXPECT_TRUE(PortCanBeOpened(folder_, 1));
  EXPECT_TRUE(PortCanBeOpened(folder_, 2));
  EXPECT_FALSE(PortCanBeOpened(folder_, 3));
  EXPECT_FALSE(PortCanBeOpened(folder_, 4));
  EXPECT_FALSE(PortCanBeOpened(folder_, 0));
  EXPECT_FALSE(Opened(port));  // the probe is no client

  setenv("VELK_VCP_PORT_DIR", folder_.c_str(), 1);
  EXPECT_EQ(PortFolder(), folder_);
  EXPECT_TRUE(PortCanBeOpened(2));
  PtyPort from_environment;
  ASSERT_TRUE(from_environment.CreatePort("COM5"));
  EXPECT_TRUE(fs::is_symlink(folder_ + "/COM5"));
  unsetenv("VELK_VCP_PORT_DIR");
  EXPECT_EQ(PortFolder(), "ports");
}

}  // namespace

TEST(PortEventsTest, AWakeDescriptorMadeReadableBeforeTheWaitEndsItAtOnce) {
  // A stop request can come between the loop's last look at its flag and the wait; its pipe
  // byte must still end a wait that has no time limit.
  PortEvents events({nullptr, nullptr, nullptr, nullptr});
  int wake[2];
  ASSERT_EQ(pipe(wake), 0);
  ASSERT_TRUE(events.WakeOn(wake[0]));
  EXPECT_FALSE(events.WakeOn(-1));
  ASSERT_EQ(write(wake[1], "", 1), 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(events.Wait(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  close(wake[0]);
  close(wake[1]);
}
