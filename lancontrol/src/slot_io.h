// Requests out and answer lines and trigger records in, on one slot. Every function takes a
// slot number in 0..99 whose call lock the caller holds, and a deadline (NowMs() clock) that
// bounds its waits. Every wait also ends when the slot is abandoned by a closer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "slot_table.h"

namespace velk::lan {

// How long a request may wait for its answer, counted from the start of the call.
constexpr int kAnswerWaitMs = 2000;
// How long a drain keeps taking trigger records that go on arriving.
constexpr int kDrainBudgetMs = 200;

// Sends the request bytes when the slot is connected, waiting until `deadline_ms` for the
// system to take them. Never raises SIGPIPE. Returns false when the slot is not connected,
// or the bytes could not all be sent in time (a peer that does not read) or at all.
bool SendRequest(int slot, const uint8_t* bytes, std::size_t length, int64_t deadline_ms);

// Waits until `deadline_ms` for a CR-ended line and copies it without the CR into `line`,
// zero-terminated; a longer line is cut to 103 characters and the rest of it up to the CR
// is consumed. Returns 0 line read; 1 no complete line in time (a partial line stays
// pending); 2 slot free, or the connection ended without a complete line (a line that
// arrived before the end is still read).
int ReadAnswerLine(int slot, char (&line)[kLineBufferSize], int64_t deadline_ms);

// Takes one 19-byte trigger record (19 pending bytes whose last one is CR) from the ring,
// waiting up to 20 ms for the record to complete. Returns 0 taken; 1 nothing pending, or the
// pending bytes were not a record and have been dropped, or `deadline_ms` came first (the
// pending bytes stay); 2 slot free.
int TakeTriggerRecord(int slot, int16_t& number, double& value, int64_t deadline_ms);

// Moves pending trigger records into the slot's trigger queue (records that find the queue
// full are dropped) and drops any other pending bytes. Stops after kDrainBudgetMs or at
// `deadline_ms`, whichever comes first, leaving records that keep arriving for the next call.
void DrainTriggerRecords(int slot, int64_t deadline_ms);

}  // namespace velk::lan
