// Talking to the Velk_VCP that runs in the working folder, over its control socket.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

// Sends request to the program running in the current folder and hands its answer (parsed,
// and as the line it came in) to done, whose exit status it returns. Reports on standard error
// and returns the exit status when there is no answer or the program refuses.
int AskRunningProgram(const std::string& request,
                      const std::function<int(const nlohmann::json&, const std::string&)>& done);
