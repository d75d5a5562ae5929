// Checking the value history's keyed hash chain, for `velk-vcp-config values --verify`.
#pragma once

#include <string>
#include <vector>

struct HistoryCheck {
  bool read = false;                  // the database and its key could be read
  std::string error;                  // why not, when read is false
  std::vector<std::string> findings;  // one line per break of the chain: what and which rows
  std::vector<std::string> notes;     // what the chain does not cover (rows from before it)
};

// Checks every row of the history at db_path against its key (HistoryKeyPath), its end mark and
// its pruned mark. Returns the findings: a row changed, rows removed, a row inserted, rows cut
// off at the end, a mark changed; none for an intact history. Sets read false and error when
// the database or the key file cannot be read, or the key file may be read by others.
HistoryCheck VerifyHistory(const std::string& db_path);
