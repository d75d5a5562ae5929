// Files of the running program that cannot be written: the settings file on a full disk or in
// a read-only folder keeps its old content, and a log that cannot be written is reported
// while serving goes on.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "program_fixture.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kValue1 = "10:+0001.234\r\n";

// Names in folder that start with prefix.
size_t Starting(const std::string& folder, const std::string& prefix) {
  size_t n = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with(prefix)) ++n;
  }
  return n;
}

class FileFaultTest : public ProgramTest {
 protected:
  ~FileFaultTest() override {
    if (!mounted_.empty()) umount2(mounted_.c_str(), MNT_DETACH);
  }

  // Serves one command on COM5 and stops the program; returns its exit status.
  int ServeOnce(const Options& options, const std::string& portPath) {
    const pid_t pid = Start(options);
    EXPECT_TRUE(WaitUntilServing()) << Err();
    const int fd = open(portPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0) << Err();
    if (fd >= 0) {
      EXPECT_EQ(Ask(fd, "M1\r", kValue1), kValue1);
      close(fd);
    }
    return Stop(pid);
  }

  // Mounts a tmpfs of size bytes, private to this test process, on the subfolder name and
  // fills it with the files the program needs. False when this process may not mount.
  bool MountSmallFolder(const std::string& name, size_t size) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      return false;
    }
    fs::create_directory(Path(name));
    const std::string options = "size=" + std::to_string(size);
    if (mount("tmpfs", Path(name).c_str(), "tmpfs", 0, options.c_str()) != 0) return false;
    mounted_ = Path(name);
    for (const char* file : {"Velk_VCP.CFG", "Velk_VCP.DDK", "VCP001.LAN", "LIB000.DRV"}) {
      fs::copy_file(Path(file), Path(name + "/" + file));
    }
    return true;
  }

  std::string mounted_;
};

TEST_F(FileFaultTest, FileSizeLimitKeepsTheOldSettingsAndTheLogFailureIsReportedOnce) {
  const std::string old = FaultSettings();
  Write("Velk_VCP.CFG", old);
  Options options;
  // Room for the program's own messages, not for a settings file or a long log.
  options.file_size_limit = 2048;
  const pid_t pid = Start(options);
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  // Each round logs some 400 bytes; the answers go on after the log has failed.
  const std::string all =
      "10:+0001.234\r\n20:NO VALUE\r\n30:OUT OF RANGE\r\n50:NO VALUE\r\n70:NO VALUE\r\n"
      "80:+000002.5\r\n";
  for (int i = 0; i < 20; ++i) ASSERT_EQ(Ask(fd, "M*\r", all), all);
  close(fd);
  EXPECT_EQ(Stop(pid), 0);
  EXPECT_EQ(Read("Velk_VCP.CFG"), old);
  EXPECT_EQ(Starting(Path(""), "Velk_VCP.CFG."), 0u) << "a temporary file was left";
  const std::string err = Err();
  EXPECT_EQ(Count(err, "settings not saved"), 2u) << err;  // at start and at the end
  EXPECT_EQ(Count(err, "the log file cannot be written"), 1u) << err;
  EXPECT_LE(Read("Velk_VCP.LOG").size(), 2048u);
  EXPECT_FALSE(Exists("ports/COM5"));
}

TEST_F(FileFaultTest, FullDiskKeepsTheOldSettings) {
  const std::string old = FaultSettings();
  Write("Velk_VCP.CFG", old);
  // Room for the files but not for a second copy of the settings beside the first.
  if (!MountSmallFolder("disk", 40 * 1024)) GTEST_SKIP() << "this process may not mount a tmpfs";
  Options options;
  options.folder = "disk";
  options.port_dir = Path("ports");
  EXPECT_EQ(ServeOnce(options, Path("ports/COM5")), 0);
  EXPECT_EQ(Read("disk/Velk_VCP.CFG"), old);
  EXPECT_EQ(Starting(Path("disk"), "Velk_VCP.CFG."), 0u) << "a temporary file was left";
  EXPECT_EQ(Count(Err(), "settings not saved"), 2u) << Err();  // at start and at the end
  EXPECT_FALSE(Exists("ports/COM5"));
}

TEST_F(FileFaultTest, ReadOnlyFolderKeepsTheOldSettingsAndServesWithoutLog) {
  const std::string old = FaultSettings();
  Write("Velk_VCP.CFG", old);
  if (!MountSmallFolder("readonly", 1 << 20)) GTEST_SKIP() << "this process may not mount a tmpfs";
  ASSERT_EQ(mount(nullptr, Path("readonly").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  Options options;
  options.folder = "readonly";
  options.port_dir = Path("ports");
  EXPECT_EQ(ServeOnce(options, Path("ports/COM5")), 0);
  EXPECT_EQ(Read("readonly/Velk_VCP.CFG"), old);
  const std::string err = Err();
  EXPECT_EQ(Count(err, "settings not saved"), 2u) << err;  // at start and at the end
  EXPECT_EQ(Count(err, "cannot open the log file"), 1u) << err;
  EXPECT_FALSE(Exists("ports/COM5"));
}

TEST_F(FileFaultTest, ALogFileThatCannotBeOpenedIsReportedAndServingGoesOn) {
  Write("Velk_VCP.CFG", FaultSettings());
  fs::create_directory(Path("Velk_VCP.LOG"));  // not even root opens a folder for writing
  EXPECT_EQ(ServeOnce(Options{}, Path("ports/COM5")), 0);
  const std::string err = Err();
  EXPECT_EQ(Count(err, "cannot open the log file"), 1u) << err;
  EXPECT_EQ(Count(err, "settings not saved"), 0u) << err;
  EXPECT_TRUE(fs::is_directory(Path("Velk_VCP.LOG")));
  EXPECT_NE(Read("Velk_VCP.CFG").find("\r\n1001:1\r\n"), std::string::npos);
}

}  // namespace
