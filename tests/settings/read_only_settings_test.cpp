// A settings file that may not be written is still read (a read-only file or folder).
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings_file.h"
#include "temp_dir.h"

namespace {

// Makes path read-only for this process: by its mode, or for root (whom modes do not stop)
// by a read-only bind mount in a private mount namespace. False when neither is possible.
bool MakeReadOnly(const std::string& path) {
  if (geteuid() != 0) return chmod(path.c_str(), 0444) == 0;
  return unshare(CLONE_NEWNS) == 0 &&
         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
         mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

TEST(ReadOnlySettingsTest, AFileThatMayNotBeWrittenIsStillRead) {
  TempDir dir;
  SettingsRecord s;
  s.DeviceName = "Kept";
  s.NumOfChar = 12;
  s.VcpCom1 = 7;
  ASSERT_TRUE(WriteSettings("", s));
  const std::string before = dir.Read(kSettingsFileName);
  const std::string path = dir.path() + "/" + kSettingsFileName;
  if (!MakeReadOnly(path)) GTEST_SKIP() << "the file cannot be made read-only here";
  SettingsRecord r;
  EXPECT_TRUE(ReadSettings("", r));
  EXPECT_EQ(r.DeviceName, "Kept");
  EXPECT_EQ(r.NumOfChar, 12);
  EXPECT_EQ(r.VcpCom1, 7);
  EXPECT_EQ(dir.Read(kSettingsFileName), before);
  if (geteuid() == 0) umount2(path.c_str(), MNT_DETACH);
}

}  // namespace
