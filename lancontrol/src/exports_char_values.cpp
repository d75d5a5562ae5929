// Values, value counts and time stamps of characteristics (commands 1, 2, 3 and 5).
#include "date_time_text.h"
#include "exchange.h"
#include "velk_qentrix_control.h"
#include "wire_numbers.h"

using namespace velk::lan;

namespace {

bool IsCharacteristic(int c) { return InRange(c, 1, 128); }
bool IsValueNumber(int32_t n) { return InRange(n, 1, 65535); }

// Reads the value count of characteristic c within an open exchange. Returns kSuccess with
// `count`, kNoAnswer or kRefused.
int32_t AskCount(Exchange& exchange, int c, int32_t& count) {
  char line[kLineBufferSize];
  const int32_t result = exchange.AskValue(Request(3).Byte(c), line);
  if (result == kSuccess) count = ReadAsInt(line);
  return result;
}

int32_t AskDateTime(Exchange& exchange, int c, unsigned n, char* text) {
  char line[kLineBufferSize];
  const int32_t result = exchange.AskValue(Request(5).Byte(c).Word(n), line);
  if (result == kSuccess) FormatDateTime(static_cast<uint32_t>(ReadAsInt(line)), text);
  return result;
}

}  // namespace

extern "C" int32_t VELK_QENTRIX_CALL Control_GetActCharValue(int16_t slot, int16_t c,
                                                             double* value) {
  if (!IsSlotNumber(slot) || !IsCharacteristic(c) || value == nullptr) return kOutOfRange;
  return AskNumber(slot, Request(1).Byte(c), *value);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_GetCharValue(int16_t slot, int16_t c, int32_t n,
                                                          double* value) {
  if (!IsSlotNumber(slot) || !IsCharacteristic(c) || !IsValueNumber(n) || value == nullptr) {
    return kOutOfRangeWide;
  }
  return AskNumber(slot, Request(2).Byte(c).Word(static_cast<unsigned>(n)), *value);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_GetCharValNum(int16_t slot, int16_t c,
                                                           int32_t* count) {
  if (!IsSlotNumber(slot) || !IsCharacteristic(c) || count == nullptr) return kOutOfRangeWide;
  Exchange exchange(slot);
  return AskCount(exchange, c, *count);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_GetLastCharValue(int16_t slot, int16_t c,
                                                              double* value) {
  if (!IsSlotNumber(slot) || !IsCharacteristic(c) || value == nullptr) return kOutOfRangeWide;
  Exchange exchange(slot);
  int32_t count = 0;
  int32_t result = AskCount(exchange, c, count);
  if (result != kSuccess) return result;
  if (count == 0) return kOutOfRange;
  char line[kLineBufferSize];
  result = exchange.AskValue(Request(2).Byte(c).Word(static_cast<uint32_t>(count) & 0xFFFF), line);
  if (result == kSuccess) *value = ReadAsDouble(line);
  return result;
}

extern "C" int32_t VELK_QENTRIX_CALL Control_GetCharDateTime(int16_t slot, int16_t c, int32_t n,
                                                             char* text) {
  if (!IsSlotNumber(slot) || !IsCharacteristic(c) || !IsValueNumber(n) || text == nullptr) {
    return kOutOfRangeWide;
  }
  Exchange exchange(slot);
  return AskDateTime(exchange, c, static_cast<unsigned>(n), text);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_GetLastCharDateTime(int16_t slot, int16_t c,
                                                                 char* text) {
  if (!IsSlotNumber(slot) || !IsCharacteristic(c) || text == nullptr) return kOutOfRangeWide;
  Exchange exchange(slot);
  int32_t count = 0;
  const int32_t result = AskCount(exchange, c, count);
  if (result != kSuccess) return result;
  if (count == 0) return kOutOfRange;
  return AskDateTime(exchange, c, static_cast<uint32_t>(count) & 0xFFFF, text);
}
