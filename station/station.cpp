#include "station.h"

#include <time.h>

#include <iostream>

#include "next_run.h"
#include "served_port_line.h"
#include "service_manager.h"
#include "settings_checks.h"
#include "station_requests.h"
#include "stop_signals.h"
#include "text_encoding.h"

Station::Station(std::string front_end, std::string folder)
    : front_end_(std::move(front_end)), folder_(std::move(folder)) {
  // Ports handed over by the run before (SIGUSR2) or kept by the service manager are taken
  // back as the ports are made.
  service::CollectInherited();
  for (size_t k = 0; k < kSlots; ++k) {
    ports_[k] = std::make_unique<SlotPort>(static_cast<int>(k) + 1, Settings, folder_);
  }
  events_ = std::make_unique<PortEvents>(std::array<PtyPort*, kSlots>{
      &ports_[0]->pty(), &ports_[1]->pty(), &ports_[2]->pty(), &ports_[3]->pty()});
  for (size_t k = 0; k < kSlots; ++k) events_->SetNetworkSide(k, &ports_[k]->network());
}

Station::~Station() {
  // The socket's requests reach into the session and the ports: it closes before they go.
  control_.reset();
}

std::array<IVirtualPort*, Station::kSlots> Station::EnginePorts() {
  return {ports_[0].get(), ports_[1].get(), ports_[2].get(), ports_[3].get()};
}

void Station::Attach(VcpSession& session) {
  session_ = &session;
  for (auto& port : ports_) {
    port->SetLog([this](const std::string& line) { session_->bridge().Log().WriteLine(line); });
    port->SetRefusalRecord(
        [this](const std::string& line) { recorder_.Audit("network", 0, line); });
  }
}

bool Station::BeginServing(bool started, bool need_port) {
  bool any = false;
  if (started) {
    for (size_t k = 0; k < kSlots; ++k) {
      const std::string& link = ports_[k]->pty().link_path();
      if (link.empty()) continue;
      std::cout << ServedPortLine(static_cast<int>(k) + 1, link) << std::endl;
      any = true;
    }
  }
  if (started) {
    // A settings file edited by hand gets the checks the tool makes; the program serves on
    // with what it could make of it, and a reload takes over the corrected file.
    for (const std::string& problem : SettingsProblems(Settings)) {
      std::cerr << "Velk_VCP: settings file: " << problem << std::endl;
      session_->bridge().Log().WriteLine("Settings file: " + problem);
    }
  }
  if (started) FollowCertificate();
  serving_ = started && (any || !need_port);
  if (started && !serving_) {
    std::cerr << "Velk_VCP: no port could be created (the reason is above); ending" << std::endl;
  }
  if (serving_) {
    recorder_.ApplyTo(session_->bridge(), Settings);
    std::string why;
    if (!web_.Apply(Settings, recorder_, session_->bridge(), why)) {
      std::cerr << "Velk_VCP: " << why << std::endl;
    }
    recorder_.Audit("program", 0, "started (" + front_end_ + ")");
  }
  service::CloseUnclaimedInherited();
  return serving_;
}

void Station::Announce(const std::string& line) {
  if (!serving_) return;
  control_ = std::make_unique<ControlServer>(*events_);
  StartStationSocket(*control_, *this);
  if (!line.empty()) std::cout << line << std::endl;
  service::Ready(ServiceStatus());
}

int Station::ServiceStep() {
  // The watchdog is fed from the loop, so that a loop that no longer turns is caught.
  int watchdog = service::WatchdogTick();
  if (serving_ && session_) {
    const int web = web_.Step([this] { return StationStatus(*this); });
    if (web >= 0 && (watchdog < 0 || web < watchdog)) watchdog = web;
  }
  RecordClients();
  if (service::Active()) {
    // A holder's name comes a little after the holder (it is looked up off the serving thread):
    // the line is sent again once it is known.
    unsigned held = 0;
    for (size_t k = 0; k < kSlots; ++k) {
      if (ports_[k]->client_present()) held |= 1u << k;
      if (ports_[k]->client_present() && ports_[k]->ClientNameKnown()) held |= 16u << k;
    }
    if (held != held_shown_) service::Status(ServiceStatus());
    held_shown_ = held;
  }
  WarnOfCertificateEnd();
  return watchdog;
}

void Station::FollowCertificate() {
  const std::string path = Cp1252ToUtf8(session_->settings().TlsCertFile);
  std::string reason;
  certificate_ = path.empty() ? std::nullopt : ReadCertificateFacts(path, reason);
  // Said anew for the certificate now in force, at once.
  certificate_days_said_ = INT64_MAX;
  WarnOfCertificateEnd();
}

void Station::WarnOfCertificateEnd() {
  // A station that runs for weeks is told once a day, from two weeks before, that its
  // certificate ends.
  if (!certificate_) return;
  const int64_t now = time(nullptr);
  const int64_t days = CertificateDaysLeft(*certificate_, now);
  if (days >= certificate_days_said_) return;
  certificate_days_said_ = days;
  const std::string warning = CertificateWarning(*certificate_, now);
  if (warning.empty()) return;
  std::cerr << "Velk_VCP: " << warning << std::endl;
  session_->bridge().Log().WriteLine(warning);
}

void Station::RecordClients() {
  for (size_t k = 0; k < kSlots; ++k) {
    SlotPort& port = *ports_[k];
    ClientOnRecord& known = clients_on_record_[k];
    const bool present = port.client_present();
    if (!present && !known.present) continue;
    const std::string& link = port.pty().link_path();
    const std::string name = link.substr(link.rfind('/') + 1);
    if (present && !known.present) {
      known = {true, false, ""};
    }
    // An arrival goes on record once its holder is known (looked up off this thread).
    if (present && !known.recorded && port.ClientNameKnown()) {
      known.recorded = true;
      known.holder = port.ClientName();
      recorder_.Audit(
          "client", 0,
          name + ": " + (known.holder.empty() ? "a client" : known.holder) + " arrived");
    }
    if (!present) {
      // One that left before its holder was known is on record once, as it went.
      recorder_.Audit("client", 0,
                      name + ": " + (known.holder.empty() ? "a client" : known.holder) +
                          (known.recorded ? " left" : " came and left"));
      known = {};
    }
  }
}

std::string Station::ServiceStatus() {
  std::string status = "serving";
  for (const auto& port : ports_) {
    const std::string& link = port->pty().link_path();
    if (link.empty()) continue;
    status += " " + link.substr(link.rfind('/') + 1);
    if (!port->client_present()) {
      status += " (free)";
      continue;
    }
    const std::string& holder = port->ClientName();
    status += " (held by " + (holder.empty() ? std::string("a client") : holder) + ")";
  }
  return status;
}

void Station::FinishForNextRun() {
  if (serving_ && session_ && PortsOutliveRun()) ::FinishForNextRun(*session_, events_.get());
}

void Station::StopServing() {
  if (stopped_) return;
  stopped_ = true;
  if (serving_) recorder_.Audit("program", 0, "stopped");
  if (control_) control_->Stop();
  web_.Stop();
  service::Stopping();
}

std::optional<int> Station::HandOverIfAsked(bool headless) {
  if (!serving_ || !HandOverRequested()) return std::nullopt;
  // The ports outlive this run: their masters go to the next one, started in this process.
  if (headless) std::cout << "Velk_VCP: handing the ports over to a new run" << std::endl;
  recorder_.Audit("program", 0, "handed over to a new run");
  // The next run says "online" again: this one leaves the broker without "offline".
  recorder_.EndForHandOver();
  // Only a hand-over that did not run returns, so nothing is written before it has run.
  const std::string failed = service::HandOver(headless);
  if (failed.empty()) return 0;
  std::cerr << "Velk_VCP: " << failed << std::endl;
  return 1;
}
