// The velk-ddk tool acting as the operator on the running simulated library.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "ddk_library.h"
#include "temp_dir.h"

extern char** environ;

namespace {

struct ToolResult {
  int exit_code = -1;
  std::string output;
};

// Runs velk-ddk with args, feeding input to its standard input; kills it after 10 s.
ToolResult RunTool(const std::vector<std::string>& args, const std::string& input = "") {
  int out[2], in[2];
  if (pipe(out) != 0 || pipe(in) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  std::vector<std::string> all = {VELK_DDK_TOOL};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, VELK_DDK_TOOL, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(in[0]);
  ToolResult result;
  if (rc != 0) {
    close(out[0]);
    close(in[1]);
    return result;
  }
  (void)!write(in[1], input.data(), input.size());
  close(in[1]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  char buffer[4096];
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(&p, 1, 100) <= 0) continue;
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    result.output.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

class ControlToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakeTempFolder("velk-ctl");
    ASSERT_FALSE(folder_.empty());
    ddk_ = folder_ + "/Velk_VCP.DDK";
    std::ofstream(ddk_) << "socket: control.sock\n"
                           "device: 1\nfootswitch: 0\nname: Pedal\nfootswitch: 1\n"
                           "input: 1\nvalue: 4.25\ninput: 2\nvalue: 9\n"
                           "device: 2\ninput: 5\nvalue: 1\n";
    ASSERT_EQ(library_.Device_Init(1, ddk_, 0), 0);
  }
  void TearDown() override {
    library_.Device_DeInit();
    std::filesystem::remove_all(folder_);
  }
  ToolResult Tool(const std::vector<std::string>& command) {
    std::vector<std::string> args = {"-f", ddk_};
    args.insert(args.end(), command.begin(), command.end());
    return RunTool(args);
  }

  DdkLibrary library_{VELK_DDK_SIM};
  std::string folder_;
  std::string ddk_;
};

TEST_F(ControlToolTest, FootSwitchPressAndReleaseShowThroughTrigger) {
  EXPECT_EQ(library_.Device_Trigger(1, 0), 0);
  ToolResult r = Tool({"press", "1"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.output, "OK foot switch 1.0 pressed\n");
  EXPECT_GT(library_.Device_Trigger(1, 0), 0);
  EXPECT_EQ(library_.Device_Trigger(1, 1), 0);
  EXPECT_EQ(Tool({"press", "1", "1"}).exit_code, 0);
  EXPECT_GT(library_.Device_Trigger(1, 1), 0);
  EXPECT_EQ(Tool({"release", "1"}).exit_code, 0);
  EXPECT_EQ(library_.Device_Trigger(1, 0), 0);
  EXPECT_GT(library_.Device_Trigger(1, 1), 0);
  // Unplugging takes the device away: no trigger, no value, and replugging brings it back.
  EXPECT_EQ(Tool({"unplug", "1"}).output, "OK device 1 unplugged\n");
  EXPECT_EQ(library_.Device_Trigger(1, 1), 0);
  double v = 0;
  EXPECT_LT(library_.Device_Value(1, 1, v), 0);
  EXPECT_EQ(Tool({"replug", "1"}).exit_code, 0);
  EXPECT_EQ(library_.Device_Value(1, 1, v), 0);
}

TEST_F(ControlToolTest, DataKeysQueueOldestFirstWithTheirInputs) {
  EXPECT_EQ(Tool({"key", "1", "2"}).output, "OK data key 1.2 pressed, value 9\n");
  EXPECT_EQ(Tool({"key", "1", "1", "3.5"}).exit_code, 0);
  EXPECT_EQ(Tool({"key", "2", "5"}).exit_code, 0);
  int16_t input = 1;
  double v = 0;
  ASSERT_EQ(library_.Device_Collect(1, input, v), 0);
  EXPECT_EQ(input, 2);
  EXPECT_DOUBLE_EQ(v, 9);
  ASSERT_EQ(library_.Device_Collect(1, input, v), 0);
  EXPECT_EQ(input, 1);
  EXPECT_DOUBLE_EQ(v, 3.5);
  EXPECT_NE(library_.Device_Collect(1, input, v), 0);
  ASSERT_EQ(library_.Device_Collect(2, input, v), 0);
  EXPECT_EQ(input, 5);
}

TEST_F(ControlToolTest, SetAndStatusChangeWhatDeviceValueReports) {
  double v = 0;
  EXPECT_EQ(Tool({"set", "1", "1", "-2.5"}).exit_code, 0);
  EXPECT_EQ(library_.Device_Value(1, 1, v), 0);
  EXPECT_DOUBLE_EQ(v, -2.5);
  EXPECT_EQ(Tool({"set", "1", "1", "sine", "10", "0.5", "2"}).exit_code, 0);
  library_.Device_Value(1, 1, v);
  EXPECT_GE(v, 9.5);
  EXPECT_LE(v, 10.5);
  EXPECT_EQ(Tool({"status", "1", "2", "outofrange"}).exit_code, 0);
  EXPECT_EQ(library_.Device_Value(1, 2, v), VELK_DDK_OUT_OF_RANGE);
  EXPECT_EQ(Tool({"status", "1", "2", "noanswer"}).exit_code, 0);
  EXPECT_LT(library_.Device_Value(1, 2, v), 0);
  library_.Device_LimitCheck(1, 1, 2, 1.0, -1.0);
  ToolResult show = Tool({"show", "1", "1"});
  EXPECT_EQ(show.exit_code, 0);
  EXPECT_NE(show.output.find("status 136"), std::string::npos) << show.output;
  EXPECT_NE(show.output.find("tolerance -1..1"), std::string::npos) << show.output;
}

TEST_F(ControlToolTest, BadCommandsGetAClearErrorLine) {
  const std::vector<std::vector<std::string>> bad = {{"jump"},
                                                     {"press"},
                                                     {"press", "9"},
                                                     {"press", "3"},
                                                     {"press", "1", "2"},
                                                     {"press", "x"},
                                                     {"key", "1", "201"},
                                                     {"key", "1", "7"},
                                                     {"key", "1", "1", "abc"},
                                                     {"set", "1", "1", "sine", "1"},
                                                     {"status", "1", "1", "maybe"},
                                                     {"unplug", "1", "2"}};
  for (const auto& command : bad) {
    ToolResult r = Tool(command);
    EXPECT_EQ(r.exit_code, 1) << command[0];
    EXPECT_EQ(r.output.rfind("ERR ", 0), 0u) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
  }
  // Several commands on standard input, a blank one and an overlong one among them.
  ToolResult r = RunTool({"-s", folder_ + "/control.sock"},
                         "press 1\n\n" + std::string(5000, 'x') + "\nrelease 1\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 4) << r.output;
  EXPECT_NE(r.output.find("ERR command longer"), std::string::npos);
  EXPECT_NE(r.output.find("OK foot switch 1.0 released"), std::string::npos);
  EXPECT_EQ(library_.Device_Trigger(1, 0), 0);
}

TEST_F(ControlToolTest, DataKeyQueueIsBounded) {
  std::string presses;
  for (int i = 0; i < 300; ++i) presses += "key 1 1 " + std::to_string(i) + "\n";
  ToolResult r = RunTool({"-f", ddk_}, presses);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ERR data-key queue of device 1 is full"), std::string::npos);
  int16_t input = 0;
  double v = -1;
  int taken = 0;
  while (taken < 1000 && library_.Device_Collect(1, input, v) == 0) {
    EXPECT_DOUBLE_EQ(v, taken);  // the first ones kept, in order
    ++taken;
  }
  EXPECT_EQ(taken, 256);
}

TEST_F(ControlToolTest, NoLibraryNoConnectionAndTheSocketGoesAtDeInit) {
  library_.Device_DeInit();
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/control.sock"));
  ToolResult r = Tool({"press", "1"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.output, "");
}

TEST_F(ControlToolTest, ASecondLibraryDoesNotStealALiveSocket) {
  // A stranger listening on the socket path keeps it: a re-init reports and goes on.
  library_.Device_DeInit();
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = folder_ + "/control.sock";
  strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(fd, 1), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(library_.Device_Init(1, ddk_, 0), 0);
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("live control is off"), std::string::npos);
  library_.Device_DeInit();
  EXPECT_TRUE(std::filesystem::exists(path));
  close(fd);
  // Its dead socket file is taken over by the next start.
  EXPECT_EQ(library_.Device_Init(1, ddk_, 0), 0);
  EXPECT_EQ(Tool({"press", "1"}).exit_code, 0);
}

}  // namespace

namespace {

int ConnectTo(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  strcpy(address.sun_path, path.c_str());
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST_F(ControlToolTest, TheSocketIsPrivateWhateverTheUmask) {
  library_.Device_DeInit();
  const mode_t saved = umask(0);
  const int16_t started = library_.Device_Init(1, ddk_, 0);
  umask(saved);
  ASSERT_EQ(started, 0);
  struct stat info {};
  ASSERT_EQ(lstat((folder_ + "/control.sock").c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(ControlToolTest, IdleConnectionsAreClosedSoTheToolGetsIn) {
  std::vector<int> idle;
  for (int i = 0; i < 16; ++i) {
    const int fd = ConnectTo(folder_ + "/control.sock");
    ASSERT_GE(fd, 0);
    idle.push_back(fd);
  }
  // All places are taken for now; within a few seconds the idle ones are closed.
  const auto start = std::chrono::steady_clock::now();
  ToolResult r;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    r = Tool({"press", "1"});
    if (r.exit_code == 0) break;
    usleep(200 * 1000);
  }
  EXPECT_EQ(r.output, "OK foot switch 1.0 pressed\n");
  // Closed when the idle limit (5 s from their arrival) has passed; the margin is generous,
  // as the library's thread may run late on a loaded machine.
  for (int fd : idle) {
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 20000), 1);
    char ch;
    EXPECT_EQ(recv(fd, &ch, 1, 0), 0);  // closed by the library
    close(fd);
  }
  // A connection that keeps sending commands stays open past the idle limit.
  const int busy = ConnectTo(folder_ + "/control.sock");
  ASSERT_GE(busy, 0);
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(send(busy, "help\n", 5, MSG_NOSIGNAL), 5);
    usleep(1000 * 1000);
  }
  char buffer[4096];
  std::string got;
  for (;;) {
    pollfd p{busy, POLLIN, 0};
    if (poll(&p, 1, 2000) != 1) break;
    const ssize_t n = recv(busy, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
    if (std::count(got.begin(), got.end(), '\n') == 8) break;
  }
  EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), 8) << got;
  close(busy);
}

TEST_F(ControlToolTest, ConnectionsThatTrickleBytesWithoutACommandDoNotLockTheToolOut) {
  std::vector<int> trickling;
  for (int i = 0; i < 16; ++i) {
    const int fd = ConnectTo(folder_ + "/control.sock");
    ASSERT_GE(fd, 0);
    trickling.push_back(fd);
  }
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    while (!done) {
      for (int fd : trickling) (void)!send(fd, "x", 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });
  const auto start = std::chrono::steady_clock::now();
  ToolResult r;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    r = Tool({"press", "1"});
    if (r.exit_code == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  done = true;
  trickle.join();
  EXPECT_EQ(r.output, "OK foot switch 1.0 pressed\n");
  for (int fd : trickling) close(fd);
}

TEST_F(ControlToolTest, TheToolFindsTheWorkingFolderAsTheProgramDoes) {
  const std::string home = MakeTempFolder("velk-home");
  ASSERT_FALSE(home.empty());
  std::filesystem::create_directory_symlink(folder_, home + "/Velk_VCP");
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  // From a folder that is no working folder: the per-user folder, as Velk_VCP takes it.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"press", "1"},
                                               {"--user-folder", "press", "1"},
                                               {"--dir", folder_, "press", "1"}}) {
    SCOPED_TRACE(args.front());
    EXPECT_EQ(RunTool(args).output, "OK foot switch 1.0 pressed\n");
  }
  unsetenv("XDG_DATA_HOME");
  std::filesystem::remove_all(home);
}

}  // namespace
