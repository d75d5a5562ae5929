// The page's JSON API and CSV download, answered on the web threads from what they are handed:
// the status snapshot, the value history file (read only) and the activity log file.
#pragma once

#include <map>
#include <string>

#include "status_snapshot.h"

struct WebReply {
  int status = 200;
  std::string content_type = "application/json";
  std::string body;
};

// The query of a request: name=value pairs, percent-decoded ("+" a blank).
using QueryValues = std::map<std::string, std::string>;
// Returns the pairs of query (the text after "?", may be empty); a name given twice keeps its
// last value.
QueryValues ParseQuery(const std::string& query);

// GET /api/status: the snapshot as it stands.
WebReply StatusReply(const StatusSnapshot& snapshot);

// GET /api/values (csv false) and /values.csv (csv true): the history's events that pass
// since, until (UTC times as `values --since` takes them) and gauge (D.A), as `velk-vcp-config
// values --json` (a JSON array of the same objects) or `values --csv` writes them; at most
// limit (1..100000, default 10000) of the newest. Replies 400 for a bad parameter, 409 when the
// history is off (the snapshot says so) and 500 when the file cannot be read; errors are
// {"error": "..."}.
WebReply ValuesReply(const StatusSnapshot& snapshot, const std::string& history_file,
                     const QueryValues& query, bool csv);

// GET /api/log: the activity log file's size and its last lines (at most 40, at most 64 KiB
// read from its end): {"on":..., "file":..., "bytes":..., "lines":[...]}; the file is the one
// the snapshot names.
WebReply LogReply(const StatusSnapshot& snapshot);

// An error reply: {"error": text}.
WebReply ErrorReply(int status, const std::string& text);
