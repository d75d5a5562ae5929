// The headless program as a process: start-up in a working folder, clients on its ports, the
// operator tool, and the shutdown on a signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "start_process.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

const char* const kDdk = R"(socket: Velk_VCP.sock
device: 1
footswitch: 0
name: Foot switch
input: 1
value: 1.234
input: 2
value: 2.5
)";

// Reads what arrives on fd until it holds expected bytes or 3 s passed.
std::string ReadFor(int fd, size_t expected, int timeoutMs = 3000) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < expected && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

class HeadlessTest : public ::testing::Test {
 protected:
  HeadlessTest() {
    dir_ = MakeTempFolder("velk-headless");
    EXPECT_FALSE(dir_.empty());
    for (const auto& entry : fs::directory_iterator(VELK_DATA_DIR)) {
      const std::string name = entry.path().filename().string();
      if (name.ends_with(".DRV") || name.ends_with(".LAN")) {
        fs::copy_file(entry.path(), dir_ + "/" + name);
      }
    }
    Write("Velk_VCP.DDK", kDdk);
  }
  ~HeadlessTest() override {
    Stop();
    for (int fd : {out_, err_}) {
      if (fd >= 0) close(fd);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool Exists(const std::string& name) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(dir_ + "/" + name, ignored));
  }
  // Starts the program in the working folder and waits until it serves (or ends).
  void Launch() {
    int out[2], err[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(err), 0);
    ProcessStart start;
    start.argv = {VELK_HEADLESS, "--headless"};
    start.folder = dir_;
    start.env = {{"VELK_DDK_LIBRARY", VELK_DDK_SIM}, {"VELK_VCP_PORT_DIR", ""}};
    start.out = out[1];
    start.err = err[1];
    pid_ = StartProcess(start);
    ASSERT_GE(pid_, 0);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (stdout_.find("serving;") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      const std::string more = ReadFor(out_, 1, 50);
      if (more.empty() && waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      stdout_ += more;
    }
  }
  // Sends SIGTERM and returns the exit status (-1 when it did not end in 5 s).
  int Stop() {
    if (pid_ <= 0) return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 500; ++i) {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    pid_ = -1;
    return -1;
  }
  int Open(const std::string& port) {
    return open((dir_ + "/ports/" + port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  }
  std::string Ask(int fd, const std::string& command, size_t expected) {
    EXPECT_EQ(write(fd, command.data(), command.size()), static_cast<ssize_t>(command.size()));
    return ReadFor(fd, expected);
  }
  int Operator(const std::string& arguments) {
    const std::string command =
        "cd '" + dir_ + "' && '" + VELK_DDK_TOOL + "' -f Velk_VCP.DDK " + arguments + " >/dev/null";
    return WEXITSTATUS(std::system(command.c_str()));
  }

  std::string dir_;
  pid_t pid_ = -1;
  int status_ = 0;
  int out_ = -1;
  int err_ = -1;
  std::string stdout_;
};

TEST_F(HeadlessTest, ServesUntilSignalledThenShutsDownOnce) {
  Write("Velk_VCP.CFG",
        "20:5\r\n40:0\r\n50:1\r\n1000:3\r\n1001:1\r\n1002:10\r\n"
        "1005:1\r\n1006:2\r\n1007:20\r\n");
  Launch();
  ASSERT_GT(pid_, 0) << "stderr: " << ReadFor(err_, 1000, 100);
  EXPECT_NE(stdout_.find("simulates COM5 at "), std::string::npos) << stdout_;
  const int fd = Open("COM5");
  ASSERT_GE(fd, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Ask(fd, "M1\r", 14), "10:+0001.234\r\n");
  EXPECT_EQ(Ask(fd, "M*\r", 28), "10:+0001.234\r\n20:+000002.5\r\n");
  EXPECT_EQ(Ask(fd, "NCH?\r", 3), "8\r\n");
  EXPECT_EQ(Ask(fd, "nonsense\r", 3), "?\r\n");
  ASSERT_EQ(Operator("press 1"), 0);
  EXPECT_EQ(ReadFor(fd, 14), "10:+0001.234\r\n");
  EXPECT_EQ(Ask(fd, "FS?\r", 6), "FS:1\r\n");
  ASSERT_EQ(Operator("key 1 2"), 0);
  EXPECT_EQ(ReadFor(fd, 14), "20:+000002.5\r\n");
  close(fd);
  // The departure is logged by the program's own loop; a loaded machine may take a while.
  for (int i = 0; i < 500 && Read("Velk_VCP.LOG").find("VCP=Closed") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  EXPECT_EQ(Stop(), 0);
  EXPECT_FALSE(Exists("ports/COM5"));
  const std::string log = Read("Velk_VCP.LOG");
  EXPECT_TRUE(log.starts_with("Device_Init()\r\nVCP=Opened\r\nC: M1<13>\r\n")) << log;
  EXPECT_TRUE(log.ends_with("VCP=Closed\r\nDevice_DeInit()\r\n*** Programm-Ende ***\r\n")) << log;
  EXPECT_EQ(log.find("Programm-Ende"), log.rfind("Programm-Ende"));
  EXPECT_NE(Read("Velk_VCP.CFG").find("\r\n20:5\r\n"), std::string::npos);
}

TEST_F(HeadlessTest, PrefixFormatOnTwoPorts) {
  // The settings file carries the command format itself, as the setup window writes it.
  Write("Velk_VCP.CFG", "20:5\r\n30:5\r\n40:0\r\n82:6\r\n1000:1\r\n" + Read("LIB005.DRV"));
  Launch();
  ASSERT_GT(pid_, 0);
  EXPECT_NE(stdout_.find("slot 2 simulates COM6 at "), std::string::npos) << stdout_;
  const int fd = Open("COM5");
  const int other = Open("COM6");
  ASSERT_GE(fd, 0);
  ASSERT_GE(other, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Ask(fd, "xL?", 11), "+0001.234\r\n");
  EXPECT_EQ(Ask(fd, "I", 14), "SINGLE GAUGE\r\n");
  // Only the current slot is served.
  ASSERT_EQ(write(other, "I", 1), 1);
  EXPECT_EQ(ReadFor(other, 1, 300), "");
  close(fd);
  close(other);
  EXPECT_EQ(Stop(), 0);
  EXPECT_FALSE(Exists("ports/COM5"));
  EXPECT_FALSE(Exists("ports/COM6"));
}

TEST_F(HeadlessTest, DataKeyPressesWithoutAClientReachTheNextClientOldestFirst) {
  Write("Velk_VCP.CFG",
        "20:5\r\n40:0\r\n1000:3\r\n1001:1\r\n1002:10\r\n1005:3\r\n1006:2\r\n1007:20\r\n");
  Launch();
  ASSERT_GT(pid_, 0);
  ASSERT_EQ(Operator("key 1 2"), 0);
  ASSERT_EQ(Operator("key 1 1"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const int fd = Open("COM5");
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ReadFor(fd, 28), "20:+000002.5\r\n10:+0001.234\r\n");
  close(fd);
  EXPECT_EQ(Stop(), 0);
}

TEST_F(HeadlessTest, DeviceLibraryThatDoesNotStartEndsTheProgram) {
  fs::remove(dir_ + "/Velk_VCP.DDK");
  Write("Velk_VCP.CFG", "20:5\r\n40:0\r\n");
  Launch();
  EXPECT_EQ(pid_, -1);
  EXPECT_TRUE(WIFEXITED(status_));
  EXPECT_EQ(WEXITSTATUS(status_), 1);
  EXPECT_NE(ReadFor(err_, 100000, 200).find("The device driver library could not be started"),
            std::string::npos);
  EXPECT_FALSE(Exists("ports/COM5"));
}

// Writes one key event and its report to a stand-in input device.
void WriteKey(int fd, int code, int value) {
  input_event events[2] = {};
  events[0].type = EV_KEY;
  events[0].code = static_cast<uint16_t>(code);
  events[0].value = value;
  events[1].type = EV_SYN;
  ASSERT_EQ(write(fd, events, sizeof events), static_cast<ssize_t>(sizeof events));
}

TEST_F(HeadlessTest, HotKeysFromAnInputDeviceSwitchThePort) {
  // Two ports with hot keys F1 and Ctrl+F2; the input device is a named pipe.
  Write("Velk_VCP.CFG",
        "20:5\r\n30:5\r\n40:0\r\n82:6\r\n91:1\r\n92:14\r\n1000:1\r\n" + Read("LIB005.DRV"));
  const std::string device = dir_ + "/keyboard";
  ASSERT_EQ(mkfifo(device.c_str(), 0600), 0);
  const int keyboard = open(device.c_str(), O_RDWR | O_NONBLOCK);  // keeps a writer
  ASSERT_GE(keyboard, 0);
  setenv("VELK_VCP_INPUT_DEVICES", device.c_str(), 1);
  Launch();
  unsetenv("VELK_VCP_INPUT_DEVICES");
  ASSERT_GT(pid_, 0);
  EXPECT_NE(ReadFor(err_, 1000, 200).find("hot keys are read from " + device), std::string::npos);
  const int first = Open("COM5");
  const int second = Open("COM6");
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // Each step: keys pressed and released, then which port answers.
  const struct {
    std::vector<int> keys;
    int answering;  // only the current port answers
  } steps[] = {
      {{KEY_F2}, first},                 // F2 without Ctrl is no hot key here
      {{KEY_LEFTCTRL, KEY_F2}, second},  // Ctrl+F2 chooses port 2
      {{KEY_F3}, second},
      {{KEY_F1}, first},
      {{KEY_RIGHTCTRL, KEY_F2}, second},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.keys.back());
    for (int key : step.keys) WriteKey(keyboard, key, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int key : step.keys) WriteKey(keyboard, key, 0);
    EXPECT_EQ(Ask(step.answering, "I", 14), "SINGLE GAUGE\r\n");
  }
  close(first);
  close(second);
  close(keyboard);
  EXPECT_EQ(Stop(), 0);
}

}  // namespace
