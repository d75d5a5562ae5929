// The service manager (systemd) at the platform edge: readiness, a status line, the watchdog,
// and the store that keeps the ports' pseudo-terminals while the program restarts. Ports
// handed over by a re-execution of the program come back the same way. Without NOTIFY_SOCKET
// the notifications do nothing; all calls come from the serving thread.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace service {

// True when a service manager listens for notifications (NOTIFY_SOCKET set).
bool Active();
// READY=1 with a status line: the ports exist.
void Ready(const std::string& status);
// STATUS=: one line of what is served; sent only when it changed.
void Status(const std::string& status);
// RELOADING=1: the program takes over changed settings; Ready() ends it.
void Reloading();
// STOPPING=1; from now on ports given up are left in the store (a restart takes them back).
void Stopping();
// True after Stopping().
bool ShuttingDown();
// Sends WATCHDOG=1 when the watchdog is on and half its interval has passed since the last;
// returns the longest the serving loop may wait before calling it again (-1: no watchdog).
int WatchdogTick();

// Hands a port's master to the store under name (FDSTORE=1, FDPOLL=0, so that a port nobody
// holds is kept). Returns false when no manager listens or it refused.
bool StorePort(const std::string& name, int master);
// Removes the descriptors stored under name (FDSTOREREMOVE=1), unless the program stops.
void ForgetPort(const std::string& name);

// Takes the descriptors the program was started with (LISTEN_FDS, LISTEN_FDNAMES for this
// process: from the store, or from a re-execution). Call once, early.
void CollectInherited();
// The inherited master of the port name, taken once; -1 when there is none.
int TakeInherited(const std::string& name);
// Closes inherited descriptors no port took (their slot changed meanwhile).
void CloseUnclaimedInherited();

// Keeps a copy of a port's master for the next run while a hand-over is asked for (SIGUSR2):
// called as the port goes; does nothing otherwise.
void KeepForHandOver(const std::string& name, int master);
// Runs the program's executable as it is on disk now (after an upgrade: the new binary) again
// in this process, in the current folder (headless or not), handing it the ports kept for it.
// Returns only on failure, with the reason, or with an empty text when a stop signal came
// meanwhile (the program then ends as on that signal).
std::string HandOver(bool headless);

}  // namespace service
