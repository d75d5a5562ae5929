#include "desktop_program.h"

#include <QApplication>
#include <QTimer>
#include <array>
#include <iostream>
#include <memory>

#include "control_server.h"
#include "ddk_library.h"
#include "port_events.h"
#include "port_folder.h"
#include "pty_port.h"
#include "served_port_line.h"
#include "service_manager.h"
#include "slot_port.h"
#include "station_requests.h"
#include "stop_signals.h"
#include "system_tray_icon.h"
#include "termination_signals.h"
#include "vcp_form.h"
#include "velk_form.h"
#include "x11_key_state.h"

int RunDesktop(int argc, char** argv) {
  // Ports handed over by the run before (SIGUSR2) or kept by the service manager are taken
  // back as the ports are made.
  service::CollectInherited();
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  DdkLibrary device;
  std::array<SlotPort, 4> ports{SlotPort(1, Settings), SlotPort(2, Settings), SlotPort(3, Settings),
                                SlotPort(4, Settings)};
  PortEvents events({&ports[0].pty(), &ports[1].pty(), &ports[2].pty(), &ports[3].pty()});
  for (size_t k = 0; k < ports.size(); ++k) events.SetNetworkSide(k, &ports[k].network());
  const std::unique_ptr<IKeyState> keys = OpenDesktopKeyState();
  SystemTrayIcon tray;
  VcpServices services{device,
                       {&ports[0], &ports[1], &ports[2], &ports[3]},
                       [](int n) { return PortCanBeOpened(n); },
                       *keys,
                       tray,
                       &events};
  Velk start(device, [&services, &ports] {
    auto* main = new VCP_FORM(services);
    for (SlotPort& port : ports) {
      port.SetLog(
          [main](const std::string& line) { main->session().bridge().Log().WriteLine(line); });
    }
    CloseOnTerminationSignals(main);
    return main;
  });
  VCP_FORM* main = start.Form_Load();
  service::CloseUnclaimedInherited();
  if (main == nullptr) return 1;
  for (size_t k = 0; k < ports.size(); ++k) {
    if (!ports[k].pty().link_path().empty()) {
      std::cout << ServedPortLine(static_cast<int>(k) + 1, ports[k].pty().link_path()) << std::endl;
    }
  }
  const bool endedEarly = main->session().ShutDown();
  // Requests on the program's socket come through the ports' event set, which the window
  // serves from the event loop; they end with the window.
  ControlServer control(events);
  Station station{
      main->session(), {&ports[0], &ports[1], &ports[2], &ports[3]}, "desktop", &main->recorder()};
  if (!endedEarly) StartStationSocket(control, station);
  QObject::connect(main, &QObject::destroyed, &app, [&control] { control.Stop(); });
  // Real gauges are looked at once a second.
  QTimer gauges;
  QObject::connect(&gauges, &QTimer::timeout, main, [main] { main->session().CheckGauges(); });
  if (!endedEarly) {
    main->session().CheckGauges();
    gauges.start(1000);
  }
  QObject::connect(main, &QObject::destroyed, &app, &QCoreApplication::quit);
  const int status = app.exec();
  if (!endedEarly && HandOverRequested()) {
    // The window's shutdown kept the ports' masters: a new run of the program takes them.
    // Only a failed hand-over returns, so nothing is written before it has run.
    const std::string failed = service::HandOver(false);
    if (failed.empty()) return 0;
    std::cerr << "Velk_VCP: " << failed << std::endl;
    return 1;
  }
  return endedEarly ? 1 : status;
}
