// The network client of a port slot: one TCP connection, raw or with the telnet COM port
// option, carrying the port's data both ways with the same bounds as a pty client: input is
// taken up to kInputMax, no more is taken while kOutputPauseInput of output waits (so the
// engine answers no further command), and an answer that does not fit kOutputQueueMax is
// dropped whole. The connection ends on a reset or error, on the client's end of sending once
// what it sent is answered, and when the client takes no output for the idle limit. All
// calls come from the serving thread.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "byte_queue.h"
#include "endpoint_config.h"
#include "telnet_com_port.h"

class NetworkClient : private TelnetComPort::Sink {
 public:
  static constexpr size_t kOutputPauseInput = 64 * 1024;
  static constexpr size_t kOutputQueueMax = 1024 * 1024;
  static constexpr size_t kInputMax = 64 * 1024;
  // After the client ended its sending, what it sent is still answered for this long at most.
  static constexpr std::chrono::seconds kFinishLimit{5};

  using Clock = std::chrono::steady_clock;

  // Takes over fd, a connected socket, and sets it up: non-blocking, no delay, keepalive and
  // a user timeout from idle_limit, so that a vanished peer is noticed by the kernel. For
  // rfc2217 the server's opening offers are queued at once; signature answers its SIGNATURE
  // request.
  NetworkClient(int fd, const sockaddr_storage& peer, socklen_t peer_length, NetProtocol protocol,
                const std::string& signature, std::chrono::seconds idle_limit);
  NetworkClient(const NetworkClient&) = delete;
  NetworkClient& operator=(const NetworkClient&) = delete;
  ~NetworkClient() override;  // closes the connection

  int descriptor() const { return fd_; }
  // The epoll events the connection waits for now: input while there is room for it, output
  // while some waits, and the client's end of sending until it came.
  uint32_t Events() const;
  // Follows what epoll reported for the connection: reads what came (so that telnet
  // negotiation is answered on every slot, served or not), ends it on an error or hang-up.
  void Ready(uint32_t events);
  // Ends the connection when a limit passed (no output taken for the idle limit; the client's
  // finished sending answered for kFinishLimit). Returns milliseconds until the next limit,
  // -1 when none runs.
  int FollowTimers(Clock::time_point now);

  // The port's data path, as IVirtualPort describes it.
  int32_t InCount();
  void ReadData(uint8_t* data, int32_t& count);
  void WriteData(const uint8_t* data, int32_t count);
  void Pump();
  void Reset();
  bool InputPaused() const { return OutputWaiting() > kOutputPauseInput; }

  // True once the connection has ended; why says how ("closed by the client", ...).
  bool gone() const { return !gone_reason_.empty(); }
  const std::string& gone_reason() const { return gone_reason_; }
  // Received bytes not served: waiting now, or left when the connection ended.
  size_t unserved_input() const { return in_.size() + unserved_at_end_; }

  // "192.168.1.5:50123" ("[fd00::5]:50123").
  const std::string& peer_text() const { return peer_text_; }
  NetProtocol protocol() const { return protocol_; }
  // The line settings the client made (RFC 2217), null for a raw connection.
  const TelnetComPort::Line* line() const { return telnet_ ? &telnet_->line() : nullptr; }

  struct Counters {
    std::chrono::system_clock::time_point since{};
    uint64_t bytes_in = 0;       // data taken from the client (telnet framing excluded)
    uint64_t bytes_out = 0;      // data sent to the client
    uint64_t dropped_bytes = 0;  // answers dropped whole because the client did not read
  };
  const Counters& counters() const { return counters_; }

 private:
  void Data(const uint8_t* bytes, size_t count) override;
  void Reply(const uint8_t* bytes, size_t count) override;
  void Purge(bool input, bool output) override;

  size_t OutputWaiting() const { return answers_.size() + wire_.size(); }
  bool ReadAllowed() const;
  void Drain();
  void Send();
  void End(const std::string& reason);

  int fd_ = -1;
  NetProtocol protocol_;
  std::string peer_text_;
  std::unique_ptr<TelnetComPort> telnet_;  // null for raw
  std::chrono::seconds idle_limit_;
  bool finished_ = false;             // the client ended its sending (FIN), read up to it
  bool end_seen_ = false;             // epoll reported that end, perhaps not read up to yet
  Clock::time_point finished_at_{};   // when it did
  Clock::time_point output_since_{};  // last time output moved, or began to wait
  std::string gone_reason_;
  Counters counters_;
  ByteQueue in_;        // data from the client, not served yet
  ByteQueue answers_;   // data for the client, not yet framed (rfc2217)
  ByteQueue wire_;      // bytes for the socket, framed
  std::string framed_;  // answers being framed for wire_
  size_t dropped_answers_ = 0;
  size_t unserved_at_end_ = 0;
};
