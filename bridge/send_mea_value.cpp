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
