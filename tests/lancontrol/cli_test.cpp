// The velk-qentrix command-line tool against the test peer.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "gtest/gtest.h"
#include "qentrix_peer.h"

namespace velk::lan::testing {
namespace {

struct ToolRun {
  std::string output;
  int status = -1;
};

ToolRun RunTool(const std::string& arguments) {
  ToolRun run;
  FILE* tool = popen(("'" VELK_QENTRIX_TOOL "' " + arguments + " 2>&1").c_str(), "r");
  if (tool == nullptr) return run;
  char buffer[256];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, tool)) > 0) run.output.append(buffer, got);
  const int status = pclose(tool);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(peer.Start()); }
  std::string Target() { return "127.0.0.1 " + std::to_string(peer.port()) + " "; }
  QentrixPeer peer;
};

TEST_F(CliTest, PrintsOutputAndResult) {
  ToolRun run = RunTool(Target() + "get-act-char-value 3");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "3.25\nresult 0: success\n");

  run = RunTool(Target() + "set-usl 3 12.5");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "result 0: success\n");
  EXPECT_EQ(peer.Requests().back(), std::string("\x0c\x49\x03") + "12.500000");

  run = RunTool(Target() + "get-last-char-date-time 1");
  EXPECT_EQ(run.output, "14:05:09 - 05/11/2020\nresult 0: success\n");

  peer.QueueReply(QentrixPeer::Line("---"));
  run = RunTool(Target() + "get-char-name 1");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("result 2:"), std::string::npos);

  run = RunTool(Target() + "get-act-char-value 0");
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.output, "result 3: argument out of range\n");
}

TEST_F(CliTest, GetTriggerWaitsForAPushedRecord) {
  FILE* tool = popen(("'" VELK_QENTRIX_TOOL "' " + Target() + "get-trigger 3000").c_str(), "r");
  ASSERT_NE(tool, nullptr);
  ASSERT_TRUE(peer.WaitForConnections(1, std::chrono::seconds(3)));
  peer.Push(QentrixPeer::TriggerRecord(12, 0.5));
  char buffer[256] = "";
  std::string output;
  while (std::fgets(buffer, sizeof buffer, tool) != nullptr) output += buffer;
  EXPECT_EQ(pclose(tool), 0);
  EXPECT_EQ(output, "12 0.5\nresult 0: success\n");
}

TEST_F(CliTest, RejectsBadUsage) {
  EXPECT_EQ(RunTool(Target() + "no-such-command").status, 64);
  EXPECT_EQ(RunTool(Target() + "get-act-char-value").status, 64);
  EXPECT_EQ(RunTool(Target() + "get-act-char-value x").status, 64);
  EXPECT_EQ(RunTool(Target() + "get-act-char-value 99999").status, 64);
  EXPECT_EQ(RunTool("127.0.0.1 0 get-act-test-order").status, 64);
  const ToolRun help = RunTool("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("set-usl C VALUE"), std::string::npos);
}

}  // namespace
}  // namespace velk::lan::testing
