#include "settings_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <vector>

#include "temp_dir.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("LANG", "en_US.UTF-8", 1), unsetenv("LC_ALL"); }
  TempDir dir;
  SettingsRecord s;

  // Reads the settings file made of lines on top of defaults.
  SettingsRecord ReadWith(const std::string& lines) {
    dir.Write(kSettingsFileName, lines);
    SettingsRecord r;
    ReadSettings("", r);
    return r;
  }
};

}  // namespace

TEST_F(SettingsFileTest, DefaultRecordWritesTheDocumentedFileAndReadsBackEqual) {
  SetDefaultSettings(s);
  ASSERT_TRUE(WriteSettings("", s));
  std::vector<std::string> lines = Lines(dir.Read(kSettingsFileName));
  ASSERT_EQ(lines.size(), 4850u);
  std::vector<std::string> first(lines.begin(), lines.begin() + 6);
  std::vector<std::string> last(lines.end() - 6, lines.end());
  EXPECT_EQ(first, (std::vector<std::string>{"10:1", "20:0", "30:0", "40:1", "50:0", "60:"}));
  EXPECT_EQ(last,
            (std::vector<std::string>{"8990:0", "8991:", "8992:", "9000:0", "9001:", "9002:"}));
  EXPECT_EQ(lines[13],
            "100:Velk"
            "it - ka / kb - Series ( CH1 ... CH8 )");

  SettingsRecord back;
  back.LanguageNo = 3;
  ASSERT_TRUE(ReadSettings("", back));
  EXPECT_TRUE(back == s);
}

TEST_F(SettingsFileTest, EveryFieldSurvivesAWriteAndRead) {
  s.LanguageNo = 2;
  s.Password = "secret";
  s.VcpCom3 = 7;
  s.HotKey4 = 3;
  s.ChCommandOn[7] = 1;
  s.ChCommandAll[3] = "\"A\",13";
  s.ChCommandSingle[7] = "\"M\",<ch>,13";
  s.AnswerString = "\"\xB0\",<mv>,13,10";
  s.NumOfChar = -12;
  s.TabCommand[10] = "\"ID\"";
  s.TabAnswer[1] = "\"x:y\"";
  s.Inputs[8][199] = {1, 1, "199", "8.199"};
  s.Inputs[1][1] = {0, 1, "1", "A"};
  s.FsSelect = 4;
  s.AddInputAdr2 = "2.1";
  ASSERT_TRUE(WriteSettings("", s));
  SettingsRecord back;
  ReadSettings("", back);
  // Text values are trimmed on reading; the chosen ones have no outer blanks.
  EXPECT_TRUE(back == s);
}

TEST_F(SettingsFileTest, LineRules) {
  SettingsRecord r = ReadWith(
      "201:A:B\r\n"
      "  030.0 :  5  \r\n"
      "202:A\r\nXYZ\r\n"
      "243:1.5\r\n"
      "241:2.5\r\n"
      "244:abc\r\n"
      "1007:mv\r\n1003:x\r\n1004:y\r\n"
      "1000:3\r\n1005:2\r\n"
      "1995:1\r\n"
      "239.6:nothing\r\n"
      "245:  two  spaces  \r\n"
      "9001:  2.1  \r\n");
  EXPECT_EQ(r.ChCommandAll[1], "A:B");
  EXPECT_EQ(r.CommandFormat, 5);
  EXPECT_EQ(r.ChCommandSingle[1], "XYZ");  // a line without a colon continues key 202
  EXPECT_EQ(r.LeadZeros, 2);
  EXPECT_EQ(r.NumOfChar, 2);
  EXPECT_EQ(r.PosSign, 0);
  EXPECT_EQ(r.Inputs[1][2].MeaValAdr, "mv");
  EXPECT_EQ(r.Inputs[1][1].State, 1);
  EXPECT_EQ(r.Inputs[1][1].FS, 1);
  EXPECT_EQ(r.Inputs[1][2].State, 0);
  EXPECT_EQ(r.Inputs[1][2].FS, 1);
  EXPECT_EQ(r.Inputs[1][200].State, 1);  // held, though never shown or written
  EXPECT_EQ(r.OkString, "");             // key 239.6 matches nothing here
  EXPECT_EQ(r.AnswerString, "<mv>");
  EXPECT_EQ(r.Timeout, "two  spaces");
  EXPECT_EQ(r.AddInputAdr1, "2.1");
  SettingsRecord defaults;
  SetDefaultSettings(defaults);
  EXPECT_EQ(r.Inputs[1][1].CommandAdr, defaults.Inputs[1][1].CommandAdr);
}

TEST_F(SettingsFileTest, OutOfRangeIntegersKeepTheFieldValue) {
  SettingsRecord r = ReadWith(
      "241:40000\r\n242:-32769\r\n243:1e999\r\n20:32767\r\n82:-32768\r\n"
      "1000:99999\r\n");
  EXPECT_EQ(r.NumOfChar, 9);
  EXPECT_EQ(r.DecPnt, 0);
  EXPECT_EQ(r.LeadZeros, 1);
  EXPECT_EQ(r.VcpCom1, 32767);
  EXPECT_EQ(r.VcpCom2, -32768);
  EXPECT_EQ(r.Inputs[1][1].State, 0);
}

TEST_F(SettingsFileTest, NamedConfigurationLeavesProgramWideKeysAlone) {
  s.LanguageNo = 2;
  s.VcpCom1 = 5;
  s.Password = "pw";
  s.DeviceName = "Mine";
  ASSERT_TRUE(WriteSettings("Test.con", s));
  std::vector<std::string> lines = Lines(dir.Read("Test.con"));
  ASSERT_EQ(lines.size(), 4838u);
  for (const std::string& l : lines) {
    int key = std::stoi(l);
    EXPECT_TRUE(key != 10 && key != 20 && key != 40 && key != 50 && key != 60 &&
                !(key >= 82 && key <= 94))
        << l;
  }
  EXPECT_EQ(lines[0], "30:0");
  EXPECT_FALSE(std::filesystem::exists(kSettingsFileName));

  dir.Write("Other.con", "10:3\r\n20:9\r\n60:x\r\n91:2\r\n100:Loaded\r\n");
  SettingsRecord r = s;
  ASSERT_TRUE(ReadSettings("Other.con", r));
  EXPECT_EQ(r.LanguageNo, 2);
  EXPECT_EQ(r.VcpCom1, 5);
  EXPECT_EQ(r.Password, "pw");
  EXPECT_EQ(r.HotKey1, 0);
  EXPECT_EQ(r.DeviceName, "Loaded");
}

TEST_F(SettingsFileTest, MissingFileIsCreatedEmpty) {
  SettingsRecord r;
  EXPECT_TRUE(ReadSettings("", r));
  EXPECT_TRUE(std::filesystem::exists(kSettingsFileName));
  EXPECT_EQ(dir.Read(kSettingsFileName), "");
  SettingsRecord vanished = r;
  EXPECT_TRUE(ReadSettings("Gone.con", vanished));
  EXPECT_TRUE(vanished == r);
}

TEST_F(SettingsFileTest, SystemLanguageChoosesTheFirstStartLanguage) {
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  for (auto [locale, expected] : std::vector<std::pair<const char*, int>>{{"de_CH.UTF-8", 2},
                                                                          {"fr_CA.UTF-8", 3},
                                                                          {"de_DE", 2},
                                                                          {"fr_BE@euro", 3},
                                                                          {"en_GB.UTF-8", 1},
                                                                          {"it_IT", 1},
                                                                          {"C", 1}}) {
    setenv("LANG", locale, 1);
    SettingsRecord r;
    ReadSettings("", r);
    EXPECT_EQ(r.LanguageNo, expected) << locale;
  }
  setenv("LANG", "de_DE", 1);
  setenv("LC_ALL", "fr_FR", 1);
  SettingsRecord r;
  ReadSettings("", r);
  EXPECT_EQ(r.LanguageNo, 3);  // LC_ALL wins
  unsetenv("LC_ALL");
}

TEST_F(SettingsFileTest, BadFilesNeitherCrashNorHang) {
  std::string garbage;
  for (int i = 0; i < 20000; ++i) garbage.push_back(static_cast<char>((i * 7919) % 256));
  garbage += std::string(3'000'000, 'x');  // one very long line
  garbage += "\r\n241:12\r\n";
  garbage += std::string("242:\0\0", 6) + "\n243:0\r244:0";
  SettingsRecord r = ReadWith(garbage);
  EXPECT_EQ(r.NumOfChar, 12);
  EXPECT_EQ(r.DecPnt, 0);
  EXPECT_EQ(r.LeadZeros, 0);  // a lone CR ends a line
  EXPECT_EQ(r.PosSign, 0);    // the last line needs no end

  std::filesystem::create_directory("Dir.con");
  SettingsRecord before = r;
  EXPECT_FALSE(ReadSettings("Dir.con", r));
  EXPECT_TRUE(r == before);

  ASSERT_EQ(::mkfifo("Fifo.con", 0600), 0);
  EXPECT_FALSE(ReadSettings("Fifo.con", r));  // must not block waiting for a writer
}

TEST_F(SettingsFileTest, FailedWriteKeepsTheOldFile) {
  s.DeviceName = "Old";
  ASSERT_TRUE(WriteSettings("", s));
  std::string old = dir.Read(kSettingsFileName);
  s.DeviceName = "New";

  // A write cut short by a full disk (here a file-size limit) reports failure.
  struct rlimit saved {};
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 1000;
  std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  bool written = WriteSettings("", s);
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_FALSE(written);
  EXPECT_EQ(dir.Read(kSettingsFileName), old);

  if (geteuid() != 0) {  // root writes into read-only folders
    chmod(dir.path().c_str(), 0500);
    EXPECT_FALSE(WriteSettings("", s));
    chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(dir.Read(kSettingsFileName), old);
  }
  int leftovers = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    leftovers += e.path().filename() != kSettingsFileName;
  }
  EXPECT_EQ(leftovers, 0);
}

TEST_F(SettingsFileTest, BackupCopyRestoresEveryField) {
  Settings.Inputs[8][199].MeaValAdr = "x";
  Settings.TabAnswer[11] = "y";
  SettingsBackup = Settings;
  Settings.Inputs[8][199].MeaValAdr = "changed";
  Settings.TabAnswer[11] = "changed";
  Settings.NumOfChar = 1;
  Settings = SettingsBackup;
  EXPECT_EQ(Settings.Inputs[8][199].MeaValAdr, "x");
  EXPECT_EQ(Settings.TabAnswer[11], "y");
  EXPECT_EQ(Settings.NumOfChar, 9);
}

TEST_F(SettingsFileTest, FilesThatHoldThePasswordArePrivateAndKilledSavesAreCleanedUp) {
  const mode_t before = umask(0);
  // Replaced files end up private whatever their mode was, and so does a link's replacement.
  dir.Write("Shift.con", "10:1\r\n");
  chmod("Shift.con", 0644);
  dir.Write("elsewhere.cfg", "10:1\r\n");
  chmod("elsewhere.cfg", 0644);
  ASSERT_EQ(symlink("elsewhere.cfg", "Linked.con"), 0);
  s.Password = "TopSecret";
  EXPECT_TRUE(WriteSettings("", s));
  EXPECT_TRUE(WriteSettings("Shift.con", s));
  EXPECT_TRUE(WriteSettings("Linked.con", s));
  std::remove("Created.con");
  SettingsRecord r;
  ReadSettings("Created.con", r);  // created empty when missing
  for (const char* name : {kSettingsFileName, "Shift.con", "Linked.con", "Created.con"}) {
    struct stat st {};
    ASSERT_EQ(lstat(name, &st), 0) << name;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
  EXPECT_EQ(dir.Read("elsewhere.cfg"), "10:1\r\n");
  umask(before);

  // What saves killed while writing leave behind goes; a save running now, the user's own
  // copies and other files stay.
  for (const char* name :
       {".Velk_VCP.CFG.velk-save.a1B2c3", ".Shift.con.velk-save.Zz9yY8",
        ".Velk_VCP.CFG.velk-save.Busy01", ".notes.txt.velk-save.a1B2c3", "Velk_VCP.CFG.a1B2c3",
        "Velk_VCP.CFG.backup", "Velk_VCP.CFG.orig01", "station.con.before", "Shift.con.Zz9yY8"}) {
    dir.Write(name, "partial");
  }
  const int running = open(".Velk_VCP.CFG.velk-save.Busy01", O_RDONLY);
  ASSERT_EQ(flock(running, LOCK_EX), 0);
  EXPECT_EQ(RemoveStaleSettingsTemporaries(), 2);
  close(running);
  for (const char* gone : {".Velk_VCP.CFG.velk-save.a1B2c3", ".Shift.con.velk-save.Zz9yY8"}) {
    EXPECT_FALSE(std::filesystem::exists(gone)) << gone;
  }
  for (const char* kept :
       {".Velk_VCP.CFG.velk-save.Busy01", ".notes.txt.velk-save.a1B2c3", "Velk_VCP.CFG.a1B2c3",
        "Velk_VCP.CFG.backup", "Velk_VCP.CFG.orig01", "station.con.before", "Shift.con.Zz9yY8"}) {
    EXPECT_TRUE(std::filesystem::exists(kept)) << kept;
  }
}

TEST_F(SettingsFileTest, AFileThatIsNoSettingsFileIsKeptAsBadBeforeItIsWritten) {
  const struct {
    const char* what;
    std::string bytes;
    bool kept;
  } cases[] = {
      {"random bytes", std::string("\x8f\x01\xfe:\x00\x13zz\xff\r\x9a", 11), true},
      {"empty", "", true},
      {"text without a key line", "hello world\r\nno settings here\r\n", true},
      {"a key line and NUL bytes", std::string("30:1\r\n\0\0\0", 9), true},
      {"cut after a few keys", "10:2\r\n20:5\r\n30:", false},
      {"one key only", "60:pw\r\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove("Velk_VCP.CFG.bad");
    dir.Write(kSettingsFileName, c.bytes);
    SettingsRecord r;
    testing::internal::CaptureStderr();
    ReadSettings("", r);
    EXPECT_TRUE(WriteSettings("", r));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::filesystem::exists("Velk_VCP.CFG.bad"), c.kept);
    if (c.kept) {
      EXPECT_EQ(dir.Read("Velk_VCP.CFG.bad"), c.bytes);
      EXPECT_NE(said.find("kept as Velk_VCP.CFG.bad"), std::string::npos) << said;
      EXPECT_NE(KeptSettingsNotice().find("kept as Velk_VCP.CFG.bad"), std::string::npos);
    } else {
      EXPECT_EQ(said.find(".bad"), std::string::npos) << said;
    }
    EXPECT_NE(dir.Read(kSettingsFileName).find("\r\n9000:"), std::string::npos);
  }
  // A first start (no file yet) keeps nothing.
  std::remove("Velk_VCP.CFG.bad");
  std::remove(kSettingsFileName);
  SettingsRecord r;
  ReadSettings("", r);
  EXPECT_TRUE(WriteSettings("", r));
  EXPECT_FALSE(std::filesystem::exists("Velk_VCP.CFG.bad"));
}
