#include <chrono>
#include <cmath>

#include "answer_template.h"
#include "key_value_file.h"
#include "port_bridge.h"
#include "value_text.h"

void PortBridge::SendMeaValue(int16_t device, int16_t Address, double value, int16_t errorcode) {
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
  WriteToCurrentPort(answer);
  if (value_events_ != nullptr && Port(current_port_) != nullptr) {
    AnnounceValue(device, Address, value, errorcode, answer);
  }
}

void PortBridge::SetValueEvents(IValueEvents* sink, std::string station) {
  if (value_events_) value_events_->Flush();
  value_events_ = sink;
  station_ = std::move(station);
}

void PortBridge::AnnounceValue(int16_t device, int16_t input, double value, int16_t errorcode,
                               const std::string& answer) {
  ValueEvent& e = announced_;
  e.utc_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::system_clock::now().time_since_epoch())
                 .count();
  e.station = station_;
  e.slot = current_port_ + 1;
  const int16_t numbers[kSlots] = {s_.VcpCom1, s_.VcpCom2, s_.VcpCom3, s_.VcpCom4};
  const int16_t com = current_port_ >= 0 && current_port_ < kSlots ? numbers[current_port_] : 0;
  e.port.clear();
  if (com > 0) {
    e.port = "COM";
    e.port += std::to_string(com);
  }
  e.client = Port(current_port_)->ClientName();
  e.device = device;
  e.input = input;
  e.number = value;
  e.text = answer;
  e.status = errorcode == 0   ? ValueStatus::Valid
             : errorcode == 2 ? ValueStatus::OutOfRange
                              : ValueStatus::NoValue;
  e.cause = cause_;
  value_events_->Announce(e);
  if (!in_step_) value_events_->Flush();
}

void PortBridge::SendText(const std::string& text) {
  if (text.empty()) return;
  WriteToCurrentPort(text);
  log_.Answer(text);
}

void PortBridge::WriteToCurrentPort(const std::string& bytes) {
  IVirtualPort* port = Port(io_slot_);
  if (!port || bytes.empty()) return;
  SlotActivity& activity = Record(io_slot_).activity;
  ++activity.answers;
  activity.last_answer = bytes;
  port->WriteData(reinterpret_cast<const uint8_t*>(bytes.data()),
                  static_cast<int32_t>(bytes.size()));
}
