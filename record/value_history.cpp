#include "value_history.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>

#include "listener_priority.h"
#include "text_encoding.h"
#include "value_json.h"

namespace {

// Events written in one transaction at most, and how long the writer lets events gather
// after the first before it writes them (fewer wake-ups and commits in a steady flow).
constexpr size_t kBatch = 4000;
constexpr std::chrono::milliseconds kGather(20);
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS value_events("
    " id INTEGER PRIMARY KEY, utc_ms INTEGER NOT NULL, station TEXT NOT NULL,"
    " slot INTEGER NOT NULL, port TEXT NOT NULL, client TEXT NOT NULL,"
    " device INTEGER NOT NULL, input INTEGER NOT NULL, number REAL, text TEXT NOT NULL,"
    " status TEXT NOT NULL, cause TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS value_events_time ON value_events(utc_ms);";

}  // namespace

struct ValueHistory::Db {
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;
  ~Db() {
    sqlite3_finalize(insert);
    sqlite3_close(db);
  }
  bool Exec(const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  int64_t Integer(const char* sql) {
    sqlite3_stmt* st = nullptr;
    int64_t v = 0;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      v = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return v;
  }
  // The settings that follow the options, for a database opened or taken over. Returns false
  // when SQLite refuses one.
  bool Configure(const HistoryOptions& options) {
    // Bounded in megabytes, the WAL gets an eighth of the bound and a new file gives freed
    // pages back to the disk (incremental vacuum), so that the files on disk stay within it.
    const int64_t wal_limit =
        options.max_mb > 0 ? int64_t{options.max_mb} * 1024 * 1024 / 8 : int64_t{4194304};
    const std::string wal_pragmas =
        "PRAGMA journal_size_limit=" + std::to_string(wal_limit) +
        ";PRAGMA wal_autocheckpoint=" + std::to_string(std::max<int64_t>(wal_limit / 4096, 8));
    return (options.max_mb <= 0 || Exec("PRAGMA auto_vacuum=INCREMENTAL")) &&
           Exec(wal_pragmas.c_str());
  }
};

std::unique_ptr<ValueHistory> ValueHistory::Open(const HistoryOptions& options,
                                                 ValueEventRing& ring, std::string& error,
                                                 std::unique_ptr<ValueHistory>* predecessor) {
  if (predecessor != nullptr && *predecessor && (*predecessor)->options_.path == options.path) {
    return std::unique_ptr<ValueHistory>(
        new ValueHistory(options, ring, nullptr, std::move(*predecessor)));
  }
  // A FIFO, device or folder in the file's place (or in its -wal or -shm file's) would hang
  // or break SQLite: refused before it opens anything. O_NONBLOCK: opening a FIFO never waits.
  for (const char* suffix : {"-wal", "-shm"}) {
    struct stat st {};
    if (::lstat((options.path + suffix).c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      error = options.path + suffix + ": not a regular file; the history needs a plain file";
      return nullptr;
    }
  }
  // Made private before SQLite opens it; its -wal and -shm files take the same mode.
  const int fd = ::open(options.path.c_str(),
                        O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
  if (fd < 0) {
    error = options.path + ": " +
            (errno == EISDIR ? "not a regular file; the history needs a plain file"
                             : std::strerror(errno));
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = options.path + ": not a regular file; the history needs a plain file";
    return nullptr;
  }
  const bool privateNow = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  if (!privateNow) {
    error = options.path + ": cannot make it private: " + std::strerror(errno);
    return nullptr;
  }
  auto db = std::make_unique<Db>();
  if (sqlite3_open_v2(options.path.c_str(), &db->db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    error = options.path + ": " + (db->db ? sqlite3_errmsg(db->db) : "cannot open");
    return nullptr;
  }
  sqlite3_busy_timeout(db->db, 2000);
  // WAL with synchronous NORMAL: a commit survives a kill of the program; the file stays
  // consistent across a power loss, which may cost the last commits.
  if (!db->Configure(options) || !db->Exec("PRAGMA journal_mode=WAL") ||
      !db->Exec("PRAGMA synchronous=NORMAL") || !db->Exec(kSchema) ||
      sqlite3_prepare_v2(db->db,
                         "INSERT INTO value_events(utc_ms,station,slot,port,client,device,"
                         "input,number,text,status,cause) VALUES(?,?,?,?,?,?,?,?,?,?,?)",
                         -1, &db->insert, nullptr) != SQLITE_OK) {
    error = options.path + ": " + sqlite3_errmsg(db->db);
    return nullptr;
  }
  std::unique_ptr<ValueHistory> predecessor_kept;
  if (predecessor != nullptr) predecessor_kept = std::move(*predecessor);
  return std::unique_ptr<ValueHistory>(
      new ValueHistory(options, ring, std::move(db), std::move(predecessor_kept)));
}

ValueHistory::ValueHistory(const HistoryOptions& options, ValueEventRing& ring,
                           std::unique_ptr<Db> db, std::unique_ptr<ValueHistory> predecessor)
    : options_(options), db_(std::move(db)), queue_(ring), predecessor_(std::move(predecessor)) {
  writer_ = std::thread([this] { Run(); });
}

ValueHistory::~ValueHistory() {
  stopping_ = true;
  queue_.Close();
  writer_.join();
}

void ValueHistory::Finish() { queue_.Close(); }

void ValueHistory::Run() {
  TakeOver();
  Write();
  finished_ = true;
}

void ValueHistory::TakeOver() {
  if (!predecessor_) return;
  // A stop of this history stops the predecessor's retries too: the program ends.
  while (!predecessor_->Finished()) {
    if (stopping_) predecessor_->stopping_ = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!db_) {
    db_ = std::move(predecessor_->db_);
    if (!db_->Configure(options_)) {
      std::cerr << "Velk_VCP: value history: " << options_.path
                << ": the new bounds were not taken: " << sqlite3_errmsg(db_->db) << std::endl;
    }
  }
  predecessor_.reset();
}

HistoryFigures ValueHistory::Figures() const {
  HistoryFigures f;
  f.queued = queue_.Size();
  f.written = written_.load();
  f.dropped = queue_.Dropped();
  f.failing = failing_.load();
  return f;
}

void ValueHistory::Write() {
  LowerListenerPriority();
  using Clock = std::chrono::steady_clock;
  DropReport report;
  auto nextRetention = Clock::now();
  uint64_t retained_at = 0;
  FloodPace pace;
  // Bounded in megabytes, a transaction (which the WAL holds whole) stays a small part of it.
  const size_t batch =
      options_.max_mb > 0
          ? std::clamp<size_t>(static_cast<size_t>(options_.max_mb) * 256, 100, kBatch)
          : kBatch;
  for (;;) {
    const std::chrono::milliseconds pause = pace.Next(queue_.Dropped());
    if (pause.count() > 0) queue_.Pause(pause);
    const size_t n = queue_.Take(batch, std::chrono::seconds(1), kGather);
    if (n > 0) {
      if (WriteTaken(n)) {
        queue_.Release(n);
        written_ += n;
        if (options_.max_mb > 0) KeepWithinMegabytes();
        if (failing_.exchange(false)) std::cerr << "Velk_VCP: value history: writing again\n";
      } else {
        if (!failing_.exchange(true)) {
          std::cerr << "Velk_VCP: value history: cannot write " << options_.path << ": "
                    << sqlite3_errmsg(db_->db) << "; values wait in memory and are tried again"
                    << std::endl;
        }
        // Back into the queue (the oldest give way when it is full) and tried again in a
        // second; given up when the program ends meanwhile.
        queue_.Release(0);
        if (stopping_) return;
        for (int i = 0; i < 10 && !stopping_; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        continue;
      }
    }
    const std::string line = report.Due("value history", queue_.Dropped(), Clock::now());
    if (!line.empty()) std::cerr << line << std::endl;
    // The retention is applied once a minute, and after every 10,000 events written.
    if (Clock::now() >= nextRetention || written_ >= retained_at + 10000) {
      KeepWithinRetention();
      nextRetention = Clock::now() + std::chrono::minutes(1);
      retained_at = written_;
    }
    if (n == 0 && queue_.Closed()) return;
  }
}

bool ValueHistory::WriteTaken(size_t n) {
  if (!db_->Exec("BEGIN")) return false;
  sqlite3_stmt* st = db_->insert;
  std::string station, client, text;  // UTF-8 forms of texts that are not plain ASCII
  for (size_t i = 0; i < n; ++i) {
    const ValueEvent& e = queue_.Taken(i).event;
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, e.utc_ms);
    sqlite3_bind_text(st, 2, Cp1252AsUtf8(e.station, station).c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(st, 3, e.slot);
    sqlite3_bind_text(st, 4, e.port.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 5, ClientAsUtf8(e.client, client).c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(st, 6, e.device);
    sqlite3_bind_int(st, 7, e.input);
    if (std::isfinite(e.number)) {
      sqlite3_bind_double(st, 8, e.number);
    } else {
      sqlite3_bind_null(st, 8);
    }
    sqlite3_bind_text(st, 9, Cp1252AsUtf8(e.text, text).c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 10, ValueStatusWord(e.status), -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 11, ValueCauseWord(e.cause), -1, SQLITE_STATIC);
    if (sqlite3_step(st) != SQLITE_DONE) {
      sqlite3_reset(st);
      db_->Exec("ROLLBACK");
      return false;
    }
  }
  sqlite3_reset(st);
  if (db_->Exec("COMMIT")) return true;
  db_->Exec("ROLLBACK");
  return false;
}

void ValueHistory::KeepWithinRetention() {
  const int days = options_.keep_days > 0 ? options_.keep_days
                   : options_.max_mb > 0  ? 0
                                          : kDefaultKeepDays;
  if (days > 0) {
    const std::string sql = "DELETE FROM value_events WHERE utc_ms < " +
                            std::to_string(UtcNowMs() - int64_t{days} * 86400000);
    db_->Exec(sql.c_str());
  }
  if (options_.max_mb > 0) KeepWithinMegabytes();
}

void ValueHistory::KeepWithinMegabytes() {
  // The pages in use are kept below five eighths of the bound: the WAL takes an eighth, one
  // batch and the pages freed meanwhile (used again, or given back) the rest.
  const int64_t limit = int64_t{options_.max_mb} * 1024 * 1024 * 5 / 8;
  auto used = [this] {
    return (db_->Integer("PRAGMA page_count") - db_->Integer("PRAGMA freelist_count")) *
           db_->Integer("PRAGMA page_size");
  };
  if (used() <= limit) return;
  for (int round = 0; round < 20 && used() > limit; ++round) {
    const int64_t rows = db_->Integer("SELECT count(*) FROM value_events");
    if (rows == 0) break;
    const std::string sql =
        "DELETE FROM value_events WHERE id <= (SELECT min(id) FROM value_events) + " +
        std::to_string(std::max<int64_t>(rows / 10, 1));
    if (!db_->Exec(sql.c_str())) break;
  }
  db_->Exec("PRAGMA incremental_vacuum");
  // The WAL back to nothing (unless a reader holds it meanwhile).
  db_->Exec("PRAGMA wal_checkpoint(TRUNCATE)");
}
