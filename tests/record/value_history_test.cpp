// The value history on a real file: private, read back whole and filtered, kept within its
// megabytes.
#include "value_history.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "history_query.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class ValueHistoryTest : public ::testing::Test {
 protected:
  ValueHistoryTest() {
    dir_ = MakeTempFolder("velk-history");
    options_.path = dir_ + "/" + kHistoryFileName;
  }
  ~ValueHistoryTest() override { fs::remove_all(dir_); }

  static NumberedEvent Event(uint64_t seq, int64_t ms, int input, double number) {
    NumberedEvent n;
    n.seq = seq;
    n.event.utc_ms = ms;
    n.event.device = 1;
    n.event.input = input;
    n.event.number = number;
    n.event.text = "value";
    return n;
  }
  // Publishes one event as the serving thread does, with its own time.
  void Add(const NumberedEvent& n) {
    const ValueEvent& e = n.event;
    ring_.Add({e.slot, 0, e.client, e.device, e.input, e.number, e.text, e.status, e.cause});
    ring_.Publish(e.utc_ms);
  }
  // Waits until the history has written count events.
  static bool WaitWritten(const ValueHistory& h, uint64_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (h.Figures().written < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }
  std::vector<NumberedEvent> Read(const HistoryFilter& filter) const {
    std::vector<NumberedEvent> rows;
    std::string error;
    EXPECT_TRUE(ReadHistory(
        options_.path, filter, [&](const NumberedEvent& e) { rows.push_back(e); }, error))
        << error;
    return rows;
  }

  std::string dir_;
  HistoryOptions options_;
  ValueEventRing ring_{100000};
};

TEST_F(ValueHistoryTest, PrivateAndReadBackByTimeAndGauge) {
  umask(022);
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  {
    std::string error;
    auto h = ValueHistory::Open(options_, ring_, error);
    ASSERT_TRUE(h) << error;
    for (int k = 0; k < 10; ++k) Add(Event(k + 1, now + k * 1000, k % 2 + 1, k * 0.5));
    ASSERT_TRUE(WaitWritten(*h, 10));
  }
  struct stat st {};
  ASSERT_EQ(stat(options_.path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  struct Case {
    HistoryFilter filter;
    std::vector<double> numbers;
  };
  const Case cases[] = {
      {{}, {0, 0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5}},
      {{now + 3000, now + 6000, 0, 0}, {1.5, 2, 2.5}},
      {{std::nullopt, std::nullopt, 1, 2}, {0.5, 1.5, 2.5, 3.5, 4.5}},
      {{now + 100000, std::nullopt, 0, 0}, {}},
  };
  for (const Case& c : cases) {
    std::vector<double> numbers;
    for (const NumberedEvent& e : Read(c.filter)) numbers.push_back(e.event.number);
    EXPECT_EQ(numbers, c.numbers);
  }
  std::string error;
  EXPECT_FALSE(ReadHistory(
      dir_ + "/missing.db", {}, [](const NumberedEvent&) {}, error));
  EXPECT_NE(error.find("missing.db"), std::string::npos);
}

TEST_F(ValueHistoryTest, KeptWithinItsMegabytesNewestFirst) {
  options_.max_mb = 1;
  std::string error;
  auto h = ValueHistory::Open(options_, ring_, error);
  ASSERT_TRUE(h) << error;
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  // What the database and its WAL and shared-memory files take on disk.
  auto onDisk = [this] {
    uintmax_t bytes = 0;
    for (const char* suffix : {"", "-wal", "-shm"}) {
      std::error_code ec;
      const uintmax_t size = fs::file_size(options_.path + suffix, ec);
      if (!ec) bytes += size;
    }
    return bytes;
  };
  constexpr int kEvents = 60000;  // several megabytes
  uintmax_t most = 0;
  for (int k = 1; k <= kEvents; ++k) {
    Add(Event(k, now, 1, k));
    if (k % 2000 == 0) {
      ASSERT_TRUE(WaitWritten(*h, k));
      most = std::max(most, onDisk());
    }
  }
  // The files stay within the bound while the history runs and after it ends.
  EXPECT_LE(most, 1024u * 1024);
  h.reset();
  EXPECT_LE(onDisk(), 1024u * 1024);
  // The newest event is kept, the oldest are gone.
  const std::vector<NumberedEvent> rows = Read({});
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.back().event.number, kEvents);
  EXPECT_GT(rows.front().event.number, 1);
}

TEST_F(ValueHistoryTest, ANonRegularFileInItsPlaceIsRefusedAtOnce) {
  struct Case {
    const char* what;
    std::string path;  // made in the history's place
    std::function<int(const std::string&)> make;
  };
  const Case cases[] = {
      {"a FIFO", options_.path, [](const std::string& p) { return mkfifo(p.c_str(), 0600); }},
      {"a folder", options_.path, [](const std::string& p) { return mkdir(p.c_str(), 0700); }},
      {"a FIFO as its WAL", options_.path + "-wal",
       [](const std::string& p) { return mkfifo(p.c_str(), 0600); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.make(c.path), 0);
    std::string error;
    EXPECT_FALSE(ValueHistory::Open(options_, ring_, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    if (c.path == options_.path) {
      error.clear();
      EXPECT_FALSE(ReadHistory(
          options_.path, {}, [](const NumberedEvent&) {}, error));
      EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    }
    fs::remove(c.path);
  }
}

}  // namespace
