// The running station, assembled once for either front end: the device library, the four port
// slots (pseudo-terminal and network port), the event set the serving waits on, the value
// listeners (history and MQTT), the program's socket and the service manager. A front end adds
// only its view, its key state and its loop: it makes the session over EnginePorts(), attaches
// it, and calls the steps below in their order.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "control_server.h"
#include "ddk_library.h"
#include "port_events.h"
#include "port_folder.h"
#include "slot_port.h"
#include "tls_certificate.h"
#include "value_recorder.h"
#include "vcp_session.h"
#include "web_page_switch.h"

class Station {
 public:
  static constexpr size_t kSlots = 4;

  // Takes back what the run before handed over or the service manager kept (ports are matched
  // as they are made), then makes the pieces; nothing is served yet. front_end is "headless"
  // or "desktop", as the status names it; folder is where the ports' links go.
  explicit Station(std::string front_end, std::string folder = PortFolder());
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;
  ~Station();

  DdkLibrary& device() { return device_; }
  // The slots as the engine sees them, for the session.
  std::array<IVirtualPort*, kSlots> EnginePorts();
  SlotPort* slot(size_t k) { return k < kSlots ? ports_[k].get() : nullptr; }
  PortEvents& events() { return *events_; }
  ValueRecorder& recorder() { return recorder_; }
  WebPageSwitch& web() { return web_; }
  const std::string& front_end() const { return front_end_; }
  const std::string& folder() const { return folder_; }
  std::chrono::steady_clock::time_point started() const { return started_; }

  // Binds the session that serves the station (the front end owns it; it must stay until
  // End): network refusals and arrivals go to its activity log.
  void Attach(VcpSession& session);
  // The attached session; only valid after Attach.
  VcpSession& session() { return *session_; }

  // After the session's start (started: it serves): says each problem of the settings read
  // (SettingsProblems) on standard error and in the activity log, lists each port with its
  // path on standard output, starts the value listeners and closes what was inherited and not taken
  // back. Returns whether the station serves: false when the session did not start, or when
  // need_port and no port could be made (said on standard error).
  bool BeginServing(bool started, bool need_port);
  // Once serving has begun: opens the program's socket (failure is said on standard error; the
  // station serves on without it), prints line (when not empty) on standard output and tells
  // the service manager it is ready. From here on a tool finds the program. Does nothing when
  // the station does not serve.
  void Announce(const std::string& line = "");

  // The service manager's watchdog and status line, for the loop to call on every turn: the
  // status is sent again when a port's holder came, went or got its name; the web page's
  // status snapshot is refreshed when due. Returns the milliseconds until the next call is
  // needed (-1: no limit).
  int ServiceStep();
  // Reads the station's TLS certificate as the settings in force name it (none: nothing), for
  // the status; when it ends within kCertificateWarningDays, or has ended, says so on standard
  // error and in the activity log. A certificate that cannot be read is left to the ports,
  // which say why they do not listen. Called at the start and at each settings change.
  void FollowCertificate();
  // The station's certificate as last read; nothing without one.
  const std::optional<TlsCertificateFacts>& certificate() const { return certificate_; }

  // The line the service manager shows: each port and who holds it ("serving COM5 (held by
  // 1234 python3)", "(free)").
  std::string ServiceStatus();

  // When the ports outlive this run (see PortsOutliveRun): FinishForNextRun with the station's
  // event set. Does nothing when the station did not serve.
  void FinishForNextRun();

  // Ends serving on the station's side: the program's socket and the web page close and the
  // service manager hears that the program stops. Call before the session's shutdown; runs once.
  void StopServing();
  // After the session's shutdown, when the station served and a hand-over was asked for: the
  // value listeners end without saying goodbye and the program's image starts anew in this
  // process with the ports (headless: headless again). Returns nullopt when no hand-over was
  // asked for; otherwise the exit status, as the hand-over returns only when it did not run:
  // 0 when a stop request came first, 1 when it failed (the reason is on standard error).
  std::optional<int> HandOverIfAsked(bool headless);

 private:
  // Says that the certificate ends soon, once for each day left (see FollowCertificate).
  void WarnOfCertificateEnd();

  std::string front_end_;
  std::string folder_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  DdkLibrary device_;
  std::array<std::unique_ptr<SlotPort>, kSlots> ports_;
  std::unique_ptr<PortEvents> events_;
  ValueRecorder recorder_;
  WebPageSwitch web_;                       // reads the recorder's ring: goes before it
  std::unique_ptr<ControlServer> control_;  // the program's socket, once announced
  VcpSession* session_ = nullptr;
  bool serving_ = false;
  bool stopped_ = false;
  unsigned held_shown_ = 0;  // the ports whose holders the service status shows
  std::optional<TlsCertificateFacts> certificate_;
  int64_t certificate_days_said_ = INT64_MAX;  // the days left last warned of
  // Each slot's client as the record of changes knows it.
  struct ClientOnRecord {
    bool present = false;
    bool recorded = false;  // its arrival is on record
    std::string holder;
  };
  std::array<ClientOnRecord, kSlots> clients_on_record_{};
  // Puts clients that arrived (once their holder is known) and left on record.
  void RecordClients();
};
