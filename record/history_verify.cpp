#include "history_verify.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "history_key.h"
#include "history_reader.h"
#include "record_chain.h"

namespace {

std::string_view TextOf(sqlite3_stmt* st, int column) {
  const unsigned char* text = sqlite3_column_text(st, column);
  return text ? std::string_view(reinterpret_cast<const char*>(text),
                                 static_cast<size_t>(sqlite3_column_bytes(st, column)))
              : std::string_view();
}

std::string BlobOf(sqlite3_stmt* st, int column) {
  const void* bytes = sqlite3_column_blob(st, column);
  return bytes ? std::string(static_cast<const char*>(bytes),
                             static_cast<size_t>(sqlite3_column_bytes(st, column)))
               : std::string();
}

std::optional<double> NumberOf(sqlite3_stmt* st, int column) {
  if (sqlite3_column_type(st, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_double(st, column);
}

// The record_meta table of one database.
class Meta {
 public:
  explicit Meta(sqlite3* db) : db_(db) {}
  std::optional<int64_t> Integer(const char* name) const {
    std::optional<int64_t> v;
    Each(name, [&](sqlite3_stmt* st) { v = sqlite3_column_int64(st, 0); });
    return v;
  }
  std::optional<std::string> Blob(const char* name) const {
    std::optional<std::string> v;
    Each(name, [&](sqlite3_stmt* st) { v = BlobOf(st, 0); });
    return v;
  }

 private:
  template <typename F>
  void Each(const char* name, F f) const {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT value FROM record_meta WHERE name=?", -1, &st, nullptr) ==
        SQLITE_OK) {
      sqlite3_bind_text(st, 1, name, -1, SQLITE_STATIC);
      if (sqlite3_step(st) == SQLITE_ROW) f(st);
    }
    sqlite3_finalize(st);
  }
  sqlite3* db_;
};

std::string Rows(int64_t first, int64_t last) {
  return first == last ? "row " + std::to_string(first)
                       : "rows " + std::to_string(first) + " to " + std::to_string(last);
}

// Checks the table of changes' own chain (from its first row, no retention) against its end
// mark; adds a finding per break, named "change N".
void VerifyAudit(sqlite3* db, const Meta& meta, ChainKey& key, HistoryCheck& check) {
  const int64_t end_id = meta.Integer("audit_last_id").value_or(0);
  const std::string end_hash = meta.Blob("audit_last_hash").value_or("");
  if (meta.Blob("audit_end_mark").value_or("") !=
      (end_id == 0 && !meta.Blob("audit_end_mark") ? "" : key.EndMark(0, end_id, end_hash))) {
    check.findings.push_back("the record of changes' end mark was changed");
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT id,utc_ms,user,process,how,what,hash FROM audit_events"
                         " ORDER BY id",
                         -1, &st, nullptr) != SQLITE_OK) {
    return;  // a history from before the record of changes
  }
  auto changes = [](int64_t first, int64_t last) {
    return first == last ? "change " + std::to_string(first)
                         : "changes " + std::to_string(first) + " to " + std::to_string(last);
  };
  int64_t expected = 1;
  std::string previous;
  while (sqlite3_step(st) == SQLITE_ROW) {
    ChainRow row;
    row.id = sqlite3_column_int64(st, 0);
    if (row.id > end_id) {
      check.findings.push_back(changes(row.id, row.id) + ": inserted after the last change " +
                               std::to_string(end_id));
      break;
    }
    const std::string stored = BlobOf(st, 6);
    if (row.id > expected) {
      check.findings.push_back(changes(expected, row.id - 1) + ": removed");
    } else {
      row.utc_ms = sqlite3_column_int64(st, 1);
      row.station = TextOf(st, 2);
      row.port = TextOf(st, 3);
      row.client = TextOf(st, 4);
      row.text = TextOf(st, 5);
      row.status = "audit";
      if (stored.empty() || key.RowHash(previous, row) != stored) {
        check.findings.push_back(changes(row.id, row.id) + ": changed");
      }
    }
    previous = stored;
    expected = row.id + 1;
  }
  sqlite3_finalize(st);
  if (expected - 1 < end_id) {
    check.findings.push_back(changes(expected, end_id) + ": cut off at the end");
  }
}

}  // namespace

HistoryCheck VerifyHistory(const std::string& db_path) {
  HistoryCheck check;
  struct stat file {};
  if (::stat(db_path.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) {
    check.error = db_path + ": no value history here";
    return check;
  }
  sqlite3* raw = nullptr;
  if (sqlite3_open_v2(db_path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW,
                      nullptr) != SQLITE_OK) {
    check.error = db_path + ": " + (raw ? sqlite3_errmsg(raw) : "cannot open");
    sqlite3_close(raw);
    return check;
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
  sqlite3_busy_timeout(raw, 5000);
  // One read transaction: the writer of a running program goes on meanwhile, unseen.
  sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
  const Meta meta(raw);
  const std::optional<int64_t> chain_start = meta.Integer("chain_start");
  if (!chain_start) {
    check.read = true;
    check.notes.push_back("no row is covered by the chain: the history was written before it");
    return check;
  }
  std::string key_bytes;
  if (!LoadHistoryKey(HistoryKeyPath(db_path), false, key_bytes, check.error)) return check;
  ChainKey key(key_bytes);

  const int64_t end_id = meta.Integer("last_id").value_or(*chain_start - 1);
  const std::string end_hash = meta.Blob("last_hash").value_or("");
  if (meta.Blob("end_mark").value_or("") != key.EndMark(*chain_start, end_id, end_hash)) {
    check.findings.push_back("the end mark was changed (the chain's last row " +
                             std::to_string(end_id) + " is not the one recorded)");
  }
  int64_t expected = *chain_start;
  std::string previous;
  if (const std::optional<int64_t> pruned = meta.Integer("pruned_up_to")) {
    const std::string hash = meta.Blob("pruned_hash").value_or("");
    if (meta.Blob("pruned_mark").value_or("") != key.PrunedMark(*pruned, hash)) {
      check.findings.push_back("the pruned mark was changed (rows up to " +
                               std::to_string(*pruned) + " removed by retention, it says)");
    } else {
      expected = *pruned + 1;
      previous = hash;
    }
  }

  sqlite3_stmt* st = nullptr;
  const std::string sql = "SELECT " + HistoryRowSelect(raw) + ",hash FROM value_events ORDER BY id";
  if (sqlite3_prepare_v2(raw, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    check.error = db_path + ": " + sqlite3_errmsg(raw);
    return check;
  }
  int64_t uncovered = 0, first_uncovered = 0, last_uncovered = 0;
  int64_t last_seen = expected - 1;
  bool inserted_after_end = false;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    ChainRow row;
    row.id = sqlite3_column_int64(st, 0);
    if (row.id < *chain_start) {
      if (uncovered++ == 0) first_uncovered = row.id;
      last_uncovered = row.id;
      continue;
    }
    if (row.id < expected) {
      check.findings.push_back(Rows(row.id, row.id) +
                               ": inserted (among the rows retention removed)");
      continue;
    }
    if (row.id > end_id) {
      if (!inserted_after_end) {
        check.findings.push_back(Rows(row.id, row.id) + ": inserted after the chain's last row " +
                                 std::to_string(end_id));
      }
      inserted_after_end = true;
      continue;
    }
    const std::string stored = BlobOf(st, kHistoryRowColumnCount);
    if (row.id > expected) {
      // The removed rows' hashes are gone: the chain goes on from this row's.
      check.findings.push_back(Rows(expected, row.id - 1) + ": removed");
    } else {
      row.utc_ms = sqlite3_column_int64(st, 1);
      row.station = TextOf(st, 2);
      row.slot = sqlite3_column_int(st, 3);
      row.port = TextOf(st, 4);
      row.client = TextOf(st, 5);
      row.device = sqlite3_column_int(st, 6);
      row.input = sqlite3_column_int(st, 7);
      if (sqlite3_column_type(st, 8) != SQLITE_NULL) row.number = sqlite3_column_double(st, 8);
      row.text = TextOf(st, 9);
      row.status = TextOf(st, 10);
      row.cause = TextOf(st, 11);
      // A row with a name (empty or not) was written with the description and hashed with it.
      row.described = sqlite3_column_type(st, 12) != SQLITE_NULL;
      row.name = TextOf(st, 12);
      row.unit = TextOf(st, 13);
      row.limits = {NumberOf(st, 14), NumberOf(st, 15), NumberOf(st, 16), NumberOf(st, 17)};
      if (stored.empty() || key.RowHash(previous, row) != stored) {
        check.findings.push_back(Rows(row.id, row.id) + ": changed");
      }
    }
    previous = stored;
    expected = row.id + 1;
    last_seen = row.id;
  }
  const bool ok = rc == SQLITE_DONE;
  if (!ok) check.error = db_path + ": " + sqlite3_errmsg(raw);
  sqlite3_finalize(st);
  if (!ok) return check;
  if (last_seen < end_id) {
    check.findings.push_back(Rows(last_seen + 1, end_id) + ": cut off at the end");
  }
  VerifyAudit(raw, meta, key, check);
  if (uncovered > 0) {
    check.notes.push_back(Rows(first_uncovered, last_uncovered) +
                          ": not covered by the chain (written before it started at row " +
                          std::to_string(*chain_start) + ")");
  }
  check.read = true;
  return check;
}
