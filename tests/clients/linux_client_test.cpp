// pyserial on a real port of the headless program: with velk-client it sets DTR, RTS, 7E1
// and 7E2 and reads CTS, DSR and DCD; without it the pseudo-terminal refuses. The layer leaves
// every other descriptor to the system: the same outcomes with and without it.
#include <gtest/gtest.h>

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

  // The check script on the port COM5, run from the program's folder (whose "ports" folder
  // velk-client finds by itself) with or without the layer.
  ClientRun Check(bool with_layer, const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    if (with_layer) argv.push_back(kVelkClient);
    argv.insert(argv.end(), {"/usr/bin/python3", VELK_SERIAL_CHECK});
    argv.insert(argv.end(), args.begin(), args.end());
    return RunClient(argv, Path(""), {{"VELK_VCP_PORT_DIR", ""}, {"VELK_CLIENT_PORTS", ""}});
  }
};

TEST_F(ClientLayerTest, PyserialSetsLinesAndFrameOnlyUnderVelkClient) {
  const struct {
    bool with_layer;
    int status;
  } kCases[] = {{true, 0}, {false, 1}};
  for (const auto& c : kCases) {
    const ClientRun run = Check(c.with_layer, {"port", "ports/COM5", "M1", "10:+0001.234"});
    EXPECT_EQ(run.status, c.status) << "with layer " << c.with_layer << ":\n" << run.output;
    if (c.with_layer) {
      EXPECT_EQ(Count(run.output, "ok "), 11u) << run.output;
      EXPECT_EQ(Count(run.output, "FAIL"), 0u) << run.output;
    }
  }
}

TEST_F(ClientLayerTest, DescriptorsThatAreNotPortsAreLeftToTheSystem) {
  const ClientRun alone = Check(false, {"others", "ports/COM5"});
  const ClientRun layered = Check(true, {"others", "ports/COM5"});
  ASSERT_EQ(alone.status, 0) << alone.output;
  ASSERT_EQ(layered.status, 0) << layered.output;
  EXPECT_EQ(Count(alone.output, "\n"), 30u) << alone.output;
  EXPECT_EQ(layered.output, alone.output);
}

}  // namespace
