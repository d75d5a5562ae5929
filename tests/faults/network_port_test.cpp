// Ports over the network, against the running program on 127.0.0.1 only: pyserial's RFC 2217
// and raw socket clients on every slot, one client across pty and network, the allow list,
// peers that reset, stop reading or send telnet garbage, and the settings tool.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "network_port_fixture.h"

namespace {

using namespace std::chrono_literals;

TEST_F(NetworkPortTest, PyserialClientsAreServedOnEverySlot) {
  Serve({"rfc2217", "rfc2217", "raw", "rfc2217"});
  const std::string urls[] = {
      "rfc2217://127.0.0.1:" + std::to_string(tcp_[0]),
      "rfc2217://127.0.0.1:" + std::to_string(tcp_[1]),
      "socket://127.0.0.1:" + std::to_string(tcp_[2]),
      "rfc2217://127.0.0.1:" + std::to_string(tcp_[3]),
  };
  for (const std::string& url : urls) EXPECT_EQ(PySerial(url), "ok\n") << url;
  // The slots are free again for the next client: twice in a row on the same one.
  EXPECT_EQ(PySerial(urls[0]), "ok\n");
}

TEST_F(NetworkPortTest, OneClientAtATimeAcrossPtyAndNetwork) {
  Serve({"raw"}, "1000:3\r\n");  // input 1.1 released by the foot switch
  const std::string held = "Velk_VCP: COM5 is held by another client\r\n";
  {
    // A network client holds the slot: a second connection and a pty open are refused, and
    // a foot-switch push reaches the network client.
    const int first = ConnectLoopback(tcp_[0]);
    ASSERT_GE(first, 0);
    EXPECT_EQ(Ask(first, "M1\r", kValue1), kValue1);
    const int second = ConnectLoopback(tcp_[0]);
    EXPECT_EQ(ReadToEnd(second), held);
    close(second);
    EXPECT_EQ(RunAsNormalUser([this] {
                const int fd = open(Path("ports/COM5").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                if (fd >= 0) return std::string("the pty opened while the network held the slot");
                return errno == EBUSY ? std::string() : std::string(std::strerror(errno));
              }),
              "");
    ASSERT_EQ(
        Shell(std::string(VELK_DDK_TOOL) + " -s " + Path("Velk_VCP.sock") + " press 1 >/dev/null"),
        0);
    EXPECT_EQ(ReadFor(first, kValue1.size(), 5s), kValue1);
    Shell(std::string(VELK_DDK_TOOL) + " -s " + Path("Velk_VCP.sock") + " release 1 >/dev/null");
    const auto status = Status();
    EXPECT_EQ(status["ports"][0]["client"]["protocol"], "raw") << status.dump();
    close(first);
  }
  // A pty client holds the slot once the network client left: connections are refused.
  ASSERT_TRUE(WaitFor([&] {
    return Log().find("network client 127.0.0.1") != std::string::npos &&
           Log().find(" left (") != std::string::npos;
  }));
  const int pty = OpenPort("COM5");
  ASSERT_GE(pty, 0);
  EXPECT_EQ(Ask(pty, "M1\r", kValue1), kValue1);
  const int refused = ConnectLoopback(tcp_[0]);
  EXPECT_EQ(ReadToEnd(refused), held);
  close(refused);
  close(pty);
  // The refused client hears of it before the log does.
  EXPECT_TRUE(WaitFor(
      [&] { return Count(Log(), "a network connection from 127.0.0.1 was refused: held by") == 2; },
      5s))
      << Log();
}

TEST_F(NetworkPortTest, AddressesOutsideTheAllowListAreClosedAtOnceAndLoggedOncePerMinute) {
  Serve({"raw"}, "626:10.0.0.0/8\r\n");
  for (int i = 0; i < 3; ++i) {
    const int fd = ConnectLoopback(tcp_[0]);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ReadToEnd(fd), "");
    close(fd);
  }
  EXPECT_TRUE(WaitFor(
      [&] { return Count(Log(), "from 127.0.0.1 was refused: not in the allow list") > 0; }, 5s));
  EXPECT_EQ(Count(Log(), "from 127.0.0.1 was refused: not in the allow list"), 1u) << Log();
}

TEST_F(NetworkPortTest, PeersThatVanishOrMisbehaveFreeTheSlot) {
  Serve({"rfc2217"}, "630:3\r\n");  // idle limit 3 s
  const struct {
    const char* name;
    std::function<void(int fd)> client;
  } cases[] = {
      {"reset without an orderly end", [](int fd) { Reset(fd); }},
      {"stops reading its answers",
       [this](int fd) {
         // Commands far beyond what the program queues for a client that does not read.
         std::string flood;
         for (int i = 0; i < 40000; ++i) flood += "M1\r";
         WriteWithoutReading(fd, flood, 2s);
         EXPECT_TRUE(
             WaitFor([&] { return Log().find("took no output") != std::string::npos; }, 15s))
             << Log();
         close(fd);
       }},
      {"telnet garbage, an unfinished subnegotiation and 1 MB without its end",
       [this](int fd) {
         std::string noise = "\xff\xfa\x2c\x01\xff\xff\xff\xfb\xff\xfd\x01\xff\xf0\xff";
         noise += std::string("\xff\xfa\x2c", 3) + std::string(1 << 20, 'x');
         WriteAll(fd, noise, 10s);
         Reset(fd);
       }},
      {"ends its sending right after a command, still answered",
       [this](int fd) {
         WriteAll(fd, "M1\r", 1s);
         shutdown(fd, SHUT_WR);
         EXPECT_NE(ReadToEnd(fd).find(kValue1), std::string::npos);
         close(fd);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int fd = ConnectLoopback(tcp_[0], 4096);
    ASSERT_GE(fd, 0);
    c.client(fd);
    // The next client holds the slot at once (or after the idle limit) and is answered.
    std::string got;
    ASSERT_TRUE(WaitFor(
        [&] {
          const int next = ConnectLoopback(tcp_[0]);
          if (next < 0) return false;
          WriteAll(next, "M1\r", 1s);
          got = ReadFor(next, 64, 1s);
          close(next);
          return got.find(kValue1) != std::string::npos;
        },
        15s))
        << got << Log();
  }
}

// CPU time of process pid so far, in clock ticks (user and system).
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::stol(field);
  }
  return ticks;
}

// A client that floods commands without reading and then ends its sending leaves its end
// unread behind a full queue: the program must wait for it quietly, not wake again and again.
TEST_F(NetworkPortTest, AnEndedClientBehindAFullQueueLeavesTheProgramIdle) {
  Serve({"raw"});
  const int fd = ConnectLoopback(tcp_[0], 4096);
  ASSERT_GE(fd, 0);
  std::string flood;
  for (int i = 0; i < 40000; ++i) flood += "M1\r";
  WriteWithoutReading(fd, flood, 2s);
  shutdown(fd, SHUT_WR);
  std::this_thread::sleep_for(500ms);
  const long before = CpuTicks(pid_);
  std::this_thread::sleep_for(2s);
  // Well below half a core over 2 s (a busy loop takes all of one).
  EXPECT_LT(CpuTicks(pid_) - before, sysconf(_SC_CLK_TCK));
  close(fd);
}

TEST_F(NetworkPortTest, SettingsToolChecksAndTheRunningProgramTakesItOver) {
  const std::string port = std::to_string(tcp_[0]);
  const struct {
    std::string arguments;
    int status;
  } rows[] = {
      {"net 1 " + port + " rfc2217", 0},
      {"net 1 70000", 2},
      {"net 1 " + port + " telnet", 2},
      {"net 1 " + port + " --bind 0.0.0.0", 2},  // another address needs an allow list
      {"net 1 " + port + " --bind 127.0.0.1 --allow 10.1.2.3/8", 2},  // host bits set
      {"net 2 " + port, 2},                                           // the port of slot 1
      {"net 1 " + port + " raw --bind 0.0.0.0 --allow 192.168.10.0/24 --idle 30", 0},
  };
  for (const auto& row : rows) EXPECT_EQ(Tool(row.arguments), row.status) << row.arguments;
  Tool("show", "show.out");
  EXPECT_NE(Read("show.out")
                .find("network port 1: 0.0.0.0:" + port +
                      " raw, clients from 192.168.10.0/24, idle limit 30 s"),
            std::string::npos)
      << Read("show.out");

  // While the program runs, a change is taken over at once.
  Tool("net 1 off");
  Serve({""});
  EXPECT_EQ(ConnectLoopback(tcp_[0]), -1);
  ASSERT_EQ(Tool("net 1 " + port + " rfc2217"), 0) << Read("tool.out");
  EXPECT_EQ(PySerial("rfc2217://127.0.0.1:" + port), "ok\n");
  EXPECT_EQ(Status()["ports"][0]["network"]["protocol"], "rfc2217");
  // A port that something else listens on is refused and nothing changes.
  int bound = 0;
  const int other = ListenLoopback(tcp_[1], bound);
  ASSERT_GE(other, 0);
  EXPECT_EQ(Tool("net 1 " + std::to_string(tcp_[1])), 3) << Read("tool.out");
  close(other);
  EXPECT_EQ(PySerial("rfc2217://127.0.0.1:" + port), "ok\n");
}

}  // namespace
