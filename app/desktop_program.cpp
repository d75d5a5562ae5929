#include "desktop_program.h"

#include <QApplication>
#include <QTimer>
#include <memory>
#include <optional>

#include "port_folder.h"
#include "station.h"
#include "system_tray_icon.h"
#include "termination_signals.h"
#include "vcp_form.h"
#include "velk_form.h"
#include "x11_key_state.h"

int RunDesktop(int argc, char** argv) {
  Station station("desktop");
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  const std::unique_ptr<IKeyState> keys = OpenDesktopKeyState();
  SystemTrayIcon tray;
  VcpServices services{station.device(),
                       station.EnginePorts(),
                       [](int n) { return PortCanBeOpened(n); },
                       *keys,
                       tray,
                       &station.events(),
                       &station.recorder()};
  Velk start(station.device(), [&services, &station] {
    auto* main = new VCP_FORM(services);
    station.Attach(main->session());
    CloseOnTerminationSignals(main);
    return main;
  });
  VCP_FORM* main = start.Form_Load();
  const bool serving = station.BeginServing(main && !main->session().ShutDown(), false);
  if (main == nullptr) return 1;
  // Requests on the program's socket come through the ports' event set, which the window
  // serves from the event loop; they end with the window, whose session they reach into.
  station.Announce();
  QObject::connect(main, &QObject::destroyed, &app, [&station] { station.StopServing(); });
  // Real gauges are looked at once a second, and the service manager hears of the ports'
  // holders as often.
  QTimer gauges;
  QObject::connect(&gauges, &QTimer::timeout, main, [main, &station] {
    main->session().CheckGauges();
    station.ServiceStep();
  });
  if (serving) {
    main->session().CheckGauges();
    gauges.start(1000);
  }
  QObject::connect(main, &QObject::destroyed, &app, &QCoreApplication::quit);
  const int status = app.exec();
  // The window's shutdown kept the ports' masters for a hand-over: a new run takes them.
  if (const std::optional<int> handed = station.HandOverIfAsked(false)) return *handed;
  return serving ? status : 1;
}
