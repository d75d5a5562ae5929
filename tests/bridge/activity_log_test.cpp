// The activity log file and the monitor lists, line by line as the engine writes them.
#include "activity_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "bridge_fixture.h"

namespace {

class ActivityLogTest : public EngineTest {
 protected:
  std::string Blocks(int blocks = 3) { return Idle(6 * blocks + 1); }
  std::string Log() const { return work.Read("Velk_VCP.LOG"); }
};

TEST_F(ActivityLogTest, TerminatedModeLinesExactly) {
  UsePreset(0);
  UseInput(1, 1, "1", "10", 1);
  UseInput(1, 2, "2", "20", 1);
  work.Write("Velk_VCP.LOG", "earlier run\r\n");
  ASSERT_TRUE(bridge->Log().Open());
  Start();
  Exchange("M1\r", "10:+0001.234\r\n");
  Exchange("M*\r", "10:+0001.234\r\n20:+000002.5\r\n");
  Exchange("FOFF2\r", "");
  Exchange("XX\r", "?\r\n");
  ASSERT_EQ(Operator("press 1"), 0);
  Blocks();
  ASSERT_EQ(Operator("key 1 2"), 0);
  Blocks();
  ASSERT_EQ(Operator("set 1 1 123456789.5"), 0);
  Exchange("M1\r", "10:OUT OF RANGE\r\n");
  client->Close();
  Idle(5);
  bridge->Log().Close();

  EXPECT_EQ(Log(),
            "earlier run\r\n"
            "VCP=Opened\r\n"
            "C: M1<13>\r\n"
            "Device_Value(1,1)=0\r\n"
            "A: 10:+0001.234<13><10>\r\n"
            "C: M*<13>\r\n"
            "DAS-Command\r\n"
            "Device_Value(1,1)=0\r\n"
            "A: 10:+0001.234<13><10>\r\n"
            "DAS-Command\r\n"
            "Device_Value(1,2)=0\r\n"
            "A: 20:+000002.5<13><10>\r\n"
            "C: FOFF2<13>\r\n"
            "DAF-Command  : 10000000\r\n"
            "C: XX<13>\r\n"
            "A: ?<13><10>\r\n"
            "Foot switch is pressed  : 10000000\r\n"
            "Device_Value(1,1)=0\r\n"
            "A: 10:+0001.234<13><10>\r\n"
            "Gauge-Triggering\r\n"
            "A: 20:+000002.5<13><10>\r\n"
            "C: M1<13>\r\n"
            "Device_Value(1,1)=0\r\n"
            "Value does not fit: +123456789.5\r\n"
            "A: 10:OUT OF RANGE<13><10>\r\n"
            "VCP=Closed\r\n");
}

TEST_F(ActivityLogTest, PrefixModeLogsTheMatchedCommandAfterItsAnswer) {
  UsePreset(5);
  UseInput(1, 1, "", "");
  ASSERT_TRUE(bridge->Log().Open());
  Start();
  Exchange("x?", "+0001.234\r\n");
  Exchange("USL,7\r", "");
  Exchange("I", "SINGLE GAUGE\r\n");
  bridge->Log().Close();
  EXPECT_EQ(Log(),
            "VCP=Opened\r\n"
            "A: +0001.234<13><10>\r\n"
            "C: ?\r\n"
            "A: SINGLE GAUGE<13><10>\r\n"
            "C: I\r\n");
}

TEST_F(ActivityLogTest, MonitorListsKeepTheLastSevenLines) {
  UsePreset(0);
  UseInput(1, 1, "1", "10");
  ASSERT_TRUE(bridge->Log().Open());
  Start();
  for (int i = 1; i <= 8; ++i) Exchange("M1\r", "10:+0001.234\r\n");
  Exchange("ID?\r", "GENERIC 8-CHANNEL INTERFACE\r\n");
  const MonitorList& answers = bridge->Log().List2();
  ASSERT_EQ(answers.lines().size(), 7u);
  EXPECT_EQ(answers.lines().front(), "10:+0001.234\r\n");
  EXPECT_EQ(answers.lines().back(), "GENERIC 8-CHANNEL INTERFACE\r\n");
  EXPECT_EQ(bridge->Log().List1().lines().back(), "ID?\r");
  EXPECT_GT(view.list_updates, 0);
}

TEST_F(ActivityLogTest, LogOffWritesNothingAndListsStayEmpty) {
  UsePreset(0);
  UseInput(1, 1, "1", "10");
  Start();
  Exchange("M1\r", "10:+0001.234\r\n");
  EXPECT_FALSE(work.Exists("Velk_VCP.LOG"));
  EXPECT_TRUE(bridge->Log().List1().lines().empty());
  EXPECT_TRUE(bridge->Log().List2().lines().empty());
}

TEST_F(ActivityLogTest, OneClientLineIsOneLogLineWhateverItSends) {
  UsePreset(0);
  UseInput(1, 1, "1", "10");
  ASSERT_TRUE(bridge->Log().Open());
  Start();
  Exchange("M1\n* * * * * evil\n*** Programm-Ende ***\n<13>\x01\x7f\xe4\r", "?\r\n");
  bridge->Log().Close();
  EXPECT_EQ(Log(),
            "VCP=Opened\r\n"
            "C: M1<10>* * * * * evil<10>*** Programm-Ende ***<10><60>13><1><127>\xe4<13>\r\n"
            "A: ?<13><10>\r\n");
}

TEST(MonitorList, EighthLinePushesTheOldestOut) {
  MonitorList list;
  for (int i = 1; i <= 8; ++i) list.Add(std::to_string(i));
  ASSERT_EQ(list.lines().size(), 7u);
  EXPECT_EQ(list.lines().front(), "2");
  EXPECT_EQ(list.lines().back(), "8");
}

}  // namespace

TEST(ActivityLogFile, StaysWithinItsBoundInTwoPrivateFilesThatSayWhereTheyContinue) {
  WorkFolder work;
  const std::string path = work.path() + "/Velk_VCP.LOG";
  const mode_t before = umask(0);
  ActivityLog log;
  ASSERT_TRUE(log.Open(path));
  log.SetLimit(4096);
  const std::string line(98, 'x');  // 100 bytes with CR LF
  for (int i = 0; i < 1000; ++i) log.WriteLine(line);
  log.Close();
  umask(before);

  const std::string current = work.Read("Velk_VCP.LOG");
  const std::string older = work.Read("Velk_VCP.LOG.1");
  EXPECT_LE(current.size(), 4096u);
  EXPECT_GT(older.size(), 4000u);
  EXPECT_LE(older.size(), 4096u + 40);
  EXPECT_TRUE(current.starts_with("*** Log continued from Velk_VCP.LOG.1 ***\r\n"));
  EXPECT_TRUE(older.ends_with("*** Log continues in Velk_VCP.LOG ***\r\n"));
  for (const std::string& name : {path, path + ".1"}) {
    struct stat st {};
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
}

TEST(ActivityLogFile, IsNeverOpenedThroughALink) {
  WorkFolder work;
  const std::string path = work.path() + "/Velk_VCP.LOG";
  work.Write("crontab", "");
  for (const std::string& target : {work.path() + "/crontab", work.path() + "/missing"}) {
    SCOPED_TRACE(target);
    std::remove(path.c_str());
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    ActivityLog log;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(log.Open(path));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("is a symbolic link"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    log.WriteLine("* * * * * evil");
    log.Close();
  }
  EXPECT_EQ(work.Read("crontab"), "");
  EXPECT_FALSE(work.Exists("missing"));
}
