// Peers that misbehave on 127.0.0.1, for the bounds of the LAN control library: one that
// trickles trigger records without end, one that never reads what it is sent, and one whose
// accept queue is full so that connecting to it never completes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace velk::lan::testing {

class HostilePeer {
 public:
  enum class Kind {
    kTrickle,      // accepts, reads and ignores requests, sends a trigger record every 3 ms
    kNeverReads,   // accepts, never reads, sends "ok" lines as fast as they are taken
    kNeverAccepts  // listens with a full accept queue and never accepts
  };

  // Returns the kind named "trickle", "never-read" or "never-accept"; false when unknown.
  static bool KindFromName(const std::string& name, Kind& kind);

  explicit HostilePeer(Kind kind) : kind_(kind) {}
  ~HostilePeer();
  HostilePeer(const HostilePeer&) = delete;
  HostilePeer& operator=(const HostilePeer&) = delete;

  // Listens on 127.0.0.1:`port` (0: any free port) and starts misbehaving. Returns false
  // when the listener cannot be set up (or, for kNeverAccepts, its queue cannot be filled).
  bool Start(uint16_t port = 0);
  uint16_t port() const { return port_; }

  // Number of trigger records sent so far (kTrickle).
  int RecordsSent() const { return records_sent_.load(); }

 private:
  void Serve(int fd);
  bool FillAcceptQueue();

  Kind kind_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> records_sent_{0};
  std::thread acceptor_;
  std::vector<std::thread> servers_;
  std::vector<int> fillers_;
};

}  // namespace velk::lan::testing
