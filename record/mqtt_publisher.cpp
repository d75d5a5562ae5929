#include "mqtt_publisher.h"

#include <mosquitto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <mutex>

#include "listener_priority.h"
#include "value_json.h"

namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";
// How long the feeder lets events gather after the first before it publishes them.
constexpr std::chrono::milliseconds kGather(10);

// Returns the first line of a file that only its owner may read, or sets error.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "password file " + path + " cannot be read";
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    error = "password file " + path + " may be read by others: make it private (chmod 600)";
    return false;
  }
  std::ifstream in(path);
  if (!in || !std::getline(in, password)) {
    error = "password file " + path + " cannot be read";
    return false;
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return true;
}

}  // namespace

struct MqttPublisher::Client {
  mosquitto* mosq = nullptr;
  bool loop_started = false;
  ~Client() {
    if (mosq != nullptr) mosquitto_destroy(mosq);
  }
};

std::string MqttPublisher::TopicLevel(const std::string& station) {
  std::string level = station.empty() ? "station" : station;
  for (char& c : level) {
    if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  return level;
}

MqttPublisher::MqttPublisher(const MqttOptions& options, ValueEventRing& ring)
    : options_(options),
      topic_base_(options.prefix + "/" + TopicLevel(options.station)),
      client_(std::make_unique<Client>()),
      queue_(ring) {}

std::unique_ptr<MqttPublisher> MqttPublisher::Start(const MqttOptions& options,
                                                    ValueEventRing& ring, std::string& error) {
  static std::once_flag init;
  std::call_once(init, [] { mosquitto_lib_init(); });
  std::string password;
  if (!options.password_file.empty() && !ReadPasswordFile(options.password_file, password, error)) {
    return nullptr;
  }
  if (!options.ca_file.empty() && ::access(options.ca_file.c_str(), R_OK) != 0) {
    error = "CA file " + options.ca_file + " cannot be read";
    return nullptr;
  }
  std::unique_ptr<MqttPublisher> p(new MqttPublisher(options, ring));
  const std::string id =
      "velk-vcp-" + TopicLevel(options.station) + "-" + std::to_string(::getpid());
  mosquitto* m = mosquitto_new(id.c_str(), true, p.get());
  if (m == nullptr) {
    error = "cannot make an MQTT client";
    return nullptr;
  }
  p->client_->mosq = m;
  const std::string status = p->topic_base_ + "/status";
  mosquitto_will_set(m, status.c_str(), 7, kOffline, 1, true);
  if (!options.user.empty()) {
    mosquitto_username_pw_set(m, options.user.c_str(),
                              options.password_file.empty() ? nullptr : password.c_str());
  }
  if (options.url.tls || !options.ca_file.empty()) {
    const int rc = mosquitto_tls_set(m, options.ca_file.empty() ? nullptr : options.ca_file.c_str(),
                                     options.ca_file.empty() ? "/etc/ssl/certs" : nullptr, nullptr,
                                     nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      error = std::string("TLS cannot be set up: ") + mosquitto_strerror(rc);
      return nullptr;
    }
  }
  mosquitto_max_inflight_messages_set(m, static_cast<unsigned>(options.window));
  mosquitto_reconnect_delay_set(m, 1, 30, true);
  mosquitto_connect_callback_set(
      m, [](mosquitto*, void* self, int rc) { static_cast<MqttPublisher*>(self)->OnConnect(rc); });
  mosquitto_disconnect_callback_set(
      m, [](mosquitto*, void* self, int) { static_cast<MqttPublisher*>(self)->OnDisconnect(); });
  mosquitto_publish_callback_set(
      m, [](mosquitto*, void* self, int) { static_cast<MqttPublisher*>(self)->OnPublish(); });
  // A broker that is not there yet is tried again by the loop, with back-off.
  mosquitto_connect_async(m, options.url.host.c_str(), options.url.port, kKeepAliveSeconds);
  if (mosquitto_loop_start(m) != MOSQ_ERR_SUCCESS) {
    error = "cannot start the MQTT client's thread";
    return nullptr;
  }
  p->client_->loop_started = true;
  p->feeder_ = std::thread([raw = p.get()] { raw->Feed(); });
  return p;
}

MqttPublisher::~MqttPublisher() {
  stopping_ = true;
  queue_.Close();
  changed_.notify_all();
  if (feeder_.joinable()) feeder_.join();
  mosquitto* m = client_->mosq;
  if (m != nullptr && client_->loop_started) {
    if (connected_) {
      const std::string status = topic_base_ + "/status";
      ++in_flight_;
      if (mosquitto_publish(m, nullptr, status.c_str(), 7, kOffline, 1, true) != MOSQ_ERR_SUCCESS)
        --in_flight_;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      std::unique_lock lock(mutex_);
      changed_.wait_until(lock, deadline, [this] { return in_flight_ <= 0 || !connected_; });
    }
    mosquitto_disconnect(m);
    mosquitto_loop_stop(m, true);
  }
}

MqttFigures MqttPublisher::Figures() const {
  MqttFigures f;
  f.state = connected_ ? "connected" : ever_connected_ ? "disconnected" : "connecting";
  f.queued = queue_.Size();
  f.published = published_.load();
  f.dropped = queue_.Dropped() + refused_;
  return f;
}

void MqttPublisher::OnConnect(int rc) {
  // Runs on the client's own thread: it gives way to serving, too.
  static thread_local bool lowered = false;
  if (!lowered) LowerListenerPriority();
  lowered = true;
  if (rc != 0) return;
  const std::string status = topic_base_ + "/status";
  ++in_flight_;
  if (mosquitto_publish(client_->mosq, nullptr, status.c_str(), 6, kOnline, 1, true) !=
      MOSQ_ERR_SUCCESS) {
    --in_flight_;
  }
  {
    std::lock_guard lock(mutex_);
    connected_ = true;
    reconnected_ = ever_connected_.exchange(true);
  }
  changed_.notify_all();
  queue_.Wake();
}

void MqttPublisher::OnDisconnect() {
  {
    std::lock_guard lock(mutex_);
    connected_ = false;
  }
  changed_.notify_all();
}

void MqttPublisher::OnPublish() {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    --in_flight_;
    published_ += 1;
    // The feeder waits for half the window to be free (or all of it, when it stops), so that
    // it hands on many events per wake-up rather than one per acknowledgement.
    wake = in_flight_ == options_.window / 2 || in_flight_ <= 0;
  }
  if (wake) changed_.notify_all();
}

void MqttPublisher::Feed() {
  LowerListenerPriority();
  using Clock = std::chrono::steady_clock;
  DropReport report;
  std::string topic, json, scratch;
  FloodPace pace;
  while (!stopping_) {
    // Drops are reported once a minute, and at once when the broker is back.
    const std::string line =
        report.Due("MQTT", queue_.Dropped() + refused_, Clock::now(), reconnected_.exchange(false));
    if (!line.empty()) std::cerr << line << std::endl;
    int room = 0;
    {
      std::unique_lock lock(mutex_);
      changed_.wait_for(lock, std::chrono::seconds(1), [this] {
        return stopping_ || (connected_ && in_flight_ <= options_.window / 2);
      });
      if (stopping_) break;
      if (!connected_ || in_flight_ > options_.window / 2) continue;
      room = options_.window - in_flight_;
    }
    const std::chrono::milliseconds pause = pace.Next(queue_.Dropped());
    if (pause.count() > 0) queue_.Pause(pause);
    if (stopping_) break;
    const size_t n = queue_.Take(static_cast<size_t>(room), std::chrono::seconds(1), kGather);
    size_t done = 0;
    // What the broker cannot take now (the connection went meanwhile) goes back into the queue.
    for (; done < n && connected_; ++done) {
      const NumberedEvent& e = queue_.Taken(done);
      topic = topic_base_;
      topic += '/';
      topic += std::to_string(e.event.device);
      topic += '.';
      topic += std::to_string(e.event.input);
      topic += "/value";
      json.clear();
      AppendValueEventJson8Bit(json, e, scratch);
      ++in_flight_;
      const int rc = mosquitto_publish(client_->mosq, nullptr, topic.c_str(),
                                       static_cast<int>(json.size()), json.data(), 1, true);
      // A QoS 1 message that the client has taken is sent again after a lost connection,
      // even when the send itself failed; only a message it refused is gone.
      if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST &&
          rc != MOSQ_ERR_ERRNO) {
        --in_flight_;
        ++refused_;
      }
    }
    queue_.Release(done);
    if (n == 0 && queue_.Closed()) break;
  }
}
