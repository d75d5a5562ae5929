// Reading velk-vcp-config's arguments into settings values; each refuses a bad argument with
// UsageError.
#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

// Returns true for "on" (arguments checked to be "on" or "off").
bool OnOff(const std::string& word);

// Returns device 1..8 and input 1..199 of "D.A"; throws UsageError for any other text.
std::pair<int, int> InputAddress(const std::string& text);

// Returns a UTF-8 argument in the settings file's encoding.
std::string EngineText(const std::string& utf8);

// Returns the absolute form of a file named on the command line relative to base, the folder
// the tool was called in (the tool and the program work in the working folder). Refuses
// (UsageError) a file that is not there.
std::string ReadableFile(const std::string& what, const std::filesystem::path& base,
                         const std::string& path);

// Adds the required STATE argument (on or off) of a switch to command; returns where it is
// stored.
std::shared_ptr<std::string> AddStateArgument(CLI::App& command);
