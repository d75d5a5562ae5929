// The local value history: every value event in an SQLite database in the working folder,
// written by a thread of its own in batches (WAL mode), so that serving never waits for the
// disk. Bounded by a retention in days or megabytes; private to the user (0600). Each row is
// numbered on from the last row ever written (the numbers go on across restarts and retention)
// and carries its link of the keyed hash chain (record_chain.h), with the key in a private file
// next to the database (history_key.h).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "listener_pace.h"
#include "value_event_ring.h"

inline constexpr const char* kHistoryFileName = "Velk_VCP.values.db";
inline constexpr int kDefaultKeepDays = 90;

// The rows a history has committed, for a reader of the database (the MQTT publisher) that
// waits for new ones. Shared by the histories of one recorder, one after the other.
struct HistoryCommits {
  std::mutex mutex;
  std::condition_variable committed;
  int64_t last_id = 0;  // under mutex: the row number of the last row committed

  // Sets last_id and wakes the waiting readers.
  void Committed(int64_t id);
  // Returns last_id, after waiting up to timeout for it to pass after.
  int64_t WaitPast(int64_t after, std::chrono::milliseconds timeout);
  int64_t Last();
};

// One entry of the record of changes: who did what, when and how.
struct AuditEntry {
  int64_t utc_ms = 0;
  std::string user;     // the user name
  std::string process;  // "PID program arguments" of the process that asked; empty for the program
  std::string how;      // "velk-vcp-config", "setup window", "reload", "program"
  std::string what;     // what happened; each changed setting "KEY: OLD -> NEW", joined by "; "
};

struct HistoryOptions {
  std::string path = kHistoryFileName;
  int keep_days = 0;  // events older than this are removed (0: kDefaultKeepDays)
  int max_mb = 0;     // the files on disk (the database, its WAL and shared-memory file) are kept
                      // below this size by removing the oldest events
  std::shared_ptr<HistoryCommits> commits;  // told of every commit when set
};

struct HistoryFigures {
  size_t queued = 0;     // events waiting to be written
  uint64_t written = 0;  // events written since the start
  uint64_t dropped = 0;  // events lost: the queue was full
  bool failing = false;  // the last write failed (disk full, file gone); it is tried again
};

class ValueHistory {
 public:
  // Opens or creates the database (refusing a symbolic link, and a FIFO, device or folder in
  // its place or its -wal or -shm file's, at once, and a key file that others may read or that
  // cannot be read or made), makes it 0600 and starts the
  // writer thread, which writes the events published in ring from now on (the ring holds them
  // while the disk is slow or full). Returns null and sets error when the file cannot be opened
  // or set up. ring must outlive the history.
  // With a predecessor (a history of the same file that Finish was called on), nothing is opened
  // here and Open returns at once: the new writer waits until the predecessor has written what
  // it had, then takes over its database with these options (so that only one writes the file
  // at a time), and the history owns the predecessor from then on (predecessor is null after a
  // successful Open, kept on failure). For another file, the file is opened as without one.
  static std::unique_ptr<ValueHistory> Open(const HistoryOptions& options, ValueEventRing& ring,
                                            std::string& error,
                                            std::unique_ptr<ValueHistory>* predecessor = nullptr);
  // Writes what waits (as far as the disk takes it; what a failing disk holds back is given
  // up) and stops the writer.
  ~ValueHistory();

  // Returns at once: takes no event published from now on and lets the writer write what it has
  // on its own, trying a failing disk again until it takes them.
  void Finish();
  // True once the writer has ended (after Finish, what it had is written); the destructor then
  // returns at once.
  bool Finished() const { return finished_.load(); }

  HistoryFigures Figures() const;
  // Queues entry for the table of changes (audit_events, with its own chain) and returns at once;
  // the writer writes it with its next batch. Returns false when the writer has ended.
  bool Audit(const AuditEntry& entry);

  ValueHistory(const ValueHistory&) = delete;
  ValueHistory& operator=(const ValueHistory&) = delete;

 private:
  struct Db;
  ValueHistory(const HistoryOptions& options, ValueEventRing& ring, std::unique_ptr<Db> db,
               std::unique_ptr<ValueHistory> predecessor);
  void Run();
  // Waits for the predecessor's writer to end and takes over its database (writer thread).
  void TakeOver();
  void Write();
  // Writes the audit entries queued so far in one transaction; false when it failed (they are
  // tried again).
  bool WriteAudit();
  // Writes the n events taken from the queue in one transaction; false when it failed.
  bool WriteTaken(size_t n);
  void KeepWithinRetention();
  // Removes the oldest events until the files on disk are within options_.max_mb again.
  void KeepWithinMegabytes();
  // Removes the rows up to up_to and records the last removed row in the chain's pruned mark,
  // in one transaction. Returns false when SQLite refuses.
  bool Prune(int64_t up_to);

  HistoryOptions options_;
  std::unique_ptr<Db> db_;
  ValueEventReader queue_;
  std::atomic<uint64_t> written_{0};
  std::atomic<bool> failing_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> finished_{false};
  std::unique_ptr<ValueHistory> predecessor_;  // the writer thread's alone once started
  std::mutex audit_mutex_;
  std::vector<AuditEntry> audit_;  // under audit_mutex_: waiting to be written
  std::thread writer_;
};
