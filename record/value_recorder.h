// The listeners of the value events, as the settings switch them on: the value history and
// the MQTT publisher. The engine's values are packed once into one ring that both listeners read
// at their own pace; serving never waits for them.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "mqtt_publisher.h"
#include "port_bridge.h"
#include "settings_record.h"
#include "value_events.h"
#include "value_history.h"

// What the running program's status shows of the listeners.
struct RecorderFigures {
  bool history_on = false;
  HistoryFigures history;
  bool mqtt_on = false;
  MqttFigures mqtt;
};

class ValueRecorder : public IValueEvents {
 public:
  ValueRecorder() = default;
  // Stops the listeners (a history writes what waits as far as the disk takes it); waits up to
  // 3 s for the MQTT clients to say "offline" and disconnect.
  ~ValueRecorder() override;
  // Before the program runs itself anew in this process (a hand-over): writes what waits,
  // disconnects from the broker without "offline" and with no last will to come (the next run
  // connects and says "online"), and closes every socket and file of the listeners, waiting up
  // to 3 s for that. The listeners are off afterwards.
  void EndForHandOver();

  // Starts the listeners the settings s switch on (history file in the current folder; with the
  // history on, MQTT publishes from it) and stops the others; when those settings are as at the
  // last call, keeps what runs. Returns at once for a listener that goes: it finishes what it has
  // on its own thread. Returns false when one of them cannot start; each problem is then on
  // standard error and in Problems, and the listeners that could start run.
  bool Apply(const SettingsRecord& s);
  // Why listeners the settings of the last Apply switch on do not run ("value history off:
  // ..."; several joined by "; "); empty when they all run.
  const std::string& Problems() const { return problems_; }
  // Apply, then has bridge announce its values here while a listener runs (to nobody
  // otherwise). Returns what Apply returns.
  bool ApplyTo(PortBridge& bridge, const SettingsRecord& s);
  // The station's name in the events (8-bit, as the settings hold it): MqttStation, else the
  // host name.
  const std::string& Station() const { return station_; }
  // True while at least one listener runs, or another reader of Ring wants the events (the
  // engine need not announce otherwise).
  bool Listening() const { return history_ != nullptr || mqtt_ != nullptr || other_reader_; }
  // The ring the listeners read, for another reader (the web page's live events); made here
  // when no Apply made it yet. It outlives the listeners and other readers must go first.
  ValueEventRing& Ring();
  // Whether another reader of Ring wants the events; ApplyTo then has the engine announce
  // them even while no listener runs. Returns at once.
  void SetOtherReader(bool wanted) { other_reader_ = wanted; }

  // Packs the value into the ring. When the values added before must go on first (the ring
  // lends a limited stretch between two Flush calls), they go on with the time now.
  void Announce(const SentValue& value) override;
  // Makes the values announced since the last call visible to the listeners, under one lock.
  void Flush(int64_t utc_ms) override;
  RecorderFigures Figures() const;
  // Records what in the history's table of changes, with the time now, the user and how (see
  // AuditEntry); by: the process that asked (0: the program itself). Returns at once (the
  // history writes it on its thread); false when no history runs, the entry is then not kept.
  bool Audit(const std::string& how, pid_t by, const std::string& what);

 private:
  // Made at the first Apply, with the capacity the environment sets; outlives the listeners.
  std::unique_ptr<ValueEventRing> ring_;
  std::unique_ptr<ValueHistory> history_;
  // A history switched off or replaced while it still writes what it had (see Apply).
  std::unique_ptr<ValueHistory> finishing_;
  std::unique_ptr<MqttPublisher> mqtt_;
  // The commits of the histories one after the other, which the publisher follows.
  std::shared_ptr<HistoryCommits> commits_ = std::make_shared<HistoryCommits>();
  std::string station_;
  bool applied_ = false;
  bool other_reader_ = false;
  std::string problems_;
  std::array<std::string, 11> applied_settings_;
};

// Returns one line for a status display: "history on (queue 0, written 12, dropped 0);
// mqtt connected (queue 0, published 12, dropped 0)".
std::string RecorderStatusLine(const RecorderFigures& f);
