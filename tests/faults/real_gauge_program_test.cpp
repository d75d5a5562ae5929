// The program serving a real serial gauge end to end: a gauge emulator on a pseudo-terminal
// named in the device file, the headless program with the device library, a client on the
// program's port reading the gauge's values and receiving the values it pushes.
#include <poll.h>
#include <unistd.h>

#include <thread>

#include "gauge_emulator.h"
#include "program_fixture.h"

namespace {

using namespace std::chrono_literals;

// Input 1.1 is a gauge that is asked for its value, input 1.2 one that only pushes; input 1.8
// is simulated.
const char* const kRealGaugeDdk = R"(socket: Velk_VCP.sock
device: 1
input: 1
name: Caliper
serial: gauge
line: 115200 8N1
request: "?",13
timeout: 300
interval: 20
input: 2
name: Push gauge
serial: pushgauge
line: 9600 8N1
input: 8
value: 2.5
)";

class RealGaugeProgramTest : public ProgramTest {
 protected:
  // Reads one answer line (up to its line feed) within 2 s.
  static std::string ReadLine(int fd) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < deadline && !got.ends_with("\n")) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      char ch;
      if (read(fd, &ch, 1) == 1) got += ch;
    }
    return got;
  }
  // Asks until the answer is the expected one (within 10 s); returns the last answer.
  std::string AskUntil(int fd, const std::string& command, const std::string& expected) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!WriteAll(fd, command, 2s)) break;
      got = ReadLine(fd);
      if (got == expected) break;
      std::this_thread::sleep_for(50ms);
    }
    return got;
  }
};

TEST_F(RealGaugeProgramTest, AClientReadsAndReceivesTheValuesOfAGaugeOnASerialPort) {
  GaugeEmulator gauge(Path("gauge"));
  GaugeEmulator push_gauge(Path("pushgauge"));
  ASSERT_TRUE(gauge.ok() && push_gauge.ok());
  gauge.Answer("?\r", "+1.234\r\n");
  Write("Velk_VCP.DDK", kRealGaugeDdk);
  Write("Velk_VCP.CFG", FaultSettings());
  const pid_t pid = Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  EXPECT_EQ(AskUntil(fd, "M1\r", "10:+0001.234\r\n"), "10:+0001.234\r\n");
  EXPECT_EQ(AskUntil(fd, "M8\r", "80:+000002.5\r\n"), "80:+000002.5\r\n");
  // The gauge's reading changes: the client sees the new value.
  gauge.Answer("?\r", "-0.5\r\n");
  EXPECT_EQ(AskUntil(fd, "M1\r", "10:-000000.5\r\n"), "10:-000000.5\r\n");
  // A push gauge has no value until it sends one; what it sends reaches the client unasked.
  EXPECT_EQ(AskUntil(fd, "M2\r", "20:NO VALUE\r\n"), "20:NO VALUE\r\n");
  for (const char* push : {"2.5\r\n", "x\r\n", "7\r\n"}) {
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(push_gauge.Push(push));
  }
  EXPECT_EQ(ReadLine(fd), "20:+000002.5\r\n");
  EXPECT_EQ(ReadLine(fd), "20:+00000007\r\n");
  EXPECT_EQ(AskUntil(fd, "M2\r", "20:+00000007\r\n"), "20:+00000007\r\n");
  // A gauge that stops answering is no value.
  gauge.Answer("?\r", "");
  EXPECT_EQ(AskUntil(fd, "M1\r", "10:NO VALUE\r\n"), "10:NO VALUE\r\n");
  // Unplugged and plugged in again.
  gauge.Answer("?\r", "3\r\n");
  EXPECT_EQ(AskUntil(fd, "M1\r", "10:+00000003\r\n"), "10:+00000003\r\n");
  gauge.Disappear();
  EXPECT_EQ(AskUntil(fd, "M1\r", "10:NO VALUE\r\n"), "10:NO VALUE\r\n");
  ASSERT_TRUE(gauge.Reappear());
  EXPECT_EQ(AskUntil(fd, "M1\r", "10:+00000003\r\n"), "10:+00000003\r\n");
  close(fd);
  EXPECT_EQ(Stop(pid), 0);
  EXPECT_EQ(Count(Err(), "is gone"), 1u) << Err();
}

}  // namespace
