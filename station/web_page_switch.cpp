#include "web_page_switch.h"

using nlohmann::json;

bool WebPageSwitch::Apply(const SettingsRecord& s, ValueRecorder& recorder, PortBridge& bridge,
                          std::string& reason) {
  std::optional<WebConfig> config;
  if (!WebConfigFromSettings(s, config, reason)) return false;
  if (config && server_ && server_->config() == *config) {
    if (!server_->ReloadPassword(reason)) return false;
  } else if (config || server_) {
    // The running page goes first: the new one may want its port.
    std::optional<WebConfig> previous;
    if (server_) previous = server_->config();
    Retire();
    // The tool's answer comes after this: once it says the page is off or moved, the old
    // address no longer answers. Its listener closes within milliseconds; streams that still
    // end on the retiring thread do not hold it.
    if (previous && (!config || config->port != previous->port))
      WaitUntilNotListening(*previous, kListenerGone);
    if (config) {
      AwaitRetired(config->port);
      server_ = WebServer::Start(*config, snapshot_, recorder.Ring(), reason);
      if (!server_) {
        std::string ignored;
        if (previous) {
          AwaitRetired(previous->port);
          server_ = WebServer::Start(*previous, snapshot_, recorder.Ring(), ignored);
        }
        reason = "web page: " + reason;
        error_ = server_ ? "" : reason;
        recorder.SetOtherReader(server_ != nullptr);
        recorder.ApplyTo(bridge, s);
        return false;
      }
      // The first browser finds a status at once.
      refreshed_ = {};
    }
  }
  error_.clear();
  recorder.SetOtherReader(server_ != nullptr);
  recorder.ApplyTo(bridge, s);
  return true;
}

int WebPageSwitch::Step(const std::function<json()>& status) {
  if (!server_) return -1;
  const auto now = std::chrono::steady_clock::now();
  if (now - refreshed_ >= kRefresh) {
    snapshot_.Set(status().dump(-1, ' ', false, json::error_handler_t::replace));
    refreshed_ = now;
  }
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(refreshed_ + kRefresh - now);
  return static_cast<int>(std::max<int64_t>(left.count(), 1));
}

json WebPageSwitch::Status() const {
  if (!server_)
    return error_.empty() ? json(nullptr) : json{{"listening", false}, {"error", error_}};
  const WebConfig& c = server_->config();
  json allow = json::array();
  for (const AddressBlock& block : c.allow) allow.push_back(AddressBlockText(block));
  return {{"listening", true},
          {"address", AddressText(reinterpret_cast<const sockaddr*>(&c.bind), c.bind_length)},
          {"port", c.port},
          {"tls", c.tls},
          {"allow", allow},
          {"password", !c.password_file.empty()},
          {"live_views", server_->Subscribers()},
          {"dropped_views", server_->DroppedSubscribers()},
          {"error", nullptr}};
}

void WebPageSwitch::Retire() {
  if (!server_) return;
  Retiring r;
  r.port = server_->config().port;
  r.done = std::make_shared<std::atomic<bool>>(false);
  r.thread = std::thread([server = std::move(server_), done = r.done]() mutable {
    server.reset();
    *done = true;
  });
  retiring_.push_back(std::move(r));
}

void WebPageSwitch::AwaitRetired(uint16_t port) {
  for (auto it = retiring_.begin(); it != retiring_.end();) {
    if (port == 0 || it->port == port || *it->done) {
      it->thread.join();
      it = retiring_.erase(it);
    } else {
      ++it;
    }
  }
}

void WebPageSwitch::Stop() {
  Retire();
  AwaitRetired(0);
}
