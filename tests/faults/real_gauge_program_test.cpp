// The program serving a real serial gauge end to end: a gauge emulator on a pseudo-terminal
// named in the device file, the headless program with the device library, a client on the
// program's port reading the gauge's values and receiving the values it pushes.
#include <poll.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "control_client.h"
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
  // A gauge that stops answering is no value, and so is one unplugged (its adapter pulled, or
  // the device unplugged with velk-ddk); each change shows in the status at once and is one
  // line on standard error and in the log.
  const std::string gone = "Gauge 1.1 (serial gauge) does not answer";
  const std::string back = "Gauge 1.1 (serial gauge) answers again";
  auto ddk = [&](const std::string& command) {
    return Shell(std::string(VELK_DDK_TOOL) + " -s " + Path("Velk_VCP.sock") + " " + command +
                 " >/dev/null") == 0;
  };
  const struct {
    std::function<bool()> change;
    std::string answer, status, line;
  } steps[] = {
      {[&] { return gauge.Answer("?\r", ""), true; }, "10:NO VALUE\r\n", "no value", gone},
      {[&] { return gauge.Answer("?\r", "3\r\n"), true; }, "10:+00000003\r\n", "valid", back},
      {[&] { return gauge.Disappear(), true; }, "10:NO VALUE\r\n", "no value", gone},
      {[&] { return gauge.Reappear(); }, "10:+00000003\r\n", "valid", back},
      {[&] { return ddk("unplug 1"); }, "10:NO VALUE\r\n", "no value", gone},
      {[&] { return ddk("replug 1"); }, "10:+00000003\r\n", "valid", back},
  };
  size_t changes = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.line);
    ASSERT_TRUE(step.change());
    EXPECT_EQ(AskUntil(fd, "M1\r", step.answer), step.answer);
    const nlohmann::json status =
        nlohmann::json::parse(AskProgram(Path("Velk_VCP.control"), "status").text, nullptr, false);
    ASSERT_TRUE(status.is_object());
    const nlohmann::json& caliper = status["gauges"][0];
    EXPECT_EQ(caliper["input"], "1.1");
    EXPECT_EQ(caliper["status"], step.status);
    EXPECT_EQ(caliper["source"], "real");
    EXPECT_EQ(caliper["device"], Path("gauge"));
    EXPECT_EQ(status["gauges"][7]["source"], "simulated");
    ++changes;
    for (int i = 0; i < 500 && Count(Err(), "Gauge 1.1") < changes; ++i) {
      std::this_thread::sleep_for(10ms);
    }
    const std::string err = Err();
    EXPECT_EQ(Count(err, "Gauge 1.1"), changes) << err;
    EXPECT_EQ(err.rfind("Gauge 1.1"), err.rfind(step.line)) << err;
  }
  close(fd);
  EXPECT_EQ(Stop(pid), 0);
  EXPECT_EQ(Count(Err(), "is gone"), 1u) << Err();
  EXPECT_EQ(Count(Err(), "Gauge 1."), 6u) << Err();
  EXPECT_EQ(Count(Read("Velk_VCP.LOG"), gone), 3u);
  EXPECT_EQ(Count(Read("Velk_VCP.LOG"), back), 3u);
}

}  // namespace
