// Requests out and answer lines and trigger records in, on one slot. Every function takes a
// slot number in 0..99 whose call lock the caller holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "slot_table.h"

namespace velk::lan {

// Sends the request bytes in one call when the slot is connected; a send error shows as a
// missing answer. Never raises SIGPIPE. Returns false when the slot is not connected.
bool SendRequest(int slot, const uint8_t* bytes, std::size_t length);

// Waits up to about two seconds for a CR-ended line and copies it without the CR into
// `line`, zero-terminated; a longer line is cut to 103 characters and the rest of it up to
// the CR is consumed. Returns 0 line read; 1 no complete line within the wait (a partial line
// stays pending); 2 slot free, or the connection ended without a complete line (a line that
// arrived before the end is still read).
int ReadAnswerLine(int slot, char (&line)[kLineBufferSize]);

// Takes one 19-byte trigger record (19 pending bytes whose last one is CR) from the ring,
// waiting up to 20 ms for the record to complete. Returns 0 taken; 1 nothing pending, or the
// pending bytes were not a record and have been dropped; 2 slot free.
int TakeTriggerRecord(int slot, int16_t& number, double& value);

// Moves every pending trigger record into the slot's trigger queue (records that find the
// queue full are dropped) and drops any other pending bytes.
void DrainTriggerRecords(int slot);

}  // namespace velk::lan
