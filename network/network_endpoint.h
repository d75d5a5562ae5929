// A slot's network port: a listening TCP socket and at most one network client, which holds
// the slot alone. A connection is refused at once when the slot is held (by a pty client or
// another network client: it gets one line saying so), or when its address is outside the
// allow list (closed without a word); refusals are logged once per address and minute. A TLS
// port makes its clients with the station's TLS context, loaded at Start and at ReloadTls.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "endpoint_config.h"
#include "network_client.h"
#include "network_side.h"
#include "tls_context.h"

// True when a listener as config says can be made now (it is made and closed again); false
// with the reason otherwise ("127.0.0.1:4001 raw: Address already in use").
bool CanListen(const NetworkEndpointConfig& config, std::string& reason);

class NetworkEndpoint : public INetworkSide {
 public:
  // What the endpoint asks of the rest of its slot.
  struct Hooks {
    // Keeps pty clients out for a network client; false when one holds the port.
    std::function<bool()> lock_out;
    // Lets pty clients in again after the network client left.
    std::function<void()> end_lock_out;
    // Who holds the slot's port now, for the refusal line in the log ("1234 minicom").
    std::function<std::string()> holder;
    // Writes a line to the activity log and standard error.
    std::function<void(const std::string&)> log;
    // A network client came (the client) or left (null): the slot serves that line now.
    std::function<void(NetworkClient*)> client_changed;
    // A connection was refused: the line as logged (as seldom as the log gets it).
    std::function<void(const std::string&)> refused;
  };

  explicit NetworkEndpoint(Hooks hooks) : hooks_(std::move(hooks)) {}
  NetworkEndpoint(const NetworkEndpoint&) = delete;
  NetworkEndpoint& operator=(const NetworkEndpoint&) = delete;
  ~NetworkEndpoint() override { Stop(); }

  // Listens as config says for port name ("COM5"). Returns false, listening nowhere, with the
  // reason ("127.0.0.1:4001: Address already in use"). Stops a previous listener first.
  bool Start(const NetworkEndpointConfig& config, const std::string& name, std::string& reason);
  // Loads the TLS context of a TLS port anew from its files (a renewed certificate): the next
  // client gets it, a connected one keeps its own. Returns false, keeping the context it had,
  // with the reason when the files cannot be loaded; true at once for a port without TLS.
  bool ReloadTls(std::string& reason);
  // Closes the listener and the network client's connection; nothing when not listening.
  void Stop();
  bool listening() const { return listener_ >= 0; }
  const std::optional<NetworkEndpointConfig>& config() const { return config_; }

  // The network client holding the slot, null when none does.
  NetworkClient* client() { return client_ && !client_->gone() ? client_.get() : nullptr; }
  const NetworkClient* client() const {
    return client_ && !client_->gone() ? client_.get() : nullptr;
  }
  // Counts network clients' arrivals and departures.
  uint32_t session() const { return session_; }
  // Bytes of departed network clients dropped unserved since the last call.
  int32_t TakeDroppedInput();
  // Ends a network client whose connection has ended (read, write or timer found it).
  void Settle();

  void Watches(std::vector<Watch>& out) const override;
  uint32_t generation() const override { return generation_; }
  void Ready(int fd, uint32_t events) override;
  int FollowTimers() override;

 private:
  void Accept();
  void Refuse(int fd, const std::string& address, const std::string& why, bool tell);
  // Logs a refusal of address for why, once a minute for each address and reason.
  void LogRefusal(const std::string& address, const std::string& why);
  void Log(const std::string& line);
  // Logs the client's arrival once its transport is established.
  void Announce();
  // Ends the client (it left or the listener stops): counts the session, lets pty clients in.
  void DropClient();

  Hooks hooks_;
  std::optional<NetworkEndpointConfig> config_;
  std::string name_;
  int listener_ = -1;
  std::unique_ptr<NetworkClient> client_;
  bool client_announced_ = false;  // its arrival is logged (a TLS client's after its handshake)
  std::string client_address_;     // the client's address without its port
  std::shared_ptr<TlsContext> tls_;
  uint32_t session_ = 0;
  uint32_t generation_ = 0;
  int32_t dropped_input_ = 0;
  // When each refused address was last logged, so that a storm leaves one line a minute.
  std::map<std::string, std::chrono::steady_clock::time_point> refusals_logged_;
};
