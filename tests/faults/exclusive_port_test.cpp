// One client per port, presence from the terminal itself, and back-pressure that never drops:
// the running program against clients that open twice, leave together, reconnect at once,
// never read, or echo what they get. Clients marked "normal user" run without the privilege
// that lets root past an exclusive terminal.
#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "program_fixture.h"

namespace {

using namespace std::chrono_literals;

const std::string kValue1 = "10:+0001.234\r\n";
const std::string kValue8 = "80:+000002.5\r\n";

class ExclusivePortTest : public ProgramTest {
 protected:
  void Serve(const std::string& extra = "") {
    Write("Velk_VCP.CFG", FaultSettings() + extra);
    pid_ = Start();
    ASSERT_TRUE(WaitUntilServing()) << Err();
  }
  // Asks for channel 1 until answered (each try waits 400 ms): a client whose first command
  // came while the program settled an ambiguous departure repeats it, as serial software
  // does after its read timeout. Returns everything it read.
  std::string AskUntilAnswered(int fd) const {
    std::string got;
    for (int ask = 0; ask < 10 && got.size() < kValue1.size(); ++ask) {
      if (!WriteAll(fd, "M1\r", 1s)) break;
      got += ReadFor(fd, kValue1.size(), 400ms);
    }
    return got;
  }
  pid_t pid_ = -1;
};

// Whatever two handles do together, the port is free again afterwards and the next client
// (a normal user) gets its own answer and nothing else.
TEST_F(ExclusivePortTest, TwoHandlesNeverLeaveAPhantomOrAnUnservedClient) {
  Serve();
  const struct {
    const char* name;
    std::function<void()> handles;
  } cases[] = {
      {"two handles closed back to back",
       [this] {
         const int a = OpenPort("COM5");
         const int b = OpenPort("COM5");
         WriteAll(a, "M8\r", 1s);
         close(a);
         close(b);
       }},
      {"opened back to back, one leaves, the other is served",
       [this] {
         const int a = OpenPort("COM5");
         const int b = OpenPort("COM5");
         close(a);
         EXPECT_EQ(AskUntilAnswered(b), kValue1);
         close(b);
       }},
      {"a program that opens its port twice and exits",
       [this] {
         const pid_t child = fork();
         if (child == 0) {
           const int reader = OpenPort("COM5");
           const int writer = OpenPort("COM5");
           WriteAll(writer, "M8\r", 1s);
           _exit(reader >= 0 && writer >= 0 ? 0 : 1);
         }
         int status = 0;
         waitpid(child, &status, 0);
       }},
      {"four threads opening and closing at random for 300 ms",
       [this] {
         std::vector<std::thread> threads;
         for (int t = 0; t < 4; ++t) {
           threads.emplace_back([this, t] {
             unsigned seed = static_cast<unsigned>(t * 7919 + 1);
             const auto end = std::chrono::steady_clock::now() + 300ms;
             while (std::chrono::steady_clock::now() < end) {
               const int fd = open(Path("ports/COM5").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
               if (fd < 0) continue;
               if (rand_r(&seed) % 2) WriteAll(fd, "M8\r", 100ms);
               if (rand_r(&seed) % 4 == 0) std::this_thread::sleep_for(1ms);
               close(fd);
             }
           });
         }
         for (auto& thread : threads) thread.join();
       }},
  };
  for (const auto& c : cases) {
    for (int round = 0; round < 20; ++round) {
      const size_t before = Departures();
      c.handles();
      const std::string result = RunAsNormalUser([this] {
        const int fd = OpenPort("COM5");
        if (fd < 0) return std::string("open: ") + strerror(errno);
        const std::string got = AskUntilAnswered(fd);
        close(fd);
        return got == kValue1 ? std::string() : "got \"" + got + "\"";
      });
      EXPECT_EQ(result, "") << c.name << ", round " << round;
      EXPECT_TRUE(WaitForDeparture(before, 5s)) << c.name << ", round " << round << ": a phantom";
      // What the program said tells a program that ended from one that lost a client.
      if (HasFailure()) {
        ADD_FAILURE() << "the program's standard error:\n" << Err();
        break;
      }
    }
    if (HasFailure()) break;
  }
  EXPECT_EQ(Stop(pid_), 0);
}

// A normal user who leaves in the middle of a long answer leaves the next client nothing: its
// first command, sent the moment its open succeeds, is answered at once, with its own answer
// alone. The next client opens by the terminal the link led to before the departure, as an
// open whose path walk read the link just before it moved does, and on EBUSY opens the link
// again, as the client layer does. Clients make the port exclusive as they open it.
TEST_F(ExclusivePortTest, TheFirstCommandAfterADepartureMidAnswerIsAnswered) {
  Serve();
  const std::string result = RunAsNormalUser([this] {
    std::string longAsk;
    for (int i = 0; i < 40; ++i) longAsk += "M*\r";
    std::string failures;
    for (int round = 0; round < 20; ++round) {
      const std::string target = std::filesystem::read_symlink(Path("ports/COM5")).string();
      const int leaving = OpenPort("COM5");
      if (leaving < 0) return "round " + std::to_string(round) + ": open: " + strerror(errno);
      ioctl(leaving, TIOCEXCL);
      WriteAll(leaving, longAsk, 1s);
      ReadFor(leaving, 1 + round * 97 % 2000, 2s);  // a part of the answers
      close(leaving);
      int fd = open(target.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0 && errno == EBUSY) fd = OpenPort("COM5");
      if (fd < 0) return "round " + std::to_string(round) + ": open: " + strerror(errno);
      ioctl(fd, TIOCEXCL);
      std::string got = WriteAll(fd, "M1\r", 1s) ? ReadFor(fd, kValue1.size(), 3s) : "";
      got += ReadFor(fd, 1, 100ms);  // nothing more
      close(fd);
      if (got != kValue1) failures += "round " + std::to_string(round) + " got \"" + got + "\"\n";
    }
    return failures;
  });
  EXPECT_EQ(result, "");
  EXPECT_EQ(Stop(pid_), 0);
}

// With shared ports several normal users hold a port at once, and the port folder says so
// for the client layer, which would otherwise make the port exclusive as it opens it.
TEST_F(ExclusivePortTest, SharedPortsLetASecondClientInAndTellTheLayer) {
  for (const bool shared : {true, false}) {
    const std::string tag = shared ? "shared" : "exclusive";
    Write("Velk_VCP.CFG", FaultSettings() + (shared ? "95:1\r\n" : ""));
    const pid_t pid = Start({}, tag);
    ASSERT_TRUE(WaitUntilServing(tag)) << Err(tag);
    EXPECT_EQ(std::filesystem::exists(Path("ports/.shared-ports")), shared);
    const std::string result = RunAsNormalUser([this] {
      const int first = OpenPort("COM5");
      if (first < 0) return std::string("open: ") + strerror(errno);
      std::this_thread::sleep_for(300ms);  // the program has seen the client
      const int second = open(Path("ports/COM5").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      const std::string outcome = second >= 0 ? "opened" : strerror(errno);
      close(second);
      close(first);
      return outcome;
    });
    EXPECT_EQ(result, shared ? "opened" : strerror(EBUSY)) << tag;
    EXPECT_EQ(Stop(pid), 0);
  }
}

// A normal user's second open is refused while a client holds the port; a client that
// closes and opens again at once waits out the short settle and loses no command.
TEST_F(ExclusivePortTest, ASecondOpenIsBusyAndReconnectingClientsLoseNothing) {
  Serve();
  // The program leaves a handle that opened twice and left; then clients reconnect.
  const int a = OpenPort("COM5");
  const int b = OpenPort("COM5");
  ASSERT_TRUE(WriteAll(a, "M8\r", 1s));
  close(a);
  close(b);
  const std::string result = RunAsNormalUser([this] {
    const int holder = OpenPort("COM5");
    if (holder < 0) return std::string("first open failed");
    if (ReadFor(holder, 1, 300ms).size() > 0) return std::string("a foreign answer at once");
    const int second = open(Path("ports/COM5").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (second >= 0 || errno != EBUSY) return std::string("a second open was not refused");
    close(holder);
    for (int client = 0; client < 300; ++client) {
      const int fd = OpenPort("COM5");
      if (fd < 0) return "client " + std::to_string(client) + ": " + strerror(errno);
      const std::string command = client % 2 ? "M1\r" : "M8\r";
      const std::string expected = client % 2 ? kValue1 : kValue8;
      const std::string got = WriteAll(fd, command, 1s) ? ReadFor(fd, expected.size(), 5s) : "";
      close(fd);
      if (got != expected) return "client " + std::to_string(client) + " got \"" + got + "\"";
    }
    return std::string();
  });
  EXPECT_EQ(result, "");
  EXPECT_EQ(Stop(pid_), 0);
}

// A client that writes without reading holds back its own commands, whatever the size of
// their answers; once it reads, every answer arrives, whole and in order.
TEST_F(ExclusivePortTest, AClientThatDoesNotReadGetsEveryAnswerOfLargeBatches) {
  // The widest value format and long answer texts: every command's answers are 30 times and
  // more the size of the command.
  const std::string filler = "\"" + std::string(250, '.') + "\"";
  Serve("241:99\r\n240:<ch>,\":\",<mv>," + filler + ",13,10\r\n245:<ch>,\":NO VALUE\"," + filler +
        ",13,10\r\n246:<ch>,\":OUT OF RANGE\"," + filler + ",13,10\r\n");
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  const std::string batch = Ask(fd, "M*\r", 100);
  const std::string all = batch + ReadFor(fd, 100'000, 500ms);
  ASSERT_GT(all.size(), 1500u);
  std::string flood;
  for (int i = 0; i < 4'000; ++i) flood += "M*\r";
  const size_t written = WriteWithoutReading(fd, flood, 3s);
  const size_t commands = written / 3;
  // Read for as long as answers keep coming: a slow machine takes minutes for 30 MB and more.
  std::string got;
  for (std::string more = "x"; !more.empty() && got.size() < commands * all.size();) {
    more = ReadFor(fd, std::min<size_t>(commands * all.size() - got.size(), 1 << 20), 30s);
    got += more;
  }
  ASSERT_EQ(got.size(), commands * all.size()) << commands << " commands";
  for (size_t k = 0; k < got.size(); k += all.size()) {
    ASSERT_EQ(got.compare(k, all.size(), all), 0) << "batch " << k / all.size();
  }
  close(fd);
  EXPECT_EQ(Stop(pid_), 0);
  EXPECT_EQ(Err().find("dropped"), std::string::npos) << Err();
}

// A client whose terminal echoes sends every answer back; the program does not answer those
// echoes, so the client gets one answer per command instead of an endless stream.
TEST_F(ExclusivePortTest, AnEchoingClientGetsOneAnswerPerCommand) {
  Serve();
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  t.c_lflag |= ECHO;
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
  ASSERT_TRUE(WriteAll(fd, "M1\r", 1s));
  EXPECT_EQ(ReadFor(fd, 1000, 1500ms), kValue1);
  ASSERT_TRUE(WriteAll(fd, "X\r", 1s));
  EXPECT_EQ(ReadFor(fd, 1000, 1000ms), "");
  close(fd);
  EXPECT_EQ(Stop(pid_), 0);
  EXPECT_EQ(Count(Read("Velk_VCP.LOG"), "Client line echoes"), 1u);
}

}  // namespace
