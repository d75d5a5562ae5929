// Value events as CSV that a spreadsheet opens: a header line, ISO times in UTC, "." as
// decimal point, fields with a comma, quote or line break in quotes, lines ended by CR LF.
#pragma once

#include <string>

#include "value_event_ring.h"

// Returns the header line, with its line end.
std::string ValueCsvHeader();
// Returns the line of one event (texts already UTF-8), with its line end. Control characters
// of the text sent are written as their codes in angle brackets (<13><10>), as in the log; a
// text a spreadsheet would run as a formula (=, +, -, @, tab or CR first; not a plain number
// such as -0.5) gets an apostrophe in front. An event without a number leaves it empty, as a
// limit not set leaves its cell.
std::string ValueCsvLine(const NumberedEvent& e);
