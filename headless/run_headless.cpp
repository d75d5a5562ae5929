#include "run_headless.h"

#include <signal.h>
#include <time.h>

#include <array>
#include <cstring>
#include <iostream>
#include <memory>

#include "ddk_library.h"
#include "headless_view.h"
#include "key_state.h"
#include "port_folder.h"
#include "pty_port.h"
#include "vcp_session.h"

namespace {

constexpr long kTickNs = 10'000'000;

volatile sig_atomic_t stop_requested = 0;

void RequestStop(int) { stop_requested = 1; }

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void PrintPorts(const std::array<std::unique_ptr<PtyPort>, 4>& ports) {
  bool any = false;
  for (size_t k = 0; k < ports.size(); ++k) {
    if (ports[k]->link_path().empty()) continue;
    std::cout << "Velk_VCP: slot " << k + 1 << " simulates "
              << ports[k]->link_path().substr(ports[k]->link_path().rfind('/') + 1) << " at "
              << ports[k]->link_path() << std::endl;
    any = true;
  }
  if (!any) std::cout << "Velk_VCP: no port is simulated" << std::endl;
  std::cout << "Velk_VCP: serving; stop with Ctrl+C" << std::endl;
}

// Sleeps until the next multiple of the tick after the previous one.
void WaitForNextTick(timespec& next) {
  next.tv_nsec += kTickNs;
  if (next.tv_nsec >= 1'000'000'000) {
    next.tv_nsec -= 1'000'000'000;
    ++next.tv_sec;
  }
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // After a long stall (a suspended process) the ticks start again from now, not in a burst.
  if (now.tv_sec > next.tv_sec + 1) next = now;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
    if (stop_requested) return;
  }
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
  InstallStopHandlers();

  HeadlessView view(std::cout, std::cerr);
  DdkLibrary device;
  const std::string folder = PortFolder();
  std::array<std::unique_ptr<PtyPort>, 4> ports;
  for (auto& port : ports) port = std::make_unique<PtyPort>(folder);
  InertKeyState keys;
  VcpSession session(
      view, device, {ports[0].get(), ports[1].get(), ports[2].get(), ports[3].get()},
      [folder](int n) { return PortCanBeOpened(folder, n); }, keys);

  device.Device_PreInit();
  const bool serving = session.Start();
  if (serving) PrintPorts(ports);

  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  while (serving && !stop_requested && !view.close_requested()) {
    session.Tick();
    WaitForNextTick(next);
  }
  session.Shutdown();
  return serving ? 0 : 1;
}
