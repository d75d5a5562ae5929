// The port bridge engine: the command table, the poll cycle that serves the current port,
// the trigger block, the answers and the activity log. Runs on one thread; the owner calls
// Timer1_Timer every 10 ms while the poll timer is enabled.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "activity_log.h"
#include "command_index.h"
#include "command_table.h"
#include "device_library.h"
#include "gauge_health.h"
#include "key_state.h"
#include "main_view.h"
#include "receive_ring.h"
#include "settings_record.h"
#include "value_events.h"
#include "virtual_port.h"

class PortBridge {
 public:
  static constexpr int kSlots = 4;

  // ports are the elements of slots 1..4 (null: an element that never holds a port); all
  // references must outlive the engine. s is read on every tick, so changes take effect at
  // once, except for the texts converted by CreateCommandTab.
  PortBridge(IMainView& view, IDeviceLibrary& device, std::array<IVirtualPort*, kSlots> ports,
             IKeyState& keys, SettingsRecord& s = Settings);
  PortBridge(const PortBridge&) = delete;
  PortBridge& operator=(const PortBridge&) = delete;

  // Rebuilds the command table from the settings; every limit a client set is lost.
  void CreateCommandTab();

  // One tick of the poll cycle: hot keys, open state, every sixth serving tick the trigger
  // block, reception from the current port into RxRing, then every complete command is cut
  // and answered. Bytes that are not yet a complete command stay for a later tick; when the
  // ring is full and holds no complete command its bytes are discarded and that is logged.
  void Timer1_Timer();

  // Serves the current port at once, between ticks, when its client has written: open
  // state, reception, cutting and answers, as a tick does, without the hot keys and the
  // trigger block (which keep the tick's pace). Also follows clients coming and going.
  void ServeInput();

  // Ticks from now on that would do nothing but count towards the trigger block, as long as
  // no key can change the port and no port event comes: 0..5 while a client holds a port
  // (the next tick runs the block when 0), -1 while none does (ticks do nothing at all).
  int QuietTicks() const;
  // Counts one such tick without running it (only while QuietTicks() > 0).
  void CountQuietTick();

  // Formats value by the value format, fills it into the answer template of errorcode
  // (0 AnswerString, 2 Range, any other Timeout), records it and writes it to the current
  // port (the served slot), announcing it as a requested value. A valid value whose digits before
  // the decimal separator do not fit the width is answered with the Range template (error code 2)
  // and logged; a value that is not finite is answered as no value (error code 1), and no value
  // always takes the Timeout template. An answer that is empty or only blanks is recorded, not
  // sent. device and Address outside the table give an empty "<ch>".
  void SendMeaValue(int16_t device, int16_t Address, double value, int16_t errorcode);

  // Before the ports go to the next run of the program (a restart or hand-over): the commands
  // already taken from the clients are answered, a command the run began to take is taken to
  // its end (terminated mode), and nothing more is taken, so that the next run starts at a
  // command's beginning. Serving steps go on as before.
  void FinishWhatWasTaken();
  // True once, after FinishWhatWasTaken, nothing taken waits to be answered and every answer
  // has gone to its client.
  bool TakenFinished();
  // Announces every value sent from now on to sink (null: to nobody); what was announced to the
  // sink before goes on first. The sink must outlive the engine or be replaced first.
  void SetValueEvents(IValueEvents* sink);

  // Empties RxRing and sets TickCounter and FootSwitchDown to 0.
  void ResetPollState();

  int16_t CurrentPort() const { return current_port_; }
  // Makes slot index 0..3 the current one; other values are ignored.
  void SetCurrentPort(int16_t slotIndex);
  // Serves slot 1..4 from now on, as its hot key does: the port icon shows it; when it was not
  // served yet, its client's pending input and output are discarded (unless every port
  // answers) and the log says "Served port: slot N (COMn)". Returns false (nothing changed)
  // for a slot outside 1..4 or without a COM number.
  bool ServeSlot(int slot);
  // True while every port's client is answered (setting AnswerEveryPort), not only the
  // served one's; pushes (foot switch, data key) still go to the served port only.
  bool AnswersEveryPort() const { return s_.AnswerEveryPort != 0; }

  // What the client of a slot did, counted from its arrival: commands cut and answered,
  // texts sent (acknowledgements, values, fixed answers, pushes) and the last of each.
  struct SlotActivity {
    uint64_t commands = 0;
    uint64_t answers = 0;
    std::string last_command;
    std::string last_answer;
  };
  // The activity of slot index 0..3's present client (empty for another index, or when its
  // client has sent and received nothing yet).
  SlotActivity Activity(int slotIndex) const;
  // -1 while a client holds a switched-on port open, else 0.
  int16_t PortsOpen() const { return ports_open_; }
  void SetPortsOpen(int16_t value) { ports_open_ = value; }
  int16_t TickCounter() const { return tick_counter_; }
  int16_t FootSwitchDown() const { return foot_switch_down_; }
  // The served slot's receive ring (while every port answers, each slot has a ring of its own).
  const ReceiveRing& RxRing() const { return served_rx_.ring; }
  // The command table; through the non-const form only flags and limit values may change
  // (the texts are indexed until the next CreateCommandTab).
  CommandTab& Table() { return tab_; }
  const CommandTab& Table() const { return tab_; }
  ActivityLog& Log() { return log_; }
  // The real gauges' health, fed by every value the engine reads.
  GaugeHealth& Health() { return health_; }
  // The element of slot index 0..3; null outside.
  IVirtualPort* Port(int slotIndex) const;

 private:
  struct Match;

  // The receive state of one client: what it sent, not yet cut into commands.
  struct RxState {
    ReceiveRing ring;
    // The port slot and client session whose bytes are in ring.
    int slot = -1;
    uint32_t session = 0;
    int prefix_skip = 0;  // prefix mode: leading ring bytes already known to match nothing
    // Terminated mode: the ring starts inside a message whose first commands were answered
    // (logged and acknowledged already) when a backlog held back the rest.
    bool message_open = false;
    bool message_ack = false;
  };
  struct SlotRecord {
    SlotActivity activity;
    uint32_t session = 0;
  };
  // What is served in this moment, handed from receiving through cutting and dispatch to the
  // answers and their value announcements: the slot index 0..3, its receive state, its port
  // (null for an element without a port) and what makes the values sent. An answer goes to
  // the port of the slot whose input is served; a push to the served slot's.
  struct ServingContext {
    int16_t slot = 0;
    RxState& rx;
    IVirtualPort* port = nullptr;
    ValueCause cause = ValueCause::Request;
  };
  ServingContext Serving(int slot, RxState& rx, ValueCause cause = ValueCause::Request) const;

  void ServingStep(bool tick);
  // Takes, cuts and answers the input of the slot c serves, with its receive state.
  void ServeSlotInput(const ServingContext& c);
  SlotRecord& Record(int slot);
  void HotKeyStep();
  void OpenStateStep();
  void TriggerBlock();
  void Receive(const ServingContext& c);
  // Receive while finishing: takes what the port holds and what ends the ring's command.
  void FinishCommand(const ServingContext& c, int room);
  void ProcessTerminated(const ServingContext& c);
  void ProcessPrefix(const ServingContext& c);
  void DispatchTerminated(const ServingContext& c, const std::string& command, bool& ackSent);
  bool MatchPrefix(std::string_view text, Match& match) const;
  // True while the bytes in c's ring still belong to the client holding c's port; when they
  // do not, the ring is emptied and given to that client.
  bool RingOwnerStays(const ServingContext& c);
  bool CouldStillMatch(std::string_view text) const;
  void RunKind(const ServingContext& c, int kind, int d, int a, bool allForm, bool withLog,
               bool& ackSent);
  void SetLimit(int j, int d, int a, double value);
  // Reads the value of gauge d, input a, and sends it to c's port (SendValue).
  void AnswerValue(const ServingContext& c, int16_t d, int16_t a, bool logRead);
  void Acknowledge(const ServingContext& c, bool& ackSent);
  void SendText(const ServingContext& c, const std::string& text);
  // The one path of every value, answered or pushed: formatted as SendMeaValue says, written
  // to c's port and announced with c's slot, client and cause.
  void SendValue(const ServingContext& c, int16_t device, int16_t Address, double value,
                 int16_t errorcode);
  void WriteTo(const ServingContext& c, const std::string& bytes);
  void AnnounceValue(const ServingContext& c, int16_t device, int16_t input, double value,
                     int16_t errorcode, const std::string& answer);
  // Hands the values announced since the last call on, with the time now.
  void FlushValueEvents();
  // Announces the values held for slots whose client's name is known now, or held too long.
  void ReleaseHeldValues(bool all = false);
  std::string FootSwitchFlags() const;
  void DiscardFullRing(const ServingContext& c);
  void ShowListsIfChanged();
  // Empties the ring of rx and forgets what was known of its bytes.
  static void ResetRing(RxState& rx);
  // The same for every receive state.
  void ResetAllRings();
  // True while c's port has so much unsent output that commands wait.
  static bool Backlogged(const ServingContext& c);

  IMainView& view_;
  IDeviceLibrary& device_;
  std::array<IVirtualPort*, kSlots> ports_;
  IKeyState& keys_;
  SettingsRecord& s_;
  CommandTab tab_;
  CommandIndex index_;
  ActivityLog log_;
  GaugeHealth health_{log_, std::cerr};
  // The receive state of the served port, and of each other port while every port answers.
  RxState served_rx_;
  std::array<RxState, kSlots> slot_rx_;
  std::array<SlotRecord, kSlots> records_;
  std::vector<uint8_t> buffer_;  // reception's read buffer, kept between steps
  // The served slot: its input is taken (every slot's while every port answers) and pushes go
  // to it.
  int16_t current_port_ = 0;
  int16_t ports_open_ = 0;
  int16_t tick_counter_ = 0;
  int16_t foot_switch_down_ = 0;
  // The client session for which unanswered unknown commands of an echoing line were logged.
  uint32_t echo_session_ = 0;
  bool echo_logged_ = false;
  unsigned shown_changes_ = 0;
  // A value sent to a client whose name the port is still finding out: announced with the
  // name once it is known, so that the history and MQTT record who got it.
  struct HeldValue {
    SentValue value;  // its texts point into text and nowhere else
    std::string text;
    int64_t utc_ms = 0;
  };
  struct HeldValues {
    std::vector<HeldValue> values;
    uint32_t session = 0;  // the client they were sent to
    std::chrono::steady_clock::time_point since{};
  };
  std::array<HeldValues, kSlots> held_;
  IValueEvents* value_events_ = nullptr;
  bool finishing_ = false;       // FinishWhatWasTaken: take no new command
  bool in_step_ = false;         // within ServingStep: the sink is flushed at its end
  bool events_pending_ = false;  // values announced since the sink's last Flush
};
