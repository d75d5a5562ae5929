// The station's web page as the settings switch it: the server on its own threads, the status
// snapshot the serving loop refreshes for it, and the page's place in the status.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "port_bridge.h"
#include "settings_record.h"
#include "status_snapshot.h"
#include "value_recorder.h"
#include "web_config.h"
#include "web_server.h"

class WebPageSwitch {
 public:
  // How often the serving loop refreshes the page's status at most.
  static constexpr std::chrono::milliseconds kRefresh{250};
  // How long a change that stops or moves the page waits at most for the old listener to close.
  static constexpr std::chrono::milliseconds kListenerGone{1000};

  // Serving thread. Has the page follow the settings s: starts, moves or stops the server;
  // with the same page settings the server stays and only its password file is read anew. Then
  // has recorder's events announced to the page while it runs (recorder.ApplyTo with s).
  // Returns false with reason when the page cannot run as s says (the port cannot be bound, a
  // file cannot be read); the page that ran before then runs on unchanged.
  bool Apply(const SettingsRecord& s, ValueRecorder& recorder, PortBridge& bridge,
             std::string& reason);
  // Serving thread, on every turn of the loop: while the page runs and kRefresh has passed,
  // hands it status() as the new snapshot. Returns the milliseconds until the next refresh is
  // due (-1: the page is off).
  int Step(const std::function<nlohmann::json()>& status);
  // The "web" member of the status: where the page listens and how, or why it does not; null
  // when it is off.
  nlohmann::json Status() const;
  // Stops the server and waits until every server stopped so far has ended (before the value
  // listeners' ring goes).
  void Stop();
  ~WebPageSwitch() { Stop(); }

 private:
  // A server that ends on a thread of its own: its live streams may wait for clients that
  // take nothing, and serving does not wait for them.
  struct Retiring {
    uint16_t port = 0;
    std::shared_ptr<std::atomic<bool>> done;
    std::thread thread;
  };
  // Hands server_ to a thread of its own that ends it.
  void Retire();
  // Waits for the retiring servers that listened on port (0: all); forgets those that ended.
  void AwaitRetired(uint16_t port);

  StatusSnapshot snapshot_;
  std::unique_ptr<WebServer> server_;
  std::vector<Retiring> retiring_;
  std::string error_;
  std::chrono::steady_clock::time_point refreshed_{};
};
