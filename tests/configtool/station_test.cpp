// The running program's socket end to end: velk-vcp-config status names who holds each port
// with counters matching what was sent, serve moves serving as a hot key does, every port
// answers its own client while pushes go to the served one, and strangers are refused.
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "control_client.h"
#include "control_server.h"
#include "port_holder.h"
#include "program_fixture.h"
#include "temp_dir.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string kValue1 = "10:+0001.234\r\n";

class StationTest : public ProgramTest {
 protected:
  StationTest() { setenv("VELK_VCP_INPUT_DEVICES", "none", 1); }
  // Serves ports COM5 .. (one per number) with the fault settings (input 1.1 also sent when the
  // foot switch is pressed) plus extra keys.
  void Serve(const std::string& ports, const std::string& extra = "") {
    std::string settings = FaultSettings() + extra;
    settings.replace(settings.find("1000:1\r\n"), 8, "1000:3\r\n");  // 1.1: foot switch
    int key = 82;
    for (char n : ports.substr(1)) settings += std::to_string(key++) + ":" + n + "\r\n";
    Write("Velk_VCP.CFG", settings);
    pid_ = Start();
    ASSERT_TRUE(WaitUntilServing()) << Err();
    // The program's socket comes just after the ports.
    ASSERT_TRUE(WaitFor([&] { return Exists("Velk_VCP.control"); })) << Err();
  }
  // Runs a tool in the working folder; returns its exit status, output and standard error.
  struct Run {
    int status;
    std::string out, err;
  };
  Run Tool(const std::string& program, const std::string& arguments) {
    const std::string command =
        "cd '" + Path("") + "' && '" + program + "' " + arguments + " >tool.out 2>tool.err";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Read("tool.out"), Read("tool.err")};
  }
  Run Config(const std::string& arguments) { return Tool(VELK_CONFIG_TOOL, arguments); }
  bool Pedal(const char* action) {
    return Tool(VELK_DDK_TOOL, std::string("-f Velk_VCP.DDK ") + action + " 1").status == 0;
  }
  json Status() {
    const Run run = Config("status --json");
    EXPECT_EQ(run.status, 0) << run.err;
    return json::parse(run.out, nullptr, false);
  }
  pid_t pid_ = -1;
};

TEST_F(StationTest, StatusNamesEachHolderWithCountersMatchingWhatItSent) {
  Serve("56");
  // Slot 1: this test program asks three times; slot 2: a child process only holds the port.
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Ask(fd, "M1\r", kValue1), kValue1);
  int hold[2];
  ASSERT_EQ(pipe(hold), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(hold[1]);
    const int port = OpenPort("COM6");
    char byte;
    _exit(port >= 0 && read(hold[0], &byte, 1) >= 0 ? 0 : 1);
  }
  const std::string self = ProgramName(getpid());
  const struct {
    int slot;
    pid_t pid;
    int commands;
    uint64_t bytes_in, bytes_out;
    std::string last_command, last_answer;
  } expected[] = {{1, getpid(), 3, 9, 3 * kValue1.size(), "M1\r", kValue1},
                  {2, child, 0, 0, 0, "", ""}};
  // Who holds a port is looked up off the serving thread: the status names nobody until then.
  json status;
  for (int i = 0; i < 1000; ++i) {
    status = Status();
    const json& second = status["ports"][1]["client"];
    if (second.is_object() && !second["pid"].is_null() &&
        !status["ports"][0]["client"]["pid"].is_null()) {
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(status.is_object());
  EXPECT_EQ(status["pid"], pid_);
  EXPECT_EQ(status["front_end"], "headless");
  EXPECT_EQ(status["serving"]["mode"], "served-slot");
  EXPECT_EQ(status["serving"]["served_slot"], 1);
  for (const auto& e : expected) {
    SCOPED_TRACE(e.slot);
    const json& port = status["ports"][e.slot - 1];
    EXPECT_EQ(port["name"], "COM" + std::to_string(4 + e.slot));
    EXPECT_EQ(port["path"], Path("ports/COM" + std::to_string(4 + e.slot)));
    const json& client = port["client"];
    ASSERT_TRUE(client.is_object()) << status.dump();
    EXPECT_EQ(client["pid"], e.pid);
    EXPECT_EQ(client["program"], self);
    EXPECT_EQ(client["commands"], e.commands);
    EXPECT_EQ(client["answers"], e.commands);
    EXPECT_EQ(client["bytes_in"], e.bytes_in);
    EXPECT_EQ(client["bytes_out"], e.bytes_out);
    EXPECT_EQ(client["dropped_bytes"], 0);
    EXPECT_EQ(client["last_command"], e.last_command);
    EXPECT_EQ(client["last_answer"], e.last_answer);
  }
  // Every input in use, with its status; the log with its size.
  const struct {
    const char* input;
    const char* status;
  } gauges[] = {{"1.1", "valid"},
                {"1.2", "no value"},
                {"1.3", "out of range"},
                {"1.4", "no answer"},
                {"1.8", "valid"}};
  for (const auto& g : gauges) {
    bool found = false;
    for (const json& gauge : status["gauges"]) {
      if (gauge["input"] != g.input) continue;
      found = true;
      EXPECT_EQ(gauge["status"], g.status) << g.input;
      EXPECT_EQ(gauge["source"], "simulated") << g.input;
    }
    EXPECT_TRUE(found) << g.input;
  }
  EXPECT_EQ(status["gauges"][0]["value"], 1.234);
  EXPECT_EQ(status["log"]["file"], Path("Velk_VCP.LOG"));
  EXPECT_GT(status["log"]["bytes"].get<int64_t>(), 0);
  // The same in words.
  const Run words = Config("status");
  EXPECT_EQ(words.status, 0);
  EXPECT_NE(words.out.find(self + " (pid " + std::to_string(getpid()) + ")"), std::string::npos)
      << words.out;
  EXPECT_NE(words.out.find("last command \"M1\\r\""), std::string::npos) << words.out;
  close(hold[1]);
  waitpid(child, nullptr, 0);
  close(fd);
  EXPECT_EQ(Stop(pid_), 0);
  EXPECT_FALSE(Exists("Velk_VCP.control"));
}

// The kernel tells the program nothing of a refused open; the client layer does.
TEST_F(StationTest, AnOpenRefusedAsBusyIsLoggedWithWhoHoldsThePort) {
  Serve("5");
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  ASSERT_EQ(Ask(fd, "M1\r", kValue1), kValue1);  // the program has seen its client
  const pid_t child = fork();
  if (child == 0) {
    // As a normal user's program: the exclusive mode binds it.
    if (chdir(Path("").c_str()) != 0 || prctl(PR_CAPBSET_DROP, CAP_SYS_ADMIN) != 0) _exit(3);
    execl(VELK_CLIENT, VELK_CLIENT, "python3", "-c",
          "import os, sys\n"
          "try: os.open('ports/COM5', os.O_RDWR | os.O_NOCTTY)\n"
          "except OSError as e: sys.exit(0 if e.errno == 16 else 1)\n"
          "sys.exit(2)",
          static_cast<char*>(nullptr));
    _exit(4);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string held =
      "was refused: held by " + std::to_string(getpid()) + " (" + ProgramName(getpid()) + ")";
  for (int i = 0; i < 500 && Count(Read("Velk_VCP.LOG"), held) == 0; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(Count(Read("Velk_VCP.LOG"), "COM5: an open by " + std::to_string(child)), 1u)
      << Read("Velk_VCP.LOG");
  EXPECT_EQ(Count(Read("Velk_VCP.LOG"), held), 1u);
  EXPECT_EQ(Count(Err(), held), 1u) << Err();
  close(fd);
  EXPECT_EQ(Stop(pid_), 0);
}

// The refused line names the requester as the kernel gives it: a process gone before the
// program looked is an unknown program, and a program whose name holds CR LF forges no line.
TEST_F(StationTest, ARefusedLineNamesEveryRequesterOnOneLine) {
  Serve("5");
  const int port = OpenPort("COM5");
  ASSERT_GE(port, 0);
  ASSERT_EQ(Ask(port, "M1\r", kValue1), kValue1);
  const std::string odd = Path("py\r\nCOM5: forged");
  std::filesystem::copy_file("/bin/sleep", odd);
  std::filesystem::permissions(odd, std::filesystem::perms::owner_all);
  const struct {
    bool stays;  // the requester still runs (as odd) when the program looks
    std::string named;
  } cases[] = {{false, "(unknown program)"}, {true, "(py??COM5: forged)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    // The requester is the process that connects; the request is sent on its socket later.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = Path("Velk_VCP.control");
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    const pid_t child = fork();
    if (child == 0) {
      if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(1);
      if (c.stays) execl(odd.c_str(), odd.c_str(), "30", static_cast<char*>(nullptr));
      _exit(0);
    }
    ASSERT_GT(child, 0);
    if (c.stays) {
      const std::string exe = "/proc/" + std::to_string(child) + "/exe";
      std::error_code ec;
      ASSERT_TRUE(WaitFor([&] { return std::filesystem::read_symlink(exe, ec) == odd; }, 10s));
    } else {
      int status = -1;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    const std::string request = "refused COM5\n";
    ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    const std::string line = "COM5: an open by " + std::to_string(child) + " " + c.named +
                             " was refused: held by " + std::to_string(getpid()) + " (" +
                             ProgramName(getpid()) + ")\n";
    EXPECT_TRUE(WaitFor([&] { return Count(Err(), line) == 1; }, 10s)) << Err();
    EXPECT_EQ(Count(Read("Velk_VCP.LOG"), line.substr(0, line.size() - 1)), 1u);
    close(fd);
    if (c.stays) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
  }
  EXPECT_EQ(Count(Err(), "\nCOM5: forged"), 0u) << Err();
  EXPECT_EQ(Count(Read("Velk_VCP.LOG"), "\nCOM5: forged"), 0u);
  close(port);
  EXPECT_EQ(Stop(pid_), 0);
}

TEST_F(StationTest, WithoutAProgramOrForAnotherUserTheStatusIsRefused) {
  EXPECT_EQ(Config("ports 5").status, 0);
  const Run none = Config("status");
  EXPECT_EQ(none.status, 4);
  EXPECT_EQ(none.err, "velk-vcp-config: no Velk_VCP runs in " +
                          Path("").substr(0, Path("").size() - 1) + "\n");
  EXPECT_EQ(Config("serve 1").status, 4);
  if (geteuid() != 0) GTEST_SKIP() << "another user needs root to be played";
  Serve("5");
  const struct {
    const char* name;
    mode_t socket_mode;
    ControlReply::Result result;
  } cases[] = {{"the socket as made (0600)", 0600, ControlReply::kRefused},
               {"a socket opened to all", 0666, ControlReply::kAnswered}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(chmod(Path("").c_str(), 0711), 0);
    ASSERT_EQ(chmod(Path("Velk_VCP.control").c_str(), c.socket_mode), 0);
    const std::string result = RunAsNormalUser([&]() -> std::string {
      if (chdir(Path("").c_str()) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
        return "cannot become nobody";
      }
      const ControlReply reply = AskProgram(kControlSocketName, "status");
      if (reply.result != c.result) return "result " + std::to_string(reply.result);
      if (reply.result == ControlReply::kAnswered &&
          reply.text.find("\"ok\":false") == std::string::npos) {
        return "answered: " + reply.text;
      }
      return {};
    });
    EXPECT_EQ(result, "");
  }
  EXPECT_EQ(Stop(pid_), 0);
}

// While a client holds its port, the tool's changes are taken over by the running program:
// the client keeps its descriptor and terminal and its next command follows them; a change
// taken over writes the settings file once; a change the program cannot take over leaves the
// settings file as it was.
TEST_F(StationTest, ChangesAreTakenOverWithoutClosingAPort) {
  Serve("5");
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  ASSERT_EQ(Ask(fd, "M1\r", "10:+0001.234\r\n"), "10:+0001.234\r\n");
  std::error_code ec;
  const auto terminal = std::filesystem::read_symlink(Path("ports/COM5"), ec);
  Write("ports/COM7", "a user's file\n");
  // Every write of the settings file, the program's and the tool's, is a rename onto its name.
  // The renames from the temporary files are watched too: they keep two renames onto the name
  // from merging into one event.
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, Path("").c_str(), IN_MOVED_FROM | IN_MOVED_TO), 0);
  auto settings_writes = [watch] {
    int writes = 0;
    alignas(inotify_event) char buffer[8192];
    for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
      for (char* at = buffer; at < buffer + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        if ((event->mask & IN_MOVED_TO) && event->len > 0 &&
            std::string(event->name) == "Velk_VCP.CFG") {
          ++writes;
        }
        at += sizeof(inotify_event) + event->len;
      }
    }
    return writes;
  };
  const struct {
    const char* arguments;
    int status;
    const char* answer;
  } steps[] = {
      {"value-format --width 10", 0, "10:+00001.234\r\n"},
      {"ports 5 6", 0, "10:+00001.234\r\n"},  // COM6 is made, COM5 stays open
      {"ports 5 7", 3, "10:+00001.234\r\n"},  // COM7 cannot be made: nothing changes
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.arguments);
    const std::string before = Read("Velk_VCP.CFG");
    settings_writes();
    const Run run = Config(step.arguments);
    EXPECT_EQ(run.status, step.status) << run.err;
    EXPECT_EQ(Ask(fd, "M1\r", step.answer), step.answer);
    EXPECT_EQ(std::filesystem::read_symlink(Path("ports/COM5"), ec), terminal);
    if (step.status == 0) {
      EXPECT_EQ(settings_writes(), 1);
    } else {
      EXPECT_EQ(Read("Velk_VCP.CFG"), before);
    }
  }
  close(watch);
  EXPECT_TRUE(Exists("ports/COM6"));
  EXPECT_NE(Read("Velk_VCP.CFG").find("\r\n82:6\r\n"), std::string::npos);
  close(fd);
  EXPECT_EQ(Stop(pid_), 0);
}

// A settings file edited by hand gets the checks the tool makes, with the tool's messages: a
// reload refuses it and the program serves on as it was; a start says each problem and serves
// what it could make of the file.
TEST_F(StationTest, AHandEditedFileGetsTheToolsChecksAtReloadAndAtStart) {
  const struct {
    const char* keys;
    const char* problem;
  } cases[] = {
      {"82:5\r\n", "ports: COM5 given twice"},
      {"603:mqtt://127.0.0.1:1\r\n604:plant/#\r\n", "mqtt: + and # cannot stand in a topic"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    Serve("5");
    const int fd = OpenPort("COM5");
    ASSERT_GE(fd, 0);
    const std::string good = Read("Velk_VCP.CFG");
    Write("Velk_VCP.CFG", good + c.keys);
    const Run reload = Config("reload");
    EXPECT_EQ(reload.status, 3);
    EXPECT_NE(reload.err.find(c.problem), std::string::npos) << reload.err;
    EXPECT_EQ(Ask(fd, "M1\r", kValue1), kValue1);
    close(fd);
    ASSERT_EQ(Stop(pid_), 0);

    Write("Velk_VCP.CFG", good + c.keys);
    const std::string tag = "restart" + std::to_string(&c - cases);
    pid_ = Start(Options{}, tag);
    ASSERT_TRUE(WaitUntilServing(tag)) << Err(tag);
    const std::string said = std::string("Velk_VCP: settings file: ") + c.problem;
    EXPECT_TRUE(WaitFor([&] { return Err(tag).find(said) != std::string::npos; })) << Err(tag);
    ASSERT_EQ(Stop(pid_), 0);
  }
}

TEST_F(StationTest, ServeMovesServingAsAHotKeyDoes) {
  Serve("56");
  EXPECT_NE(Err().find("several ports are set up and no hot key can be read"), std::string::npos)
      << Err();
  const int second = OpenPort("COM6");
  ASSERT_GE(second, 0);
  ASSERT_TRUE(WriteAll(second, "M1\r", 1s));
  EXPECT_EQ(ReadFor(second, 1, 300ms), "");  // slot 1 is served
  const struct {
    const char* arguments;
    int status;
    const char* out;
    const char* err;
  } steps[] = {{"serve 2", 0, "serving port slot 2\n", ""},
               {"serve 3", 2, "", "velk-vcp-config: serve: slot 3 has no port\n"},
               {"serve 5", 2, "", nullptr}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.arguments);
    const Run run = Config(step.arguments);
    EXPECT_EQ(run.status, step.status);
    EXPECT_EQ(run.out, step.out);
    if (step.err) {
      EXPECT_EQ(run.err, step.err);
    }
  }
  // As after a hot key: what waited on the newly served port is dropped, new commands answered.
  EXPECT_EQ(Ask(second, "M1\r", kValue1), kValue1);
  EXPECT_EQ(Status()["serving"]["served_slot"], 2);
  EXPECT_NE(Out().find("serving port slot 2"), std::string::npos) << Out();
  EXPECT_EQ(Count(Read("Velk_VCP.LOG"), "Served port: slot 2 (COM6)"), 1u);
  close(second);
  EXPECT_EQ(Stop(pid_), 0);
}

TEST_F(StationTest, EveryPortAnswersItsOwnClientWhilePushesGoToTheServedSlot) {
  Serve("5678", "96:1\r\n");
  const struct {
    const char* port;
    std::string command, answer;
  } clients[] = {{"COM5", "M8\r", "80:+000002.5\r\n"},
                 {"COM6", "M2\r", "20:NO VALUE\r\n"},
                 {"COM7", "M3\r", "30:OUT OF RANGE\r\n"},
                 {"COM8", "M5\r", "50:NO VALUE\r\n"}};
  std::vector<int> fds;
  for (const auto& c : clients) {
    fds.push_back(OpenPort(c.port));
    ASSERT_GE(fds.back(), 0) << c.port;
  }
  constexpr int kCommands = 300;
  std::vector<std::string> got(fds.size());
  std::vector<std::thread> load;
  for (size_t k = 0; k < fds.size(); ++k) {
    load.emplace_back([&, k] {
      std::string burst;
      for (int i = 0; i < kCommands; ++i) burst += clients[k].command;
      if (WriteAll(fds[k], burst, 5s)) {
        got[k] = ReadFor(fds[k], kCommands * clients[k].answer.size(), 20s);
      }
    });
  }
  for (std::thread& t : load) t.join();
  for (size_t k = 0; k < fds.size(); ++k) {
    std::string expected;
    for (int i = 0; i < kCommands; ++i) expected += clients[k].answer;
    EXPECT_EQ(got[k], expected) << clients[k].port;
  }
  // The pedal's value goes to the served slot only: 1, then 3 after serve 3.
  for (int served : {1, 3}) {
    SCOPED_TRACE(served);
    if (served != 1) {
      ASSERT_EQ(Config("serve " + std::to_string(served)).status, 0);
    }
    ASSERT_TRUE(Pedal("press"));
    EXPECT_EQ(ReadFor(fds[served - 1], kValue1.size(), 5s), kValue1);
    for (size_t k = 0; k < fds.size(); ++k) {
      if (static_cast<int>(k) != served - 1) {
        EXPECT_EQ(ReadFor(fds[k], 1, 200ms), "") << k;
      }
    }
    ASSERT_TRUE(Pedal("release"));
    std::string up;
    for (int i = 0; i < 250 && up != "FS:0\r\n"; ++i) {
      std::this_thread::sleep_for(20ms);
      up = Ask(fds[0], "FS?\r", 6);
    }
    EXPECT_EQ(up, "FS:0\r\n");
  }
  for (int fd : fds) close(fd);
  EXPECT_EQ(Stop(pid_), 0);
}

TEST(ProgramNameTest, AWindowsProgramUnderWineIsNamedByItsExeAndControlsAreNeutralised) {
  const struct {
    const char* exe;
    std::string command_line;
    const char* name;
  } cases[] = {
      {"/usr/bin/python3.11", std::string("python3\0serial.py\0", 18), "python3.11"},
      {"/usr/lib/wine/wine64-preloader",
       std::string("C:\\Program Files\\SPC\\spc.exe\0/dev/x\0", 36), "spc.exe"},
      {"/usr/lib/wine/wine64-preloader", std::string("/usr/lib/wine/wine64\0Z:\\a\\B.EXE\0", 32),
       "B.EXE"},
      {"/usr/bin/wine", std::string("wine\0", 5), "wine"},
      {"", "", ""},
      // Control characters cannot start a line or drive a terminal; other UTF-8 stays.
      {"/tmp/py\r\nCOM5: forged", "", "py??COM5: forged"},
      {"/usr/bin/wine", std::string("x\x1b[2J\x7f\xc2\x9b.exe\0", 13), "x?[2J??.exe"},
      {"/opt/m\xc3\xa4\xc3\x9f", "", "m\xc3\xa4\xc3\x9f"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgramNameOf(c.exe, c.command_line), c.name) << c.exe;
}

}  // namespace

namespace {

// Watches nothing: the requests are answered directly.
class NoWatch : public IReadableWatch {
 public:
  bool WatchReadable(int, std::function<void()>) override { return true; }
  void Unwatch(int) override {}
};

TEST(ControlServerTest, EachRequestLineGetsOneJsonAnswer) {
  NoWatch watch;
  ControlServer server(watch);
  server.On("echo", [](const std::vector<std::string>& words) {
    if (words.size() != 2) throw ControlServer::RequestError{"echo takes one word"};
    return json{{"word", words[1]}};
  });
  const struct {
    std::string line, answer;
  } cases[] = {
      {"echo  hello ", R"({"ok":true,"word":"hello"})"},
      {"echo \xe9", "{\"ok\":true,\"word\":\"\xef\xbf\xbd\"}"},
      {"echo", R"({"error":"echo takes one word","ok":false})"},
      {"", R"({"error":"empty request","ok":false})"},
      {"frobnicate 1", R"({"error":"unknown request frobnicate","ok":false})"},
  };
  for (const auto& c : cases) EXPECT_EQ(server.Answer(c.line), c.answer) << c.line;
}

TEST(ControlServerTest, AnyEarlierSocketIsReplacedAndAPlainFileKept) {
  const std::string folder = MakeTempFolder("velk-control");
  ASSERT_FALSE(folder.empty());
  const std::string path = folder + "/test.control";
  NoWatch watch;
  ControlServer first(watch), second(watch);
  std::string reason, note;
  ASSERT_TRUE(first.Start(path, reason, note)) << reason;
  EXPECT_EQ(note, "");
  // A process that listened there first gets no request any more.
  ASSERT_TRUE(second.Start(path, reason, note)) << reason;
  EXPECT_EQ(note, "replaced " + path + ", where another process answered");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  first.Stop();  // not its socket file any more: left alone
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  second.Stop();
  EXPECT_NE(stat(path.c_str(), &info), 0);
  // A socket file whose program is gone.
  ASSERT_TRUE(first.Start(path, reason, note)) << reason;
  const int kept = open(path.c_str(), O_PATH);
  ASSERT_EQ(link(path.c_str(), (path + ".old").c_str()), 0);
  first.Stop();
  ASSERT_EQ(rename((path + ".old").c_str(), path.c_str()), 0);
  close(kept);
  EXPECT_TRUE(second.Start(path, reason, note)) << reason;
  EXPECT_EQ(note, "");
  second.Stop();
  // A file of the user's is no socket: refused, not removed.
  { std::ofstream(path) << "mine"; }
  EXPECT_FALSE(second.Start(path, reason, note));
  EXPECT_EQ(reason, path + " exists and is no socket");
  EXPECT_TRUE(std::filesystem::exists(path));
  std::filesystem::remove_all(folder);
}

// Watches descriptors for the server as the serving loop does; Turn serves what is readable.
class PollWatch : public IReadableWatch {
 public:
  bool WatchReadable(int fd, std::function<void()> ready) override {
    watched_[fd] = std::move(ready);
    return true;
  }
  void Unwatch(int fd) override { watched_.erase(fd); }
  void Turn() {
    std::vector<pollfd> fds;
    for (const auto& [fd, ready] : watched_) fds.push_back({fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), 5) <= 0) return;
    for (const pollfd& p : fds) {
      auto it = watched_.find(p.fd);
      if ((p.revents & (POLLIN | POLLHUP)) && it != watched_.end()) {
        const std::function<void()> ready = it->second;
        ready();
      }
    }
  }

 private:
  std::map<int, std::function<void()>> watched_;
};

TEST(ControlServerTest, PipelinedRequestsAndALargeAnswerArriveWholeAndInOrder) {
  const std::string folder = MakeTempFolder("velk-control");
  ASSERT_FALSE(folder.empty());
  const std::string path = folder + "/test.control";
  PollWatch watch;
  ControlServer server(watch);
  int answered = 0;
  server.On("small", [&](const std::vector<std::string>&) { return json{{"n", ++answered}}; });
  // Far more than a socket takes at once.
  server.On("big", [&](const std::vector<std::string>&) {
    return json{{"n", ++answered}, {"text", std::string(3 << 20, 'x')}};
  });
  std::string reason, note;
  ASSERT_TRUE(server.Start(path, reason, note)) << reason;
  const int client = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string requests = "small\nbig\nsmall\nbig\nsmall\n";
  ASSERT_EQ(write(client, requests.data(), requests.size()), static_cast<ssize_t>(requests.size()));
  // One request per turn: the loop turns between them.
  for (int turn = 0; turn < 3; ++turn) watch.Turn();
  EXPECT_LE(answered, 3);
  // The client reads only now; the loop keeps turning while the large answers go.
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::count(received.begin(), received.end(), '\n') < 5 &&
         std::chrono::steady_clock::now() < deadline) {
    watch.Turn();
    char buffer[65536];
    const ssize_t n = recv(client, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) received.append(buffer, static_cast<size_t>(n));
    if (n == 0) break;
  }
  std::vector<int> order;
  std::istringstream lines(received);
  for (std::string line; std::getline(lines, line);) {
    const json answer = json::parse(line, nullptr, false);
    ASSERT_TRUE(answer.is_object()) << line.substr(0, 80);
    order.push_back(answer.value("n", 0));
    if (answer.contains("text")) {
      EXPECT_EQ(answer["text"].get<std::string>().size(), 3u << 20);
    }
  }
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
  close(client);
  server.Stop();
  std::filesystem::remove_all(folder);
}

}  // namespace
