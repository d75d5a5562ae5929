// The station's web page served by threads of its own (the HTTP library's bounded pool): the
// page's files, the JSON API, the CSV download and the live value events. It only reads: any
// method but GET and HEAD is refused. Every answer carries headers that keep it out of frames
// and other sites' scripts.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "event_hub.h"
#include "status_snapshot.h"
#include "web_config.h"

struct mg_context;
struct mg_connection;

// How many the page serves at once.
struct WebLimits {
  int threads = 12;             // connections served at once, live event streams included
  size_t subscribers = 4;       // live event streams at once (the rest get 503)
  size_t queued_events = 2000;  // events a live stream may fall behind before it is dropped
  int request_bytes = 8192;     // the request line and headers together
  int timeout_ms = 10000;       // a request must arrive, and each write go out, within this
};

class WebServer {
 public:
  // Starts listening as config says, with the snapshot and the ring of value events to serve
  // from (both must outlive the server) and the TLS context set up from the station's files.
  // Returns null with reason when it cannot: the port cannot be bound, the password file or
  // the TLS files cannot be read, an IPv6 address with a library built without IPv6.
  static std::unique_ptr<WebServer> Start(const WebConfig& config, const StatusSnapshot& snapshot,
                                          ValueEventRing& ring, std::string& reason,
                                          const WebLimits& limits = WebLimits());
  // Stops listening, ends the live streams and waits for the web threads (a write to a client
  // that takes nothing gives up after the timeout).
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  const WebConfig& config() const { return config_; }
  // Reads the password file anew (a changed password holds from the next request). Returns
  // false with reason, keeping the password it had, when the file cannot be read.
  bool ReloadPassword(std::string& reason);
  // Live event streams now, and those dropped for falling behind since the start.
  size_t Subscribers() const { return hub_.Subscribers(); }
  uint64_t DroppedSubscribers() const { return hub_.DroppedSubscribers(); }

 private:
  WebServer(const WebConfig& config, const StatusSnapshot& snapshot, ValueEventRing& ring,
            const WebLimits& limits);
  static int Handle(mg_connection* conn, void* self);
  static int InitTls(void* ssl_context, void* self);
  static int HttpError(mg_connection* conn, int status, const char* message);
  int Serve(mg_connection* conn);
  int StreamEvents(mg_connection* conn, bool head);
  std::string Password() const;

  WebConfig config_;
  const StatusSnapshot& snapshot_;
  WebLimits limits_;
  EventHub hub_;
  std::string tls_error_;
  mutable std::mutex password_mutex_;
  std::string password_;
  mg_context* context_ = nullptr;
};

// Waits until nothing listens on config's address and port any more (a retired server's
// listener closes before its last streams end), for at most bound. Returns true once the
// address is free, false when something still listens on it after bound.
bool WaitUntilNotListening(const WebConfig& config, std::chrono::milliseconds bound);
