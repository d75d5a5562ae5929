#include "network_endpoint.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "service_manager.h"
#include "tls_transport.h"

namespace {

constexpr int kBacklog = 8;
constexpr int kAcceptsPerWake = 16;
constexpr std::chrono::minutes kRefusalLogEvery{1};
constexpr size_t kRefusalsRemembered = 256;

// A listening socket as config says, or -1 with the reason.
int Listen(const NetworkEndpointConfig& config, std::string& reason) {
  const auto* address = reinterpret_cast<const sockaddr*>(&config.bind);
  const std::string where = EndpointText(config) + ": ";
  const int fd = socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    reason = where + std::strerror(errno);
    return -1;
  }
  const int on = 1, off = 0;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // "::" takes IPv4 clients too (as ::ffff:a.b.c.d, which the allow list matches as IPv4).
  if (address->sa_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
  if (bind(fd, address, config.bind_length) != 0 || listen(fd, kBacklog) != 0) {
    reason = where + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

// True when fd is a listening TCP socket bound to config's address and port: a listener the
// program kept across a restart, still right for the settings now.
bool ListensAsConfigured(int fd, const NetworkEndpointConfig& config) {
  int listening = 0, type = 0;
  socklen_t length = sizeof listening;
  if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || !listening) {
    return false;
  }
  length = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) {
    return false;
  }
  sockaddr_storage bound{};
  length = sizeof bound;
  return getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0 &&
         length == config.bind_length && std::memcmp(&bound, &config.bind, length) == 0;
}

// The name of a port's listener among the descriptors kept for the next run.
std::string KeptName(const std::string& port) { return "net" + port; }

}  // namespace

bool CanListen(const NetworkEndpointConfig& config, std::string& reason) {
  const int fd = Listen(config, reason);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool NetworkEndpoint::Start(const NetworkEndpointConfig& config, const std::string& name,
                            std::string& reason) {
  Stop();
  std::shared_ptr<TlsContext> tls;
  if (config.tls) {
    tls = TlsContext::Load(config.tls_cert, config.tls_key, config.tls_client_ca, reason);
    if (!tls) return false;
  }
  // A listener kept across a restart (by the service manager, or handed over) goes on: the
  // connections that came meanwhile wait in its backlog instead of being refused.
  int fd = service::TakeInherited(KeptName(name));
  if (fd >= 0 && !ListensAsConfigured(fd, config)) {
    close(fd);
    fd = -1;
  }
  if (fd >= 0) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  } else {
    fd = Listen(config, reason);
    if (fd < 0) return false;
  }
  service::StorePort(KeptName(name), fd);
  listener_ = fd;
  tls_ = std::move(tls);
  config_ = config;
  name_ = name;
  ++generation_;
  return true;
}

bool NetworkEndpoint::ReloadTls(std::string& reason) {
  if (!config_ || !config_->tls) return true;
  std::shared_ptr<TlsContext> tls =
      TlsContext::Load(config_->tls_cert, config_->tls_key, config_->tls_client_ca, reason);
  if (!tls) return false;
  tls_ = std::move(tls);
  return true;
}

void NetworkEndpoint::DropClient() {
  client_.reset();
  ++session_;
  if (hooks_.client_changed) hooks_.client_changed(nullptr);
  if (hooks_.end_lock_out) hooks_.end_lock_out();
}

void NetworkEndpoint::Stop() {
  if (client_) DropClient();
  if (listener_ >= 0) {
    service::ForgetPort(KeptName(name_));
    service::KeepForHandOver(KeptName(name_), listener_);
    close(listener_);
  }
  listener_ = -1;
  tls_.reset();
  config_.reset();
  ++generation_;
}

int32_t NetworkEndpoint::TakeDroppedInput() {
  Settle();
  const int32_t dropped = dropped_input_;
  dropped_input_ = 0;
  return dropped;
}

void NetworkEndpoint::Settle() {
  if (!client_ || !client_->gone()) return;
  if (!client_announced_) {
    // Never served: its TLS handshake failed or did not come. Logged as a refusal, so that a
    // peer that tries again and again leaves one line a minute.
    const std::string why = client_->gone_reason();
    ++generation_;
    DropClient();
    LogRefusal(client_address_, why);
    return;
  }
  const std::string line = name_ + ": network client " + client_->holder_text() + " left (" +
                           client_->gone_reason() + ")";
  const int64_t dropped = int64_t{dropped_input_} + static_cast<int64_t>(client_->unserved_input());
  dropped_input_ = static_cast<int32_t>(std::min<int64_t>(dropped, INT32_MAX));
  ++generation_;
  DropClient();
  // Logged once the pty lets clients in again.
  Log(line);
}

void NetworkEndpoint::Watches(std::vector<Watch>& out) const {
  if (listener_ >= 0) out.push_back({listener_, EPOLLIN});
  if (client_ && !client_->gone()) out.push_back({client_->descriptor(), client_->Events()});
}

void NetworkEndpoint::Ready(int fd, uint32_t events) {
  if (fd == listener_) {
    Accept();
  } else if (client_ && fd == client_->descriptor()) {
    client_->Ready(events);
    Announce();
  }
  Settle();
}

int NetworkEndpoint::FollowTimers() {
  if (!client_) return -1;
  const int next = client_->FollowTimers(NetworkClient::Clock::now());
  Settle();
  return client_ ? next : -1;
}

void NetworkEndpoint::Accept() {
  for (int i = 0; i < kAcceptsPerWake && listener_ >= 0; ++i) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN: no more; others (a connection reset meanwhile) likewise
    const auto* address = reinterpret_cast<const sockaddr*>(&peer);
    const std::string text = AddressText(address, length);
    if (!config_->allow.empty() && !AddressAllowed(config_->allow, address, length)) {
      Refuse(fd, text, "not in the allow list", false);
      continue;
    }
    Settle();
    if (client_) {
      Refuse(fd, text, "held by network client " + client_->holder_text(), true);
      continue;
    }
    if (hooks_.lock_out && !hooks_.lock_out()) {
      const std::string holder = hooks_.holder ? hooks_.holder() : std::string();
      Refuse(fd, text, holder.empty() ? "held by a client" : "held by " + holder, true);
      continue;
    }
    std::unique_ptr<ByteTransport> transport;
    if (tls_) transport = std::make_unique<TlsTransport>(fd, tls_);
    client_ =
        std::make_unique<NetworkClient>(fd, peer, length, config_->protocol, "Velk_VCP " + name_,
                                        config_->idle_limit, std::move(transport));
    client_announced_ = false;
    client_address_ = text;
    ++session_;
    ++generation_;
    if (hooks_.client_changed) hooks_.client_changed(client_.get());
    Announce();
    Settle();  // a connection that failed at once
  }
}

void NetworkEndpoint::Announce() {
  if (!client_ || client_announced_ || client_->gone() || !client_->established()) return;
  client_announced_ = true;
  Log(name_ + ": network client " + client_->holder_text() + " (" +
      ProtocolName(client_->protocol()) + (client_->tls() ? " over TLS" : "") + ") holds the port");
}

void NetworkEndpoint::Refuse(int fd, const std::string& address, const std::string& why,
                             bool tell) {
  if (tell) {
    const std::string line = "Velk_VCP: " + name_ + " is held by another client\r\n";
    send(fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  }
  close(fd);
  LogRefusal(address, why);
}

void NetworkEndpoint::LogRefusal(const std::string& address, const std::string& why) {
  const auto now = std::chrono::steady_clock::now();
  const std::string key = address + " " + why;
  auto it = refusals_logged_.find(key);
  if (it != refusals_logged_.end() && now - it->second < kRefusalLogEvery) return;
  if (refusals_logged_.size() >= kRefusalsRemembered) {
    std::erase_if(refusals_logged_,
                  [&](const auto& entry) { return now - entry.second >= kRefusalLogEvery; });
    if (refusals_logged_.size() >= kRefusalsRemembered) return;  // a storm: logged enough
  }
  refusals_logged_[key] = now;
  const std::string line =
      name_ + ": a network connection from " + address + " was refused: " + why;
  Log(line);
  if (hooks_.refused) hooks_.refused(line);
}

void NetworkEndpoint::Log(const std::string& line) {
  if (hooks_.log) hooks_.log(line);
}
