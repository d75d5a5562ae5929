// What a run does for the next run of the program when the ports outlive it: rules both front
// ends share.
#pragma once

#include <chrono>

class PortEvents;
class VcpSession;

// How long a run that ends waits for its clients to read the answers to what it took.
inline constexpr std::chrono::seconds kFinishPatience{3};

// True when the ports outlive this run: a hand-over was asked for, or the service manager keeps
// them across a restart.
bool PortsOutliveRun();

// Before the ports go to the next run: answers what the session took from the clients, takes a
// begun command to its end (terminated mode) and takes nothing more, so that the next run
// starts at a command's beginning and no answer is cut. Serves from events itself (null: waits
// 5 ms between serving steps), so nothing else runs meanwhile; gives up after kFinishPatience.
void FinishForNextRun(VcpSession& session, PortEvents* events);
