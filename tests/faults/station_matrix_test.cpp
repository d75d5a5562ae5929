// The station as users meet it: the real program started from a first run's settings (the
// first free port, the shipped example settings), then fixed, several and every-port setups,
// each crossed with the value listeners (none, the history, MQTT with its broker there, away
// or stalled), taken through every live change the tool offers and a hand-over. Whatever the
// combination, the invariants hold: the port links stay, each holder keeps its session and gets
// only its own answers, every command is answered once and whole, values are recorded with the
// port that answered them, and the tool's exit status tells the truth.
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "loopback.h"
#include "program_fixture.h"
#include "start_process.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// What the example device file's gauges 1.1 and 2.1 answer with the example settings.
const std::string kGauge11 = "10:+0025.012\r\n";
const std::string kGauge21 = "50:+0018.003\r\n";

enum class StartFrom { FirstRun, Example, FixedPort, SeveralPorts, EveryPort };
enum class Listeners { None, History, BrokerThere, BrokerAway, BrokerStalled };

const char* SetupName(StartFrom s) {
  switch (s) {
    case StartFrom::FirstRun:
      return "FirstRun";
    case StartFrom::Example:
      return "Example";
    case StartFrom::FixedPort:
      return "FixedPort";
    case StartFrom::SeveralPorts:
      return "SeveralPorts";
    case StartFrom::EveryPort:
      return "EveryPort";
  }
  return "";
}

const char* ListenersName(Listeners l) {
  switch (l) {
    case Listeners::None:
      return "NoListeners";
    case Listeners::History:
      return "History";
    case Listeners::BrokerThere:
      return "BrokerThere";
    case Listeners::BrokerAway:
      return "BrokerAway";
    case Listeners::BrokerStalled:
      return "BrokerStalled";
  }
  return "";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string LinkTarget(const std::string& path) {
  std::error_code ec;
  return fs::read_symlink(path, ec).string();
}

using Params = std::tuple<StartFrom, Listeners>;

class StationMatrixTest : public ProgramTest, public ::testing::WithParamInterface<Params> {
 protected:
  // One client of one port: what it asks and what alone it may get back.
  struct Held {
    std::string name;  // COM name
    std::string link;  // the pty behind the link when it was opened
    int fd = -1;
    std::string command;
    std::string answer;
  };

  ~StationMatrixTest() override {
    for (Held& h : held_) {
      if (h.fd >= 0) close(h.fd);
    }
    if (stalled_ >= 0) close(stalled_);
    if (broker_ > 0) {
      kill(broker_, SIGTERM);
      waitpid(broker_, nullptr, 0);
    }
  }

  // The shipped example: device file, settings (port 1 the first free number), presets.
  void WriteSettings(StartFrom setup) {
    Write("Velk_VCP.DDK", ReadFile(std::string(VELK_DATA_DIR) + "/Velk_VCP.DDK"));
    if (setup == StartFrom::FirstRun) return;  // no settings file at all
    std::string settings = ReadFile(std::string(VELK_DATA_DIR) + "/examples/Velk_VCP.CFG");
    if (setup == StartFrom::FixedPort) settings += "20:5\r\n";
    if (setup == StartFrom::SeveralPorts || setup == StartFrom::EveryPort)
      settings += "20:5\r\n82:6\r\n";
    if (setup == StartFrom::EveryPort) settings += "96:1\r\n";
    Write("Velk_VCP.CFG", settings);
  }

  // Runs velk-vcp-config in the folder; returns its exit status (its standard error in
  // tool_err_).
  int Tool(const std::string& arguments) {
    const int status =
        Shell("'" + std::string(VELK_CONFIG_TOOL) + "' --dir '" + Path("") + "' " + arguments +
              " >'" + Path("tool.out") + "' 2>'" + Path("tool.err") + "'");
    tool_err_ = Read("tool.err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void StartBroker() {
    broker_port_ = FreePort();
    Write("broker.conf", "listener " + std::to_string(broker_port_) +
                             " 127.0.0.1\nallow_anonymous true\npersistence false\n");
    ProcessStart broker;
    broker.argv = {"mosquitto", "-c", Path("broker.conf")};
    broker.output_file = Path("broker.log");
    broker_ = StartProcess(broker);
    ASSERT_TRUE(WaitFor([&] {
      const int s = ConnectLoopback(broker_port_);
      if (s >= 0) close(s);
      return s >= 0;
    })) << Read("broker.log");
  }

  // Every client asks, gets exactly its own answer once and whole, and still holds the same
  // pseudo-terminal behind its link.
  void EveryHolderAnswered(const std::string& after) {
    SCOPED_TRACE(after);
    for (Held& h : held_) {
      EXPECT_EQ(LinkTarget(Path("ports/" + h.name)), h.link) << h.name << ": the link moved";
      if (h.command.empty()) continue;
      ASSERT_TRUE(WriteAll(h.fd, h.command, 5s)) << h.name;
      EXPECT_EQ(ReadFor(h.fd, h.answer.size(), 5s), h.answer) << h.name << Err();
      // Nothing more follows: no doubled, late or foreign answer.
      EXPECT_EQ(ReadFor(h.fd, 1, 30ms), "") << h.name;
    }
  }

  pid_t pid_ = -1;
  std::vector<Held> held_;
  std::string tool_err_;
  pid_t broker_ = -1;
  int broker_port_ = 0;
  int stalled_ = -1;
};

TEST_P(StationMatrixTest, InvariantsHoldThroughEveryLiveChangeAndAHandOver) {
  const auto [setup, listeners] = GetParam();
  WriteSettings(setup);
  // The listeners that the program starts with; the others are switched on live below.
  std::string mqttUrl;
  if (listeners == Listeners::BrokerThere) {
    StartBroker();
    mqttUrl = "mqtt://127.0.0.1:" + std::to_string(broker_port_);
  } else if (listeners == Listeners::BrokerAway) {
    mqttUrl = "mqtt://127.0.0.1:" + std::to_string(FreePort());
  } else if (listeners == Listeners::BrokerStalled) {
    // Takes the connection into its backlog and never answers it.
    int bound = 0;
    stalled_ = ListenLoopback(0, bound);
    ASSERT_GE(stalled_, 0);
    mqttUrl = "mqtt://127.0.0.1:" + std::to_string(bound);
  }
  if (!mqttUrl.empty()) {
    ASSERT_EQ(Tool("mqtt " + mqttUrl + " --station matrix"), 0) << tool_err_;
  }
  if (listeners == Listeners::History) {
    ASSERT_EQ(Tool("history on"), 0) << tool_err_;
  }

  pid_ = Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const bool several = setup == StartFrom::SeveralPorts || setup == StartFrom::EveryPort;
  // The first free number on a fresh port folder is COM1.
  const std::string first =
      setup == StartFrom::FirstRun || setup == StartFrom::Example ? "COM1" : "COM5";
  ASSERT_NE(Out().find("slot 1 simulates " + first + " at "), std::string::npos) << Out();

  // A client on slot 1; with every port answering, a second client on slot 2 with a command
  // whose answer tells the two apart. In served-slot mode slot 2's client is answered nothing.
  // A first run without settings has no input on: M1 is an undefined command ("?").
  const bool hasInputs = setup != StartFrom::FirstRun;
  held_.push_back({first, LinkTarget(Path("ports/" + first)), OpenPort(first), "M1\r",
                   hasInputs ? kGauge11 : "?\r\n"});
  if (several) {
    // Unserved, slot 2's client asks nothing until every port answers.
    const bool answered = setup == StartFrom::EveryPort;
    held_.push_back({"COM6", LinkTarget(Path("ports/COM6")), OpenPort("COM6"),
                     answered ? "M5\r" : "", answered ? kGauge21 : ""});
  }
  for (const Held& h : held_) ASSERT_GE(h.fd, 0) << h.name;
  EveryHolderAnswered("start");

  const int network = FreePort();
  std::vector<std::string> changes = {
      "input 1.3 off",
      "log on",
      "reload",
      "net 1 " + std::to_string(network) + " raw",
      "net 1 " + std::to_string(network) + " raw --bind 0.0.0.0 --allow 127.0.0.1/32",
      "history on",
      "shared-ports on",
      "shared-ports off",
      "net 1 off",
  };
  if (several) changes.push_back(setup == StartFrom::EveryPort ? "serve 2" : "every-port on");
  if (listeners == Listeners::BrokerStalled || listeners == Listeners::BrokerAway) {
    changes.push_back("mqtt off");
  }
  if (listeners == Listeners::None) changes.push_back("history off");
  for (const std::string& change : changes) {
    EXPECT_EQ(Tool(change), 0) << change << ": " << tool_err_;
    EXPECT_EQ(tool_err_.find("kept its settings"), std::string::npos) << change << tool_err_;
    if (change == "every-port on") {
      held_[1].command = "M5\r";
      held_[1].answer = kGauge21;
    }
    EveryHolderAnswered(change);
    if (change.find("--bind 0.0.0.0") != std::string::npos) {
      // The slot is held on its pty: a connection over the network is told so, not served.
      const int remote = ConnectLoopback(network);
      ASSERT_GE(remote, 0) << "the moved network port does not listen";
      EXPECT_NE(ReadFor(remote, 1, 5s), "");
      close(remote);
    }
  }

  // A hand-over (the program runs itself again): each client keeps its port and session.
  const size_t handOvers = Count(Out(), "handing the ports over");
  ASSERT_EQ(kill(pid_, SIGUSR2), 0);
  ASSERT_TRUE(WaitFor([&] { return Count(Out(), "serving;") > handOvers + 1; }, 30s)) << Err();
  EveryHolderAnswered("hand-over");

  // What the history holds was recorded with the port that answered it. Every run switches
  // the history on live, and the run without listeners off again.
  if (listeners != Listeners::None) {
    ASSERT_EQ(Tool("values --json"), 0) << tool_err_;
    std::istringstream rows(Read("tool.out"));
    int recorded = 0;
    for (std::string row; std::getline(rows, row);) {
      const nlohmann::json value = nlohmann::json::parse(row, nullptr, false);
      ASSERT_TRUE(value.is_object()) << row;
      const bool slot2 = value.value("text", "").starts_with("50:");
      EXPECT_EQ(value.value("slot", 0), slot2 ? 2 : 1) << row;
      EXPECT_EQ(value.value("port", ""), slot2 ? "COM6" : first) << row;
      ++recorded;
    }
    if (hasInputs) {
      EXPECT_GT(recorded, 0);
    }
  }
  for (Held& h : held_) {
    close(h.fd);
    h.fd = -1;
  }
  EXPECT_EQ(Stop(pid_), 0) << Err();
  EXPECT_FALSE(Exists("ports/" + first));
}

std::string ParamName(const ::testing::TestParamInfo<Params>& info) {
  return std::string(SetupName(std::get<0>(info.param))) + "_" +
         ListenersName(std::get<1>(info.param));
}

// Every setup with every listener variant: twenty-five runs of a few seconds each.
INSTANTIATE_TEST_SUITE_P(
    Station, StationMatrixTest,
    ::testing::Combine(::testing::Values(StartFrom::FirstRun, StartFrom::Example,
                                         StartFrom::FixedPort, StartFrom::SeveralPorts,
                                         StartFrom::EveryPort),
                       ::testing::Values(Listeners::None, Listeners::History,
                                         Listeners::BrokerThere, Listeners::BrokerAway,
                                         Listeners::BrokerStalled)),
    ParamName);

}  // namespace
