// Nominal values, tolerance limits, control limits and masters (commands 70 to 83): each
// read command is even, the matching write command the next odd number.
#include "exchange.h"
#include "velk_qentrix_control.h"

using namespace velk::lan;

namespace {

constexpr uint8_t kNominal = 70;
constexpr uint8_t kUpperTolerance = 72;
constexpr uint8_t kUpperControlLimit = 74;
constexpr uint8_t kLowerControlLimit = 76;
constexpr uint8_t kLowerTolerance = 78;
constexpr uint8_t kMaster1 = 80;
constexpr uint8_t kMaster2 = 82;

bool IsCharacteristic(int c) { return InRange(c, 1, 128); }

int32_t GetLimit(int16_t slot, uint8_t code, int16_t c, float* value) {
  if (!IsSlotNumber(slot) || !IsCharacteristic(c) || value == nullptr) return kOutOfRange;
  double number = 0;
  const int32_t result = AskNumber(slot, Request(code).Byte(c), number);
  if (result == kSuccess) *value = static_cast<float>(number);
  return result;
}

int32_t SetLimit(int16_t slot, uint8_t code, int16_t c, float value) {
  if (!IsSlotNumber(slot) || !IsCharacteristic(c)) return kOutOfRange;
  Request request(static_cast<uint8_t>(code + 1));
  if (!request.Byte(c).Number(value)) return kOutOfRange;
  return AskWrite(slot, request);
}

}  // namespace

extern "C" {

int32_t VELK_QENTRIX_CALL Control_Get_Nominal(int16_t slot, int16_t c, float* value) {
  return GetLimit(slot, kNominal, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Set_Nominal(int16_t slot, int16_t c, float value) {
  return SetLimit(slot, kNominal, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Get_USL(int16_t slot, int16_t c, float* value) {
  return GetLimit(slot, kUpperTolerance, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Set_USL(int16_t slot, int16_t c, float value) {
  return SetLimit(slot, kUpperTolerance, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Get_UCL(int16_t slot, int16_t c, float* value) {
  return GetLimit(slot, kUpperControlLimit, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Set_UCL(int16_t slot, int16_t c, float value) {
  return SetLimit(slot, kUpperControlLimit, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Get_LCL(int16_t slot, int16_t c, float* value) {
  return GetLimit(slot, kLowerControlLimit, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Set_LCL(int16_t slot, int16_t c, float value) {
  return SetLimit(slot, kLowerControlLimit, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Get_LSL(int16_t slot, int16_t c, float* value) {
  return GetLimit(slot, kLowerTolerance, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Set_LSL(int16_t slot, int16_t c, float value) {
  return SetLimit(slot, kLowerTolerance, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Get_Master1(int16_t slot, int16_t c, float* value) {
  return GetLimit(slot, kMaster1, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Set_Master1(int16_t slot, int16_t c, float value) {
  return SetLimit(slot, kMaster1, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Get_Master2(int16_t slot, int16_t c, float* value) {
  return GetLimit(slot, kMaster2, c, value);
}
int32_t VELK_QENTRIX_CALL Control_Set_Master2(int16_t slot, int16_t c, float value) {
  return SetLimit(slot, kMaster2, c, value);
}

}  // extern "C"
