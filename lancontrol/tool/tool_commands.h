// The commands of velk-qentrix: one per library function, named after it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velk::lan::tool {

struct ToolCommand {
  const char* name;       // e.g. "get-act-char-value"
  const char* arguments;  // e.g. "C N", for the usage text
  int argument_count;
  // Runs the command on `slot`. Returns false when an argument is not a number of the
  // function's type; otherwise stores the library result in `result` and, on result 0, the
  // output text (empty for write commands) in `output`.
  bool (*run)(int16_t slot, char** arguments, int32_t& result, std::string& output);
  // Meaning of result 3 when it differs from "argument out of range".
  const char* meaning_of_3;
};

// Returns every command.
std::span<const ToolCommand> ToolCommands();

// Returns the command called `name`, or null.
const ToolCommand* FindToolCommand(const char* name);

// Returns the meaning of a result code of the library's request functions.
const char* ResultMeaning(const ToolCommand& command, int32_t result);

// Returns the meaning of a result code of Control_Init.
const char* ConnectResultMeaning(int32_t result);

}  // namespace velk::lan::tool
