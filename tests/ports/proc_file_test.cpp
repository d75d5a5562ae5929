// Reading /proc files for the holder look-up: a read that fails is "nothing", never an
// exception (one thrown on the look-up thread ended the whole program).
#include "proc_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "port_holder.h"
#include "temp_dir.h"

namespace {

TEST(ProcFileTest, AReadThatFailsIsNothingAndAFileIsReadWhole) {
  TempDir dir;
  const std::string big(100000, 'x');  // more than one read
  dir.Write("file", big);
  const struct {
    const char* what;
    std::string path;
    std::optional<std::string> read;
  } cases[] = {
      {"a folder: open works, read fails", dir.path(), std::nullopt},
      {"a missing file", dir.path() + "/missing", std::nullopt},
      {"a file larger than one read", dir.path() + "/file", big},
      {"an empty file of /proc", "/proc/self/root/dev/null", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadProcFile(c.path), c.read) << c.what;
}

TEST(ProcFileTest, AProcessThatIsGoneHasNoName) {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  EXPECT_EQ(ProgramName(child), "");
  EXPECT_NE(ProgramName(getpid()), "");
}

}  // namespace
