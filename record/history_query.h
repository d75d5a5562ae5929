// Reading the value history back, for `velk-vcp-config values`.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "value_event_ring.h"
#include "value_history.h"

struct HistoryFilter {
  std::optional<int64_t> since_ms;  // events at or after this time
  std::optional<int64_t> until_ms;  // events before this time
  int device = 0;                   // with input: only gauge device.input (0: all)
  int input = 0;
};

// Calls row for every stored event that passes filter, oldest first; seq is the event's row
// number in the history and the texts are UTF-8. Returns false and sets error when the file
// cannot be opened or read (a missing file, and one that is not a regular file, is such an
// error); true otherwise.
bool ReadHistory(const std::string& path, const HistoryFilter& filter,
                 const std::function<void(const NumberedEvent&)>& row, std::string& error);
// ReadHistory, giving each row's hash in the chain too (empty for a row from before the chain).
bool ReadHistoryWithHash(const std::string& path, const HistoryFilter& filter,
                         const std::function<void(const NumberedEvent&, std::string_view)>& row,
                         std::string& error);

// Calls row for every entry of the table of changes from since_ms (inclusive) to until_ms
// (exclusive), oldest first, with its row number. Returns false and sets error when the file
// cannot be opened or read; true otherwise (also for a history without changes recorded).
bool ReadAudit(const std::string& path, const HistoryFilter& filter,
               const std::function<void(int64_t id, const AuditEntry&)>& row, std::string& error);
