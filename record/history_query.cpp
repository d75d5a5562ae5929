#include "history_query.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <string_view>

namespace {

std::string Text(sqlite3_stmt* st, int column) {
  const unsigned char* text = sqlite3_column_text(st, column);
  return text ? reinterpret_cast<const char*>(text) : "";
}

ValueStatus StatusOf(std::string_view word) {
  if (word == "valid") return ValueStatus::Valid;
  if (word == "out_of_range") return ValueStatus::OutOfRange;
  return ValueStatus::NoValue;
}

ValueCause CauseOf(std::string_view word) {
  if (word == "foot_switch") return ValueCause::FootSwitch;
  if (word == "data_key") return ValueCause::DataKey;
  return ValueCause::Request;
}

}  // namespace

bool ReadHistory(const std::string& path, const HistoryFilter& filter,
                 const std::function<void(const NumberedEvent&)>& row, std::string& error) {
  // Anything but a plain file (a FIFO would hang the reader) is refused before SQLite opens it.
  struct stat file {};
  if (::stat(path.c_str(), &file) == 0 && !S_ISREG(file.st_mode)) {
    error = path + ": not a regular file";
    return false;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr) !=
      SQLITE_OK) {
    error = path + ": " + (db ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, 5000);
  const char* sql =
      "SELECT id,utc_ms,station,slot,port,client,device,input,number,text,status,cause"
      " FROM value_events WHERE utc_ms >= ?1 AND utc_ms < ?2 AND (?3 = 0 OR (device = ?3 AND"
      " input = ?4)) ORDER BY id";
  sqlite3_stmt* st = nullptr;
  bool ok = sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_bind_int64(st, 1, filter.since_ms.value_or(std::numeric_limits<int64_t>::min()));
    sqlite3_bind_int64(st, 2, filter.until_ms.value_or(std::numeric_limits<int64_t>::max()));
    sqlite3_bind_int(st, 3, filter.device);
    sqlite3_bind_int(st, 4, filter.input);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      NumberedEvent n;
      n.seq = static_cast<uint64_t>(sqlite3_column_int64(st, 0));
      ValueEvent& e = n.event;
      e.utc_ms = sqlite3_column_int64(st, 1);
      e.station = Text(st, 2);
      e.slot = sqlite3_column_int(st, 3);
      e.port = Text(st, 4);
      e.client = Text(st, 5);
      e.device = sqlite3_column_int(st, 6);
      e.input = sqlite3_column_int(st, 7);
      e.number =
          sqlite3_column_type(st, 8) == SQLITE_NULL ? std::nan("") : sqlite3_column_double(st, 8);
      e.text = Text(st, 9);
      e.status = StatusOf(Text(st, 10));
      e.cause = CauseOf(Text(st, 11));
      row(n);
    }
    ok = rc == SQLITE_DONE;
  }
  if (!ok) error = path + ": " + sqlite3_errmsg(db);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return ok;
}
