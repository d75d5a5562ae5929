#include "run_headless.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "evdev_key_state.h"
#include "headless_view.h"
#include "key_state.h"
#include "port_events.h"
#include "port_folder.h"
#include "process_priority.h"
#include "station.h"
#include "stop_signals.h"
#include "vcp_session.h"

namespace {

constexpr std::chrono::milliseconds kTick{10};
constexpr std::chrono::seconds kGaugeCheck{1};

using Clock = std::chrono::steady_clock;

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
  HeadlessView view(std::cout, std::cerr);
  Station station("headless");
  const std::unique_ptr<IKeyState> keyState = OpenConsoleKeyState();
  IKeyState& keys = *keyState;
  const std::string folder = station.folder();
  VcpSession session(
      view, station.device(), station.EnginePorts(),
      [folder](int n) { return PortCanBeOpened(folder, n); }, keys);
  station.Attach(session);
  station.device().Device_PreInit();
  RaiseProcessPriority();
  const bool serving = station.BeginServing(session.Start(), true);

  // Input is served the moment it arrives. The 10 ms ticks keep their pace; where a tick
  // could only count towards the trigger block (no key can change the port, no client on
  // any port), it is counted without waking up.
  PortEvents& events = station.events();
  events.WakeOn(stop_signal);
  // Serving is announced once the program's socket is there too, so that a tool run at once
  // finds the program.
  station.Announce("Velk_VCP: serving; stop with Ctrl+C");
  // Real gauges are looked at once a second; without any, nothing wakes the loop for them.
  int gauges = serving ? session.CheckGauges() : 0;
  auto nextCheck = Clock::now() + kGaugeCheck;
  auto next = Clock::now() + kTick;  // when the next tick is due
  while (serving && !StopRequested() && !view.close_requested()) {
    int quiet = keys.CanChange() ? 0 : session.QuietTicks();
    events.Arm(session.bridge().CurrentPort(), session.TimerEnabled(),
               session.bridge().AnswersEveryPort());
    int timeout = quiet < 0 ? -1 : MillisecondsUntil(next + quiet * kTick);
    if (gauges > 0) {
      const int check = MillisecondsUntil(nextCheck);
      timeout = timeout < 0 ? check : std::min(timeout, check);
    }
    const int service = station.ServiceStep();
    if (service >= 0 && (timeout < 0 || service < timeout)) timeout = service;
    // A network client's idle limit ends the wait too.
    const int network = events.TimeoutMs();
    if (network >= 0 && (timeout < 0 || network < timeout)) timeout = network;
    if (events.Wait(timeout)) {
      events.FollowClients();
      session.ServeInput();
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
  // go on with whatever their clients wrote.
  station.FinishForNextRun();
  station.StopServing();
  session.Shutdown();
  if (const std::optional<int> status = station.HandOverIfAsked(true)) return *status;
  return serving ? 0 : 1;
}
