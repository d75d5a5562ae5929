#include "mqtt_publisher.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <openssl/crypto.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>

#include "history_reader.h"
#include "listener_priority.h"
#include "value_json.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeepAliveSeconds = 30;
constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";
// How long the feeder lets events gather after the first before it publishes them.
constexpr std::chrono::milliseconds kGather(10);
// The back-off between two attempts to connect.
constexpr std::chrono::seconds kFirstRetry(1);
constexpr std::chrono::seconds kLastRetry(30);
// How long a leaving client waits for "offline" and what is in flight to be acknowledged.
constexpr std::chrono::seconds kLeaveWait(2);
// What the client may have waiting on its socket, unread, at most: acknowledgements of a full
// window (4 bytes each) fit many times over. The socket's receive buffer is kept small, too.
constexpr size_t kInboundWindow = 8192;
constexpr int kReceiveBuffer = 16384;

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

enum class Inbound { Read, Wait, Hostile };

// Looks at what waits on the client's plain TCP socket before the client reads it. The program
// subscribes to nothing and publishes at QoS 1, so a broker only ever sends CONNACK, PUBACK and
// PINGRESP, each of at most 4 bytes. Returns Read when what waits is whole packets of those,
// Wait while the last one is still arriving, Hostile for anything else (a PUBLISH of any size,
// a packet that announces a length no acknowledgement has, more than kInboundWindow bytes).
// What arrives between this look and the read is read at most a (small) receive buffer at a
// time, and the next look sees what follows it.
Inbound LookAtInbound(int fd) {
  unsigned char bytes[kInboundWindow];
  const ssize_t n = ::recv(fd, bytes, sizeof bytes, MSG_PEEK | MSG_DONTWAIT);
  if (n <= 0) return Inbound::Read;  // the end of the link or an error: the client sees it
  size_t at = 0;
  const auto size = static_cast<size_t>(n);
  while (at < size) {
    const unsigned type = bytes[at] >> 4;
    if (type != 2 && type != 4 && type != 13) return Inbound::Hostile;
    if (at + 1 >= size) break;
    const unsigned length = bytes[at + 1];
    if (length > 2) return Inbound::Hostile;  // also any multi-byte length
    if (at + 2 + length > size) break;
    at += 2 + length;
  }
  if (at == size) return Inbound::Read;
  return size == sizeof bytes ? Inbound::Hostile : Inbound::Wait;
}

// The clients whose thread runs, those of destroyed publishers that are still leaving among
// them (a destructor leaves its client to disconnect on its own). Never destroyed, so that a
// client still leaving at the program's end finds it.
struct Leaving {
  std::mutex mutex;
  std::condition_variable done;
  int running = 0;
};
Leaving& LeavingClients() {
  static Leaving* leaving = new Leaving;
  return *leaving;
}

}  // namespace

// The libmosquitto client and what its callbacks and both threads share. The client's thread
// runs the connection: it connects (again, with back-off), reads and writes the socket, and
// leaves when told to.
struct MqttPublisher::Client {
  MqttOptions options;
  std::string topic_base;  // <prefix>/<station>
  std::string status_topic;
  mosquitto* mosq = nullptr;
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<bool> connected{false};
  std::atomic<bool> ever_connected{false};
  std::atomic<bool> reconnected{false};  // connected again: drops are reported at once
  std::atomic<int> in_flight{0};
  std::atomic<uint64_t> published{0};
  std::atomic<uint64_t> refused{0};  // events the client refused (counted as dropped)
  std::atomic<bool> leave{false};
  std::atomic<bool> offline_at_leave{true};
  // Only the client's thread: the broker acknowledged the connection it serves now; the status
  // messages in flight (not counted as published).
  bool acknowledged = false;
  bool online_said = false;
  std::set<int> status_mids;
  std::function<void()> wake_feeder;  // under mutex
  // Publishing from the history, under mutex: the row of each value message in flight, the rows
  // not yet acknowledged, and acknowledgements that came before their message was noted.
  std::map<int, int64_t> row_of_mid;
  std::set<int64_t> unacknowledged;
  std::set<int> early_acknowledged;

  ~Client() {
    if (mosq != nullptr) mosquitto_destroy(mosq);
  }
  void Run();
  // Serves one connection until it ends or the client leaves.
  void Serve(bool& hostile);
  // Publishes a status message; true when the client took it.
  bool PublishStatus(const char* word);
  void OnConnect(int rc);
  // The broker acknowledged the connection: says "online" and lets the feeder publish.
  void Online();
  void OnDisconnect();
  void OnPublish(int mid);
  void Leave(bool offline) {
    offline_at_leave = offline;
    {
      std::lock_guard lock(mutex);
      leave = true;
    }
    changed.notify_all();
  }
};

bool MqttPublisher::Client::PublishStatus(const char* word) {
  int mid = 0;
  ++in_flight;
  if (mosquitto_publish(mosq, &mid, status_topic.c_str(), static_cast<int>(std::strlen(word)), word,
                        1, true) != MOSQ_ERR_SUCCESS) {
    --in_flight;
    return false;
  }
  status_mids.insert(mid);
  return true;
}

void MqttPublisher::Client::OnConnect(int rc) {
  // Publishing from within the callback would take the client's locks in the other order than
  // elsewhere: Serve says "online" as soon as the read returns.
  if (rc == 0) acknowledged = true;
}

void MqttPublisher::Client::Online() {
  online_said = true;
  PublishStatus(kOnline);
  {
    std::lock_guard lock(mutex);
    connected = true;
    reconnected = ever_connected.exchange(true);
    wake_feeder();
  }
  changed.notify_all();
}

void MqttPublisher::Client::OnDisconnect() {
  {
    std::lock_guard lock(mutex);
    connected = false;
  }
  changed.notify_all();
}

void MqttPublisher::Client::OnPublish(int mid) {
  bool wake = false;
  {
    std::lock_guard lock(mutex);
    --in_flight;
    if (status_mids.erase(mid) == 0) {
      if (!options.history_path.empty()) {
        const auto row = row_of_mid.find(mid);
        if (row == row_of_mid.end()) {
          early_acknowledged.insert(mid);
        } else {
          unacknowledged.erase(row->second);
          row_of_mid.erase(row);
        }
      }
      published += 1;
    }
    // The feeder waits for half the window to be free (or all of it, when it stops), so that
    // it hands on many events per wake-up rather than one per acknowledgement.
    wake = in_flight == options.window / 2 || in_flight <= 0;
  }
  if (wake) changed.notify_all();
}

void MqttPublisher::Client::Run() {
  LowerListenerPriority();
  std::chrono::seconds retry = kFirstRetry;
  bool said_unreachable = false;
  while (!leave) {
    const int rc =
        mosquitto_connect(mosq, options.url.host.c_str(), options.url.port, kKeepAliveSeconds);
    bool hostile = false;
    acknowledged = false;
    online_said = false;
    if (rc == MOSQ_ERR_SUCCESS) {
      const int fd = mosquitto_socket(mosq);
      // A program started from here (a hand-over, a helper) does not inherit the connection.
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
      if (!options.url.tls) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
      }
      Serve(hostile);
      if (acknowledged) said_unreachable = false;
    } else if (!said_unreachable) {
      std::cerr << "Velk_VCP: MQTT: broker " << options.url.host << ":" << options.url.port
                << " cannot be reached (" << mosquitto_strerror(rc)
                << "); tried again, at the latest every " << kLastRetry.count() << " s"
                << std::endl;
      said_unreachable = true;
    }
    if (leave) break;
    // A connection the broker acknowledged starts the back-off again; one it abused waits long.
    if (hostile) {
      retry = kLastRetry;
    } else if (acknowledged) {
      retry = kFirstRetry;
    }
    OnDisconnect();
    std::unique_lock lock(mutex);
    changed.wait_for(lock, retry, [this] { return leave.load(); });
    retry = std::min(retry * 2, std::chrono::seconds(kLastRetry));
  }
}

void MqttPublisher::Client::Serve(bool& hostile) {
  std::optional<Clock::time_point> leave_by;
  for (;;) {
    if (leave && !leave_by) {
      leave_by = Clock::now() + kLeaveWait;
      if (connected && offline_at_leave) PublishStatus(kOffline);
    }
    if (leave_by && (!connected || in_flight <= 0 || Clock::now() >= *leave_by)) {
      // DISCONNECT goes out at once (the broker then sends no last will), and the socket closes.
      mosquitto_disconnect(mosq);
      return;
    }
    const int fd = mosquitto_socket(mosq);
    if (fd < 0) return;
    pollfd p{fd, static_cast<short>(POLLIN | (mosquitto_want_write(mosq) ? POLLOUT : 0)), 0};
    const int ready = ::poll(&p, 1, 100);
    int rc = MOSQ_ERR_SUCCESS;
    if (ready > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const Inbound inbound = options.url.tls ? Inbound::Read : LookAtInbound(fd);
      if (inbound == Inbound::Hostile) {
        std::cerr << "Velk_VCP: MQTT: the broker sent more than acknowledgements; connection "
                     "dropped"
                  << std::endl;
        hostile = true;
        mosquitto_disconnect(mosq);
        return;
      }
      if (inbound == Inbound::Read) {
        rc = mosquitto_loop_read(mosq, 1);
        if (rc == MOSQ_ERR_SUCCESS && acknowledged && !online_said) Online();
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(mosq)) rc = mosquitto_loop_write(mosq, 1);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(mosq);
    if (rc != MOSQ_ERR_SUCCESS) return;
  }
}

std::string MqttPublisher::TopicLevel(const std::string& station) {
  std::string level = station.empty() ? "station" : station;
  for (char& c : level) {
    if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  return level;
}

MqttPublisher::MqttPublisher(const MqttOptions& options, ValueEventRing& ring)
    : client_(std::make_shared<Client>()) {
  if (options.history_path.empty()) queue_ = std::make_unique<ValueEventReader>(ring);
  client_->options = options;
  client_->topic_base = options.prefix + "/" + TopicLevel(options.station);
  client_->status_topic = client_->topic_base + "/status";
  client_->wake_feeder = [this] {
    if (queue_) {
      queue_->Wake();
    } else {
      client_->options.commits->committed.notify_all();
    }
  };
}

std::unique_ptr<MqttPublisher> MqttPublisher::Start(const MqttOptions& options,
                                                    ValueEventRing& ring, std::string& error) {
  static std::once_flag init;
  std::call_once(init, [] { mosquitto_lib_init(); });
  std::string password;
  if (!options.password_file.empty() && !ReadPasswordFile(options.password_file, password, error)) {
    return nullptr;
  }
  for (const std::string* file : {&options.ca_file, &options.cert_file, &options.key_file}) {
    if (!file->empty() && ::access(file->c_str(), R_OK) != 0) {
      error = (file == &options.ca_file ? "CA file " : "client certificate file ") + *file +
              " cannot be read";
      return nullptr;
    }
  }
  std::unique_ptr<MqttPublisher> p(new MqttPublisher(options, ring));
  Client& c = *p->client_;
  const std::string id =
      "velk-vcp-" + TopicLevel(options.station) + "-" + std::to_string(::getpid());
  mosquitto* m = mosquitto_new(id.c_str(), true, &c);
  if (m == nullptr) {
    error = "cannot make an MQTT client";
    return nullptr;
  }
  c.mosq = m;
  mosquitto_will_set(m, c.status_topic.c_str(), 7, kOffline, 1, true);
  if (!options.user.empty()) {
    mosquitto_username_pw_set(m, options.user.c_str(),
                              options.password_file.empty() ? nullptr : password.c_str());
  }
  if (options.url.tls || !options.ca_file.empty()) {
    const auto file = [](const std::string& path) { return path.empty() ? nullptr : path.c_str(); };
    const int rc = mosquitto_tls_set(m, file(options.ca_file),
                                     options.ca_file.empty() ? "/etc/ssl/certs" : nullptr,
                                     file(options.cert_file), file(options.key_file), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      error = std::string("TLS cannot be set up: ") + mosquitto_strerror(rc);
      return nullptr;
    }
  }
  mosquitto_max_inflight_messages_set(m, static_cast<unsigned>(options.window));
  mosquitto_connect_callback_set(
      m, [](mosquitto*, void* self, int rc) { static_cast<Client*>(self)->OnConnect(rc); });
  mosquitto_disconnect_callback_set(
      m, [](mosquitto*, void* self, int) { static_cast<Client*>(self)->OnDisconnect(); });
  mosquitto_publish_callback_set(
      m, [](mosquitto*, void* self, int mid) { static_cast<Client*>(self)->OnPublish(mid); });
  {
    std::lock_guard lock(LeavingClients().mutex);
    ++LeavingClients().running;
  }
  std::thread([client = p->client_] {
    client->Run();
    // Closed before the count says so: AwaitClosed means no socket is left.
    mosquitto_destroy(client->mosq);
    client->mosq = nullptr;
    // This thread's OpenSSL state (its error queue) goes now, not at its exit, which may come
    // after the program's end that AwaitClosed lets go on.
    OPENSSL_thread_stop();
    Leaving& leaving = LeavingClients();
    {
      std::lock_guard lock(leaving.mutex);
      --leaving.running;
    }
    leaving.done.notify_all();
  }).detach();
  p->feeder_ = std::thread([raw = p.get()] {
    if (raw->queue_) {
      raw->Feed();
    } else {
      raw->FeedFromHistory();
    }
  });
  return p;
}

MqttPublisher::~MqttPublisher() {
  {
    std::lock_guard lock(client_->mutex);
    stopping_ = true;
  }
  if (queue_) {
    queue_->Close();
  } else {
    std::lock_guard lock(client_->options.commits->mutex);
    client_->options.commits->committed.notify_all();
  }
  client_->changed.notify_all();
  if (feeder_.joinable()) feeder_.join();
  {
    std::lock_guard lock(client_->mutex);
    client_->wake_feeder = [] {};
  }
  client_->Leave(!quietly_);
}

bool MqttPublisher::AwaitClosed(std::chrono::milliseconds timeout) {
  Leaving& leaving = LeavingClients();
  std::unique_lock lock(leaving.mutex);
  return leaving.done.wait_for(lock, timeout, [&] { return leaving.running == 0; });
}

MqttFigures MqttPublisher::Figures() const {
  const Client& c = *client_;
  MqttFigures f;
  f.state = c.connected ? "connected" : c.ever_connected ? "disconnected" : "connecting";
  if (queue_) {
    f.queued = queue_->Size();
    f.dropped = queue_->Dropped() + c.refused;
  } else {
    f.queued = static_cast<size_t>(std::max<int64_t>(c.options.commits->Last() - mark_, 0));
    f.dropped = c.refused;
  }
  f.published = c.published.load();
  return f;
}

int MqttPublisher::WaitForRoom() {
  Client& c = *client_;
  std::unique_lock lock(c.mutex);
  c.changed.wait_for(lock, std::chrono::seconds(1), [&] {
    return stopping_ || (c.connected && c.in_flight <= c.options.window / 2);
  });
  if (stopping_) return -1;
  if (!c.connected || c.in_flight > c.options.window / 2) return 0;
  return c.options.window - c.in_flight;
}

void MqttPublisher::Feed() {
  LowerListenerPriority();
  Client& c = *client_;
  DropReport report;
  std::string topic, json, scratch;
  FloodPace pace;
  while (!stopping_) {
    // Drops are reported once a minute, and at once when the broker is back.
    const std::string line = report.Due("MQTT", queue_->Dropped() + c.refused, Clock::now(),
                                        c.reconnected.exchange(false));
    if (!line.empty()) std::cerr << line << std::endl;
    const int room = WaitForRoom();
    if (room < 0) break;
    if (room == 0) continue;
    const std::chrono::milliseconds pause = pace.Next(queue_->Dropped());
    if (pause.count() > 0) queue_->Pause(pause);
    if (stopping_) break;
    const size_t n = queue_->Take(static_cast<size_t>(room), std::chrono::seconds(1), kGather);
    size_t done = 0;
    // What the broker cannot take now (the connection went meanwhile) goes back into the queue.
    for (; done < n && c.connected; ++done) {
      PublishValue(queue_->Taken(done), false, topic, json, scratch);
    }
    queue_->Release(done);
    if (n == 0 && queue_->Closed()) break;
  }
}

void MqttPublisher::PublishValue(const NumberedEvent& e, bool json_utf8, std::string& topic,
                                 std::string& json, std::string& scratch) {
  Client& c = *client_;
  topic = c.topic_base;
  topic += '/';
  topic += std::to_string(e.event.device);
  topic += '.';
  topic += std::to_string(e.event.input);
  topic += "/value";
  if (json_utf8) {
    json = ValueEventJson(e);
  } else {
    json.clear();
    AppendValueEventJson8Bit(json, e, scratch);
  }
  ++c.in_flight;
  int mid = 0;
  const int rc = mosquitto_publish(c.mosq, &mid, topic.c_str(), static_cast<int>(json.size()),
                                   json.data(), 1, true);
  // A QoS 1 message that the client has taken is sent again after a lost connection,
  // even when the send itself failed; only a message it refused is gone.
  if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST &&
      rc != MOSQ_ERR_ERRNO) {
    --c.in_flight;
    ++c.refused;
    return;
  }
  if (!json_utf8) return;
  const auto row = static_cast<int64_t>(e.seq);
  std::lock_guard lock(c.mutex);
  if (c.early_acknowledged.erase(mid) == 0) {
    c.row_of_mid[mid] = row;
    c.unacknowledged.insert(row);
  }
}

int64_t MqttPublisher::AcknowledgedUpTo(int64_t handed) const {
  const Client& c = *client_;
  return c.unacknowledged.empty() ? handed : std::min(handed, *c.unacknowledged.begin() - 1);
}

void MqttPublisher::FeedFromHistory() {
  LowerListenerPriority();
  Client& c = *client_;
  HistoryCommits& commits = *c.options.commits;
  std::unique_ptr<HistoryReader> reader;
  // Opened at the first turn and again after a failure, tried once a second.
  auto ready = [&] {
    if (reader) return true;
    std::string error;
    reader = HistoryReader::Open(c.options.history_path, error);
    if (!reader) std::cerr << "Velk_VCP: MQTT: " << error << "; tried again" << std::endl;
    return reader != nullptr;
  };
  while (!stopping_ && !ready()) {
    std::unique_lock lock(c.mutex);
    c.changed.wait_for(lock, std::chrono::seconds(1), [&] { return stopping_.load(); });
  }
  if (stopping_) return;
  // low: every row up to it is handed to the client. While catching up, the backlog ends at
  // catch_up_end and the live rows after it are handed up to high.
  const std::optional<int64_t> mark = reader->Mark();
  int64_t low = mark.value_or(c.options.start_after);
  // The first start of publishing from this history: the rows before it are not the broker's.
  if (!mark) reader->SetMark(low);
  int64_t catch_up_end = 0, high = 0;
  int64_t stored = low;
  mark_ = low;
  auto stored_at = Clock::now();
  double tokens = c.options.catch_up_rate;
  auto refilled = Clock::now();
  std::string topic, json, scratch;
  auto store_mark = [&](bool now) {
    int64_t mark;
    {
      std::lock_guard lock(c.mutex);
      mark = AcknowledgedUpTo(low);
    }
    mark_ = mark;
    if (mark == stored || (!now && Clock::now() - stored_at < std::chrono::seconds(1))) return;
    if (reader->SetMark(mark)) stored = mark;
    stored_at = Clock::now();
  };
  while (!stopping_) {
    store_mark(false);
    const int room = WaitForRoom();
    if (room < 0) break;
    if (room == 0) continue;
    const bool backlog = catch_up_end > 0 && low < catch_up_end;
    int64_t last;
    if (backlog) {
      last = commits.Last();
      const auto now = Clock::now();
      tokens = std::min<double>(
          c.options.catch_up_rate,
          tokens + std::chrono::duration<double>(now - refilled).count() * c.options.catch_up_rate);
      refilled = now;
      if (tokens < 1) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else {
      const int64_t newest = catch_up_end > 0 ? high : low;
      {
        std::unique_lock lock(commits.mutex);
        commits.committed.wait_for(lock, std::chrono::seconds(1),
                                   [&] { return stopping_ || commits.last_id > newest; });
        last = commits.last_id;
      }
      if (stopping_ || last <= newest) continue;
    }
    if (catch_up_end == 0 && last - low > c.options.window) {
      catch_up_end = last;
      high = last;
      tokens = std::min<double>(tokens, c.options.window);
    }
    auto hand = [&](int64_t& cursor) {
      return [&](const NumberedEvent& e) {
        PublishValue(e, true, topic, json, scratch);
        cursor = static_cast<int64_t>(e.seq);
      };
    };
    bool failed = false;
    if (catch_up_end > 0) {
      // The live rows first, then the backlog as far as the rate allows.
      const int live = high < last ? reader->Read(high, last, room, hand(high)) : 0;
      if (live < 0) failed = true;
      if (live == 0 && high < last) high = last;  // removed by retention meanwhile
      const int budget = std::min(room - std::max(live, 0), static_cast<int>(tokens));
      if (!failed && budget > 0) {
        const int old = reader->Read(low, catch_up_end, budget, hand(low));
        if (old < 0) failed = true;
        if (old == 0) low = catch_up_end;
        if (old > 0) tokens -= old;
      }
      if (low >= catch_up_end) {
        std::lock_guard lock(c.mutex);
        low = high;
        catch_up_end = 0;
      }
    } else {
      const int n = reader->Read(low, last, room, hand(low));
      if (n < 0) failed = true;
      if (n == 0) low = last;
    }
    if (failed) {
      std::cerr << "Velk_VCP: MQTT: the value history cannot be read; tried again" << std::endl;
      reader.reset();
      while (!stopping_ && !ready()) {
        std::unique_lock lock(c.mutex);
        c.changed.wait_for(lock, std::chrono::seconds(1), [&] { return stopping_.load(); });
      }
    }
  }
  if (reader) store_mark(true);
}
