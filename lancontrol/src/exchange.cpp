#include "exchange.h"

#include <cstring>

#include "slot_io.h"
#include "wire_numbers.h"

namespace velk::lan {

Exchange::Exchange(int slot)
    : slot_(slot), lock_(g_slots[slot].call), deadline_ms_(NowMs() + kAnswerWaitMs) {
  DrainTriggerRecords(slot_, deadline_ms_);
}

int32_t Exchange::Ask(const Request& request, char (&line)[kLineBufferSize]) {
  if (!first_request_) deadline_ms_ = NowMs() + kAnswerWaitMs;
  first_request_ = false;
  if (!SendRequest(slot_, request.bytes(), request.size(), deadline_ms_)) return kNoAnswer;
  if (ReadAnswerLine(slot_, line, deadline_ms_) != 0 || line[0] == '\0') return kNoAnswer;
  return kSuccess;
}

int32_t Exchange::AskValue(const Request& request, char (&line)[kLineBufferSize]) {
  const int32_t result = Ask(request, line);
  if (result != kSuccess) return result;
  return std::strcmp(line, "---") == 0 ? kRefused : kSuccess;
}

int32_t AskNumber(int slot, const Request& request, double& value) {
  char line[kLineBufferSize];
  const int32_t result = Exchange(slot).AskValue(request, line);
  if (result == kSuccess) value = ReadAsDouble(line);
  return result;
}

int32_t AskText(int slot, const Request& request, char* out) {
  char line[kLineBufferSize];
  const int32_t result = Exchange(slot).AskValue(request, line);
  if (result == kSuccess) std::memcpy(out, line, std::strlen(line) + 1);
  return result;
}

int32_t AskWrite(int slot, const Request& request) {
  char line[kLineBufferSize];
  const int32_t result = Exchange(slot).Ask(request, line);
  if (result != kSuccess) return result;
  return std::strcmp(line, "ok") == 0 ? kSuccess : kRefused;
}

}  // namespace velk::lan
