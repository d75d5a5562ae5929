#include <algorithm>
#include <cmath>

#include "answer_template.h"
#include "key_value_file.h"
#include "port_bridge.h"
#include "value_text.h"

void PortBridge::SendMeaValue(int16_t device, int16_t Address, double value, int16_t errorcode) {
  SendValue(Serving(current_port_, served_rx_), device, Address, value, errorcode);
}

void PortBridge::SendValue(const ServingContext& c, int16_t device, int16_t Address, double value,
                           int16_t errorcode) {
  ValueText v = FormatValueText(value, s_);
  if (!std::isfinite(value) && errorcode == 0) errorcode = 1;
  // Only a valid value that does not fit is out of range; "no value" keeps its template.
  if (!v.fits && errorcode == 0) {
    log_.WriteLine("Value does not fit: " + v.uncut);
    errorcode = 2;
  }
  const std::string& templ = errorcode == 0   ? s_.AnswerString
                             : errorcode == 2 ? s_.Range
                                              : s_.Timeout;
  static const std::string kNoAddress;
  const bool inTable =
      device >= 0 && device < kDeviceCount && Address >= 0 && Address < kInputCount;
  const std::string& meaValAdr = inTable ? s_.Inputs[device][Address].MeaValAdr : kNoAddress;
  const std::string answer = FillAnswerTemplate(templ, v.text, meaValAdr);
  log_.Answer(answer);
  if (TrimSpaces(answer).empty()) return;
  WriteTo(c, answer);
  if (value_events_ != nullptr && c.port != nullptr) {
    AnnounceValue(c, device, Address, value, errorcode, answer);
  }
}

void PortBridge::SetValueEvents(IValueEvents* sink) {
  ReleaseHeldValues(true);
  FlushValueEvents();
  value_events_ = sink;
}

namespace {

// How long and how many values are held at most for a client whose name is not known yet.
constexpr std::chrono::seconds kHoldLimit{5};
constexpr size_t kHeldMax = 10000;

}  // namespace

void PortBridge::ReleaseHeldValues(bool all) {
  const auto now = std::chrono::steady_clock::now();
  for (int k = 0; k < kSlots; ++k) {
    HeldValues& held = held_[static_cast<size_t>(k)];
    if (held.values.empty()) continue;
    IVirtualPort* port = Port(k);
    const bool sameClient = port && port->ClientSession() == held.session;
    if (!all && sameClient && !port->ClientNameKnown() && now - held.since < kHoldLimit &&
        held.values.size() < kHeldMax) {
      continue;
    }
    // A client that left before its name was known stays unnamed.
    const std::string name = sameClient ? port->ClientName() : std::string();
    FlushValueEvents();
    for (size_t i = 0; i < held.values.size(); ++i) {
      SentValue& v = held.values[i].value;
      v.client = name;
      v.text = held.values[i].text;
      if (value_events_) value_events_->Announce(v);
      const bool lastOfItsTime =
          i + 1 == held.values.size() || held.values[i + 1].utc_ms != held.values[i].utc_ms;
      if (value_events_ && lastOfItsTime) value_events_->Flush(held.values[i].utc_ms);
    }
    held.values.clear();
  }
}

void PortBridge::AnnounceValue(const ServingContext& c, int16_t device, int16_t input, double value,
                               int16_t errorcode, const std::string& answer) {
  const int16_t numbers[kSlots] = {s_.VcpCom1, s_.VcpCom2, s_.VcpCom3, s_.VcpCom4};
  // The value is recorded with the port it was written to: in every-port mode that is the
  // slot whose client asked, not the served one.
  IVirtualPort* port = c.port;
  SentValue v;
  v.slot = c.slot + 1;
  v.com = c.slot >= 0 && c.slot < kSlots ? std::max<int16_t>(numbers[c.slot], 0) : 0;
  v.client = port->ClientName();
  v.device = device;
  v.input = input;
  v.number = value;
  v.text = answer;
  v.status = errorcode == 0   ? ValueStatus::Valid
             : errorcode == 2 ? ValueStatus::OutOfRange
                              : ValueStatus::NoValue;
  v.cause = c.cause;
  if (device >= 0 && device < kTableDevices && input >= 0 && input < kTableAddresses) {
    const CommandEntry& entry = tab_.Entry(device, input);
    v.label = entry.Label;
    v.limits = LimitsInForce(entry);
  }
  HeldValues& held = held_[static_cast<size_t>(c.slot)];
  if (!held.values.empty() && held.session != port->ClientSession()) ReleaseHeldValues();
  if (!held.values.empty() || !port->ClientNameKnown()) {
    if (held.values.empty()) {
      held.session = port->ClientSession();
      held.since = std::chrono::steady_clock::now();
    }
    held.values.push_back({v, answer, UtcNowMs()});
    held.values.back().value.text = {};
    return;
  }
  value_events_->Announce(v);
  events_pending_ = true;
  if (!in_step_) FlushValueEvents();
}

void PortBridge::FlushValueEvents() {
  if (!events_pending_ || value_events_ == nullptr) return;
  events_pending_ = false;
  value_events_->Flush(UtcNowMs());
}

void PortBridge::SendText(const ServingContext& c, const std::string& text) {
  if (text.empty()) return;
  WriteTo(c, text);
  log_.Answer(text);
}

void PortBridge::WriteTo(const ServingContext& c, const std::string& bytes) {
  IVirtualPort* port = c.port;
  if (!port || bytes.empty()) return;
  SlotActivity& activity = Record(c.slot).activity;
  ++activity.answers;
  activity.last_answer = bytes;
  port->WriteData(reinterpret_cast<const uint8_t*>(bytes.data()),
                  static_cast<int32_t>(bytes.size()));
}
