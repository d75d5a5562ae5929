// A client program run to its end by a test, its output read line by line as it arrives.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct ClientRun {
  int status = -1;     // exit status; -1 after a signal, a failed start or the time-out
  std::string output;  // standard output and standard error together
};

// Environment changes for the client: name and value; an empty value removes the variable.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs argv (argv[0] found on PATH) in folder with environment changes; on_line gets each
// line of output without its line end as it arrives. A client still running after timeout is
// killed. Returns the exit status and the whole output.
ClientRun RunClient(const std::vector<std::string>& argv, const std::string& folder,
                    const Environment& environment,
                    const std::function<void(const std::string&)>& on_line = {},
                    std::chrono::seconds timeout = std::chrono::seconds(120));
