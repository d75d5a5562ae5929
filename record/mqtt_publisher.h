// Publishes every value event to an MQTT broker (libmosquitto, QoS 1): the event's JSON to
// <prefix>/<station>/<D.A>/value, retained, and "online" / "offline" to
// <prefix>/<station>/status, retained, "offline" also as the last will. A thread of its own
// feeds the broker from a bounded queue (oldest dropped first), and the client runs on a second
// thread, so that a broker that is down, late, slow or hostile never delays serving: the
// connection is tried again with back-off (1 s doubling to 30 s) until the broker is there, and
// it takes in nothing but acknowledgements (anything else drops the connection). With the value
// history on, it publishes from the history instead: nothing is lost while the broker is away or
// the program restarts, a backlog is caught up oldest first at a bounded rate, beside the live
// values.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "listener_pace.h"
#include "mqtt_url.h"
#include "value_event_ring.h"
#include "value_history.h"

struct MqttOptions {
  MqttUrl url;
  std::string prefix = "velk";
  std::string station;        // UTF-8; '/', '+' and '#' become '_' in topics
  std::string user;           // empty: no user name
  std::string password_file;  // its first line is the password; must be private (0600)
  std::string ca_file;        // CA certificates for TLS (mqtts://)
  std::string cert_file;      // the client certificate for a broker that asks for one
  std::string key_file;       // its private key
  int window = 200;           // events published and not yet acknowledged, at most
  // Publishing from the value history at this path instead of the ring (when not empty): every
  // row the broker has not acknowledged, the acknowledged mark kept in the database.
  std::string history_path;
  std::shared_ptr<HistoryCommits> commits;  // the history's commits (with history_path)
  int64_t start_after = 0;   // with history_path and no mark stored yet: publishes the rows after
  int catch_up_rate = 1000;  // rows of a backlog published a second at most
};

struct MqttFigures {
  std::string state;       // "connected", "connecting" or "disconnected"
  size_t queued = 0;       // events waiting for the broker
  uint64_t published = 0;  // value events the broker acknowledged (status messages not counted)
  uint64_t dropped = 0;    // events dropped: the queue was full (or the client refused one)
};

class MqttPublisher {
 public:
  // Sets up the client and starts connecting in the background; publishes the events published
  // in ring from now on (the ring holds them while the broker is away), or with
  // options.history_path the history's rows after the stored mark. Returns null and sets
  // error for a password file that cannot be read or is readable by others, a CA file that
  // cannot be read, or a client that cannot be made. ring must outlive the publisher.
  static std::unique_ptr<MqttPublisher> Start(const MqttOptions& options, ValueEventRing& ring,
                                              std::string& error);
  // Stops reading the ring and returns at once; the client's thread then publishes "offline"
  // (unless Quietly was called), waits up to 2 s for what is in flight, disconnects and closes
  // its sockets on its own (see AwaitClosed).
  ~MqttPublisher();
  // Has the destructor leave without "offline" (the next run of the program takes over, and
  // the broker is told of a clean end, so that it sends no last will).
  void Quietly() { quietly_ = true; }
  // Waits up to timeout until the clients of every publisher destroyed so far have
  // disconnected and closed their sockets. Returns false when some have not by then.
  static bool AwaitClosed(std::chrono::milliseconds timeout);

  MqttFigures Figures() const;
  // The topic level that stands for station: '/', '+', '#' and control characters become
  // '_', an empty name "station".
  static std::string TopicLevel(const std::string& station);

  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

 private:
  struct Client;
  MqttPublisher(const MqttOptions& options, ValueEventRing& ring);
  // Waits up to a second until the broker can take more: connected, at most half the window
  // in flight. Returns how many events it can take now, 0 when none yet, -1 once stopping.
  int WaitForRoom();
  void Feed();
  // Publishes the history's rows: the live ones as they are committed and, while a backlog is
  // larger than a window, the backlog oldest first at options.catch_up_rate beside them.
  void FeedFromHistory();
  // Publishes one event as its topic's retained JSON message (json_utf8: texts in UTF-8).
  void PublishValue(const NumberedEvent& e, bool json_utf8, std::string& topic, std::string& json,
                    std::string& scratch);
  // The mark now: every history row up to it was acknowledged (under the client's lock).
  int64_t AcknowledgedUpTo(int64_t handed) const;

  std::shared_ptr<Client> client_;  // shared with the client's thread, which may outlive this
  std::unique_ptr<ValueEventReader> queue_;  // none when publishing from the history
  std::atomic<int64_t> mark_{0};             // from the history: the rows acknowledged
  std::atomic<bool> stopping_{false};
  std::atomic<bool> quietly_{false};
  std::thread feeder_;
};
