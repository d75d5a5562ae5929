// Clients that misbehave on a port of the running program: they leave in the middle of a
// command or of an answer, flood the port, or never read what they are sent.
#include <termios.h>
#include <unistd.h>

#include <thread>
#include <vector>

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
  // Waits (at most 10 s) until the program has logged n departures: only a client that opens
  // after that is certain to be told apart from the one that left.
  bool WaitForDepartures(size_t n) {
    for (int i = 0; i < 1000 && Count(Read("Velk_VCP.LOG"), "VCP=Closed") < n; ++i) {
      std::this_thread::sleep_for(10ms);
    }
    return Count(Read("Velk_VCP.LOG"), "VCP=Closed") >= n;
  }
  pid_t pid_ = -1;
};

TEST_F(ClientFaultTest, AClientLeavingMidCommandLeavesNothingForTheNextClient) {
  int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WriteAll(fd, "M", 1s));
  std::this_thread::sleep_for(500ms);  // the program has taken the fragment
  close(fd);
  ASSERT_TRUE(WaitForDepartures(1));

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
  ASSERT_TRUE(WaitForDepartures(1));

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

TEST_F(ClientFaultTest, AClientThatStopsReadingHoldsBackItsOwnCommandsAndLosesNoAnswer) {
  // Without the log, so that the test measures the port and not the disk.
  ASSERT_EQ(Stop(pid_), 0);
  Serve(false);

  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  std::this_thread::sleep_for(100ms);
  const long before = ResidentKb(pid_);
  std::string flood;
  for (int i = 0; i < 300'000; ++i) flood += "M1\r";
  // The client writes without reading: once its answers pile up the program stops taking
  // its commands, so its own writes wait.
  const size_t written = WriteWithoutReading(fd, flood, 3s);
  EXPECT_LT(written, flood.size()) << "the program took commands without bound";
  if (MemoryIsMeasurable()) {
    EXPECT_LT(ResidentKb(pid_) - before, 16 * 1024);
  }
  // Then it reads: every command it could write is answered, whole and in order.
  const size_t commands = written / 3;
  const std::string got = ReadFor(fd, commands * kValue1.size(), 60s);
  ASSERT_EQ(got.size(), commands * kValue1.size());
  for (size_t k = 0; k < got.size(); k += kValue1.size()) {
    ASSERT_EQ(got.compare(k, kValue1.size(), kValue1), 0) << "answer " << k / kValue1.size();
  }
  // The command cut by the stalled write is completed and answered, then a new one.
  const std::string cut = written % 3 != 0 ? flood.substr(written, 3 - written % 3) : "";
  const std::string expected = (cut.empty() ? "" : kValue1) + kValue8;
  EXPECT_EQ(Ask(fd, cut + "M8\r", expected), expected);
  close(fd);
  EXPECT_EQ(Stop(pid_), 0);
  EXPECT_EQ(Err().find("dropped"), std::string::npos) << Err();
}

TEST_F(ClientFaultTest, NoClientEverGetsTheAnswerToAnotherClientsCommand) {
  // A client sends a command and leaves at once; the next one opens the port right after
  // (or a little later), discards what it finds as serial software does on opening, and asks
  // for another channel. The first answer it reads is its own; its command may have to be
  // repeated when it came too close to the departure.
  for (const auto gap : {0ms, 2ms}) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      const int leaving = OpenPort("COM5");
      ASSERT_GE(leaving, 0);
      ASSERT_TRUE(WriteAll(leaving, "M8\r", 1s));
      close(leaving);
      std::this_thread::sleep_for(gap);
      const int fd = OpenPort("COM5");
      ASSERT_GE(fd, 0);
      tcflush(fd, TCIFLUSH);
      std::string got;
      for (int ask = 0; ask < 5 && got.size() < kValue1.size(); ++ask) {
        ASSERT_TRUE(WriteAll(fd, "M1\r", 1s));
        got += ReadFor(fd, kValue1.size(), 400ms);
      }
      EXPECT_EQ(got, kValue1) << "gap " << gap.count() << " ms, attempt " << attempt;
      close(fd);
      std::this_thread::sleep_for(5ms);
    }
  }
  EXPECT_EQ(Stop(pid_), 0);
}

TEST_F(ClientFaultTest, ACommandSplitAcrossWritesIsAnsweredOnce) {
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  const struct {
    std::vector<std::string> pieces;
    std::string answers;
  } cases[] = {
      {{"M", "1", "\r"}, kValue1},
      {{"M1", "\rM", "8\r"}, kValue1 + kValue8},
      {{"M1\rM8", "\r"}, kValue1 + kValue8},
  };
  for (const auto& c : cases) {
    for (const std::string& piece : c.pieces) {
      ASSERT_TRUE(WriteAll(fd, piece, 1s));
      std::this_thread::sleep_for(15ms);  // more than a tick between the pieces
    }
    std::string got = ReadFor(fd, c.answers.size(), 5s);
    got += ReadFor(fd, 1, 100ms);  // nothing more
    EXPECT_EQ(got, c.answers) << c.pieces[0];
  }
  close(fd);
  EXPECT_EQ(Stop(pid_), 0);
}

}  // namespace
