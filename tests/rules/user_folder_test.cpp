#include "user_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(UserFolderTest, FollowsXdgDataHomeElseHome) {
  setenv("XDG_DATA_HOME", "/data/home", 1);
  EXPECT_EQ(UserFolder(), fs::path("/data/home/Velk_VCP"));
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(UserFolder(), fs::path("/home/someone/.local/share/Velk_VCP"));
}

TEST(UserFolderTest, FirstStartCopiesTheShippedFilesLaterStartsKeepTheUsersOnes) {
  TempDir dir;
  dir.Write("VCP001.LAN", "shipped");
  dir.Write("1.ico", "icon");
  dir.Write("Velk_VCP.CFG", "30:0\r\n");
  dir.Write("Velk_VCP", "the program itself");
  dir.Write("other.CFG", "not shipped");
  fs::permissions(fs::path(dir.path()) / "Velk_VCP.CFG", fs::perms::all);
  const fs::path shipped = dir.path();
  const fs::path user = fs::path(dir.path()) / "user" / "Velk_VCP";
  std::string error;
  const mode_t before = umask(0);
  ASSERT_TRUE(EnterUserFolder(user, shipped, error)) << error;
  umask(before);
  EXPECT_EQ(fs::current_path(), user);
  // Private under any umask: the folders it makes and the settings it copies.
  for (const fs::path& folder : {user, user.parent_path()}) {
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
  }
  EXPECT_EQ(fs::status(user / "Velk_VCP.CFG").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(fs::exists(user / "VCP001.LAN"));
  EXPECT_TRUE(fs::exists(user / "1.ico"));
  EXPECT_TRUE(fs::exists(user / "Velk_VCP.CFG"));
  EXPECT_FALSE(fs::exists(user / "Velk_VCP"));
  EXPECT_FALSE(fs::exists(user / "other.CFG"));

  std::ofstream(user / "VCP001.LAN") << "edited by the user";
  fs::current_path(dir.path());
  ASSERT_TRUE(EnterUserFolder(user, shipped, error)) << error;
  std::ifstream in(user / "VCP001.LAN");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "edited by the user");
  fs::current_path(dir.path());
}

TEST(UserFolderTest, AFolderThatCannotBeMadeIsReported) {
  TempDir dir;
  dir.Write("file", "x");
  std::string error;
  EXPECT_FALSE(EnterUserFolder(fs::path(dir.path()) / "file" / "Velk_VCP", dir.path(), error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(EnterUserFolder({}, dir.path(), error));
}

}  // namespace
