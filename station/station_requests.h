// The requests the running program answers on its local socket, as functions of the program:
// "status" (what it serves, who holds each port, the gauges, the log) and "serve SLOT" (the
// served port moves as its hot key moves it). Both front ends register the same requests.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "control_server.h"
#include "station.h"

// The status as documented in docs/CONTROL_SOCKET.md. Who holds each port comes from the
// look-up made when its client came (null members while it runs); every input in use is read
// from the device library (never waiting for a gauge).
nlohmann::json StationStatus(Station& station);

// Moves serving to slot 1..4 (PortBridge::ServeSlot). Returns the answer's members; throws
// ControlServer::RequestError when the slot has no port or ports are being made anew.
nlohmann::json ServeSlot(Station& station, const std::string& slot);

// Logs (activity log and standard error) that an open of port name by process requester was
// refused as busy, with who holds the port. Throws ControlServer::RequestError for a name
// that is no port of the station.
nlohmann::json RefusedOpen(Station& station, const std::string& name, pid_t requester);

// Reads the settings file anew and has the program take it over (VcpSession::ApplySettings),
// telling the service manager it reloads. Throws ControlServer::RequestError with the reason
// when the file cannot be read or the program cannot take it over. The change is recorded as
// asked by process by: "reload" when its arguments say so, else "velk-vcp-config".
nlohmann::json ReloadSettings(Station& station, pid_t by);

// Registers "status", "serve", "refused" and "reload" on server; station must outlive it.
void AddStationRequests(ControlServer& server, Station& station);

// Starts the program's socket (kControlSocketName in the current directory) with the
// station's requests. Failure is reported on standard error; the program serves on without
// it. Returns whether it started.
bool StartStationSocket(ControlServer& server, Station& station);
