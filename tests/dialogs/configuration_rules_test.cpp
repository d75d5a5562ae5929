#include <gtest/gtest.h>

#include <filesystem>

#include "configuration_list.h"
#include "configuration_name.h"
#include "temp_dir.h"

TEST(ConfigurationName, PlainNamesPass) {
  for (const char* name : {"Test", "Station 2", "a.b", "trailing.", "Messplatz \xE4"}) {
    EXPECT_TRUE(IsPlainConfigurationName(name)) << name;
  }
}

TEST(ConfigurationName, NamesLeavingTheFolderOrHiddenAreRefused) {
  for (const char* name : {"", "../up", "..", "a/b", "/etc/passwd", "a\\b", ".hidden", "x..y",
                           "x..", "tab\there", "bell\x07", "del\x7F"}) {
    EXPECT_FALSE(IsPlainConfigurationName(name)) << name;
  }
  EXPECT_FALSE(IsPlainConfigurationName(std::string_view("nul\0x", 5)));
}

TEST(ConfigurationList, SkipsShortNamesOtherSuffixesAndFolders) {
  TempDir dir;
  for (const char* name :
       {"A.con", "Station 2.con", ".con", "x.CON", "y.con.bak", "Velk_VCP.CFG"}) {
    dir.Write(name, "30:0\r\n");
  }
  std::filesystem::create_directory(dir.path() + "/Folder.con");
  EXPECT_EQ(ListConfigurations(), (std::vector<std::string>{"A", "Station 2"}));
  EXPECT_TRUE(ListConfigurations(dir.path() + "/missing").empty());
}
