#include "arguments.h"

#include <cstdio>

#include "settings_record.h"
#include "text_encoding.h"
#include "verb.h"

namespace fs = std::filesystem;

bool OnOff(const std::string& word) { return word == "on"; }

std::pair<int, int> InputAddress(const std::string& text) {
  int device = 0, input = 0;
  char dot = 0, extra = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &device, &dot, &input, &extra) != 3 || dot != '.' ||
      device < kFirstStoredDevice || device > kLastStoredDevice || input < 1 ||
      input > kLastStoredInput) {
    throw UsageError{"input " + text + ": give DEVICE.INPUT, device 1..8, input 1..199"};
  }
  return {device, input};
}

std::string EngineText(const std::string& utf8) { return Utf8ToCp1252(utf8); }

std::string ReadableFile(const std::string& what, const fs::path& base, const std::string& path) {
  std::error_code ec;
  const fs::path absolute = base / path;
  if (ec || !fs::is_regular_file(absolute, ec)) {
    throw UsageError{what + " " + path + ": no such file"};
  }
  return absolute.string();
}

std::shared_ptr<std::string> AddStateArgument(CLI::App& command) {
  auto state = std::make_shared<std::string>();
  command.add_option("STATE", *state, "on or off")->required()->check(CLI::IsMember({"on", "off"}));
  return state;
}
