#include "web_server.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

#include "api_routes.h"
#include "basic_auth.h"
#include "http_library_tls.h"
#include "page_files.h"
#include "request_target.h"
#include "tls_context.h"
#include "value_history.h"

namespace {

// Keeps every answer out of other sites' frames and scripts, and out of caches.
constexpr const char* kSecurityHeaders =
    "X-Frame-Options: DENY\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Content-Security-Policy: default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; "
    "base-uri 'none'; form-action 'none'\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Cache-Control: no-store\r\n"
    "Connection: close\r\n";

const char* StatusText(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 409:
      return "Conflict";
    case 413:
      return "Content Too Large";
    case 414:
      return "URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Error";
  }
}

void Send(mg_connection* conn, const WebReply& reply, bool head, const std::string& extra = "") {
  mg_printf(conn, "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n%s%s\r\n",
            reply.status, StatusText(reply.status), reply.content_type.c_str(), reply.body.size(),
            kSecurityHeaders, extra.c_str());
  if (!head && !reply.body.empty()) mg_write(conn, reply.body.data(), reply.body.size());
}

bool ClientAllowed(const std::vector<AddressBlock>& allow, const char* remote) {
  if (allow.empty()) return true;
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  if (inet_pton(AF_INET, remote, &v4.sin_addr) == 1) {
    return AddressAllowed(allow, reinterpret_cast<const sockaddr*>(&v4), sizeof v4);
  }
  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  if (inet_pton(AF_INET6, remote, &v6.sin6_addr) == 1) {
    return AddressAllowed(allow, reinterpret_cast<const sockaddr*>(&v6), sizeof v6);
  }
  return false;
}

}  // namespace

WebServer::WebServer(const WebConfig& config, const StatusSnapshot& snapshot, ValueEventRing& ring,
                     const WebLimits& limits)
    : config_(config),
      snapshot_(snapshot),
      limits_(limits),
      hub_(ring, limits.subscribers, limits.queued_events) {}

std::unique_ptr<WebServer> WebServer::Start(const WebConfig& config, const StatusSnapshot& snapshot,
                                            ValueEventRing& ring, std::string& reason,
                                            const WebLimits& limits) {
  const sockaddr* bind = reinterpret_cast<const sockaddr*>(&config.bind);
  if (bind->sa_family == AF_INET6 && mg_check_feature(8) == 0) {
    reason = "listening on " + config.bind_text +
             ": the HTTP library of this system serves IPv4 only; give an IPv4 address";
    return nullptr;
  }
  if (config.tls && (mg_check_feature(MG_FEATURES_TLS) == 0 || !PrepareHttpLibraryTls(reason))) {
    if (reason.empty()) reason = "the HTTP library of this system has no TLS";
    return nullptr;
  }
  std::unique_ptr<WebServer> server(new WebServer(config, snapshot, ring, limits));
  if (!config.password_file.empty() && !server->ReloadPassword(reason)) return nullptr;
  mg_init_library(0);
  const std::string listening = AddressText(bind, config.bind_length) + ":" +
                                std::to_string(config.port) + (config.tls ? "s" : "");
  const std::string threads = std::to_string(limits.threads);
  const std::string requestBytes = std::to_string(limits.request_bytes);
  const std::string timeout = std::to_string(limits.timeout_ms);
  const char* options[] = {"listening_ports",
                           listening.c_str(),
                           "num_threads",
                           threads.c_str(),
                           "max_request_size",
                           requestBytes.c_str(),
                           "request_timeout_ms",
                           timeout.c_str(),
                           "enable_keep_alive",
                           "no",
                           "listen_backlog",
                           "32",
                           "connection_queue",
                           "32",
                           nullptr};
  mg_callbacks callbacks{};
  callbacks.log_message = [](const mg_connection*, const char*) { return 1; };
  callbacks.log_access = [](const mg_connection*, const char*) { return 1; };
  callbacks.http_error = &WebServer::HttpError;
  if (config.tls) callbacks.init_ssl = &WebServer::InitTls;
  char errorText[256] = "";
  unsigned errorCode = 0;
  mg_error_data error{&errorCode, errorText, sizeof errorText};
  mg_init_data init{&callbacks, server.get(), options};
  server->context_ = mg_start2(&init, &error);
  if (server->context_ == nullptr) {
    reason = !server->tls_error_.empty() ? server->tls_error_
             : errorText[0] != '\0'
                 ? "cannot listen on " + WebEndpointText(config) + ": " + errorText
                 : "cannot listen on " + WebEndpointText(config);
    return nullptr;
  }
  mg_set_request_handler(server->context_, "/", &WebServer::Handle, server.get());
  return server;
}

WebServer::~WebServer() {
  if (context_ == nullptr) return;
  // Live streams end first, so that their threads are free at once.
  hub_.EndSubscriptions();
  // The library's listening thread looks at its stop flag only when a connection comes or its
  // poll times out (seconds): connections of our own wake it until it has stopped.
  std::atomic<bool> stopped = false;
  std::thread stopping([this, &stopped] {
    mg_stop(context_);
    stopped = true;
  });
  sockaddr_storage target = config_.bind;
  if (target.ss_family == AF_INET) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&target);
    if (v4->sin_addr.s_addr == htonl(INADDR_ANY)) v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  while (!stopped) {
    const int fd = ::socket(target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
      ::connect(fd, reinterpret_cast<const sockaddr*>(&target), config_.bind_length);
      ::close(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  stopping.join();
}

bool WaitUntilNotListening(const WebConfig& config, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    // A bind with SO_REUSEADDR fails only while a socket listens on the address.
    const int fd = ::socket(config.bind.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const bool free =
        ::bind(fd, reinterpret_cast<const sockaddr*>(&config.bind), config.bind_length) == 0;
    ::close(fd);
    if (free) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool WebServer::ReloadPassword(std::string& reason) {
  if (config_.password_file.empty()) return true;
  const std::optional<std::string> password = ReadPasswordFile(config_.password_file, reason);
  if (!password) return false;
  std::lock_guard lock(password_mutex_);
  password_ = *password;
  return true;
}

std::string WebServer::Password() const {
  std::lock_guard lock(password_mutex_);
  return password_;
}

int WebServer::InitTls(void* ssl_context, void* self) {
  auto* server = static_cast<WebServer*>(self);
  const WebConfig& c = server->config_;
  std::string reason;
  if (!ConfigureServerTls(static_cast<SSL_CTX*>(ssl_context), c.tls_cert, c.tls_key,
                          c.tls_client_ca, reason)) {
    server->tls_error_ = reason;
    return -1;
  }
  return 1;
}

int WebServer::HttpError(mg_connection* conn, int status, const char* message) {
  // The library's own refusals (a request too large, one it cannot read) in the page's form.
  Send(conn, ErrorReply(status, message ? message : StatusText(status)), false);
  return 0;
}

int WebServer::Handle(mg_connection* conn, void* self) {
  return static_cast<WebServer*>(self)->Serve(conn);
}

int WebServer::Serve(mg_connection* conn) {
  const mg_request_info* info = mg_get_request_info(conn);
  if (!ClientAllowed(config_.allow, info->remote_addr)) {
    Send(conn, ErrorReply(403, "not from this network"), false);
    return 403;
  }
  const std::string method = info->request_method ? info->request_method : "";
  const bool head = method == "HEAD";
  if (method != "GET" && !head) {
    Send(conn, ErrorReply(405, "the page only reads: GET or HEAD"), false, "Allow: GET, HEAD\r\n");
    return 405;
  }
  const std::string path = info->request_uri ? info->request_uri : "";
  if (const int problem = RequestTargetProblem(path)) {
    Send(conn, ErrorReply(problem, "no such path"), head);
    return problem;
  }
  if (!config_.password_file.empty() &&
      !BasicAuthAccepts(mg_get_header(conn, "Authorization"), Password())) {
    Send(conn, ErrorReply(401, "the page asks for its password"), head,
         "WWW-Authenticate: Basic realm=\"Velk_VCP\", charset=\"UTF-8\"\r\n");
    return 401;
  }
  const QueryValues query = ParseQuery(info->query_string ? info->query_string : "");
  WebReply reply;
  if (path == "/api/events") return StreamEvents(conn, head);
  if (path == "/api/status") {
    reply = StatusReply(snapshot_);
  } else if (path == "/api/values") {
    reply = ValuesReply(snapshot_, kHistoryFileName, query, false);
  } else if (path == "/values.csv") {
    reply = ValuesReply(snapshot_, kHistoryFileName, query, true);
  } else if (path == "/api/log") {
    reply = LogReply(snapshot_);
  } else if (const PageFile* file = FindPageFile(path)) {
    reply = {200, std::string(file->content_type), std::string(file->body)};
    // The page's texts in the program's language.
    if (path == "/") {
      const char* languages[] = {"en", "en", "de", "fr"};
      const std::string marker = "lang=\"en\"";
      const size_t at = reply.body.find(marker);
      if (at != std::string::npos) {
        reply.body.replace(at, marker.size(),
                           std::string("lang=\"") + languages[config_.language] + "\"");
      }
    }
  } else {
    reply = ErrorReply(404, "no such path");
  }
  Send(conn, reply, head);
  return reply.status;
}

int WebServer::StreamEvents(mg_connection* conn, bool head) {
  std::shared_ptr<EventSubscription> subscription = hub_.Subscribe();
  if (!subscription) {
    Send(conn, ErrorReply(503, "too many live views at once; try again later"), head);
    return 503;
  }
  mg_printf(conn,
            "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n%s"
            "X-Accel-Buffering: no\r\n\r\n",
            kSecurityHeaders);
  if (head) return 200;
  // The client hears at once that it is subscribed; a comment line every 15 s keeps proxies
  // from closing a quiet stream.
  if (mg_printf(conn, ": subscribed\n\n") <= 0) return 200;
  std::vector<std::string> events;
  while (subscription->Wait(events, std::chrono::seconds(15))) {
    std::string out;
    for (const std::string& event : events) out += event;
    events.clear();
    if (out.empty()) out = ": still here\n\n";
    if (mg_write(conn, out.data(), out.size()) <= 0) break;
  }
  return 200;
}
