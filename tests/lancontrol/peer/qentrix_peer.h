// A stand-in for the gauge software Qentrix: a TCP server on 127.0.0.1 that answers every
// request (framed by its length byte) with a scripted or default CR-ended line, records the
// bytes of every request and pushes unasked bytes such as trigger records on demand.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velk::lan::testing {

class QentrixPeer {
 public:
  // How one request is answered.
  struct Reply {
    std::string bytes;      // sent as they stand (a line includes its CR)
    int delay_ms = 0;       // pause before the first byte
    bool bytewise = false;  // one byte per send, 1 ms apart
    int close_after = -1;   // close the connection after this many bytes (-1: keep it open)
    bool silent = false;    // never answer
  };

  // Returns a reply with `text` and a CR.
  static Reply Line(std::string_view text);
  // Returns the 19-byte trigger record carrying `number` and `value`.
  static std::string TriggerRecord(int16_t number, double value);
  // Returns the answer line (with CR) given when no reply is queued.
  static std::string DefaultAnswer(std::string_view request);

  QentrixPeer() = default;
  ~QentrixPeer();
  QentrixPeer(const QentrixPeer&) = delete;
  QentrixPeer& operator=(const QentrixPeer&) = delete;

  // Listens on 127.0.0.1:`port` (0: any free port). Returns false on failure.
  bool Start(uint16_t port = 0);
  uint16_t port() const { return port_; }

  // Answers the next request, on any connection, with `reply` (queued replies go in order).
  void QueueReply(Reply reply);
  // Sends `bytes` unasked on every open connection.
  void Push(std::string_view bytes);
  // Closes every open connection.
  void CloseConnections();

  // Returns every request received so far, in arrival order.
  std::vector<std::string> Requests();
  void ClearRequests();

  // Wait until the condition holds or `timeout` passes; return whether it holds.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout);
  bool WaitForConnections(std::size_t count, std::chrono::milliseconds timeout);
  // Every queued byte has been handed to the system.
  bool WaitUntilSent(std::chrono::milliseconds timeout);

  std::size_t OpenConnections();

 private:
  using Clock = std::chrono::steady_clock;
  struct Chunk {
    Clock::time_point due;
    std::string bytes;
    bool close_after = false;
  };
  struct Connection {
    int fd = -1;
    std::string received;
    std::deque<Chunk> outgoing;
    bool closing = false;
  };

  void Run();
  void Wake();
  void Schedule(Connection& connection, const Reply& reply);
  void ReceiveFrom(Connection& connection);
  void SendTo(Connection& connection);
  int PollTimeoutMs();
  bool AllSent() const;

  int listen_fd_ = -1;
  int wake_fd_ = -1;
  uint16_t port_ = 0;
  bool stopping_ = false;
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Reply> replies_;
  std::vector<std::string> requests_;
  std::vector<Connection> connections_;
};

}  // namespace velk::lan::testing
