// The device library of the running program missing, or answering with every status.
#include <sys/wait.h>
#include <unistd.h>

#include "program_fixture.h"

namespace {

using namespace std::chrono_literals;

TEST_F(ProgramTest, AMissingDeviceLibraryEndsStartUpWithText112AndLeavesNoPort) {
  const std::string settings = FaultSettings();
  Write("Velk_VCP.CFG", settings);
  Options options;
  options.library = Path("missing/libVelk_DDK.so");
  const pid_t pid = Start(options);
  EXPECT_EQ(Wait(pid), 1);
  const std::string err = Err();
  EXPECT_EQ(Count(err, "cannot load the device library"), 1u) << err;
  EXPECT_EQ(Count(err, "The device driver library could not be started"), 1u) << err;
  EXPECT_EQ(Out().find("serving;"), std::string::npos);
  EXPECT_FALSE(Exists("ports/COM5"));
  // The settings were written back, not lost.
  const std::string back = Read("Velk_VCP.CFG");
  EXPECT_NE(back.find("\r\n1001:1\r\n1002:10\r\n"), std::string::npos) << back;
  EXPECT_NE(back.find("\r\n1036:8\r\n1037:80\r\n"), std::string::npos) << back;
}

TEST_F(ProgramTest, EveryDeviceStatusGetsItsAnswerOrNone) {
  Write("Velk_VCP.CFG", FaultSettings());
  const pid_t pid = Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Ask(fd, "M1\r", 14), "10:+0001.234\r\n");
  EXPECT_EQ(Ask(fd, "M2\r", 13), "20:NO VALUE\r\n");
  EXPECT_EQ(Ask(fd, "M3\r", 17), "30:OUT OF RANGE\r\n");
  EXPECT_EQ(Ask(fd, "M5\r", 13), "50:NO VALUE\r\n");
  EXPECT_EQ(Ask(fd, "M7\r", 13), "70:NO VALUE\r\n");
  // Negative statuses send nothing: the next answer is the next command's.
  EXPECT_EQ(Ask(fd, "M4\rM6\rM8\r", 14), "80:+000002.5\r\n");
  EXPECT_EQ(Ask(fd, "M*\r", 200),
            "10:+0001.234\r\n20:NO VALUE\r\n30:OUT OF RANGE\r\n50:NO VALUE\r\n70:NO VALUE\r\n"
            "80:+000002.5\r\n");
  close(fd);
  EXPECT_EQ(Stop(pid), 0);
  const std::string log = Read("Velk_VCP.LOG");
  EXPECT_NE(log.find("Device_Value(1,4)=-1\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Device_Value(1,6)=-32768\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Device_Value(1,7)=32767\r\n"), std::string::npos) << log;
}

// The device file goes bad while the program serves (emptied by hand), then the tool makes a
// live change: the change is refused and says why, the program keeps its port and client, and a
// reload after the file is mended brings the gauges back.
TEST_F(ProgramTest, ADeviceFileBrokenWhileServingKeepsThePortsThroughALiveChange) {
  Write("Velk_VCP.CFG", FaultSettings());
  const pid_t pid = Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  ASSERT_EQ(Ask(fd, "M1\r", 14), "10:+0001.234\r\n");
  const std::string tool = "'" + std::string(VELK_CONFIG_TOOL) + "' --dir '" + Path("") + "' ";
  for (const char* broken : {"", "no device file at all\n"}) {
    SCOPED_TRACE(broken);
    Write("Velk_VCP.DDK", broken);
    const int status = Shell(tool + "input 1.2 off 2>'" + Path("tool.err") + "'");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
    EXPECT_NE(Read("tool.err").find("does not start"), std::string::npos) << Read("tool.err");
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the program ended: " << Err();
    EXPECT_TRUE(Exists("ports/COM5"));
    // No gauge answers meanwhile, but the client keeps its port.
    ASSERT_TRUE(WriteAll(fd, "M1\r", 1s));
    EXPECT_EQ(ReadFor(fd, 1, 300ms), "");
    Write("Velk_VCP.DDK", kFaultDdk);
    EXPECT_EQ(Shell(tool + "reload"), 0);
    EXPECT_EQ(Ask(fd, "M1\r", 14), "10:+0001.234\r\n");
  }
  close(fd);
  EXPECT_EQ(Stop(pid), 0);
}

}  // namespace
