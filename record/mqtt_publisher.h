// Publishes every value event to an MQTT broker (libmosquitto, QoS 1): the event's JSON to
// <prefix>/<station>/<D.A>/value, retained, and "online" / "offline" to
// <prefix>/<station>/status, retained, "offline" also as the last will. A thread of its own
// feeds the broker from a bounded queue (oldest dropped first), so that a broker that is down,
// slow or unreachable never delays serving; the connection is made again with back-off.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "listener_pace.h"
#include "mqtt_url.h"
#include "value_event_ring.h"

struct MqttOptions {
  MqttUrl url;
  std::string prefix = "velk";
  std::string station;        // UTF-8; '/', '+' and '#' become '_' in topics
  std::string user;           // empty: no user name
  std::string password_file;  // its first line is the password; must be private (0600)
  std::string ca_file;        // CA certificates for TLS (mqtts://)
  int window = 200;           // events published and not yet acknowledged, at most
};

struct MqttFigures {
  std::string state;       // "connected", "connecting" or "disconnected"
  size_t queued = 0;       // events waiting for the broker
  uint64_t published = 0;  // events the broker acknowledged
  uint64_t dropped = 0;    // events dropped: the queue was full (or the client refused one)
};

class MqttPublisher {
 public:
  // Sets up the client and starts connecting in the background; publishes the events published
  // in ring from now on (the ring holds them while the broker is away). Returns null and sets
  // error for a password file that cannot be read or is readable by others, a CA file that
  // cannot be read, or a client that cannot be made. ring must outlive the publisher.
  static std::unique_ptr<MqttPublisher> Start(const MqttOptions& options, ValueEventRing& ring,
                                              std::string& error);
  // Publishes "offline", waits up to 2 s for what is in flight, and disconnects.
  ~MqttPublisher();

  MqttFigures Figures() const;
  // The topic level that stands for station: '/', '+', '#' and control characters become
  // '_', an empty name "station".
  static std::string TopicLevel(const std::string& station);

  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

 private:
  struct Client;
  MqttPublisher(const MqttOptions& options, ValueEventRing& ring);
  void Feed();
  void OnConnect(int rc);
  void OnDisconnect();
  void OnPublish();

  MqttOptions options_;
  std::string topic_base_;  // <prefix>/<station>
  std::unique_ptr<Client> client_;
  ValueEventReader queue_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> ever_connected_{false};
  std::atomic<bool> reconnected_{false};  // connected again: drops are reported at once
  std::atomic<int> in_flight_{0};
  std::atomic<uint64_t> published_{0};
  std::atomic<uint64_t> refused_{0};  // events the client refused (counted as dropped)
  std::atomic<bool> stopping_{false};
  std::thread feeder_;
};
