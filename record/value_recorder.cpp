#include "value_recorder.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>

#include "text_encoding.h"

namespace {

// How long the program's end waits for the MQTT clients to disconnect.
constexpr std::chrono::seconds kCloseWait(3);

// Events that wait for each listener at most: VELK_VCP_VALUE_QUEUE (1..10000000), else 100,000.
size_t QueueCapacity() {
  const char* text = std::getenv("VELK_VCP_VALUE_QUEUE");
  if (text == nullptr) return 100000;
  char* end = nullptr;
  const long long n = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || n < 1 || n > 10000000) {
    std::cerr << "Velk_VCP: VELK_VCP_VALUE_QUEUE=" << text
              << " is not 1..10000000; the queues hold 100000 values" << std::endl;
    return 100000;
  }
  return static_cast<size_t>(n);
}

// "PID program arguments" of process pid, from /proc; "PID" alone when it cannot be read.
std::string ProcessText(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string text = std::to_string(pid);
  std::string arg;
  bool first = true;
  while (std::getline(in, arg, '\0')) {
    if (first && arg.rfind('/') != std::string::npos) arg = arg.substr(arg.rfind('/') + 1);
    text += " " + arg;
    first = false;
  }
  return text;
}

std::string UserName() {
  const passwd* pw = ::getpwuid(::geteuid());
  return pw != nullptr ? pw->pw_name : std::to_string(::geteuid());
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "station";
  return name;
}

}  // namespace

ValueRecorder::~ValueRecorder() {
  if (ring_) ring_->Publish(UtcNowMs());
  mqtt_.reset();
  history_.reset();
  finishing_.reset();
  // The program ends: the broker hears "offline" and a clean disconnect before it does.
  MqttPublisher::AwaitClosed(kCloseWait);
}

void ValueRecorder::EndForHandOver() {
  if (ring_) ring_->Publish(UtcNowMs());
  if (mqtt_) mqtt_->Quietly();
  mqtt_.reset();
  history_.reset();
  finishing_.reset();
  MqttPublisher::AwaitClosed(kCloseWait);
}

bool ValueRecorder::Apply(const SettingsRecord& s) {
  const std::array<std::string, 11> wanted = {std::to_string(s.HistoryOn),
                                              std::to_string(s.HistoryKeepDays),
                                              std::to_string(s.HistoryMaxMb),
                                              s.MqttUrl,
                                              s.MqttPrefix,
                                              s.MqttStation,
                                              s.MqttUser,
                                              s.MqttPasswordFile,
                                              s.MqttCaFile,
                                              s.MqttCertFile,
                                              s.MqttKeyFile};
  if (applied_ && wanted == applied_settings_) return problems_.empty();
  // What was announced goes to the listeners it was announced to.
  if (ring_) {
    ring_->Publish(UtcNowMs());
  } else {
    ring_ = std::make_unique<ValueEventRing>(QueueCapacity());
  }
  applied_ = true;
  applied_settings_ = wanted;
  problems_.clear();
  auto problem = [this](const std::string& line) {
    std::cerr << "Velk_VCP: " << line << std::endl;
    problems_ += (problems_.empty() ? "" : "; ") + line;
  };
  // The listeners that go take the events they have with the station they had, on their own
  // threads: a history that goes writes what it has while the caller goes on, and the next one
  // writes the file only after it.
  if (finishing_ && finishing_->Finished()) finishing_.reset();
  if (history_) {
    history_->Finish();
    finishing_ = std::move(history_);
  }
  mqtt_.reset();
  station_ = s.MqttStation.empty() ? Utf8ToCp1252(HostName()) : s.MqttStation;
  ring_->SetStation(station_);
  if (s.HistoryOn != 0) {
    HistoryOptions options;
    options.keep_days = s.HistoryKeepDays;
    options.max_mb = s.HistoryMaxMb;
    options.commits = commits_;
    std::string error;
    history_ = ValueHistory::Open(options, *ring_, error, &finishing_);
    if (!history_) problem("value history off: " + error);
  }
  if (!s.MqttUrl.empty()) {
    const std::optional<MqttUrl> url = ParseMqttUrl(s.MqttUrl);
    std::string error = "broker address " + Cp1252ToUtf8(s.MqttUrl) + " is not mqtt://HOST[:PORT]";
    if (url) {
      MqttOptions options;
      options.url = *url;
      if (!s.MqttPrefix.empty()) options.prefix = Cp1252ToUtf8(s.MqttPrefix);
      options.station = Cp1252ToUtf8(station_);
      options.user = Cp1252ToUtf8(s.MqttUser);
      options.password_file = Cp1252ToUtf8(s.MqttPasswordFile);
      options.ca_file = Cp1252ToUtf8(s.MqttCaFile);
      options.cert_file = Cp1252ToUtf8(s.MqttCertFile);
      options.key_file = Cp1252ToUtf8(s.MqttKeyFile);
      if (history_) {
        // Published from the history: nothing is lost while the broker is away.
        options.history_path = kHistoryFileName;
        options.commits = commits_;
        options.start_after = commits_->Last();
      }
      mqtt_ = MqttPublisher::Start(options, *ring_, error);
    }
    if (!mqtt_) problem("MQTT off: " + error);
  }
  return problems_.empty();
}

ValueEventRing& ValueRecorder::Ring() {
  if (!ring_) ring_ = std::make_unique<ValueEventRing>(QueueCapacity());
  return *ring_;
}

bool ValueRecorder::ApplyTo(PortBridge& bridge, const SettingsRecord& s) {
  bridge.SetValueEvents(nullptr);
  const bool ok = Apply(s);
  if (Listening()) bridge.SetValueEvents(this);
  return ok;
}

void ValueRecorder::Announce(const SentValue& sent) {
  // A value without a number stands without one (null, an empty cell), not as the 0 the
  // device library gives with it.
  SentValue value = sent;
  if (value.status == ValueStatus::NoValue) value.number = std::numeric_limits<double>::quiet_NaN();
  if (!ring_->Add(value)) {
    ring_->Publish(UtcNowMs());
    ring_->Add(value);
  }
}

void ValueRecorder::Flush(int64_t utc_ms) { ring_->Publish(utc_ms); }

bool ValueRecorder::Audit(const std::string& how, pid_t by, const std::string& what) {
  ValueHistory* history = history_ ? history_.get() : finishing_.get();
  if (history == nullptr) return false;
  AuditEntry entry;
  entry.utc_ms = UtcNowMs();
  entry.user = UserName();
  if (by > 0) entry.process = ProcessText(by);
  entry.how = how;
  entry.what = what;
  return history->Audit(entry);
}

RecorderFigures ValueRecorder::Figures() const {
  RecorderFigures f;
  f.history_on = history_ != nullptr;
  if (history_) f.history = history_->Figures();
  f.mqtt_on = mqtt_ != nullptr;
  if (mqtt_) f.mqtt = mqtt_->Figures();
  return f;
}

std::string RecorderStatusLine(const RecorderFigures& f) {
  std::string line = "history ";
  if (f.history_on) {
    line += std::string(f.history.failing ? "failing" : "on") + " (queue " +
            std::to_string(f.history.queued) + ", written " + std::to_string(f.history.written) +
            ", dropped " + std::to_string(f.history.dropped) + ")";
  } else {
    line += "off";
  }
  line += "; mqtt ";
  if (f.mqtt_on) {
    line += f.mqtt.state + " (queue " + std::to_string(f.mqtt.queued) + ", published " +
            std::to_string(f.mqtt.published) + ", dropped " + std::to_string(f.mqtt.dropped) + ")";
  } else {
    line += "off";
  }
  return line;
}
