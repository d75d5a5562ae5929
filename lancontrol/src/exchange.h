// The common sequence of the exports: lock the slot, drain pending trigger records, send one
// request, read its answer line. Each request, with the drain before the first one, is
// bounded by the answer wait counted from its start.
#pragma once

#include <cstdint>

#include "request.h"
#include "slot_table.h"
#include "thread_primitives.h"

namespace velk::lan {

// Result codes of the exports.
enum Result : int32_t {
  kSuccess = 0,
  kNoAnswer = 1,
  kRefused = 2,
  kOutOfRange = 3,
  kOutOfRangeWide = 4,
};

inline bool InRange(long value, long low, long high) { return value >= low && value <= high; }

// Holds the slot's call lock for its lifetime; drains pending trigger records on creation.
// The first request's time counts from the creation, each further request's from its start.
class Exchange {
 public:
  explicit Exchange(int slot);
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  // Sends `request` and reads the answer into `line`. Returns kSuccess with a non-empty line,
  // kNoAnswer when no line came or it was empty.
  int32_t Ask(const Request& request, char (&line)[kLineBufferSize]);

  // As Ask, and kRefused when the answer is "---".
  int32_t AskValue(const Request& request, char (&line)[kLineBufferSize]);

 private:
  int slot_;
  ScopedLock lock_;
  int64_t deadline_ms_;
  bool first_request_ = true;
};

// One exchange reading a number answer into `value` (kSuccess, kNoAnswer or kRefused).
int32_t AskNumber(int slot, const Request& request, double& value);

// One exchange copying a text answer into `out` (caller's buffer of 104 bytes).
int32_t AskText(int slot, const Request& request, char* out);

// One exchange of a write request: kSuccess when the answer is "ok", kNoAnswer without a
// usable answer, kRefused for any other answer.
int32_t AskWrite(int slot, const Request& request);

}  // namespace velk::lan
