// One verb of velk-vcp-config ("ports", "mqtt", ...): its name, its help line and what it
// does, and the exit statuses and errors all verbs share.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

inline constexpr int kFileError = 1;
inline constexpr int kUsageError = 2;
inline constexpr int kProgramRunning = 3;
inline constexpr int kNoProgram = 4;
inline constexpr int kRefused = 5;

// A bad argument found after parsing: reported like a parse error.
struct UsageError {
  std::string message;
};

// What a verb does once its arguments are parsed; exactly one member is set. Each runs in the
// working folder; any of them may throw UsageError.
struct VerbAction {
  // Changes Settings (read from the folder's file); the tool then writes the file, or has the
  // running program take the change over.
  std::function<void()> change;
  // Reads Settings (read from the folder's file); returns the exit status.
  std::function<int()> read;
  // Talks to the program running in the folder; returns the exit status.
  std::function<int()> ask;
};

// Return the action of a verb that changes the settings, reads them, or asks the program.
VerbAction ChangeAction(std::function<void()> change);
VerbAction ReadAction(std::function<int()> read);
VerbAction AskAction(std::function<int()> ask);

struct Verb {
  const char* name;
  const char* help;  // the verb's line in --help
  // Adds the verb's arguments to its subcommand; returns what the verb does with them, to be
  // run after parsing.
  VerbAction (*define)(CLI::App& command);
};
