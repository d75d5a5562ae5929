#include "tool_commands.h"

#include <charconv>
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>

#include "velk_qentrix_control.h"

namespace velk::lan::tool {
namespace {

template <typename Integer>
bool ParseInteger(const char* text, Integer& out) {
  long long value = 0;
  const char* end = text + std::strlen(text);
  const auto [ptr, ec] = std::from_chars(text, end, value);
  if (ec != std::errc() || ptr != end || value < std::numeric_limits<Integer>::min() ||
      value > std::numeric_limits<Integer>::max()) {
    return false;
  }
  out = static_cast<Integer>(value);
  return true;
}

bool ParseNumber(const char* text, double& out) {
  const char* end = text + std::strlen(text);
  const auto [ptr, ec] = std::from_chars(text, end, out);
  return ec == std::errc() && ptr == end;
}

template <typename Number>
std::string NumberText(Number value) {
  char text[64];
  const auto [ptr, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, ptr) : std::string("?");
}

using DoubleGetter = int32_t (*)(int16_t, int16_t, double*);
using FloatGetter = int32_t (*)(int16_t, int16_t, float*);
using FloatSetter = int32_t (*)(int16_t, int16_t, float);
using TextGetter = int32_t (*)(int16_t, int16_t, char*);
using SlotTextGetter = int32_t (*)(int16_t, char*);

template <DoubleGetter get>
bool RunDoubleGetter(int16_t slot, char** args, int32_t& result, std::string& output) {
  int16_t c = 0;
  double value = 0;
  if (!ParseInteger(args[0], c)) return false;
  result = get(slot, c, &value);
  output = NumberText(value);
  return true;
}

template <FloatGetter get>
bool RunFloatGetter(int16_t slot, char** args, int32_t& result, std::string& output) {
  int16_t c = 0;
  float value = 0;
  if (!ParseInteger(args[0], c)) return false;
  result = get(slot, c, &value);
  output = NumberText(value);
  return true;
}

template <FloatSetter set>
bool RunFloatSetter(int16_t slot, char** args, int32_t& result, std::string&) {
  int16_t c = 0;
  double value = 0;
  if (!ParseInteger(args[0], c) || !ParseNumber(args[1], value)) return false;
  result = set(slot, c, static_cast<float>(value));
  return true;
}

template <TextGetter get>
bool RunTextGetter(int16_t slot, char** args, int32_t& result, std::string& output) {
  int16_t c = 0;
  char text[VELK_QENTRIX_TEXT_SIZE] = "";
  if (!ParseInteger(args[0], c)) return false;
  result = get(slot, c, text);
  output = text;
  return true;
}

template <SlotTextGetter get>
bool RunSlotTextGetter(int16_t slot, char**, int32_t& result, std::string& output) {
  char text[VELK_QENTRIX_TEXT_SIZE] = "";
  result = get(slot, text);
  output = text;
  return true;
}

bool RunGetCharValue(int16_t slot, char** args, int32_t& result, std::string& output) {
  int16_t c = 0;
  int32_t n = 0;
  double value = 0;
  if (!ParseInteger(args[0], c) || !ParseInteger(args[1], n)) return false;
  result = Control_GetCharValue(slot, c, n, &value);
  output = NumberText(value);
  return true;
}

bool RunGetCharValNum(int16_t slot, char** args, int32_t& result, std::string& output) {
  int16_t c = 0;
  int32_t count = 0;
  if (!ParseInteger(args[0], c)) return false;
  result = Control_GetCharValNum(slot, c, &count);
  output = std::to_string(count);
  return true;
}

bool RunGetCharDateTime(int16_t slot, char** args, int32_t& result, std::string& output) {
  int16_t c = 0;
  int32_t n = 0;
  char text[VELK_QENTRIX_DATE_TIME_SIZE] = "";
  if (!ParseInteger(args[0], c) || !ParseInteger(args[1], n)) return false;
  result = Control_GetCharDateTime(slot, c, n, text);
  output = text;
  return true;
}

bool RunGetRegister(int16_t slot, char** args, int32_t& result, std::string& output) {
  uint16_t r = 0;
  double value = 0;
  if (!ParseInteger(args[0], r)) return false;
  result = Control_GetRegister(slot, r, &value);
  output = NumberText(value);
  return true;
}

bool RunSetRegister(int16_t slot, char** args, int32_t& result, std::string&) {
  uint16_t r = 0;
  double value = 0;
  if (!ParseInteger(args[0], r) || !ParseNumber(args[1], value)) return false;
  result = Control_SetRegister(slot, r, value);
  return true;
}

bool RunGetRegisterName(int16_t slot, char** args, int32_t& result, std::string& output) {
  uint16_t r = 0;
  char text[VELK_QENTRIX_TEXT_SIZE] = "";
  if (!ParseInteger(args[0], r)) return false;
  result = Control_Get_RegisterName(slot, r, text);
  output = text;
  return true;
}

bool RunChangeTestOrder(int16_t slot, char** args, int32_t& result, std::string&) {
  result = Control_ChangeTestOrder(slot, args[0]);
  return true;
}

bool RunSetRIDataSet(int16_t slot, char** args, int32_t& result, std::string&) {
  int16_t d = 0;
  int16_t c = 0;
  if (!ParseInteger(args[0], d) || !ParseInteger(args[1], c)) return false;
  result = Control_Set_RIDataSet(slot, d, c, args[2]);
  return true;
}

bool RunReadRIDataSet(int16_t slot, char** args, int32_t& result, std::string& output) {
  int16_t d = 0;
  int16_t c = 0;
  char text[VELK_QENTRIX_TEXT_SIZE] = "";
  if (!ParseInteger(args[0], d) || !ParseInteger(args[1], c)) return false;
  result = Control_Read_RIDataSet(slot, d, c, text);
  output = text;
  return true;
}

bool RunSetCharUnit(int16_t slot, char** args, int32_t& result, std::string&) {
  int16_t c = 0;
  if (!ParseInteger(args[0], c)) return false;
  result = Control_Set_CharUnit(slot, c, args[1]);
  return true;
}

bool RunGetStatParam(int16_t slot, char** args, int32_t& result, std::string& output) {
  int16_t c = 0;
  int16_t p = 0;
  double value = 0;
  if (!ParseInteger(args[0], c) || !ParseInteger(args[1], p)) return false;
  result = Control_Get_StatParam(slot, c, p, &value);
  output = NumberText(value);
  return true;
}

// Waits up to WAIT_MS (0 to 600000) for a trigger record to arrive.
bool RunGetTrigger(int16_t slot, char** args, int32_t& result, std::string& output) {
  int32_t wait_ms = 0;
  if (args[0] != nullptr && (!ParseInteger(args[0], wait_ms) || wait_ms < 0 || wait_ms > 600000)) {
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  int16_t number = 0;
  double value = 0;
  while ((result = Control_Get_GTrigVal(slot, &number, &value)) == 1 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  output = std::to_string(number) + " " + NumberText(value);
  return true;
}

constexpr const char* kNoValue = "the characteristic has no stored value";

constexpr ToolCommand kCommands[] = {
    {"get-act-char-value", "C", 1, RunDoubleGetter<Control_GetActCharValue>, nullptr},
    {"get-char-value", "C N", 2, RunGetCharValue, nullptr},
    {"get-char-val-num", "C", 1, RunGetCharValNum, nullptr},
    {"get-last-char-value", "C", 1, RunDoubleGetter<Control_GetLastCharValue>, kNoValue},
    {"get-char-date-time", "C N", 2, RunGetCharDateTime, nullptr},
    {"get-last-char-date-time", "C", 1, RunTextGetter<Control_GetLastCharDateTime>, kNoValue},
    {"get-register", "R", 1, RunGetRegister, nullptr},
    {"set-register", "R VALUE", 2, RunSetRegister, nullptr},
    {"get-register-name", "R", 1, RunGetRegisterName, nullptr},
    {"change-test-order", "NAME", 1, RunChangeTestOrder, nullptr},
    {"get-act-test-order", "", 0, RunSlotTextGetter<Control_Get_ActTestOrder>, nullptr},
    {"get-act-test-scheme", "", 0, RunSlotTextGetter<Control_Get_ActTestScheme>, nullptr},
    {"get-act-test-step", "", 0, RunSlotTextGetter<Control_Get_ActTestStep>, nullptr},
    {"get-char-name", "C", 1, RunTextGetter<Control_Get_CharName>, nullptr},
    {"set-ri-data-set", "D C TEXT", 3, RunSetRIDataSet, nullptr},
    {"read-ri-data-set", "D C", 2, RunReadRIDataSet, nullptr},
    {"get-nominal", "C", 1, RunFloatGetter<Control_Get_Nominal>, nullptr},
    {"set-nominal", "C VALUE", 2, RunFloatSetter<Control_Set_Nominal>, nullptr},
    {"get-usl", "C", 1, RunFloatGetter<Control_Get_USL>, nullptr},
    {"set-usl", "C VALUE", 2, RunFloatSetter<Control_Set_USL>, nullptr},
    {"get-ucl", "C", 1, RunFloatGetter<Control_Get_UCL>, nullptr},
    {"set-ucl", "C VALUE", 2, RunFloatSetter<Control_Set_UCL>, nullptr},
    {"get-lcl", "C", 1, RunFloatGetter<Control_Get_LCL>, nullptr},
    {"set-lcl", "C VALUE", 2, RunFloatSetter<Control_Set_LCL>, nullptr},
    {"get-lsl", "C", 1, RunFloatGetter<Control_Get_LSL>, nullptr},
    {"set-lsl", "C VALUE", 2, RunFloatSetter<Control_Set_LSL>, nullptr},
    {"get-master1", "C", 1, RunFloatGetter<Control_Get_Master1>, nullptr},
    {"set-master1", "C VALUE", 2, RunFloatSetter<Control_Set_Master1>, nullptr},
    {"get-master2", "C", 1, RunFloatGetter<Control_Get_Master2>, nullptr},
    {"set-master2", "C VALUE", 2, RunFloatSetter<Control_Set_Master2>, nullptr},
    {"get-char-unit", "C", 1, RunTextGetter<Control_Get_CharUnit>, nullptr},
    {"set-char-unit", "C UNIT", 2, RunSetCharUnit, nullptr},
    {"get-stat-param", "C P", 2, RunGetStatParam, nullptr},
    {"get-trigger", "[WAIT_MS]", -1, RunGetTrigger, nullptr},
};

}  // namespace

std::span<const ToolCommand> ToolCommands() { return kCommands; }

const ToolCommand* FindToolCommand(const char* name) {
  for (const ToolCommand& command : kCommands) {
    if (std::strcmp(command.name, name) == 0) return &command;
  }
  return nullptr;
}

const char* ResultMeaning(const ToolCommand& command, int32_t result) {
  switch (result) {
    case 0:
      return "success";
    case 1:
      return std::strcmp(command.name, "get-trigger") == 0
                 ? "no trigger value queued"
                 : "no usable answer (not connected, no answer within 2 s, or an empty answer)";
    case 2:
      return "Qentrix has no value (\"---\") or refused the write";
    case 3:
      return command.meaning_of_3 != nullptr ? command.meaning_of_3 : "argument out of range";
    case 4:
      return "argument out of range";
    default:
      return "unknown result";
  }
}

const char* ConnectResultMeaning(int32_t result) {
  switch (result) {
    case 0:
      return "connected";
    case 1:
      return "socket, connect or reader thread failed";
    case 2:
      return "host neither resolvable nor a usable dotted address";
    case 3:
      return "slot out of range";
    default:
      return "unknown result";
  }
}

}  // namespace velk::lan::tool
