// What the program holds for the client of a port slot, whatever carries it (a pseudo-terminal,
// a network connection): output in order, bounded, with the limits that every client line
// shares, and what the present client did. An answer or push that does not fit is dropped
// whole, never cut, and counted. Calls come from one thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "byte_queue.h"

// What the present client did, counted from its arrival.
struct ClientCounters {
  std::chrono::system_clock::time_point since{};
  uint64_t bytes_in = 0;       // data taken from the client (line framing excluded)
  uint64_t bytes_out = 0;      // data handed to the line for the client
  uint64_t dropped_bytes = 0;  // answers dropped whole because the client did not read
};

class BoundedOutput {
 public:
  // While more output than this waits for the client, its line takes no more input and the
  // engine answers no more commands: the client's own writes then wait until it reads.
  static constexpr size_t kPauseInput = 64 * 1024;
  // Output waiting for a client, at most. Only pushes (foot switch, data key) to a client that
  // never reads can reach it.
  static constexpr size_t kQueueMax = 1024 * 1024;
  // Received bytes a line holds for the engine, at most; past it the client's writes wait.
  static constexpr size_t kInputMax = 64 * 1024;

  // Names the port ("COM5") in the lines on standard error that say when dropping starts and
  // how much was dropped when it ends. Without a name (the default) dropping is only counted.
  void SetReportName(std::string name) { report_name_ = std::move(name); }

  // A new client: empties the queue and counts from now. An episode of dropping still open
  // goes on (EndDropEpisode ends it).
  void StartClient();
  // Queues count bytes when they fit: with also_waiting (output of the same client the line
  // holds elsewhere, e.g. already framed for the wire) at most kQueueMax may wait. Returns
  // true when queued; false when they do not fit, and then drops them all, never a part, and
  // counts them (dropped_bytes). Nothing for a null data or a count of 0 (returns true).
  bool Add(const uint8_t* data, size_t count, size_t also_waiting = 0);
  // The waiting bytes, size() of them, oldest first.
  const uint8_t* data() const { return queue_.data(); }
  size_t size() const { return queue_.size(); }
  bool empty() const { return queue_.empty(); }
  // Takes count bytes (at most size()) from the front as handed to the line (bytes_out).
  void Consume(size_t count);
  // Discards what waits; counts nothing.
  void Clear() { queue_.Clear(); }
  // True while more than kPauseInput waits (with also_waiting, as in Add).
  bool Backlogged(size_t also_waiting = 0) const { return size() + also_waiting > kPauseInput; }
  // Counts count bytes taken from the client (bytes_in).
  void CountInput(size_t count) { counters_.bytes_in += count; }
  const ClientCounters& counters() const { return counters_; }
  // Ends an episode of dropping: with a report name, standard error says how many answers
  // (and bytes) were dropped since it began. Nothing when nothing was dropped.
  void EndDropEpisode();

 private:
  ByteQueue queue_;
  ClientCounters counters_;
  std::string report_name_;
  size_t episode_answers_ = 0;  // dropped since the episode began
  size_t episode_bytes_ = 0;
};
