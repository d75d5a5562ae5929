// pyserial on a real port of the headless program: with velk-client it sets DTR, RTS, 7E1
// and 7E2 and reads CTS, DSR and DCD on a port it recognises (in the port folder or named by
// -p); elsewhere, and without the layer, the pseudo-terminal refuses. The layer leaves
// every other descriptor to the system: the same outcomes with and without it.
#include <gtest/gtest.h>

#include <filesystem>

#include "client_process.h"
#include "program_fixture.h"

namespace {

const std::string kVelkClient = std::string(VELK_RUN_DIR) + "/velk-client";

class ClientLayerTest : public ProgramTest {
 protected:
  void SetUp() override {
    Write("Velk_VCP.CFG", FaultSettings());
    Start();
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
};

TEST_F(ClientLayerTest, PyserialSetsLinesAndFrameOnlyOnRecognisedPorts) {
  std::filesystem::create_directory(Path("empty"));
  const struct {
    std::vector<std::string> launcher;
    int status;
  } kCases[] = {
      {{kVelkClient}, 0},                                     // the folder ./ports
      {{kVelkClient, "-d", "empty", "-p", "ports/COM5"}, 0},  // a port given by path
      {{kVelkClient, "-d", "empty"}, 1},                      // a folder without the port
      {{}, 1},                                                // no layer
  };
  for (const auto& c : kCases) {
    const ClientRun run = Check(c.launcher, {"port", "ports/COM5", "M1", "10:+0001.234"});
    EXPECT_EQ(run.status, c.status) << c.launcher.size() << " launcher words:\n" << run.output;
    if (c.status == 0) {
      EXPECT_EQ(Count(run.output, "ok "), 11u) << run.output;
      EXPECT_EQ(Count(run.output, "FAIL"), 0u) << run.output;
    }
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

}  // namespace
