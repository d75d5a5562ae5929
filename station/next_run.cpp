#include "next_run.h"

#include <thread>

#include "port_events.h"
#include "service_manager.h"
#include "stop_signals.h"
#include "vcp_session.h"

bool PortsOutliveRun() { return HandOverRequested() || service::Active(); }

void FinishForNextRun(VcpSession& session, PortEvents* events) {
  PortBridge& bridge = session.bridge();
  bridge.FinishWhatWasTaken();
  const auto deadline = std::chrono::steady_clock::now() + kFinishPatience;
  while (!bridge.TakenFinished() && std::chrono::steady_clock::now() < deadline) {
    if (events) {
      events->Arm(bridge.CurrentPort(), session.TimerEnabled(), bridge.AnswersEveryPort());
      if (events->Wait(5)) events->FollowClients();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    session.ServeInput();
  }
}
