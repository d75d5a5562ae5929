// Clients that misbehave on a port of the running program: they leave in the middle of a
// command or of an answer, flood the port, or never read what they are sent.
#include <unistd.h>

#include <thread>

#include "program_fixture.h"

namespace {

using namespace std::chrono_literals;

const std::string kValue1 = "10:+0001.234\r\n";
const std::string kValue8 = "80:+000002.5\r\n";
const std::string kUndefined = "?\r\n";

class ClientFaultTest : public ProgramTest {
 protected:
  void SetUp() override { Serve(true); }
  void Serve(bool log) {
    std::string settings = FaultSettings();
    if (!log) settings.replace(settings.find("50:1"), 4, "50:0");
    Write("Velk_VCP.CFG", settings);
    pid_ = Start(Options{}, log ? "run" : "quiet");
    ASSERT_TRUE(WaitUntilServing(log ? "run" : "quiet")) << Err();
  }
  pid_t pid_ = -1;
};

TEST_F(ClientFaultTest, AClientLeavingMidCommandLeavesNothingForTheNextClient) {
  int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WriteAll(fd, "M", 1s));
  std::this_thread::sleep_for(500ms);  // the program has taken the fragment
  close(fd);
  std::this_thread::sleep_for(200ms);

  fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  // The fragment is dropped when the next client arrives: its first command is answered.
  EXPECT_EQ(Ask(fd, "M1\r", kValue1), kValue1);
  EXPECT_EQ(Ask(fd, "M1\r", kValue1), kValue1);
  close(fd);
  EXPECT_EQ(Stop(pid_), 0);
  EXPECT_FALSE(Exists("ports/COM5"));
}

TEST_F(ClientFaultTest, AClientLeavingMidAnswerLeavesNothingForTheNextClient) {
  int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  // Far more answers than the port queues, and the client leaves before reading any.
  std::string commands;
  for (int i = 0; i < 5000; ++i) commands += "M*\r";
  ASSERT_TRUE(WriteAll(fd, commands, 10s));
  std::this_thread::sleep_for(100ms);
  close(fd);
  std::this_thread::sleep_for(300ms);

  fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(ReadFor(fd, 1, 200ms), "");
  EXPECT_EQ(Ask(fd, "M8\r", kValue8), kValue8);
  EXPECT_EQ(ReadFor(fd, 1, 200ms), "");
  close(fd);
  EXPECT_EQ(Stop(pid_), 0);
}

TEST_F(ClientFaultTest, TenMegabytesWithoutEndCharacterAreDiscardedAndLogged) {
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  std::this_thread::sleep_for(100ms);
  const long before = ResidentKb(pid_);
  const std::string flood(10 * 1024 * 1024, 'x');
  ASSERT_TRUE(WriteAll(fd, flood, 120s)) << "the program stopped reading";
  // What is left of the flood ends with the next end character as one undefined command.
  EXPECT_EQ(Ask(fd, "\r", kUndefined), kUndefined);
  EXPECT_EQ(Ask(fd, "M1\r", kValue1), kValue1);
  if (MemoryIsMeasurable()) {
    EXPECT_LT(ResidentKb(pid_) - before, 32 * 1024);
  }
  close(fd);
  EXPECT_EQ(Stop(pid_), 0);
  const std::string log = Read("Velk_VCP.LOG");
  EXPECT_GE(Count(log, "Receive buffer full: 9999 bytes discarded\r\n"), flood.size() / 9999);
  EXPECT_EQ(Count(log, "*** Programm-Ende ***"), 1u);
}

TEST_F(ClientFaultTest, AFloodOfValidCommandsFromAClientThatNeverReads) {
  // Without the log, so that the test measures the port and not the disk.
  ASSERT_EQ(Stop(pid_), 0);
  Serve(false);

  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  std::this_thread::sleep_for(100ms);
  const long before = ResidentKb(pid_);
  std::string flood;
  while (flood.size() < 10 * 1024 * 1024) flood += "M1\r";
  // The program keeps taking commands although nobody reads their answers.
  ASSERT_TRUE(WriteAll(fd, flood, 150s)) << "the program stopped reading";
  if (MemoryIsMeasurable()) {
    EXPECT_LT(ResidentKb(pid_) - before, 32 * 1024);
  }

  // Of the 48 MB of answers only a bounded tail waits (the port's queue and the answers to
  // commands still in the line); the answer to a new command comes after it.
  ASSERT_TRUE(WriteAll(fd, "M8\r", 5s));
  std::string got;
  for (int i = 0; i < 500 && !got.ends_with(kValue8); ++i) got += ReadFor(fd, 1 << 20, 20ms);
  EXPECT_TRUE(got.ends_with(kValue8));
  EXPECT_LT(got.size(), 1024u * 1024);
  EXPECT_EQ(Ask(fd, "M1\r", kValue1), kValue1);
  close(fd);
  EXPECT_EQ(Stop(pid_), 0);
}

}  // namespace
