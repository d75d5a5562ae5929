#include "settings_change.h"

#include <iostream>
#include <optional>
#include <vector>

#include "endpoint_config.h"
#include "service_manager.h"
#include "settings_changes.h"
#include "settings_checks.h"
#include "station.h"

namespace {

// Every slot's network port follows the settings in force. Failures are said on standard
// error; the port then does not listen.
void FollowNetworkSettings(Station& station, bool say) {
  for (size_t k = 0; k < Station::kSlots; ++k) {
    std::string why;
    if (!station.slot(k)->ApplyNetwork(why) && say) {
      std::cerr << "Velk_VCP: no network port: " << why << std::endl;
    }
  }
}

}  // namespace

std::string ChangeStationSettings(Station& station, const SettingsRecord& next,
                                  const std::string& how, pid_t by) {
  // The checks velk-vcp-config makes before it writes: a file edited by hand gets them too.
  const std::vector<std::string> problems = SettingsProblems(next);
  if (!problems.empty()) {
    std::string reason;
    for (const std::string& problem : problems) reason += (reason.empty() ? "" : "; ") + problem;
    return reason;
  }
  // Network ports are checked before anything changes: a change either takes them all or
  // leaves everything as it was.
  for (int slot = 1; slot <= static_cast<int>(Station::kSlots); ++slot) {
    std::optional<NetworkEndpointConfig> wanted;
    std::string why;
    if (!NetworkEndpointFromSettings(next, slot, wanted, why)) return why;
    if (!station.slot(static_cast<size_t>(slot - 1))->PrepareNetwork(wanted, why)) {
      // Ports an earlier slot's check moved go back to the settings in force.
      FollowNetworkSettings(station, false);
      return "network port of slot " + std::to_string(slot) + ": " + why;
    }
  }
  service::Reloading();
  VcpSession& session = station.session();
  const SettingsRecord previous = session.settings();
  std::string reason = session.ApplySettings(next);
  // Slots whose port stayed follow the settings in force: the new ones, or the previous ones
  // again when they were not taken over (a port moved by the check goes back). New ports took
  // theirs already.
  FollowNetworkSettings(station, true);
  // The value history and MQTT follow the settings as they are now. When they cannot, the
  // change is undone, so that the program goes on as the settings file the tool restores says.
  // The web page follows them, on the listeners' ring; when it cannot, the same.
  ValueRecorder& recorder = station.recorder();
  std::string failed;
  if (!recorder.ApplyTo(session.bridge(), Settings)) {
    failed = recorder.Problems();
  } else if (!station.web().Apply(Settings, recorder, session.bridge(), failed)) {
    // The page that ran before runs on.
  } else {
    failed.clear();
  }
  if (!failed.empty()) {
    if (reason.empty() && session.ApplySettings(previous).empty()) {
      FollowNetworkSettings(station, false);
      recorder.ApplyTo(session.bridge(), Settings);
      std::string ignored;
      station.web().Apply(Settings, recorder, session.bridge(), ignored);
    }
    reason += (reason.empty() ? "" : "; ") + failed;
  }
  station.FollowCertificate();
  service::Ready("reloaded");
  if (reason.empty()) {
    const std::string what = SettingsChangeText(previous, session.settings());
    if (!what.empty()) recorder.Audit(how, by, "settings: " + what);
  }
  return reason;
}
