// velk-vcp-config against a working folder: bad arguments change nothing, a running program
// keeps its folder, and the program then serves exactly what the tool configured.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>

#include "program_fixture.h"

namespace {

class ConfigToolTest : public ProgramTest {
 protected:
  // Runs the tool in the working folder; returns its exit status and its standard error.
  std::pair<int, std::string> Tool(const std::string& arguments) {
    const std::string command = "cd '" + Path("") +
                                "' && VELK_DDK_LIBRARY='" VELK_DDK_SIM "' '" VELK_CONFIG_TOOL "' " +
                                arguments + " >tool.out 2>tool.err";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Read("tool.err")};
  }
};

TEST_F(ConfigToolTest, BadArgumentsGiveOneLineAndStatus2AndChangeNothing) {
  ASSERT_EQ(Tool("ports 5").first, 0);
  Write("open-password", "secret\n");  // readable by others: refused
  chmod(Path("open-password").c_str(), 0644);
  const std::string before = Read("Velk_VCP.CFG");
  for (const char* arguments : {"",
                                "frobnicate",
                                "preset",
                                "preset 99",
                                "preset 1000",
                                "preset x",
                                "input 9.1 on",
                                "input 1.200 on",
                                "input 1 on",
                                "input 1.1 maybe",
                                "ports",
                                "ports 5 5",
                                "ports 0 6",
                                "ports 101",
                                "ports 1 2 3 4 5",
                                "hotkey 5 F1",
                                "hotkey 1 F13",
                                "hotkey 1 Shift+F1",
                                "log yes",
                                "value-format",
                                "value-format --width 0",
                                "value-format --decimal dot",
                                "password",
                                "password '  '",
                                "password x --off",
                                "save ../x",
                                "save .hidden",
                                "load missing",
                                "history maybe",
                                "history on --keep 0",
                                "history on --keep 5 --max-mb 5",
                                "mqtt",
                                "mqtt http://broker",
                                "mqtt mqtt://broker:99999",
                                "mqtt mqtt://broker --prefix a+b",
                                "mqtt mqtt://broker --password-file open-password",
                                "mqtt mqtt://broker --user u --password-file open-password",
                                "mqtt mqtt://broker --user u --password-file missing",
                                "mqtt off --station x",
                                "values --since yesterday",
                                "values --gauge 9.1",
                                "--dir /nonexistent/x show extra"}) {
    SCOPED_TRACE(arguments);
    const auto [status, error] = Tool(arguments);
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(error.starts_with("velk-vcp-config: ")) << error;
    EXPECT_EQ(Count(error, "\n"), 1u) << error;
    EXPECT_EQ(Read("Velk_VCP.CFG"), before);
  }
  EXPECT_FALSE(Exists("missing.con"));
}

TEST_F(ConfigToolTest, HostileTextsLongNamesAndAGoneFolderGetOneLineNeverAnAbort) {
  ASSERT_EQ(Tool("ports 5").first, 0);
  Write("open-password", "secret\n");  // readable by others: refused
  chmod(Path("open-password").c_str(), 0644);
  const std::string before = Read("Velk_VCP.CFG");
  const std::string longName(300, 'n');
  const struct {
    std::string arguments;
    int status;
  } cases[] = {
      // Texts that would start settings lines of their own.
      {"input 1.1 on \"$(printf '1\\r\\n20:9\\r\\n60:x')\"", 2},
      {"input 1.1 on 1 \"$(printf 'a\\nb')\"", 2},
      {"input 1.1 on \"$(printf 'tab\\there')\"", 2},
      {"password \"$(printf 'pw\\r60:x')\"", 2},
      {"password \"$(printf 'bell\\a')\"", 2},
      {"load " + longName, 2},
      {"save " + longName, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const auto [status, error] = Tool(c.arguments);
    EXPECT_EQ(status, c.status) << error;
    EXPECT_EQ(Count(error, "\n"), 1u) << error;
    EXPECT_EQ(Read("Velk_VCP.CFG"), before);
  }
  // Run from a folder that has been deleted.
  const std::string fromGoneFolder = "cd '" + Path("") +
                                     "' && mkdir gone && cd gone && rmdir ../gone && '" +
                                     VELK_CONFIG_TOOL + "' show 2>'" + Path("gone.err") + "'";
  const int status = std::system(fromGoneFolder.c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
  EXPECT_NE(Read("gone.err").find("cannot read the current folder"), std::string::npos)
      << Read("gone.err");
  EXPECT_EQ(Count(Read("gone.err"), "\n"), 1u);

  // An input the device file lacks is stored with a warning; one it has, silently.
  EXPECT_EQ(Tool("input 1.8 on"), std::make_pair(0, std::string()));
  const auto [status9, warning] = Tool("input 1.9 on");
  EXPECT_EQ(status9, 0);
  EXPECT_EQ(warning,
            "velk-vcp-config: input 1.9: the device file has no such input; stored all the same\n");
  EXPECT_NE(Read("Velk_VCP.CFG").find("\r\n1040:1\r\n"), std::string::npos);
}

TEST_F(ConfigToolTest, ToolsTakeTurnsAndAProgramSaysWhatItWaitsFor) {
  // Twenty tools at once: each one waits for the others, none takes them for a program.
  std::string command = "cd '" + Path("") + "' && for n in $(seq 1 20); do (VELK_DDK_LIBRARY='" +
                        VELK_DDK_SIM + "' '" + VELK_CONFIG_TOOL +
                        "' value-format --width $((n % 9 + 1)) 2>>tools.err; echo $? >>status) & "
                        "done; wait";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::string allDone;
  for (int i = 0; i < 20; ++i) allDone += "0\n";
  EXPECT_EQ(Read("status"), allDone);
  EXPECT_EQ(Read("tools.err"), "");
  EXPECT_NE(Read("Velk_VCP.CFG").find("\r\n9000:"), std::string::npos);

  // A program started while a tool holds the folder (and, as tools do, the tool lock) says what
  // it waits for, then serves.
  const int tool = open(Path(".Velk_VCP.tool.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  const int lock = open(Path(".Velk_VCP.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(flock(tool, LOCK_EX), 0);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  const pid_t pid = Start();
  EXPECT_TRUE(WaitFor([&] { return Err().find("waiting for it to finish") != std::string::npos; }))
      << Err();
  close(lock);
  close(tool);
  ASSERT_TRUE(WaitUntilServing()) << Err();

  // Two tools at once while the program serves, round after round: each change goes through
  // the program in turn, and every change a tool reported done is in the file (before, most
  // rounds lost one).
  for (int round = 0; round < 12; ++round) {
    const bool on = round % 2 == 0;
    const std::string tool =
        "VELK_DDK_LIBRARY='" + std::string(VELK_DDK_SIM) + "' '" + VELK_CONFIG_TOOL + "' ";
    command = "cd '" + Path("") + "' && { (" + tool + "input 1.1 " + (on ? "on" : "off") +
              " 2>>live.err; echo $? >>live.status) & (" + tool + "log " + (on ? "on" : "off") +
              " 2>>live.err; echo $? >>live.status) & wait; }";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string settings = Read("Velk_VCP.CFG");
    EXPECT_NE(settings.find(on ? "\r\n1000:1" : "\r\n1000:0"), std::string::npos) << round;
    EXPECT_NE(settings.find(on ? "\r\n50:1\r\n" : "\r\n50:0\r\n"), std::string::npos) << round;
  }
  std::string allLive;
  for (int i = 0; i < 24; ++i) allLive += "0\n";
  EXPECT_EQ(Read("live.status"), allLive) << Read("live.err");
  EXPECT_EQ(Stop(pid), 0);
}

TEST_F(ConfigToolTest, TheProgramServesWhatWasConfiguredAndKeepsItsFolderWhileRunning) {
  for (const char* arguments :
       {"preset 1", "input 1.8 on A8 Z", "value-format --width 10 --decimal comma", "save station",
        "preset 0", "load station", "input 1.2 off", "ports 7", "log on", "password secret",
        "history on --max-mb 5", "mqtt mqtt://127.0.0.1:1 --prefix plant --station 'line 3'"}) {
    SCOPED_TRACE(arguments);
    EXPECT_EQ(Tool(arguments), std::make_pair(0, std::string()));
  }
  const pid_t pid = Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const int fd = OpenPort("COM7");
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Ask(fd, "RD1.1\r", "OK\r\n11=+00001,234\r\n"), "OK\r\n11=+00001,234\r\n");
  EXPECT_EQ(Ask(fd, "RDA8\r", "OK\r\nZ=+0000002,5\r\n"), "OK\r\nZ=+0000002,5\r\n");
  EXPECT_EQ(Ask(fd, "ID?\r", "MUX 8X8\r\n"), "MUX 8X8\r\n");
  close(fd);

  ASSERT_EQ(Tool("show").first, 0);
  const std::string shown = Read("tool.out");
  for (const char* line :
       {"command format: preset 1 (\"Multiplexer 8 x 8 (64 channels, 1.1 ... 8.8)\")\n",
        "port 1: COM7\n", "port 2: off\n",
        "input 1.1: on, command address \"1.1\", value address \"11\", released by the foot "
        "switch\n",
        "input 1.8: on, command address \"A8\", value address \"Z\", released by the foot "
        "switch\n",
        "value format: 10 characters, decimal comma, leading zeros on, plus sign on\n", "log: on\n",
        "password: set\n", "value history: on, kept below 5 MB\n",
        "mqtt: mqtt://127.0.0.1:1, prefix plant, station line 3\n"}) {
    EXPECT_NE(shown.find(line), std::string::npos) << line << "\nin\n" << shown;
  }
  EXPECT_EQ(shown.find("input 1.2:"), std::string::npos) << shown;

  // While it runs, a change goes through the program, which takes it over and keeps it.
  EXPECT_EQ(Tool("log off").first, 0);
  EXPECT_NE(Read("Velk_VCP.CFG").find("\r\n50:0\r\n"), std::string::npos);
  EXPECT_EQ(Stop(pid), 0);
  EXPECT_NE(Read("Velk_VCP.CFG").find("\r\n50:0\r\n"), std::string::npos);
}

}  // namespace
