// The tools' side of the running program's local socket (see ControlServer).
#pragma once

#include <string>

struct ControlReply {
  enum Result {
    kAnswered,   // text holds the program's answer line
    kNoProgram,  // no program answers at the path
    kRefused,    // the socket or the program refused this user
    kFailed,     // no complete answer in time, or the socket failed; text says why
  };
  Result result = kFailed;
  std::string text;
};

// Sends request (one line, without line end) to the program's socket at path and waits at most
// timeout_ms for its answer line. Returns the outcome; never throws.
ControlReply AskProgram(const std::string& path, const std::string& request,
                        int timeout_ms = 10000);
