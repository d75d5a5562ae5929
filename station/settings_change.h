// A change of the running station's settings as one transaction.
#pragma once

#include <sys/types.h>

#include <string>

#include "settings_record.h"

class Station;

// Takes next over in the running station. A record with problems (SettingsProblems: the checks
// velk-vcp-config makes) is refused with them, joined by "; ". Every network port it names is
// checked first (where
// the slot's own listener stands in the way it moves there now), then the session takes the
// settings (device library, command table, ports whose number changed), the network ports,
// the value listeners and the web page follow. When any step cannot, everything goes back to the
// settings in force, so the station runs on as before. The settings file is not written: the
// caller's file is where next came from. Tells the service manager it reloads while the change
// runs. Returns an empty text, or the reason nothing (or, when the device file went bad meanwhile,
// not everything) was taken over.
// A change taken over is recorded in the history's table of changes with each setting changed,
// as made how ("reload", "velk-vcp-config", "setup window") by process by (0: the program).
std::string ChangeStationSettings(Station& station, const SettingsRecord& next,
                                  const std::string& how = "reload", pid_t by = 0);
