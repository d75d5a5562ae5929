// The running program's status (the JSON of its "status" request) in words, for
// velk-vcp-config status.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

// Returns the status as lines of text; members that are missing or of another type are left
// out, never an error.
std::string StatusText(const nlohmann::json& status);
