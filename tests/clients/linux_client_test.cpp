// pyserial on a real port of the headless program: with velk-client it sets DTR, RTS, 7E1
// and 7E2 and reads CTS, DSR and DCD on a port it recognises (in the port folder or named by
// -p); elsewhere, and without the layer, the pseudo-terminal refuses the modem lines and
// silently keeps 8 data bits without parity, while the exchange itself works. The layer
// leaves every other descriptor to the system: the same outcomes with and without it.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <thread>

#include "client_process.h"
#include "program_fixture.h"

#ifndef VELK_QSERIALPORT_CLIENT
#define VELK_QSERIALPORT_CLIENT ""
#endif

namespace {

const std::string kVelkClient = std::string(VELK_RUN_DIR) + "/velk-client";

class ClientLayerTest : public ProgramTest {
 protected:
  void SetUp() override {
    Write("Velk_VCP.CFG", FaultSettings());
    program_ = Start();
    ASSERT_TRUE(WaitUntilServing()) << Out() << Err();
  }

  // The check script run from the program's folder, through the launcher with its options
  // (none: without the layer).
  ClientRun Check(const std::vector<std::string>& launcher, const std::vector<std::string>& args) {
    std::vector<std::string> argv = launcher;
    argv.insert(argv.end(), {"/usr/bin/python3", VELK_SERIAL_CHECK});
    argv.insert(argv.end(), args.begin(), args.end());
    return RunClient(argv, Path(""), {{"VELK_VCP_PORT_DIR", ""}, {"VELK_CLIENT_PORTS", ""}});
  }

  pid_t program_ = -1;
};

TEST_F(ClientLayerTest, PyserialSetsLinesAndFrameOnlyOnRecognisedPorts) {
  std::filesystem::create_directory(Path("empty"));
  // Without the layer, pyserial opens at 7E1 without an error, but the pseudo-terminal keeps 8
  // data bits and no parity (octal 60): the line is 8N1. Setting the frame again on the open
  // port fails ("Invalid argument") where nothing else changes, or keeps 8 data bits without
  // parity where the stop bits change (8N2, octal 160). The request is answered.
  const std::vector<std::string> kKept = {"FAIL open-frame cflag frame 0o60\n", "FAIL lines",
                                          "FAIL frame 7E2 cflag frame 0o160\n", "ok request"};
  const struct {
    std::vector<std::string> launcher;
    int status;
    std::vector<std::string> outcome;
  } kCases[] = {
      {{kVelkClient}, 0, {}},                                     // the folder ./ports
      {{kVelkClient, "-d", "empty", "-p", "ports/COM5"}, 0, {}},  // a port given by path
      {{kVelkClient, "-d", "empty"}, 1, kKept},                   // a folder without the port
      {{}, 1, kKept},                                             // no layer
  };
  for (const auto& c : kCases) {
    const size_t departures = Departures();
    const ClientRun run = Check(c.launcher, {"port", "ports/COM5", "M1", "10:+0001.234"});
    WaitForDeparture(departures);
    EXPECT_EQ(run.status, c.status) << c.launcher.size() << " launcher words:\n" << run.output;
    if (c.status == 0) {
      EXPECT_EQ(Count(run.output, "ok "), 12u) << run.output;
      EXPECT_EQ(Count(run.output, "FAIL"), 0u) << run.output;
    }
    for (const std::string& line : c.outcome) {
      EXPECT_NE(run.output.find(line), std::string::npos) << line << " in:\n" << run.output;
    }
    EXPECT_EQ(run.output.find("FAIL open-7E1"), std::string::npos) << run.output;
  }
}

TEST_F(ClientLayerTest, DescriptorsThatAreNotPortsAreLeftToTheSystem) {
  const ClientRun alone = Check({}, {"others", "ports/COM5"});
  const ClientRun layered = Check({kVelkClient}, {"others", "ports/COM5"});
  ASSERT_EQ(alone.status, 0) << alone.output;
  ASSERT_EQ(layered.status, 0) << layered.output;
  EXPECT_EQ(Count(alone.output, "\n"), 30u) << alone.output;
  EXPECT_EQ(layered.output, alone.output);
}

// Terminal programs and Qt's QSerialPort on the port, each sending M1 and reading the answer,
// with and without the layer: what works, and what 7 data bits with even parity need.
TEST_F(ClientLayerTest, ClientProgramsExchangeWithThePort) {
  const std::string picocom =
      " --initstring \"$(printf 'M1\\r')\" --exit-after 1500 ports/COM5 </dev/null 2>&1";
  const std::string tio = " --response-wait --response-timeout 3000 ports/COM5 2>&1";
  const std::string socat = "printf 'M1\\r' | socat -t 1 - FILE:ports/COM5,raw,echo=0";
  const std::string qt = std::string(VELK_QSERIALPORT_CLIENT) + " ";
  const std::string kAnswer = "10:+0001.234";
  const struct {
    bool layer;
    std::string command;
    std::string expected;
    std::string absent;
  } kCases[] = {
      {false,
       "/usr/bin/python3 -c \"import serial; s = serial.Serial('ports/COM5', timeout=5); "
       "s.write(b'M1\\r'); print(s.readline())\"",
       kAnswer, ""},
      {false, "picocom" + picocom, kAnswer, "mismatch"},
      {false, "picocom -d 7 -y e" + picocom, "Settings mismatch", ""},
      {true, "picocom -d 7 -y e" + picocom, kAnswer, "mismatch"},
      {false, "printf 'M1\\r' | tio" + tio, kAnswer, ""},
      {true, "printf 'M1\\r' | tio -d 7 -p even" + tio, kAnswer, ""},
      {false, socat, kAnswer, ""},
      {false, socat + ",cs7,parenb=1 2>&1", "Invalid argument", kAnswer},
      {true, socat + ",cs7,parenb=1", kAnswer, ""},
      {false, qt + "ports/COM5 8N1 M1", "No such file or directory", kAnswer},  // /dev/ports/COM5
      {false, qt + "./ports/COM5 8N1 M1", "error", kAnswer},
      {true, qt + "./ports/COM5 7E1 M1", "answer " + kAnswer + "\ndtr 1 cts 1", ""},
      {true, qt + "$PWD/ports/COM5 7E1 M1", "answer " + kAnswer, ""},
  };
  for (const auto& c : kCases) {
    if (c.command.rfind(" ", 0) == 0) continue;  // a client not built here
    std::vector<std::string> argv{"/bin/sh", "-c", c.command};
    if (c.layer) argv.insert(argv.begin(), kVelkClient);
    // The clients run as root: each starts once the program has seen the last one leave.
    const size_t departures = Departures();
    const ClientRun run = RunClient(argv, Path(""), {{"VELK_VCP_PORT_DIR", ""}});
    WaitForDeparture(departures);
    EXPECT_NE(run.output.find(c.expected), std::string::npos)
        << (c.layer ? "velk-client " : "") << c.command << ":\n"
        << run.output;
    if (!c.absent.empty()) {
      EXPECT_EQ(run.output.find(c.absent), std::string::npos) << c.command << ":\n" << run.output;
    }
  }
}

// A client that closes its port and opens it again at once, in one thread, in another and in
// a child process in turn, while the program is held up (stopped for 800 ms) right then, as on
// a loaded machine: the open waits until the program has moved the port to a fresh terminal
// and gets its answer. The client runs without CAP_SYS_ADMIN, which the exclusive mode binds.
TEST_F(ClientLayerTest, AClosedPortOpensAgainAtOnceWhileTheProgramIsSlowToMoveIt) {
  std::vector<std::string> argv;
  if (geteuid() == 0) argv = {"setpriv", "--bounding-set=-sys_admin", "--inh-caps=-sys_admin"};
  argv.insert(argv.end(), {kVelkClient, LAYER_CHECK, "reconnect", "ports/COM5"});
  const ClientRun run =
      RunClient(argv, Path(""), {{"VELK_VCP_PORT_DIR", ""}}, [&](const std::string& line) {
        if (line.rfind("answered ", 0) != 0) return;
        kill(program_, SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        kill(program_, SIGCONT);
      });
  kill(program_, SIGCONT);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Count(run.output, " 10:+0001.234\n"), 6u) << run.output;
  EXPECT_EQ(Count(run.output, "FAIL"), 0u) << run.output;
}

}  // namespace
