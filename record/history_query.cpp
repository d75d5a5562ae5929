#include "history_query.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <string_view>

#include "history_reader.h"

namespace {

// The history opened read-only, waiting up to 5 s for a writer; null with error when it cannot
// be. Anything but a plain file (a FIFO would hang the reader) is refused before SQLite opens it.
sqlite3* OpenForReading(const std::string& path, std::string& error) {
  struct stat file {};
  if (::stat(path.c_str(), &file) == 0 && !S_ISREG(file.st_mode)) {
    error = path + ": not a regular file";
    return nullptr;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr) !=
      SQLITE_OK) {
    error = path + ": " + (db ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 5000);
  return db;
}

}  // namespace

bool ReadHistory(const std::string& path, const HistoryFilter& filter,
                 const std::function<void(const NumberedEvent&)>& row, std::string& error) {
  return ReadHistoryWithHash(
      path, filter, [&row](const NumberedEvent& e, std::string_view) { row(e); }, error);
}

bool ReadHistoryWithHash(const std::string& path, const HistoryFilter& filter,
                         const std::function<void(const NumberedEvent&, std::string_view)>& row,
                         std::string& error) {
  sqlite3* db = OpenForReading(path, error);
  if (!db) return false;
  // A history from before the chain has no hashes yet.
  sqlite3_stmt* probe = nullptr;
  const bool hashed =
      sqlite3_prepare_v2(db, "SELECT hash FROM value_events", -1, &probe, nullptr) == SQLITE_OK;
  sqlite3_finalize(probe);
  const std::string sql =
      "SELECT " + HistoryRowSelect(db) + (hashed ? ",hash" : ",NULL") +
      " FROM value_events WHERE utc_ms >= ?1 AND utc_ms < ?2 AND (?3 = 0 OR (device = ?3 AND"
      " input = ?4)) ORDER BY id";
  sqlite3_stmt* st = nullptr;
  bool ok = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_bind_int64(st, 1, filter.since_ms.value_or(std::numeric_limits<int64_t>::min()));
    sqlite3_bind_int64(st, 2, filter.until_ms.value_or(std::numeric_limits<int64_t>::max()));
    sqlite3_bind_int(st, 3, filter.device);
    sqlite3_bind_int(st, 4, filter.input);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      const void* hash = sqlite3_column_blob(st, kHistoryRowColumnCount);
      row(HistoryRowEvent(st),
          std::string_view(
              static_cast<const char*>(hash),
              hash ? static_cast<size_t>(sqlite3_column_bytes(st, kHistoryRowColumnCount)) : 0));
    }
    ok = rc == SQLITE_DONE;
  }
  if (!ok) error = path + ": " + sqlite3_errmsg(db);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return ok;
}

bool ReadAudit(const std::string& path, const HistoryFilter& filter,
               const std::function<void(int64_t id, const AuditEntry&)>& row, std::string& error) {
  sqlite3* db = OpenForReading(path, error);
  if (!db) return false;
  sqlite3_stmt* st = nullptr;
  // A history from before the table of changes has none.
  if (sqlite3_prepare_v2(db,
                         "SELECT id,utc_ms,user,process,how,what FROM audit_events"
                         " WHERE utc_ms >= ?1 AND utc_ms < ?2 ORDER BY id",
                         -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return true;
  }
  sqlite3_bind_int64(st, 1, filter.since_ms.value_or(std::numeric_limits<int64_t>::min()));
  sqlite3_bind_int64(st, 2, filter.until_ms.value_or(std::numeric_limits<int64_t>::max()));
  auto text = [st](int column) {
    const unsigned char* t = sqlite3_column_text(st, column);
    return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
  };
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    AuditEntry e;
    e.utc_ms = sqlite3_column_int64(st, 1);
    e.user = text(2);
    e.process = text(3);
    e.how = text(4);
    e.what = text(5);
    row(sqlite3_column_int64(st, 0), e);
  }
  const bool ok = rc == SQLITE_DONE;
  if (!ok) error = path + ": " + sqlite3_errmsg(db);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return ok;
}
