// velk-qentrix HOST PORT COMMAND [ARGS]: runs one library function against a Qentrix
// instance and prints its output and result. The exit status is the result code, 64 for a
// usage error, 65 when the connection cannot be made.
#include <cstdio>
#include <cstring>
#include <string>

#include "tool_commands.h"
#include "velk_qentrix_control.h"

namespace {

using velk::lan::tool::ToolCommand;

constexpr int kUsageError = 64;
constexpr int kConnectError = 65;
constexpr int16_t kSlot = 0;

void PrintUsage(FILE* to) {
  std::fprintf(to, "usage: velk-qentrix HOST PORT COMMAND [ARGS]\ncommands:\n");
  for (const ToolCommand& command : velk::lan::tool::ToolCommands()) {
    std::fprintf(to, "  %s %s\n", command.name, command.arguments);
  }
}

bool ParsePort(const char* text, uint16_t& port) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    PrintUsage(stdout);
    return 0;
  }
  uint16_t port = 0;
  const ToolCommand* command = argc >= 4 ? velk::lan::tool::FindToolCommand(argv[3]) : nullptr;
  const int given = argc - 4;
  const bool counts_fit =
      command != nullptr &&
      (command->argument_count < 0 ? given <= 1 : given == command->argument_count);
  if (argc < 4 || !ParsePort(argv[2], port) || !counts_fit) {
    PrintUsage(stderr);
    return kUsageError;
  }

  const int32_t connected = Control_Init(kSlot, argv[1], port);
  if (connected != 0) {
    std::fprintf(stderr, "connect %s:%u: result %d: %s\n", argv[1], port, connected,
                 velk::lan::tool::ConnectResultMeaning(connected));
    return kConnectError;
  }
  char* no_argument[] = {nullptr};
  char** arguments = given > 0 ? argv + 4 : no_argument;
  int32_t result = 0;
  std::string output;
  const bool parsed = command->run(kSlot, arguments, result, output);
  Control_DeInit(kSlot);
  if (!parsed) {
    std::fprintf(stderr, "velk-qentrix: %s: an argument is not a number of the right range\n",
                 command->name);
    PrintUsage(stderr);
    return kUsageError;
  }
  if (result == 0 && !output.empty()) std::printf("%s\n", output.c_str());
  std::printf("result %d: %s\n", result, velk::lan::tool::ResultMeaning(*command, result));
  return result;
}
