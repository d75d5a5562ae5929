#include "network_client.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "tls_transport.h"

namespace {

constexpr size_t kChunk = 16 * 1024;
// rfc2217 answers are framed a little ahead of the socket, so that a purge still reaches most.
constexpr size_t kFramedAhead = 16 * 1024;

void SetOption(int fd, int level, int name, int value) {
  setsockopt(fd, level, name, &value, sizeof value);
}

}  // namespace

NetworkClient::NetworkClient(int fd, const sockaddr_storage& peer, socklen_t peer_length,
                             NetProtocol protocol, const std::string& signature,
                             std::chrono::seconds idle_limit,
                             std::unique_ptr<ByteTransport> transport)
    : fd_(fd), transport_(std::move(transport)), protocol_(protocol), idle_limit_(idle_limit) {
  tls_ = dynamic_cast<TlsTransport*>(transport_.get()) != nullptr;
  if (!transport_) transport_ = std::make_unique<SocketTransport>(fd_);
  const auto* address = reinterpret_cast<const sockaddr*>(&peer);
  std::string host = AddressText(address, peer_length);
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  uint16_t port = 0;
  if (address->sa_family == AF_INET) {
    port = ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
  } else if (address->sa_family == AF_INET6) {
    port = ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port);
  }
  peer_text_ = host + ":" + std::to_string(port);
  client_name_ = "network " + peer_text_;
  output_.StartClient();
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  SetOption(fd_, IPPROTO_TCP, TCP_NODELAY, 1);
  // A modest kernel buffer, so that a client that does not read is held back by the port's
  // own bound (as a pty client is) instead of megabytes queued in the kernel.
  SetOption(fd_, SOL_SOCKET, SO_SNDBUF, static_cast<int>(BoundedOutput::kPauseInput));
  // A peer that vanished (pulled cable, sleeping laptop) is found by the kernel within the
  // idle limit: probes after a third of it, three more a ninth apart; data it never
  // acknowledges ends the connection after the whole limit.
  const int limit = static_cast<int>(std::max<int64_t>(idle_limit_.count(), 3));
  SetOption(fd_, SOL_SOCKET, SO_KEEPALIVE, 1);
  SetOption(fd_, IPPROTO_TCP, TCP_KEEPIDLE, std::max(limit / 3, 1));
  SetOption(fd_, IPPROTO_TCP, TCP_KEEPINTVL, std::max(limit / 9, 1));
  SetOption(fd_, IPPROTO_TCP, TCP_KEEPCNT, 3);
  SetOption(fd_, IPPROTO_TCP, TCP_USER_TIMEOUT, limit * 1000);
  output_since_ = Clock::now();
  accepted_at_ = output_since_;
  if (protocol_ == NetProtocol::kRfc2217) {
    telnet_ = std::make_unique<TelnetComPort>(signature);
    telnet_->Start(*this);
    Send();
  }
}

NetworkClient::~NetworkClient() {
  transport_.reset();  // a TLS layer says goodbye on the socket first
  if (fd_ >= 0) close(fd_);
}

std::string NetworkClient::holder_text() const {
  return certificate_name_.empty() ? peer_text_ : certificate_name_ + " (" + peer_text_ + ")";
}

bool NetworkClient::Progress() {
  const bool before = transport_->Established();
  if (!transport_->Progress()) {
    End(transport_->error());
    return false;
  }
  if (!before && transport_->Established()) {
    if (const auto* tls = dynamic_cast<const TlsTransport*>(transport_.get())) {
      certificate_name_ = tls->peer_name();
      client_name_ = "network " + holder_text();
    }
  }
  return true;
}

void NetworkClient::End(const std::string& reason) {
  if (gone()) return;
  gone_reason_ = reason;
  unserved_at_end_ = in_.size();
  in_.Clear();
  output_.Clear();
  wire_.Clear();
}

bool NetworkClient::ReadAllowed() const {
  return !gone() && !finished_ && in_.size() < BoundedOutput::kInputMax && !InputPaused();
}

uint32_t NetworkClient::Events() const {
  if (gone()) return 0;
  // The end of the client's sending is reported until the program has read up to it; once
  // seen it is not asked for again, or a full input queue would make it wake the loop forever.
  uint32_t events = finished_ || end_seen_ ? 0u : static_cast<uint32_t>(EPOLLRDHUP);
  if (ReadAllowed()) events |= EPOLLIN;
  const bool suspended = telnet_ && telnet_->OutputSuspended();
  if (!wire_.empty() || (!output_.empty() && !suspended)) events |= EPOLLOUT;
  return transport_->Events(events);
}

void NetworkClient::Ready(uint32_t events) {
  if (gone()) return;
  if (events & (EPOLLERR | EPOLLHUP)) {
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
    End(error != 0 ? std::string("connection lost: ") + std::strerror(error)
                   : std::string("connection closed"));
    return;
  }
  if (events & EPOLLRDHUP) end_seen_ = true;
  const bool established = transport_->Established();
  if (!Progress()) return;
  // What came before an end is still to be read and answered; so is what a handshake just
  // finished let through, or what the transport holds.
  if ((events & (EPOLLIN | EPOLLRDHUP)) || established != transport_->Established() ||
      transport_->Buffered()) {
    Drain();
  }
  if (events & EPOLLOUT) Pump();
}

void NetworkClient::Drain() {
  uint8_t chunk[kChunk];
  while (ReadAllowed()) {
    const size_t wanted = std::min(kChunk, BoundedOutput::kInputMax - in_.size());
    const ssize_t n = transport_->Receive(chunk, wanted);
    if (n == 0) {
      finished_ = true;
      finished_at_ = Clock::now();
      break;
    }
    if (n < 0) {
      if (n == ByteTransport::kFailed) End(transport_->error());
      break;
    }
    if (telnet_) {
      const bool suspended = telnet_->OutputSuspended();
      telnet_->Receive(chunk, static_cast<size_t>(n), *this);
      // The idle limit counts from the resume, not from the suspension.
      if (suspended && !telnet_->OutputSuspended()) output_since_ = Clock::now();
    } else {
      Data(chunk, static_cast<size_t>(n));
    }
    // A short read took everything, unless the transport holds more.
    if (static_cast<size_t>(n) < wanted && !transport_->Buffered()) break;
  }
  if (!wire_.empty()) Send();  // telnet replies go out at once
  if (finished_ && in_.empty() && OutputWaiting() == 0) End("closed by the client");
}

void NetworkClient::Data(const uint8_t* bytes, size_t count) {
  in_.Append(bytes, count);
  output_.CountInput(count);
}

void NetworkClient::Reply(const uint8_t* bytes, size_t count) {
  if (wire_.empty()) output_since_ = Clock::now();
  wire_.Append(bytes, count);
}

void NetworkClient::Purge(bool input, bool output) {
  if (input) in_.Clear();
  if (output) output_.Clear();
}

int32_t NetworkClient::InCount() {
  if (gone()) return 0;
  if (in_.empty()) Drain();
  return static_cast<int32_t>(in_.size());
}

void NetworkClient::ReadData(uint8_t* data, int32_t& count) {
  if (!data || count <= 0 || gone()) {
    count = 0;
    return;
  }
  if (in_.size() < static_cast<size_t>(count)) Drain();
  const size_t n = std::min(in_.size(), static_cast<size_t>(count));
  std::copy_n(in_.data(), n, data);
  in_.Consume(n);
  count = static_cast<int32_t>(n);
}

void NetworkClient::WriteData(const uint8_t* data, int32_t count) {
  if (gone() || !data || count <= 0) return;
  const bool idle = OutputWaiting() == 0;
  if (output_.Add(data, static_cast<size_t>(count), wire_.size()) && idle) {
    output_since_ = Clock::now();
  }
}

const std::string& NetworkClient::ClientName() {
  static const std::string kNone;
  return gone() ? kNone : client_name_;
}

void NetworkClient::Pump() {
  if (gone()) return;
  Send();
  if (finished_ && in_.empty() && OutputWaiting() == 0) End("closed by the client");
}

void NetworkClient::Send() {
  for (;;) {
    if (telnet_ && !telnet_->OutputSuspended() && !output_.empty() && wire_.size() < kFramedAhead) {
      const size_t n = std::min(output_.size(), kFramedAhead);
      framed_.clear();  // its memory is kept: every answer passes here
      TelnetComPort::Escape(output_.data(), n, framed_);
      wire_.Append(reinterpret_cast<const uint8_t*>(framed_.data()), framed_.size());
      output_.Consume(n);
    }
    // Raw data goes to the socket as it waits; telnet data once framed.
    const uint8_t* bytes = telnet_ ? wire_.data() : output_.data();
    const size_t size = telnet_ ? wire_.size() : output_.size();
    if (size == 0) return;
    const ssize_t sent = transport_->Send(bytes, size);
    if (sent < 0) {
      if (sent == ByteTransport::kFailed) End(transport_->error());
      return;
    }
    if (telnet_) {
      wire_.Consume(static_cast<size_t>(sent));
    } else {
      output_.Consume(static_cast<size_t>(sent));
    }
    output_since_ = Clock::now();
    if (!telnet_) {
      if (output_.empty()) return;
    } else if (wire_.empty() && (output_.empty() || telnet_->OutputSuspended())) {
      return;
    }
  }
}

void NetworkClient::ResetPort() {
  in_.Clear();
  output_.Clear();  // raw output waits here only; framed telnet output may hold replies
}

int NetworkClient::FollowTimers(Clock::time_point now) {
  if (gone()) return -1;
  Clock::time_point next = Clock::time_point::max();
  if (!transport_->Established()) {
    const Clock::time_point limit = accepted_at_ + kHandshakeLimit;
    if (now >= limit) {
      End("no TLS handshake within " + std::to_string(kHandshakeLimit.count()) + " s");
      return -1;
    }
    next = limit;
  }
  const bool suspended = telnet_ && telnet_->OutputSuspended();
  if (!wire_.empty() || (!output_.empty() && !suspended)) {
    const Clock::time_point limit = output_since_ + idle_limit_;
    if (now >= limit) {
      End("the client took no output for " + std::to_string(idle_limit_.count()) + " s");
      return -1;
    }
    next = limit;
  }
  if (finished_) {
    const Clock::time_point limit = finished_at_ + kFinishLimit;
    if (now >= limit) {
      End("closed by the client");
      return -1;
    }
    next = std::min(next, limit);
  }
  if (next == Clock::time_point::max()) return -1;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
}
