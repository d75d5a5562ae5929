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

#include "history_key.h"
#include "listener_priority.h"
#include "record_chain.h"
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
    "CREATE INDEX IF NOT EXISTS value_events_time ON value_events(utc_ms);"
    "CREATE TABLE IF NOT EXISTS record_meta(name TEXT PRIMARY KEY, value);"
    "CREATE TABLE IF NOT EXISTS audit_events(id INTEGER PRIMARY KEY, utc_ms INTEGER NOT NULL,"
    " user TEXT NOT NULL, process TEXT NOT NULL, how TEXT NOT NULL, what TEXT NOT NULL,"
    " hash BLOB);";

// Binds number to parameter i of st, NULL for none.
void BindNumber(sqlite3_stmt* st, int i, const std::optional<double>& number) {
  if (number) {
    sqlite3_bind_double(st, i, *number);
  } else {
    sqlite3_bind_null(st, i);
  }
}

}  // namespace

void HistoryCommits::Committed(int64_t id) {
  {
    std::lock_guard lock(mutex);
    last_id = id;
  }
  committed.notify_all();
}

int64_t HistoryCommits::WaitPast(int64_t after, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex);
  committed.wait_for(lock, timeout, [&] { return last_id > after; });
  return last_id;
}

int64_t HistoryCommits::Last() {
  std::lock_guard lock(mutex);
  return last_id;
}

struct ValueHistory::Db {
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* meta = nullptr;
  std::unique_ptr<ChainKey> key;
  // The chain as committed: its first row, its last row and that row's hash.
  int64_t chain_start = 1;
  int64_t last_id = 0;
  std::string last_hash;
  ~Db() {
    sqlite3_finalize(insert);
    sqlite3_finalize(meta);
    sqlite3_close(db);
  }
  // Binds a meta entry's name and value to the meta statement and runs it.
  bool SetMeta(const char* name, int64_t value) {
    sqlite3_reset(meta);
    sqlite3_bind_text(meta, 1, name, -1, SQLITE_STATIC);
    sqlite3_bind_int64(meta, 2, value);
    const bool ok = sqlite3_step(meta) == SQLITE_DONE;
    sqlite3_reset(meta);
    return ok;
  }
  bool SetMeta(const char* name, const std::string& bytes) {
    sqlite3_reset(meta);
    sqlite3_bind_text(meta, 1, name, -1, SQLITE_STATIC);
    sqlite3_bind_blob(meta, 2, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
    const bool ok = sqlite3_step(meta) == SQLITE_DONE;
    sqlite3_reset(meta);
    return ok;
  }
  // Writes the chain's end mark for last_id and last_hash (inside the caller's transaction).
  bool SetEnd(int64_t id, const std::string& hash) {
    return SetMeta("last_id", id) && SetMeta("last_hash", hash) &&
           SetMeta("end_mark", key->EndMark(chain_start, id, hash));
  }
  // Reads the chain's state; a database without one (new, or written before the chain) starts
  // it after its last row. Returns false when SQLite refuses.
  bool LoadChain() {
    const int64_t max_id = Integer("SELECT coalesce(max(id),0) FROM value_events");
    if (Integer("SELECT count(*) FROM record_meta WHERE name='chain_start'") == 0) {
      chain_start = max_id + 1;
      last_id = max_id;
      last_hash.clear();
      return Exec("BEGIN") && SetMeta("chain_start", chain_start) && SetEnd(last_id, last_hash) &&
             Exec("COMMIT");
    }
    chain_start = Integer("SELECT value FROM record_meta WHERE name='chain_start'");
    last_id = std::max(Integer("SELECT value FROM record_meta WHERE name='last_id'"), max_id);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT value FROM record_meta WHERE name='last_hash'", -1, &st,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      const void* bytes = sqlite3_column_blob(st, 0);
      last_hash.assign(static_cast<const char*>(bytes),
                       static_cast<size_t>(bytes ? sqlite3_column_bytes(st, 0) : 0));
    }
    sqlite3_finalize(st);
    return true;
  }
  bool Exec(const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  // Gives a history from before the gauge's description (name, unit, limits) its columns, in
  // one transaction; its rows keep NULL there, which marks them as written without it. Returns
  // false when SQLite refuses.
  bool AddDescriptionColumns() {
    if (Integer("SELECT count(*) FROM pragma_table_info('value_events') WHERE name='name'") > 0) {
      return true;
    }
    if (Exec("BEGIN;"
             "ALTER TABLE value_events ADD COLUMN name TEXT;"
             "ALTER TABLE value_events ADD COLUMN unit TEXT;"
             "ALTER TABLE value_events ADD COLUMN usl REAL;"
             "ALTER TABLE value_events ADD COLUMN ucl REAL;"
             "ALTER TABLE value_events ADD COLUMN lcl REAL;"
             "ALTER TABLE value_events ADD COLUMN lsl REAL;"
             "COMMIT")) {
      return true;
    }
    Exec("ROLLBACK");
    return false;
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
  // The key is made at the chain's first use only: a new key would break a chain begun.
  const bool chained =
      db->Integer("SELECT count(*) FROM sqlite_master WHERE name='record_meta'") > 0 &&
      db->Integer("SELECT count(*) FROM record_meta WHERE name='chain_start'") > 0;
  std::string key;
  if (!LoadHistoryKey(HistoryKeyPath(options.path), !chained, key, error)) {
    if (chained) error += "; the history's chain needs it: restore it, or move the history away";
    return nullptr;
  }
  db->key = std::make_unique<ChainKey>(key);
  // WAL with synchronous NORMAL: a commit survives a kill of the program; the file stays
  // consistent across a power loss, which may cost the last commits.
  if (!db->Configure(options) || !db->Exec("PRAGMA journal_mode=WAL") ||
      !db->Exec("PRAGMA synchronous=NORMAL") || !db->Exec(kSchema) ||
      // A database from before the chain gets the column for the rows' hashes.
      (db->Integer("SELECT count(*) FROM pragma_table_info('value_events') WHERE name='hash'") ==
           0 &&
       !db->Exec("ALTER TABLE value_events ADD COLUMN hash BLOB")) ||
      !db->AddDescriptionColumns() ||
      sqlite3_prepare_v2(db->db,
                         "INSERT INTO value_events(utc_ms,station,slot,port,client,device,input,"
                         "number,text,status,cause,id,hash,name,unit,usl,ucl,lcl,lsl)"
                         " VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                         -1, &db->insert, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db->db, "INSERT OR REPLACE INTO record_meta(name,value) VALUES(?,?)", -1,
                         &db->meta, nullptr) != SQLITE_OK ||
      !db->LoadChain()) {
    error = options.path + ": " + sqlite3_errmsg(db->db);
    return nullptr;
  }
  if (options.commits) options.commits->Committed(db->last_id);
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

bool ValueHistory::Audit(const AuditEntry& entry) {
  if (finished_) return false;
  {
    std::lock_guard lock(audit_mutex_);
    audit_.push_back(entry);
  }
  queue_.Wake();
  return true;
}

bool ValueHistory::WriteAudit() {
  std::vector<AuditEntry> entries;
  {
    std::lock_guard lock(audit_mutex_);
    entries.swap(audit_);
  }
  if (entries.empty()) return true;
  // The table of changes has a chain of its own, under the same key.
  std::string hash;
  int64_t id = db_->Integer("SELECT coalesce(max(id),0) FROM audit_events");
  {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_->db, "SELECT hash FROM audit_events ORDER BY id DESC LIMIT 1", -1,
                           &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW && sqlite3_column_blob(st, 0) != nullptr) {
      hash.assign(static_cast<const char*>(sqlite3_column_blob(st, 0)),
                  static_cast<size_t>(sqlite3_column_bytes(st, 0)));
    }
    sqlite3_finalize(st);
  }
  sqlite3_stmt* insert = nullptr;
  bool ok = db_->Exec("BEGIN") &&
            sqlite3_prepare_v2(db_->db,
                               "INSERT INTO audit_events(id,utc_ms,user,process,how,what,hash)"
                               " VALUES(?,?,?,?,?,?,?)",
                               -1, &insert, nullptr) == SQLITE_OK;
  for (size_t i = 0; ok && i < entries.size(); ++i) {
    const AuditEntry& e = entries[i];
    ChainRow row;
    row.id = ++id;
    row.utc_ms = e.utc_ms;
    row.station = e.user;
    row.port = e.process;
    row.client = e.how;
    row.text = e.what;
    row.status = "audit";
    hash = db_->key->RowHash(hash, row);
    sqlite3_reset(insert);
    sqlite3_bind_int64(insert, 1, id);
    sqlite3_bind_int64(insert, 2, e.utc_ms);
    sqlite3_bind_text(insert, 3, e.user.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 4, e.process.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 5, e.how.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 6, e.what.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_blob(insert, 7, hash.data(), static_cast<int>(hash.size()), SQLITE_TRANSIENT);
    ok = sqlite3_step(insert) == SQLITE_DONE;
  }
  sqlite3_finalize(insert);
  ok = ok && db_->SetMeta("audit_last_id", id) && db_->SetMeta("audit_last_hash", hash) &&
       db_->SetMeta("audit_end_mark", db_->key->EndMark(0, id, hash)) && db_->Exec("COMMIT");
  if (ok) return true;
  db_->Exec("ROLLBACK");
  std::lock_guard lock(audit_mutex_);
  audit_.insert(audit_.begin(), entries.begin(), entries.end());
  return false;
}

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
    WriteAudit();
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
  std::string station, client, text, name, unit;  // UTF-8 forms of texts not plain ASCII
  int64_t id = db_->last_id;
  std::string hash = db_->last_hash;
  for (size_t i = 0; i < n; ++i) {
    const ValueEvent& e = queue_.Taken(i).event;
    ChainRow row;
    row.id = ++id;
    row.utc_ms = e.utc_ms;
    row.station = Cp1252AsUtf8(e.station, station);
    row.slot = e.slot;
    row.port = e.port;
    row.client = ClientAsUtf8(e.client, client);
    row.device = e.device;
    row.input = e.input;
    if (std::isfinite(e.number)) row.number = e.number;
    row.text = Cp1252AsUtf8(e.text, text);
    row.status = ValueStatusWord(e.status);
    row.cause = ValueCauseWord(e.cause);
    row.described = true;
    row.name = Cp1252AsUtf8(e.name, name);
    row.unit = Cp1252AsUtf8(e.unit, unit);
    row.limits = e.limits;
    hash = db_->key->RowHash(hash, row);
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, row.utc_ms);
    sqlite3_bind_text(st, 2, row.station.data(), static_cast<int>(row.station.size()),
                      SQLITE_STATIC);
    sqlite3_bind_int(st, 3, row.slot);
    sqlite3_bind_text(st, 4, row.port.data(), static_cast<int>(row.port.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 5, row.client.data(), static_cast<int>(row.client.size()), SQLITE_STATIC);
    sqlite3_bind_int(st, 6, row.device);
    sqlite3_bind_int(st, 7, row.input);
    BindNumber(st, 8, row.number);
    sqlite3_bind_text(st, 9, row.text.data(), static_cast<int>(row.text.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 10, row.status.data(), static_cast<int>(row.status.size()),
                      SQLITE_STATIC);
    sqlite3_bind_text(st, 11, row.cause.data(), static_cast<int>(row.cause.size()), SQLITE_STATIC);
    sqlite3_bind_int64(st, 12, row.id);
    sqlite3_bind_blob(st, 13, hash.data(), static_cast<int>(hash.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 14, row.name.data(), static_cast<int>(row.name.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 15, row.unit.data(), static_cast<int>(row.unit.size()), SQLITE_STATIC);
    BindNumber(st, 16, row.limits.usl);
    BindNumber(st, 17, row.limits.ucl);
    BindNumber(st, 18, row.limits.lcl);
    BindNumber(st, 19, row.limits.lsl);
    if (sqlite3_step(st) != SQLITE_DONE) {
      sqlite3_reset(st);
      db_->Exec("ROLLBACK");
      return false;
    }
  }
  sqlite3_reset(st);
  if (db_->SetEnd(id, hash) && db_->Exec("COMMIT")) {
    db_->last_id = id;
    db_->last_hash = hash;
    if (options_.commits) options_.commits->Committed(id);
    return true;
  }
  db_->Exec("ROLLBACK");
  return false;
}

bool ValueHistory::Prune(int64_t up_to) {
  sqlite3_stmt* st = nullptr;
  int64_t last = -1;
  std::string hash;
  if (sqlite3_prepare_v2(db_->db,
                         "SELECT id,hash FROM value_events WHERE id <= ? ORDER BY id DESC LIMIT 1",
                         -1, &st, nullptr) == SQLITE_OK) {
    sqlite3_bind_int64(st, 1, up_to);
    if (sqlite3_step(st) == SQLITE_ROW) {
      last = sqlite3_column_int64(st, 0);
      const void* bytes = sqlite3_column_blob(st, 1);
      hash.assign(static_cast<const char*>(bytes),
                  static_cast<size_t>(bytes ? sqlite3_column_bytes(st, 1) : 0));
    }
  }
  sqlite3_finalize(st);
  if (last < 0) return true;
  // Rows of the chain leave a keyed mark of the last one removed; older rows (from before the
  // chain) go without.
  const std::string sql = "DELETE FROM value_events WHERE id <= " + std::to_string(last);
  const bool chained = last >= db_->chain_start && !hash.empty();
  if (db_->Exec("BEGIN") && db_->Exec(sql.c_str()) &&
      (!chained || (db_->SetMeta("pruned_up_to", last) && db_->SetMeta("pruned_hash", hash) &&
                    db_->SetMeta("pruned_mark", db_->key->PrunedMark(last, hash)))) &&
      db_->Exec("COMMIT")) {
    return true;
  }
  db_->Exec("ROLLBACK");
  return false;
}

void ValueHistory::KeepWithinRetention() {
  const int days = options_.keep_days > 0 ? options_.keep_days
                   : options_.max_mb > 0  ? 0
                                          : kDefaultKeepDays;
  if (days > 0) {
    // The oldest rows up to the first one within the retention: the chain stays whole.
    const std::string cutoff = std::to_string(UtcNowMs() - int64_t{days} * 86400000);
    const int64_t first_kept = db_->Integer(
        ("SELECT coalesce(min(id),-1) FROM value_events WHERE utc_ms >= " + cutoff).c_str());
    Prune(first_kept >= 0 ? first_kept - 1
                          : db_->Integer("SELECT coalesce(max(id),0) FROM value_events"));
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
    const int64_t oldest = db_->Integer("SELECT min(id) FROM value_events");
    if (!Prune(oldest + std::max<int64_t>(rows / 10, 1))) break;
  }
  db_->Exec("PRAGMA incremental_vacuum");
  // The WAL back to nothing (unless a reader holds it meanwhile).
  db_->Exec("PRAGMA wal_checkpoint(TRUNCATE)");
}
