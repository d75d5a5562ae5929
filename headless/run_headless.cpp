#include "run_headless.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>

#include "control_server.h"
#include "ddk_library.h"
#include "evdev_key_state.h"
#include "headless_view.h"
#include "key_state.h"
#include "port_events.h"
#include "port_folder.h"
#include "process_priority.h"
#include "pty_port.h"
#include "served_port_line.h"
#include "service_manager.h"
#include "slot_port.h"
#include "station_requests.h"
#include "stop_signals.h"
#include "value_recorder.h"
#include "vcp_session.h"

namespace {

constexpr std::chrono::milliseconds kTick{10};
constexpr std::chrono::seconds kGaugeCheck{1};
// How long a run that ends waits for its clients to read the answers to what it took.
constexpr std::chrono::seconds kFinishPatience{3};

// Prints each simulated port with its absolute path and returns true; without any port says
// so on standard error and returns false.
bool PrintPorts(const std::array<std::unique_ptr<SlotPort>, 4>& ports) {
  bool any = false;
  for (size_t k = 0; k < ports.size(); ++k) {
    const std::string& link = ports[k]->pty().link_path();
    if (link.empty()) continue;
    std::cout << ServedPortLine(static_cast<int>(k) + 1, link) << std::endl;
    any = true;
  }
  if (!any) {
    std::cerr << "Velk_VCP: no port could be created (the reason is above); ending" << std::endl;
    return false;
  }
  return true;
}

using Clock = std::chrono::steady_clock;

// One line for the service manager: each port and who holds it ("COM5 (held by 1234
// python3)", "(held by network 192.0.2.7:50122)", "(free)"). The holder is the port's
// ClientName, looked up once per client and kept (value events use the same); "a client"
// while it cannot be told.
std::string ServiceStatus(const std::array<std::unique_ptr<SlotPort>, 4>& ports) {
  std::string status = "serving";
  for (const auto& port : ports) {
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

// Milliseconds from now until deadline, rounded up, at least 0.
int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

int RunHeadless(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--headless") == 0) continue;
    if (std::strcmp(argv[i], "--help") == 0) {
      std::cout << "usage: Velk_VCP [--headless]\n"
                   "  Serves the simulated serial ports in the port folder of the current\n"
                   "  directory (or VELK_VCP_PORT_DIR) until SIGINT or SIGTERM.\n";
      return 0;
    }
    std::cerr << "Velk_VCP: unknown argument " << argv[i] << "\n";
    return 2;
  }
  const int stop_signal = InstallStopSignals();
  service::CollectInherited();

  HeadlessView view(std::cout, std::cerr);
  DdkLibrary device;
  const std::string folder = PortFolder();
  std::array<std::unique_ptr<SlotPort>, 4> ports;
  for (size_t k = 0; k < ports.size(); ++k) {
    ports[k] = std::make_unique<SlotPort>(static_cast<int>(k) + 1, Settings, folder);
  }
  ValueRecorder recorder;  // outlives the session, which announces to it
  const std::unique_ptr<IKeyState> keyState = OpenConsoleKeyState();
  IKeyState& keys = *keyState;
  VcpSession session(
      view, device, {ports[0].get(), ports[1].get(), ports[2].get(), ports[3].get()},
      [folder](int n) { return PortCanBeOpened(folder, n); }, keys);

  for (auto& port : ports) {
    port->SetLog([&session](const std::string& line) { session.bridge().Log().WriteLine(line); });
  }
  device.Device_PreInit();
  RaiseProcessPriority();
  const bool serving = session.Start() && PrintPorts(ports);
  if (serving) recorder.ApplyTo(session.bridge(), Settings);
  service::CloseUnclaimedInherited();

  // Input is served the moment it arrives. The 10 ms ticks keep their pace; where a tick
  // could only count towards the trigger block (no key can change the port, no client on
  // any port), it is counted without waking up.
  PortEvents events({&ports[0]->pty(), &ports[1]->pty(), &ports[2]->pty(), &ports[3]->pty()});
  for (size_t k = 0; k < ports.size(); ++k) events.SetNetworkSide(k, &ports[k]->network());
  events.WakeOn(stop_signal);
  // Requests on the program's socket are served from the same set, between serving steps.
  ControlServer control(events);
  Station station{session,
                  {ports[0].get(), ports[1].get(), ports[2].get(), ports[3].get()},
                  "headless",
                  &recorder};
  // Serving is announced once the program's socket is there too, so that a tool run at once
  // finds the program.
  if (serving) {
    StartStationSocket(control, station);
    std::cout << "Velk_VCP: serving; stop with Ctrl+C" << std::endl;
    service::Ready(ServiceStatus(ports));
  }
  // Real gauges are looked at once a second; without any, nothing wakes the loop for them.
  int gauges = serving ? session.CheckGauges() : 0;
  auto nextCheck = Clock::now() + kGaugeCheck;
  auto next = Clock::now() + kTick;  // when the next tick is due
  unsigned held_shown = 0;           // the ports whose clients the status line shows
  while (serving && !StopRequested() && !view.close_requested()) {
    int quiet = keys.CanChange() ? 0 : session.QuietTicks();
    events.Arm(session.bridge().CurrentPort(), session.TimerEnabled(),
               session.bridge().AnswersEveryPort());
    int timeout = quiet < 0 ? -1 : MillisecondsUntil(next + quiet * kTick);
    if (gauges > 0) {
      const int check = MillisecondsUntil(nextCheck);
      timeout = timeout < 0 ? check : std::min(timeout, check);
    }
    // The watchdog is fed from here, so that a loop that no longer turns is caught.
    const int watchdog = service::WatchdogTick();
    if (watchdog >= 0 && (timeout < 0 || watchdog < timeout)) timeout = watchdog;
    // A network client's idle limit ends the wait too.
    const int network = events.TimeoutMs();
    if (network >= 0 && (timeout < 0 || network < timeout)) timeout = network;
    if (events.Wait(timeout)) {
      events.FollowClients();
      session.ServeInput();
    }
    if (service::Active()) {
      // A holder's name comes a little after the holder (it is looked up off this thread): the
      // line is sent again once it is known.
      unsigned held = 0;
      for (size_t k = 0; k < ports.size(); ++k) {
        if (ports[k]->client_present()) held |= 1u << k;
        if (ports[k]->client_present() && ports[k]->ClientNameKnown()) held |= 16u << k;
      }
      if (held != held_shown) service::Status(ServiceStatus(ports));
      held_shown = held;
    }
    const auto now = Clock::now();
    if (now >= nextCheck) {
      gauges = session.CheckGauges();
      nextCheck = now + kGaugeCheck;
    }
    if (quiet < 0) {
      next = now + kTick;
      continue;
    }
    for (int due = 0; now >= next && due < 100; ++due) {
      if (quiet > 0) {
        session.CountQuietTick();
        --quiet;
      } else {
        session.Tick();
        quiet = keys.CanChange() ? 0 : std::max(session.QuietTicks(), 0);
      }
      next += kTick;
    }
    // After a stall (a suspended process) the ticks start again from now, not in a burst.
    if (now - next > std::chrono::seconds(1)) next = now + kTick;
  }
  // Ports that outlive this run (a hand-over, or the service manager's store across a restart)
  // go on with whatever their clients wrote: what this run took is answered first and nothing
  // more is taken, so the next run starts at a command's beginning and no answer is cut.
  if (serving && (HandOverRequested() || service::Active())) {
    session.bridge().FinishWhatWasTaken();
    const auto deadline = Clock::now() + kFinishPatience;
    while (!session.bridge().TakenFinished() && Clock::now() < deadline) {
      events.Arm(session.bridge().CurrentPort(), session.TimerEnabled(),
                 session.bridge().AnswersEveryPort());
      if (events.Wait(5)) events.FollowClients();
      session.ServeInput();
    }
  }
  control.Stop();
  service::Stopping();
  session.Shutdown();
  if (serving && HandOverRequested()) {
    // The ports outlive this run: their masters go to the next one, started in this process.
    std::cout << "Velk_VCP: handing the ports over to a new run" << std::endl;
    recorder.EndForHandOver();
    // Only a failed hand-over returns, so nothing is written before it has run.
    const std::string failed = service::HandOver(true);
    if (failed.empty()) return 0;
    std::cerr << "Velk_VCP: " << failed << std::endl;
    return 1;
  }
  return serving ? 0 : 1;
}
