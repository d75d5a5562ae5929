// Stop signals at awkward moments and a second instance on the same port: the shutdown runs
// once, no port link outlives its program, and a live port is never taken over.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "program_fixture.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kValue1 = "10:+0001.234\r\n";

std::string LinkTarget(const std::string& path) {
  std::error_code ec;
  return fs::read_symlink(path, ec).string();
}

size_t Entries(const std::string& folder) {
  std::error_code ec;
  size_t n = 0;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); ++it) {
    ++n;
  }
  return n;
}

class LifecycleFaultTest : public ProgramTest {
 protected:
  void SetUp() override { Write("Velk_VCP.CFG", FaultSettings()); }
};

TEST_F(LifecycleFaultTest, AStartCleansUpAfterAKilledSaveAndKeepsItsFilesPrivate) {
  // Left by a program killed while saving; beside them the user's own copies, which stay.
  Write(".Velk_VCP.CFG.velk-save.k1LLed", "10:1\r\n");
  Write(".Tuesday.con.velk-save.Xy12ab", "10:1\r\n");
  const char* const userCopies[] = {"Velk_VCP.CFG.backup", "Velk_VCP.CFG.orig01",
                                    "station.con.before", "Velk_VCP.CFG.k1LLed"};
  for (const char* name : userCopies) Write(name, "10:1\r\n");
  // A settings file copied readable for everyone (as cp makes it) that holds a password.
  Write("Velk_VCP.CFG", Read("Velk_VCP.CFG") + "60:secret\r\n");
  fs::permissions(Path("Velk_VCP.CFG"), fs::perms::owner_read | fs::perms::owner_write |
                                            fs::perms::group_read | fs::perms::others_read);
  Options options;
  options.umask = 0;
  const pid_t pid = Start(options);
  ASSERT_TRUE(WaitUntilServing()) << Err();
  EXPECT_FALSE(Exists(".Velk_VCP.CFG.velk-save.k1LLed"));
  EXPECT_FALSE(Exists(".Tuesday.con.velk-save.Xy12ab"));
  for (const char* name : userCopies) EXPECT_TRUE(Exists(name)) << name;
  const auto privateFile = fs::perms::owner_read | fs::perms::owner_write;
  EXPECT_EQ(fs::status(Path("Velk_VCP.CFG")).permissions() & fs::perms::all, privateFile);
  EXPECT_EQ(fs::status(Path("ports")).permissions() & fs::perms::all, fs::perms::owner_all);
  // Written in full at start, not only at the end.
  EXPECT_NE(Read("Velk_VCP.CFG").find("\r\n9000:0\r\n"), std::string::npos);
  EXPECT_EQ(fs::status(Path("Velk_VCP.LOG")).permissions() & fs::perms::all, privateFile);
  // The priority is raised where that is allowed, or standard error says it stays normal.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  for (int i = 0; i < 19 && stat >> field;) ++i;
  if (geteuid() == 0) {
    EXPECT_EQ(field, "-10");
  }
  if (field == "0") {
    EXPECT_NE(Err().find("priority stays normal"), std::string::npos) << Err();
  }
  EXPECT_EQ(Stop(pid), 0);
}

TEST_F(LifecycleFaultTest, StopSignalDuringStartUpRunsTheShutdownOnceAndLeavesNoLink) {
  // A link left by a dead run makes start-up remove stale ports and pause for 3 s.
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  fs::create_directory(Path("ports"));
  fs::create_symlink(ptsname(master), Path("ports/COM5"));

  const pid_t pid = Start();
  // The stale link goes just before the pause.
  for (int i = 0; i < 1000 && Exists("ports/COM5"); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_FALSE(Exists("ports/COM5")) << Err();
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(Out().find("serving;"), std::string::npos) << "start-up was already over";
  kill(pid, SIGTERM);
  EXPECT_EQ(Wait(pid), 0) << Err();
  close(master);
  EXPECT_FALSE(Exists("ports/COM5"));
  EXPECT_EQ(Entries(Path("ports")), 0u) << "a link or lock file was left behind";
  const std::string log = Read("Velk_VCP.LOG");
  EXPECT_EQ(Count(log, "Device_DeInit()"), 1u) << log;
  EXPECT_EQ(Count(log, "*** Programm-Ende ***"), 1u) << log;
}

TEST_F(LifecycleFaultTest, StopSignalsWhileAnsweringAnOpenClientRunTheShutdownOnce) {
  const pid_t pid = Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Ask(fd, "M1\r", kValue1), kValue1);
  std::string commands;
  for (int i = 0; i < 2000; ++i) commands += "M*\r";
  ASSERT_TRUE(WriteAll(fd, commands, 5s));
  kill(pid, SIGTERM);
  std::this_thread::sleep_for(20ms);
  kill(pid, SIGTERM);  // a second request during the shutdown changes nothing
  EXPECT_EQ(Wait(pid), 0) << Err();
  EXPECT_FALSE(Exists("ports/COM5"));
  EXPECT_EQ(Entries(Path("ports")), 0u);
  // The client's line is hung up, not left dangling.
  char byte;
  ssize_t n = 1;
  for (int i = 0; i < 100000 && n > 0; ++i) n = read(fd, &byte, 1);
  EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO));
  close(fd);
  const std::string log = Read("Velk_VCP.LOG");
  EXPECT_EQ(Count(log, "Device_DeInit()"), 1u);
  EXPECT_EQ(Count(log, "*** Programm-Ende ***"), 1u);
  EXPECT_TRUE(log.ends_with("*** Programm-Ende ***\r\n"));
}

TEST_F(LifecycleFaultTest, ASecondInstanceInTheFolderOrOnThePortTakesNothingAndEnds) {
  const pid_t first = Start(Options{}, "first");
  ASSERT_TRUE(WaitUntilServing("first")) << Err("first");
  const std::string target = LinkTarget(Path("ports/COM5"));
  ASSERT_TRUE(target.starts_with("/dev/pts/")) << target;
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  std::filesystem::create_directories(Path("other"));
  for (const char* name : {"Velk_VCP.CFG", "Velk_VCP.DDK", "VCP001.LAN", "LIB000.DRV"}) {
    if (Exists(name)) Write(std::string("other/") + name, Read(name));
  }

  // A second instance in the same folder would share its settings file and socket; one in
  // another folder on the same port folder finds COM5 taken. Either says so and ends; its end
  // leaves the first one's port alone.
  Options otherFolder;
  otherFolder.folder = "other";
  otherFolder.port_dir = Path("ports");
  const struct {
    const char* tag;
    Options options;
    const char* says;
  } cases[] = {
      {"same-folder", Options{}, "another Velk_VCP works in"},
      {"same-port", otherFolder, "The selected COM port cannot be used or created"},
  };
  for (const auto& c : cases) {
    const pid_t second = Start(c.options, c.tag);
    EXPECT_EQ(Wait(second), 1) << c.tag << Err(c.tag);
    EXPECT_NE(Err(c.tag).find(c.says), std::string::npos) << c.tag << Err(c.tag);
    EXPECT_EQ(Out(c.tag).find("serving"), std::string::npos) << c.tag << Out(c.tag);
    EXPECT_EQ(LinkTarget(Path("ports/COM5")), target) << c.tag;
    EXPECT_EQ(Ask(fd, "M1\r", kValue1), kValue1) << c.tag;
  }
  close(fd);
  EXPECT_EQ(Stop(first), 0);
  EXPECT_FALSE(Exists("ports/COM5"));
}

}  // namespace
