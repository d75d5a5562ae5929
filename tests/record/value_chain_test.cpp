// The value history's keyed hash chain on a real file: the key file, every kind of tampering
// named (made with the sqlite3 command), retention, restarts, and a database from before the
// chain or from before the gauge's description verifying intact.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "history_key.h"
#include "history_query.h"
#include "history_verify.h"
#include "record_chain.h"
#include "temp_dir.h"
#include "value_history.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class ValueChainTest : public ::testing::Test {
 protected:
  ValueChainTest() {
    dir_ = MakeTempFolder("velk-chain");
    options_.path = dir_ + "/" + kHistoryFileName;
  }
  ~ValueChainTest() override { fs::remove_all(dir_); }

  // Publishes one event as the serving thread does, at time ms.
  void Add(int64_t ms, double number) {
    const std::string text = "+" + std::to_string(number) + "\r\n";
    ring_.Add({1, 5, "4711 client", 1, 2, number, text, ValueStatus::Valid, ValueCause::Request,
               InternGaugeLabel("Caliper", "mm"),
               ValueLimits{25.2, std::nullopt, std::nullopt, 25}});
    ring_.Publish(ms);
  }
  // Runs a history that writes the numbers given at time ms and ends once they are written.
  void Session(const std::vector<std::pair<int64_t, double>>& events,
               const std::function<bool()>& until = nullptr) {
    std::string error;
    auto h = ValueHistory::Open(options_, ring_, error);
    ASSERT_TRUE(h) << error;
    for (const auto& [ms, number] : events) Add(ms, number);
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (h->Figures().written < events.size() || (until && !until())) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(10ms);
    }
  }
  std::vector<uint64_t> Seqs() const {
    std::vector<uint64_t> seqs;
    std::string error;
    EXPECT_TRUE(ReadHistory(
        options_.path, {}, [&](const NumberedEvent& e) { seqs.push_back(e.seq); }, error))
        << error;
    return seqs;
  }
  int Sqlite(const std::string& path, const std::string& sql) const {
    return std::system(("sqlite3 " + path + " \"" + sql + "\" >/dev/null").c_str());
  }

  std::string dir_;
  HistoryOptions options_;
  ValueEventRing ring_{100000};
};

TEST_F(ValueChainTest, AKeyFileOthersMayReadOrThatIsNoKeyRefusesTheHistory) {
  const std::string key = HistoryKeyPath(options_.path);
  EXPECT_EQ(key, dir_ + "/Velk_VCP.values.key");
  struct Case {
    const char* what;
    std::function<void()> make;
    const char* says;
  };
  const Case cases[] = {
      {"readable by the group",
       [&] {
         std::ofstream(key) << std::string(kHistoryKeySize, 'k');
         chmod(key.c_str(), 0640);
       },
       "make it private (chmod 600)"},
      {"too short",
       [&] {
         std::ofstream(key) << "short";
         chmod(key.c_str(), 0600);
       },
       "is not a key of 32 bytes"},
      {"a folder", [&] { fs::create_directory(key); }, "is not a regular file"},
      {"unreadable",
       [&] {
         std::ofstream(key) << std::string(kHistoryKeySize, 'k');
         chmod(key.c_str(), 0000);
       },
       "cannot be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.what) == "unreadable" && geteuid() == 0) continue;  // root reads anything
    c.make();
    std::string error;
    EXPECT_FALSE(ValueHistory::Open(options_, ring_, error));
    EXPECT_NE(error.find("key file " + key), std::string::npos) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    fs::remove_all(key);
  }
  // Made at the first use: private, 32 bytes, and the same key from then on.
  Session({{NowMs(), 1}});
  struct stat st {};
  ASSERT_EQ(stat(key.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, static_cast<off_t>(kHistoryKeySize));
  Session({{NowMs(), 2}});
  EXPECT_TRUE(VerifyHistory(options_.path).findings.empty());
  // Gone once the chain has begun, it is not made anew: that would break the chain.
  fs::remove(key);
  std::string error;
  EXPECT_FALSE(ValueHistory::Open(options_, ring_, error));
  EXPECT_NE(error.find("key file " + key + " is missing"), std::string::npos) << error;
  EXPECT_NE(error.find("restore it"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(key));
}

TEST_F(ValueChainTest, EachKindOfTamperingIsNamedWithItsRows) {
  std::vector<std::pair<int64_t, double>> events;
  for (int k = 1; k <= 20; ++k) events.push_back({NowMs(), k * 0.25});
  Session(events);
  {
    // Three changes on record, in the table of changes' own chain.
    std::string error;
    auto h = ValueHistory::Open(options_, ring_, error);
    ASSERT_TRUE(h) << error;
    for (const char* what : {"started", "settings: 50: 1 -> 0", "stopped"}) {
      ASSERT_TRUE(h->Audit({NowMs(), "user", "", "program", what}));
    }
    size_t changes = 0;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (changes < 3) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(10ms);
      changes = 0;
      ReadAudit(
          options_.path, {}, [&](int64_t, const AuditEntry&) { ++changes; }, error);
    }
  }
  const std::string columns =
      "utc_ms,station,slot,port,client,device,input,number,text,status,cause";
  struct Case {
    const char* what;
    std::string sql;  // run on a copy of the history
    std::vector<std::string> findings;
  };
  const Case cases[] = {
      {"intact", "SELECT 1", {}},
      {"a number changed", "UPDATE value_events SET number=99 WHERE id=5", {"row 5: changed"}},
      {"a text changed", "UPDATE value_events SET text='x' WHERE id=1", {"row 1: changed"}},
      {"a unit changed", "UPDATE value_events SET unit='in' WHERE id=4", {"row 4: changed"}},
      {"a limit changed", "UPDATE value_events SET usl=30 WHERE id=6", {"row 6: changed"}},
      {"a limit removed", "UPDATE value_events SET lsl=NULL WHERE id=10", {"row 10: changed"}},
      {"a limit added", "UPDATE value_events SET ucl=26 WHERE id=11", {"row 11: changed"}},
      {"a row passed off as older",
       "UPDATE value_events SET name=NULL,unit=NULL,usl=NULL,lsl=NULL WHERE id=12",
       {"row 12: changed"}},
      {"a row removed", "DELETE FROM value_events WHERE id=7", {"row 7: removed"}},
      {"two rows removed", "DELETE FROM value_events WHERE id IN (8,9)", {"rows 8 to 9: removed"}},
      {"a row inserted",
       "INSERT INTO value_events(" + columns + ") SELECT " + columns +
           " FROM value_events WHERE id=3",
       {"row 21: inserted after the chain's last row 20"}},
      {"the last rows cut off",
       "DELETE FROM value_events WHERE id > 17",
       {"rows 18 to 20: cut off at the end"}},
      {"the end mark moved with the cut",
       "DELETE FROM value_events WHERE id > 17; UPDATE record_meta SET value=17 WHERE "
       "name='last_id'",
       {"the end mark was changed (the chain's last row 17 is not the one recorded)"}},
      {"a change's text changed",
       "UPDATE audit_events SET what='stopped' WHERE id=2",
       {"change 2: changed"}},
      {"the last change cut off",
       "DELETE FROM audit_events WHERE id=3",
       {"change 3: cut off at the end"}},
      {"a change removed", "DELETE FROM audit_events WHERE id=1", {"change 1: removed"}},
      {"a forged pruned mark",
       "INSERT INTO record_meta VALUES('pruned_up_to', 10)",
       {"the pruned mark was changed (rows up to 10 removed by retention, it says)"}},
  };
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string copy = dir_ + "/copy" + std::to_string(++k);
    fs::create_directory(copy);
    fs::copy(options_.path, copy + "/" + kHistoryFileName);
    fs::copy(HistoryKeyPath(options_.path), copy + "/Velk_VCP.values.key");
    const std::string db = copy + "/" + kHistoryFileName;
    ASSERT_EQ(Sqlite(db, c.sql), 0);
    const HistoryCheck check = VerifyHistory(db);
    ASSERT_TRUE(check.read) << check.error;
    EXPECT_EQ(check.findings, c.findings);
    EXPECT_TRUE(check.notes.empty());
  }
  // Without its key, the chain cannot be checked: said as such, not as tampering.
  fs::remove(HistoryKeyPath(options_.path));
  const HistoryCheck keyless = VerifyHistory(options_.path);
  EXPECT_FALSE(keyless.read);
  EXPECT_NE(keyless.error.find("key file"), std::string::npos) << keyless.error;
}

TEST_F(ValueChainTest, RetentionRestartsAndRowsFromBeforeTheChainVerifyIntact) {
  // A history from before the chain: three rows without hashes, three days old.
  const std::string old = std::to_string(NowMs() - 3 * 86400000LL);
  std::string rows;
  for (const char* n : {"1", "2", "3"}) {
    rows += std::string(rows.empty() ? "" : ",") + "(" + old + ",'s',1,'COM5','',1,1," + n + ",'" +
            n + "','valid','request')";
  }
  ASSERT_EQ(Sqlite(options_.path,
                   "CREATE TABLE value_events(id INTEGER PRIMARY KEY, utc_ms INTEGER NOT NULL,"
                   " station TEXT NOT NULL, slot INTEGER NOT NULL, port TEXT NOT NULL, client TEXT"
                   " NOT NULL, device INTEGER NOT NULL, input INTEGER NOT NULL, number REAL, text"
                   " TEXT NOT NULL, status TEXT NOT NULL, cause TEXT NOT NULL);"
                   " INSERT INTO value_events(utc_ms,station,slot,port,client,device,input,number,"
                   "text,status,cause) VALUES" +
                       rows),
            0);
  chmod(options_.path.c_str(), 0600);
  Session({{std::stoll(old), 4}, {std::stoll(old), 5}, {NowMs(), 6}});
  HistoryCheck check = VerifyHistory(options_.path);
  EXPECT_TRUE(check.findings.empty());
  EXPECT_EQ(check.notes,
            std::vector<std::string>{
                "rows 1 to 3: not covered by the chain (written before it started at row 4)"});
  // Kept one day, the old rows go, those from before the chain among them; the removal is in
  // the chain.
  options_.keep_days = 1;
  Session({{NowMs(), 7}}, [&] { return Seqs().front() == 6; });
  EXPECT_EQ(Seqs(), (std::vector<uint64_t>{6, 7}));
  check = VerifyHistory(options_.path);
  EXPECT_TRUE(check.findings.empty());
  EXPECT_TRUE(check.notes.empty());
  // A further start numbers on and the chain goes on.
  Session({{NowMs(), 8}});
  EXPECT_EQ(Seqs(), (std::vector<uint64_t>{6, 7, 8}));
  EXPECT_TRUE(VerifyHistory(options_.path).findings.empty());
}

TEST_F(ValueChainTest, AHistoryFromBeforeTheDescriptionIsMigratedAndStillVerifies) {
  // Three rows as the layout without name, unit and limits wrote them, chained over its fields.
  std::string key, error;
  ASSERT_TRUE(LoadHistoryKey(HistoryKeyPath(options_.path), true, key, error)) << error;
  ChainKey chain(key);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(options_.path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db,
                   "CREATE TABLE value_events(id INTEGER PRIMARY KEY, utc_ms INTEGER NOT NULL,"
                   " station TEXT NOT NULL, slot INTEGER NOT NULL, port TEXT NOT NULL,"
                   " client TEXT NOT NULL, device INTEGER NOT NULL, input INTEGER NOT NULL,"
                   " number REAL, text TEXT NOT NULL, status TEXT NOT NULL,"
                   " cause TEXT NOT NULL, hash BLOB);"
                   "CREATE TABLE record_meta(name TEXT PRIMARY KEY, value);",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "INSERT INTO value_events VALUES(?,?,'s',1,'COM5','',1,1,?,'t',"
                               "'valid','request',?)",
                               -1, &st, nullptr),
            SQLITE_OK);
  const int64_t now = NowMs();
  std::string hash;
  for (int64_t id = 1; id <= 3; ++id) {
    const ChainRow row{id, now, "s", 1, "COM5", "", 1, 1, double(id), "t", "valid", "request"};
    hash = chain.RowHash(hash, row);
    sqlite3_bind_int64(st, 1, id);
    sqlite3_bind_int64(st, 2, now);
    sqlite3_bind_double(st, 3, double(id));
    sqlite3_bind_blob(st, 4, hash.data(), static_cast<int>(hash.size()), SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(st), SQLITE_DONE);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO record_meta VALUES(?,?)", -1, &st, nullptr),
            SQLITE_OK);
  const std::pair<const char*, std::string> meta[] = {{"last_hash", hash},
                                                      {"end_mark", chain.EndMark(1, 3, hash)}};
  for (const auto& [name, bytes] : meta) {
    sqlite3_bind_text(st, 1, name, -1, SQLITE_STATIC);
    sqlite3_bind_blob(st, 2, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
    ASSERT_EQ(sqlite3_step(st), SQLITE_DONE);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  ASSERT_EQ(sqlite3_exec(db,
                         "INSERT INTO record_meta VALUES('chain_start',1);"
                         "INSERT INTO record_meta VALUES('last_id',3)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  // Read and verified as it is, before any start of this version has added the columns.
  ASSERT_TRUE(VerifyHistory(options_.path).findings.empty());
  size_t before = 0;
  ASSERT_TRUE(ReadHistory(
      options_.path, {}, [&](const NumberedEvent&) { ++before; }, error))
      << error;
  EXPECT_EQ(before, 3u);

  // Migrated at the first start: the old rows verify as before, the new ones with what they
  // carry; both read back.
  Session({{NowMs(), 4}, {NowMs(), 5}});
  HistoryCheck check = VerifyHistory(options_.path);
  EXPECT_TRUE(check.findings.empty());
  EXPECT_TRUE(check.notes.empty());
  std::vector<ValueEvent> rows;
  ASSERT_TRUE(ReadHistory(
      options_.path, {}, [&](const NumberedEvent& e) { rows.push_back(e.event); }, error))
      << error;
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[2].name + rows[2].unit, "");
  EXPECT_EQ(rows[2].limits, ValueLimits{});
  EXPECT_EQ(rows[3].name, "Caliper");
  EXPECT_EQ(rows[3].unit, "mm");
  EXPECT_EQ(rows[3].limits, (ValueLimits{25.2, std::nullopt, std::nullopt, 25}));
  // An old row given a description no longer fits its hash.
  ASSERT_EQ(Sqlite(options_.path, "UPDATE value_events SET name='Caliper' WHERE id=2"), 0);
  EXPECT_EQ(VerifyHistory(options_.path).findings, std::vector<std::string>{"row 2: changed"});
}

}  // namespace
