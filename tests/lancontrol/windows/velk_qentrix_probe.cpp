// velk-qentrix-probe: runs commands read from standard input, one per line, against
// Velk_Qentrix_Control.dll and prints one line for each, for tests that drive it under Wine:
//
//   init SLOT HOST PORT              -> result R ms T
//   deinit SLOT                      -> done ms T
//   call SLOT COMMAND [ARGS]         -> result R ms T [OUTPUT]   (a velk-qentrix command;
//                                       OUTPUT only on result 0)
//   deinit-during SLOT DELAY_MS LINE -> result R ms T deinit-ms D  (LINE, an init or call,
//                                       runs on a second thread; Control_DeInit(SLOT) on this
//                                       one after DELAY_MS)
//   exit-during DELAY_MS LINE        -> (nothing: LINE runs on a second thread, the process
//                                       ends with exit(0) after DELAY_MS)
//   ws2                              -> started 0|1  (whether Windows Sockets are started in
//                                       the process: a socket can be made)
//   quit
// A line that is not understood gives "error TEXT".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tool_commands.h"
#include "velk_qentrix_control.h"

namespace {

using velk::lan::tool::ToolCommand;

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

std::string Rest(const std::vector<std::string>& words, std::size_t from) {
  std::string rest;
  for (std::size_t i = from; i < words.size(); ++i) rest += (i > from ? " " : "") + words[i];
  return rest;
}

unsigned long long Now() { return GetTickCount64(); }

// Runs an init or call line. Returns the output line.
std::string RunCall(const std::vector<std::string>& words) {
  const unsigned long long start = Now();
  if (words.size() == 4 && words[0] == "init") {
    const auto slot = static_cast<int16_t>(std::atoi(words[1].c_str()));
    const int32_t result =
        Control_Init(slot, words[2].c_str(), static_cast<uint16_t>(std::atoi(words[3].c_str())));
    return "result " + std::to_string(result) + " ms " + std::to_string(Now() - start);
  }
  if (words.size() < 3 || words[0] != "call") return "error not an init or call line";
  const ToolCommand* command = velk::lan::tool::FindToolCommand(words[2].c_str());
  const std::size_t given = words.size() - 3;
  if (command == nullptr ||
      (command->argument_count < 0 ? given > 1
                                   : given != static_cast<std::size_t>(command->argument_count))) {
    return "error unknown command or wrong argument count";
  }
  std::vector<char*> arguments;
  for (std::size_t i = 3; i < words.size(); ++i) {
    arguments.push_back(const_cast<char*>(words[i].c_str()));
  }
  arguments.push_back(nullptr);
  int32_t result = 0;
  std::string output;
  const auto slot = static_cast<int16_t>(std::atoi(words[1].c_str()));
  if (!command->run(slot, arguments.data(), result, output)) return "error bad argument";
  std::string line = "result " + std::to_string(result) + " ms " + std::to_string(Now() - start);
  if (result == 0 && !output.empty()) line += " " + output;
  return line;
}

// Makes a socket through the socket library if it is in the process; it fails (not started)
// unless someone's WSAStartup is still in force.
bool SocketsStarted() {
  const HMODULE library = GetModuleHandleW(L"WS2_32.DLL");
  if (library == nullptr) return false;
  using SocketFunction = uintptr_t(WINAPI*)(int, int, int);
  using CloseFunction = int(WINAPI*)(uintptr_t);
  const auto make =
      reinterpret_cast<SocketFunction>(reinterpret_cast<void*>(GetProcAddress(library, "socket")));
  const auto close = reinterpret_cast<CloseFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "closesocket")));
  if (make == nullptr || close == nullptr) return false;
  const uintptr_t socket = make(2, 1, 6);
  if (socket == ~uintptr_t{0}) return false;
  close(socket);
  return true;
}

struct Background {
  std::vector<std::string> words;
  std::string output;
};

DWORD WINAPI RunInBackground(void* argument) {
  auto* background = static_cast<Background*>(argument);
  background->output = RunCall(background->words);
  return 0;
}

std::string Handle(const std::vector<std::string>& words) {
  if (words.empty()) return "error empty line";
  const std::string& verb = words[0];
  if (verb == "init" || verb == "call") return RunCall(words);
  if (verb == "deinit" && words.size() == 2) {
    const unsigned long long start = Now();
    Control_DeInit(static_cast<int16_t>(std::atoi(words[1].c_str())));
    return "done ms " + std::to_string(Now() - start);
  }
  if (verb == "ws2") return std::string("started ") + (SocketsStarted() ? "1" : "0");
  if ((verb == "deinit-during" && words.size() > 3) ||
      (verb == "exit-during" && words.size() > 2)) {
    const bool exits = verb == "exit-during";
    const std::size_t line_at = exits ? 2 : 3;
    static Background background;
    background.words = Words(Rest(words, line_at));
    HANDLE thread = CreateThread(nullptr, 0, RunInBackground, &background, 0, nullptr);
    if (thread == nullptr) return "error no thread";
    Sleep(static_cast<DWORD>(std::atoi(words[line_at - 1].c_str())));
    if (exits) {
      std::fflush(stdout);
      std::exit(0);
    }
    const unsigned long long start = Now();
    Control_DeInit(static_cast<int16_t>(std::atoi(words[1].c_str())));
    const unsigned long long deinit_ms = Now() - start;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return background.output + " deinit-ms " + std::to_string(deinit_ms);
  }
  return "error unknown line";
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::string line;
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, stdin) != nullptr) {
    line = buffer;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line == "quit") break;
    std::printf("%s\n", Handle(Words(line)).c_str());
  }
  return 0;
}
