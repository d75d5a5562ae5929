// Reading the value history's rows in their order from a connection of its own, for the MQTT
// publisher that publishes from the history (on its own thread), and the mark of what the broker
// acknowledged, kept in the same database so that a restart goes on from there.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "value_event_ring.h"

// The columns a row is read with, in the order HistoryRowEvent expects them: the first layout's,
// then the gauge's description.
inline constexpr const char* kHistoryRowColumns =
    "id,utc_ms,station,slot,port,client,device,input,number,text,status,cause";
inline constexpr const char* kHistoryDescriptionColumns = "name,unit,usl,ucl,lcl,lsl";
inline constexpr int kHistoryRowColumnCount = 18;  // both lists

// Returns the columns to read a row of db's value_events with: kHistoryRowColumns and
// kHistoryDescriptionColumns, NULL in place of the latter in a history from before them (one
// not opened for writing since, which adds them).
std::string HistoryRowSelect(sqlite3* db);

// Returns the event of the row st stands on (columns HistoryRowSelect from the first); seq is
// the row number, the texts are UTF-8 as stored (a row from before the description has an
// empty name and unit and no limits).
NumberedEvent HistoryRowEvent(sqlite3_stmt* st);

class HistoryReader {
 public:
  // Opens the database at path for reading rows and keeping the mark. Returns null and sets
  // error when it cannot be opened.
  static std::unique_ptr<HistoryReader> Open(const std::string& path, std::string& error);
  ~HistoryReader();

  // Calls row for the rows after id after, up to up_to, at most limit of them, oldest first.
  // Returns the rows given, or -1 when SQLite fails.
  int Read(int64_t after, int64_t up_to, int limit,
           const std::function<void(const NumberedEvent&)>& row);
  // Returns the stored mark: every row up to it was acknowledged; none when never stored.
  std::optional<int64_t> Mark();
  // Stores the mark; false when SQLite refuses (it is stored at the next call then).
  bool SetMark(int64_t id);

  HistoryReader(const HistoryReader&) = delete;
  HistoryReader& operator=(const HistoryReader&) = delete;

 private:
  HistoryReader() = default;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* rows_ = nullptr;
};
