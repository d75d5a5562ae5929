#include "history_reader.h"

#include <cmath>
#include <optional>
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

std::optional<double> Number(sqlite3_stmt* st, int column) {
  if (sqlite3_column_type(st, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_double(st, column);
}

}  // namespace

std::string HistoryRowSelect(sqlite3* db) {
  const std::string probe_sql =
      std::string("SELECT ") + kHistoryDescriptionColumns + " FROM value_events";
  sqlite3_stmt* probe = nullptr;
  const bool described =
      sqlite3_prepare_v2(db, probe_sql.c_str(), -1, &probe, nullptr) == SQLITE_OK;
  sqlite3_finalize(probe);
  return std::string(kHistoryRowColumns) + "," +
         (described ? kHistoryDescriptionColumns : "NULL,NULL,NULL,NULL,NULL,NULL");
}

NumberedEvent HistoryRowEvent(sqlite3_stmt* st) {
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
  e.name = Text(st, 12);
  e.unit = Text(st, 13);
  e.limits = {Number(st, 14), Number(st, 15), Number(st, 16), Number(st, 17)};
  return n;
}

std::unique_ptr<HistoryReader> HistoryReader::Open(const std::string& path, std::string& error) {
  std::unique_ptr<HistoryReader> r(new HistoryReader);
  const bool opened =
      sqlite3_open_v2(path.c_str(), &r->db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
                      nullptr) == SQLITE_OK;
  const std::string sql = opened ? "SELECT " + HistoryRowSelect(r->db_) +
                                       " FROM value_events WHERE id > ? AND id <= ? ORDER BY id"
                                       " LIMIT ?"
                                 : std::string();
  if (!opened || sqlite3_prepare_v2(r->db_, sql.c_str(), -1, &r->rows_, nullptr) != SQLITE_OK) {
    error = path + ": " + (r->db_ ? sqlite3_errmsg(r->db_) : "cannot open");
    return nullptr;
  }
  sqlite3_busy_timeout(r->db_, 2000);
  return r;
}

HistoryReader::~HistoryReader() {
  sqlite3_finalize(rows_);
  sqlite3_close(db_);
}

int HistoryReader::Read(int64_t after, int64_t up_to, int limit,
                        const std::function<void(const NumberedEvent&)>& row) {
  sqlite3_reset(rows_);
  sqlite3_bind_int64(rows_, 1, after);
  sqlite3_bind_int64(rows_, 2, up_to);
  sqlite3_bind_int(rows_, 3, limit);
  int n = 0;
  int rc;
  while ((rc = sqlite3_step(rows_)) == SQLITE_ROW) {
    row(HistoryRowEvent(rows_));
    ++n;
  }
  sqlite3_reset(rows_);
  return rc == SQLITE_DONE ? n : -1;
}

std::optional<int64_t> HistoryReader::Mark() {
  sqlite3_stmt* st = nullptr;
  std::optional<int64_t> mark;
  if (sqlite3_prepare_v2(db_, "SELECT value FROM record_meta WHERE name='mqtt_acknowledged'", -1,
                         &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    mark = sqlite3_column_int64(st, 0);
  }
  sqlite3_finalize(st);
  return mark;
}

bool HistoryReader::SetMark(int64_t id) {
  const std::string sql =
      "INSERT OR REPLACE INTO record_meta(name,value) VALUES('mqtt_acknowledged'," +
      std::to_string(id) + ")";
  return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}
