#include "port_bridge.h"

namespace {
constexpr int kLastDataKeyAddress = 120;
}

void PortBridge::TriggerBlock() {
  // Values sent from here were pushed by a data key or the foot switch, not asked for; they go
  // to the served slot only.
  ServingContext push = Serving(current_port_, served_rx_, ValueCause::DataKey);
  for (int16_t d = kFirstDevice; d <= kLastDevice; ++d) {
    if (tab_.DeviceUsed[d] <= 0) continue;
    for (int16_t a = 1; a <= kLastDataKeyAddress; ++a) {
      const CommandEntry& e = tab_.Entry(d, a);
      if (e.Active <= 0 || e.DataKey <= 0) continue;
      int16_t input = a;
      double value = 0.0;
      if (device_.Device_Collect(d, input, value) != 0) continue;
      if (!IsValidCollectInput(input)) {
        log_.WriteLine("Gauge-Triggering: input " + std::to_string(input) + " of device " +
                       std::to_string(d) + " ignored");
        continue;
      }
      log_.WriteLine("Gauge-Triggering");
      SendValue(push, d, input, value, 0);
    }
  }

  const TriggerInput& first = tab_.FsTrigger[1];
  if (first.device <= 0) return;
  // Summed in 32 bits: whatever the library returns, the sum cannot wrap.
  int32_t sum = device_.Device_Trigger(first.device, first.input);
  for (int t = 2; t <= 3; ++t) {
    const TriggerInput& more = tab_.FsTrigger[t];
    if (more.input > 0) sum += device_.Device_Trigger(more.device, more.input);
  }
  if (sum > 0 && foot_switch_down_ == 0) {
    log_.WriteLine("Foot switch is pressed  : " + FootSwitchFlags());
    push.cause = ValueCause::FootSwitch;
    for (int16_t d = kFirstDevice; d <= kLastDevice; ++d) {
      if (tab_.DeviceUsed[d] <= 0) continue;
      for (int16_t a = 1; a <= kLastAddress; ++a) {
        const CommandEntry& e = tab_.Entry(d, a);
        if (e.Active > 0 && e.FootSwitch > 0) AnswerValue(push, d, a, true);
      }
    }
  }
  if (sum == 0) foot_switch_down_ = 0;
  if (sum > 0) foot_switch_down_ = 1;
}

void PortBridge::AnswerValue(const ServingContext& c, int16_t d, int16_t a, bool logRead) {
  double value = 0.0;
  const int16_t status = device_.Device_Value(d, a, value);
  health_.Note(d, a, status);
  if (logRead) {
    log_.WriteLine("Device_Value(" + std::to_string(d) + "," + std::to_string(a) +
                   ")=" + std::to_string(status));
  }
  if (status < 0) return;
  SendValue(c, d, a, value, status == 0 ? 0 : status == 136 ? 2 : 1);
}

std::string PortBridge::FootSwitchFlags() const {
  std::string flags;
  for (int a = 1; a <= 8; ++a) flags.push_back(tab_.Entry(1, a).FootSwitch > 0 ? '1' : '0');
  return flags;
}
