// Real gauges and foot switches behind the dlopen'd device library: a gauge emulator on a
// pseudo-terminal, an input-event stream through a pipe, and a modem-status switch on a
// terminal that has no modem lines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "ddk_library.h"
#include "gauge_emulator.h"
#include "temp_dir.h"

namespace {

using namespace std::chrono_literals;

// True as soon as condition holds, false when it did not within timeout.
bool Within(std::chrono::milliseconds timeout, const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return condition();
}

class RealGaugeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakeTempFolder("velk-real");
    ASSERT_FALSE(folder_.empty());
    ddk_ = folder_ + "/Velk_VCP.DDK";
  }
  void TearDown() override {
    library_.Device_DeInit();
    std::filesystem::remove_all(folder_);
  }
  void Start(const std::string& devices) {
    std::ofstream(ddk_, std::ios::binary) << "socket: control.sock\n" << devices;
    ASSERT_EQ(library_.Device_Init(1, ddk_, 0), 0);
  }
  // Sends an operator command on the control socket and returns the answer line.
  std::string Command(const std::string& command) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, (folder_ + "/control.sock").c_str());
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      const std::string line = command + "\n";
      (void)!write(fd, line.data(), line.size());
      char ch;
      while (read(fd, &ch, 1) == 1 && ch != '\n') answer += ch;
    }
    close(fd);
    return answer;
  }
  int16_t Value(int16_t input, double& value) { return library_.Device_Value(1, input, value); }
  bool ValueBecomes(int16_t input, int16_t status, double expected = 0.0) {
    return Within(5s, [&] {
      double v = -1;
      return Value(input, v) == status && (status != 0 || v == expected);
    });
  }

  DdkLibrary library_{VELK_DDK_SIM};
  std::string folder_;
  std::string ddk_;
};

TEST_F(RealGaugeTest, RequestedAnswersBecomeValuesOrNoValue) {
  GaugeEmulator gauge(folder_ + "/gauge");
  ASSERT_TRUE(gauge.ok());
  gauge.Answer("?1\r", "01A+012.345\r\n");
  gauge.Answer("?2\r", "ERR\r\n");
  gauge.Answer("?3\r", "  -0.75 mm\n");
  gauge.Answer("?4\r", "");  // stalls: no answer at all
  std::string devices = "device: 1\n";
  const char* const inputs[][3] = {{"1", "\"?1\",13", "skip: 3"},
                                   {"2", "\"?2\",13", ""},
                                   {"3", "\"?\",\"3\",13", ""},
                                   {"4", "\"?4\",13", "timeout: 200"}};
  for (const auto& in : inputs) {
    devices += std::string("input: ") + in[0] +
               "\nserial: gauge\nline: 9600 8N1\nrequest: " + in[1] + "\ninterval: 20\n" + in[2] +
               "\n";
  }
  Start(devices);
  const struct {
    int16_t input;
    int16_t status;
    double value;
  } expected[] = {{1, 0, 12.345}, {2, 1, 0}, {3, 0, -0.75}, {4, 1, 0}};
  for (const auto& e : expected) EXPECT_TRUE(ValueBecomes(e.input, e.status, e.value)) << e.input;
  // The stalled input does not hold the others up, and every input keeps being asked.
  const int asked = gauge.requests();
  EXPECT_TRUE(Within(5s, [&] { return gauge.requests() > asked + 8; }));
  library_.Device_LimitCheck(1, 1, 2, 12.0, 11.0);
  EXPECT_TRUE(ValueBecomes(1, VELK_DDK_OUT_OF_RANGE));
  const std::string show = Command("show 1 4");
  EXPECT_NE(show.find("status 1 (serial " + folder_ + "/gauge 9600 8N1, port open, age "),
            std::string::npos)
      << show;
  EXPECT_NE(show.find("last error "), std::string::npos) << show;
  EXPECT_EQ(Command("set 1 1 5").rfind("ERR input 1.1 is a real gauge", 0), 0u);
  // A gauge that stops answering turns every input to no value within its timeout.
  gauge.Stall(true);
  EXPECT_TRUE(ValueBecomes(3, 1));
  EXPECT_NE(Command("show 1 3").find("last error no answer within 1000 ms"), std::string::npos);
  gauge.Stall(false);
  EXPECT_TRUE(ValueBecomes(3, 0, -0.75));
}

TEST_F(RealGaugeTest, UnaskedLinesAreDataKeyPressesAndGarbageIsDropped) {
  GaugeEmulator gauge(folder_ + "/gauge");
  ASSERT_TRUE(gauge.ok());
  gauge.Answer("?\r", "1.5\r");
  // Input 1 is asked once a minute, so the lines pushed after its first answer come unasked.
  Start(
      "device: 1\ninput: 1\nserial: gauge\nrequest: \"?\",13\ninterval: 60000\n"
      "input: 2\nserial: gauge\n");
  double v = 0;
  EXPECT_EQ(Value(2, v), 1);  // nothing pushed yet
  ASSERT_TRUE(ValueBecomes(1, 0, 1.5));
  std::string garbage(3000, '\x7f');
  garbage[100] = '\0';
  const struct {
    std::string bytes;
    bool pressed;
    double value;
  } pushes[] = {{"+4.5\r\n", true, 4.5},
                {garbage + "\n", false, 0},
                {"no number\n", false, 0},
                {"\n\r\n", false, 0},
                {"-12.25E1\r", true, -122.5}};
  for (const auto& p : pushes) {
    ASSERT_TRUE(gauge.Push(p.bytes));
    int16_t input = 0;
    double value = 0;
    const bool got = Within(p.pressed ? 5s : 300ms,
                            [&] { return library_.Device_Collect(1, input, value) == 0; });
    EXPECT_EQ(got, p.pressed) << p.bytes.substr(0, 20);
    if (got) {
      EXPECT_EQ(input, 2);
      EXPECT_DOUBLE_EQ(value, p.value);
      EXPECT_EQ(Value(2, v), 0);
      EXPECT_DOUBLE_EQ(v, p.value);
    }
  }
}

TEST_F(RealGaugeTest, ValuesDroppedInAFloodAreCountedNotReportedOneByOne) {
  GaugeEmulator gauge(folder_ + "/gauge");
  ASSERT_TRUE(gauge.ok());
  Start("device: 1\ninput: 2\nserial: gauge\n");
  ASSERT_TRUE(
      Within(20s, [&] { return Command("show 1 2").find("port open") != std::string::npos; }));
  testing::internal::CaptureStderr();
  // Line by line, each one again while the terminal's buffer is full.
  for (int i = 0; i <= 2000; ++i) {
    const std::string line = i < 2000 ? "+1.5\r\n" : "+7\r\n";
    ASSERT_TRUE(Within(5s, [&] { return gauge.Push(line); }));
  }
  // Nobody collects: 256 presses wait, the rest is dropped.
  EXPECT_TRUE(Within(30s, [&] {
    double v = 0;
    return Value(2, v) == 0 && v == 7.0;
  }));
  library_.Device_DeInit();
  const std::string said = testing::internal::GetCapturedStderr();
  size_t lines = 0;
  for (size_t at = 0; (at = said.find("dropped", at)) != std::string::npos; ++at) ++lines;
  EXPECT_GE(lines, 1u) << said;
  EXPECT_LE(lines, 3u) << said.substr(0, 2000);
  EXPECT_NE(said.find(" more time"), std::string::npos) << said.substr(0, 2000);
}

TEST_F(RealGaugeTest, AStopAbandonsARequestTheGaugeHoldsBackWithXoff) {
  GaugeEmulator gauge(folder_ + "/gauge");
  ASSERT_TRUE(gauge.ok());
  // The gauge has stopped the flow before the library opens the port.
  const int terminal = open((folder_ + "/gauge").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(terminal, 0);
  termios settings{};
  ASSERT_EQ(tcgetattr(terminal, &settings), 0);
  cfmakeraw(&settings);
  settings.c_iflag |= IXON;
  ASSERT_EQ(tcsetattr(terminal, TCSANOW, &settings), 0);
  ASSERT_TRUE(gauge.Push("\x13"));
  std::this_thread::sleep_for(100ms);
  Start(
      "device: 1\ninput: 1\nserial: gauge\nline: 9600 8N1 xonxoff\nrequest: "
      "\"?\",13\ntimeout: 3600000\n");
  ASSERT_TRUE(
      Within(20s, [&] { return Command("show 1 1").find("port open") != std::string::npos; }));
  std::this_thread::sleep_for(200ms);  // the request is waiting for the flow to resume
  const auto before = std::chrono::steady_clock::now();
  library_.Device_DeInit();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
  close(terminal);
}

TEST_F(RealGaugeTest, AnAnswerAfterItsTimeoutIsNoDataKeyPress) {
  GaugeEmulator gauge(folder_ + "/gauge");
  ASSERT_TRUE(gauge.ok());
  gauge.SetBaud(50);  // request and answer take a second on the wire
  gauge.Answer("?\r", "1\r\n");
  Start(
      "device: 1\ninput: 1\nserial: gauge\nrequest: \"?\",13\ntimeout: 200\n"
      "interval: 60000\n");
  double v = 0;
  EXPECT_TRUE(Within(5s, [&] {
    return Command("show 1 1").find("last error late answer '1' dropped") != std::string::npos;
  }));
  EXPECT_EQ(Value(1, v), 1);
  int16_t input = 0;
  EXPECT_NE(library_.Device_Collect(1, input, v), 0);
}

TEST_F(RealGaugeTest, AGaugeThatGoesIsNoValueReportedOnceAndReopenedWhenBack) {
  testing::internal::CaptureStderr();
  // A device that is not there at the start is reported once and tried again.
  Start("device: 1\ninput: 1\nserial: gauge\nrequest: \"?\",13\ninterval: 20\n");
  double v = 0;
  std::string err;
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(Value(1, v), 1);
  EXPECT_NE(Command("show 1 1").find("port closed"), std::string::npos);
  {
    GaugeEmulator gauge(folder_ + "/gauge");
    ASSERT_TRUE(gauge.ok());
    gauge.Answer("?\r", "3.25\r\n");
    EXPECT_TRUE(ValueBecomes(1, 0, 3.25));
    EXPECT_NE(Command("show 1 1").find("port open"), std::string::npos);
    for (int round = 0; round < 2; ++round) {
      gauge.Disappear();
      EXPECT_TRUE(ValueBecomes(1, 1));
      std::this_thread::sleep_for(1500ms);  // a retry or two while it is away
      ASSERT_TRUE(gauge.Reappear());
      EXPECT_TRUE(ValueBecomes(1, 0, 3.25));
    }
    // Taken while the gauge is still there: its going at the end is no part of the test.
    err = testing::internal::GetCapturedStderr();
  }
  const auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = err.find(what); at != std::string::npos; at = err.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("cannot open"), 1u) << err;
  EXPECT_EQ(count("is gone"), 2u) << err;
  EXPECT_EQ(count("is open again"), 3u) << err;
}

input_event Key(int code, int value) {
  input_event event{};
  event.type = EV_KEY;
  event.code = static_cast<uint16_t>(code);
  event.value = value;
  return event;
}

TEST_F(RealGaugeTest, APedalIsPressedWhileItsKeyIsDown) {
  const std::string fifo = folder_ + "/pedal";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  GaugeEmulator gauge(folder_ + "/gauge");  // a terminal without modem lines
  testing::internal::CaptureStderr();
  Start(
      "device: 1\nfootswitch: 0\nname: Pedal\nevdev: pedal KEY_B\n"
      "footswitch: 1\nmodem: gauge CTS\n");
  for (int plug = 0; plug < 2; ++plug) {
    const int writer = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const struct {
      input_event event;
      int16_t pressed;
    } steps[] = {{Key(KEY_B, 1), 1}, {Key(KEY_A, 0), 1}, {Key(KEY_B, 2), 1},
                 {Key(KEY_B, 0), 0}, {Key(KEY_A, 1), 0}, {Key(KEY_B, 1), 1}};
    for (const auto& step : steps) {
      // Events arrive cut anywhere, as a pipe may deliver them.
      const char* bytes = reinterpret_cast<const char*>(&step.event);
      ASSERT_EQ(write(writer, bytes, 5), 5);
      ASSERT_EQ(write(writer, bytes + 5, sizeof step.event - 5),
                static_cast<ssize_t>(sizeof step.event - 5));
      EXPECT_TRUE(Within(5s, [&] { return library_.Device_Trigger(1, 0) == step.pressed; }))
          << step.event.code << " " << step.event.value;
    }
    EXPECT_NE(Command("show 1").find("foot switch 0 pressed (evdev " + fifo + " KEY_B, open"),
              std::string::npos);
    // The pedal unplugged (its writer gone) is released, and taken again when it is back.
    close(writer);
    EXPECT_TRUE(Within(5s, [&] { return library_.Device_Trigger(1, 0) == 0; }));
  }
  EXPECT_EQ(library_.Device_Trigger(1, 1), 0);
  const std::string show = Command("show 1");
  EXPECT_NE(show.find("foot switch 1 released (modem " + folder_ +
                      "/gauge CTS, closed, last "
                      "error cannot read the modem lines"),
            std::string::npos)
      << show;
  std::this_thread::sleep_for(1500ms);
  const std::string err = testing::internal::GetCapturedStderr();
  size_t modem_reports = 0;
  for (size_t at = err.find("cannot read the modem lines"); at != std::string::npos;
       at = err.find("cannot read the modem lines", at + 1)) {
    ++modem_reports;
  }
  EXPECT_EQ(modem_reports, 1u) << err;
}

}  // namespace
