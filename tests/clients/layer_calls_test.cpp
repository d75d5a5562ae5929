// The layer keeps the guarantees of the calls it wraps, on a pseudo-terminal of the test's own
// linked into a port folder as COM7: close from a signal handler and in children of a
// threaded program, the termios ioctls, a reopened port's fresh state, a port the program
// still holds exclusively for a moment, a port the layer makes exclusive as it opens it, and
// two openers of one port at the same instant.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "client_process.h"
#include "temp_dir.h"

namespace {

using namespace std::chrono_literals;

const std::string kVelkClient = std::string(VELK_RUN_DIR) + "/velk-client";

class LayerCallsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakeTempFolder("velk-layer");
    ASSERT_FALSE(folder_.empty());
    chmod(folder_.c_str(), 0755);
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    const std::string slave = ptsname(master_);
    chmod(slave.c_str(), 0666);
    port_ = folder_ + "/COM7";
    std::filesystem::create_symlink(slave, port_);
    slave_ = open(port_.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave_, 0);
  }
  void TearDown() override {
    close(slave_);
    close(master_);
    std::filesystem::remove_all(folder_);
  }

  ClientRun Check(const std::string& check, bool layer,
                  const std::function<void(const std::string&)>& on_line = {},
                  const std::string& other = "") {
    std::vector<std::string> argv;
    if (layer) argv = {kVelkClient, "-d", folder_};
    argv.insert(argv.end(), {LAYER_CHECK, check, port_});
    if (!other.empty()) argv.push_back(other);
    return RunClient(argv, folder_, {{"VELK_VCP_PORT_DIR", ""}, {"VELK_CLIENT_PORTS", ""}},
                     on_line);
  }

  std::string folder_;
  std::string port_;
  int master_ = -1;
  int slave_ = -1;
};

TEST_F(LayerCallsTest, CallsOnPortsKeepTheirGuarantees) {
  for (const char* check : {"signal-close", "fork-close", "termios", "reopened"}) {
    const ClientRun run = Check(check, true);
    EXPECT_EQ(run.status, 0) << check << ":\n" << run.output;
    EXPECT_NE(run.output.find("ok\n"), std::string::npos) << check << ":\n" << run.output;
  }
}

// Once the layer has opened a port, a second open fails (no serving program is needed for
// that), unless the port folder says its ports are shared.
TEST_F(LayerCallsTest, APortHeldExclusivelyOpensWhenReleasedWithin200Ms) {
  const struct {
    bool layer;
    bool released;
    bool shared;
    const char* outcome;
  } kCases[] = {
      {true, true, false, "opened\nsecond refused EBUSY\n"},
      {true, true, true, "opened\nsecond opened\n"},
      {true, false, false, "refused EBUSY\n"},
      {false, true, false, "refused EBUSY\n"},
  };
  for (const auto& c : kCases) {
    const std::string marker = folder_ + "/.shared-ports";
    if (c.shared) close(open(marker.c_str(), O_WRONLY | O_CREAT, 0600));
    ASSERT_EQ(ioctl(slave_, TIOCEXCL), 0);
    const ClientRun run = Check("exclusive", c.layer, [&](const std::string& line) {
      if (line != "opening" || !c.released) return;
      std::this_thread::sleep_for(50ms);
      ioctl(slave_, TIOCNXCL);
    });
    ioctl(slave_, TIOCNXCL);
    unlink(marker.c_str());
    if (run.status == 77) GTEST_SKIP() << "cannot run the client as an unprivileged user";
    EXPECT_NE(run.output.find(c.outcome), std::string::npos)
        << "layer " << c.layer << ", released " << c.released << ", shared " << c.shared << ":\n"
        << run.output;
  }
}

// Two threads, or two processes, released together open the port, by the same name or by two
// names of it (the terminal's own path, a link outside the folder), 20 rounds each: exactly
// one gets it, the other is refused with EBUSY after the layer's short retry.
TEST_F(LayerCallsTest, OfTwoOpenersAtTheSameInstantExactlyOneGetsThePort) {
  const std::string alias = folder_ + "-alias";
  std::filesystem::create_symlink(port_, alias);
  const std::string names[] = {"", std::filesystem::read_symlink(port_).string(), alias};
  for (const char* check : {"race-threads", "race-processes"}) {
    for (const std::string& other : names) {
      const ClientRun run = Check(check, true, {}, other);
      if (run.status == 77) GTEST_SKIP() << "cannot run the client as an unprivileged user";
      EXPECT_EQ(run.status, 0) << check << " " << other << ":\n" << run.output;
      EXPECT_EQ(run.output.find("FAIL"), std::string::npos) << check << " " << other << ":\n"
                                                            << run.output;
    }
  }
  std::filesystem::remove(alias);
}

// A busy port whose link moves to another terminal every 500 us while the layer matches
// it (as the program moves a port when its client leaves), in a folder of 200 further COM
// links that make each look at the folder take a while: no open is refused without the wait.
TEST_F(LayerCallsTest, ABusyPortWhoseLinkMovesIsMatchedAgain) {
  for (int n = 100; n < 300; ++n) {
    std::filesystem::create_symlink("/dev/null", folder_ + "/COM" + std::to_string(n));
  }
  chmod(folder_.c_str(), 0777);  // the client, run as nobody, moves the link
  const ClientRun run = Check("moving-link", true);
  if (run.status == 77) GTEST_SKIP() << "cannot run the client as an unprivileged user";
  EXPECT_EQ(run.status, 0) << "(-1: still running after the time limit)\n" << run.output;
  EXPECT_EQ(run.output.find("FAIL"), std::string::npos) << run.output;
}

}  // namespace
