// The network client of a port slot: one TCP connection, raw or with the telnet COM port
// option, carrying the port's data both ways as a client line (ClientLine) with the bounds of
// BoundedOutput, as a pty client: input is taken up to kInputMax, no more is taken while
// kPauseInput of output waits (so the engine answers no further command), and an answer that
// does not fit kQueueMax is dropped whole. The telnet coding stays inside: the line carries
// the port's bytes only, and sits on a byte transport: the socket itself, or TLS on it (then
// nothing passes until the handshake is done, within kHandshakeLimit). The connection ends on a
// reset or error, on the client's end of sending once what it sent is answered, and when the client
// takes no output for the idle limit. All calls come from the serving thread.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bounded_output.h"
#include "byte_queue.h"
#include "byte_transport.h"
#include "client_line.h"
#include "endpoint_config.h"
#include "telnet_com_port.h"

class NetworkClient : public ClientLine, private TelnetComPort::Sink {
 public:
  // After the client ended its sending, what it sent is still answered for this long at most.
  static constexpr std::chrono::seconds kFinishLimit{5};
  // A transport with a handshake (TLS) that has not finished it by then is dropped.
  static constexpr std::chrono::seconds kHandshakeLimit{10};

  using Clock = std::chrono::steady_clock;

  // Takes over fd, a connected socket, and sets it up: non-blocking, no delay, keepalive and
  // a user timeout from idle_limit, so that a vanished peer is noticed by the kernel. For
  // rfc2217 the server's opening offers are queued at once; signature answers its SIGNATURE
  // request. transport, made on fd, carries the bytes (null: the socket itself); the client
  // name then holds the name of its verified peer (TLS: the certificate's common name).
  NetworkClient(int fd, const sockaddr_storage& peer, socklen_t peer_length, NetProtocol protocol,
                const std::string& signature, std::chrono::seconds idle_limit,
                std::unique_ptr<ByteTransport> transport = nullptr);
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
  // finished sending answered for kFinishLimit; no handshake within kHandshakeLimit). Returns
  // milliseconds until the next limit, -1 when none runs.
  int FollowTimers(Clock::time_point now);

  // The port's data path, as ClientLine describes it. IsOpened is true until the connection
  // has ended.
  bool IsOpened() override { return !gone(); }
  int32_t InCount() override;
  void ReadData(uint8_t* data, int32_t& count) override;
  void WriteData(const uint8_t* data, int32_t count) override;
  void Pump() override;
  // Discards received data and output not yet framed; framed telnet output, which may hold
  // replies to the client's negotiation, stays.
  void ResetPort() override;
  bool OutputBacklogged() override { return InputPaused(); }
  // A network line does not echo, and is not kept across runs of the program.
  bool EchoesAnswers() override { return false; }
  bool HeldAcrossRestart() override { return false; }
  int32_t TakenInput() override { return 0; }
  bool OutputPending() override { return false; }
  // "network 192.168.1.5:50123" ("network alice (192.168.1.5:50123)" for a TLS client with a
  // certificate); empty once the connection has ended.
  const std::string& ClientName() override;
  bool ClientNameKnown() override { return true; }
  const ClientCounters& counters() const override { return output_.counters(); }
  bool InputPaused() const { return output_.Backlogged(wire_.size()); }

  // True once the connection has ended; why says how ("closed by the client", ...).
  bool gone() const { return !gone_reason_.empty(); }
  const std::string& gone_reason() const { return gone_reason_; }
  // Received bytes not served: waiting now, or left when the connection ended.
  size_t unserved_input() const { return in_.size() + unserved_at_end_; }

  // "192.168.1.5:50123" ("[fd00::5]:50123").
  const std::string& peer_text() const { return peer_text_; }
  // The peer as logs name it: peer_text, after the common name of its certificate when it
  // showed one ("alice (192.168.1.5:50123)").
  std::string holder_text() const;
  // The common name of the client's verified certificate; empty without one.
  const std::string& certificate_name() const { return certificate_name_; }
  // True for a TLS connection; established once its handshake is done (always for plain TCP).
  bool tls() const { return tls_; }
  bool established() const { return transport_->Established(); }
  NetProtocol protocol() const { return protocol_; }
  // The line settings the client made (RFC 2217), null for a raw connection.
  const TelnetComPort::Line* line() const { return telnet_ ? &telnet_->line() : nullptr; }

 private:
  void Data(const uint8_t* bytes, size_t count) override;
  void Reply(const uint8_t* bytes, size_t count) override;
  void Purge(bool input, bool output) override;

  size_t OutputWaiting() const { return output_.size() + wire_.size(); }
  bool ReadAllowed() const;
  void Drain();
  void Send();
  void End(const std::string& reason);
  // Moves the transport on (a handshake); ends the connection when it failed.
  bool Progress();

  int fd_ = -1;
  std::unique_ptr<ByteTransport> transport_;
  bool tls_ = false;
  std::string certificate_name_;
  Clock::time_point accepted_at_{};
  NetProtocol protocol_;
  std::string peer_text_;
  std::unique_ptr<TelnetComPort> telnet_;  // null for raw
  std::chrono::seconds idle_limit_;
  bool finished_ = false;             // the client ended its sending (FIN), read up to it
  bool end_seen_ = false;             // epoll reported that end, perhaps not read up to yet
  Clock::time_point finished_at_{};   // when it did
  Clock::time_point output_since_{};  // last time output moved, or began to wait
  std::string gone_reason_;
  std::string client_name_;  // ClientName while connected
  ByteQueue in_;             // data from the client, not served yet
  // Data for the client, not yet sent (raw) or not yet framed (rfc2217), and the counters.
  BoundedOutput output_;
  ByteQueue wire_;      // bytes for the socket, framed (rfc2217 only)
  std::string framed_;  // answers being framed for wire_
  size_t unserved_at_end_ = 0;
};
