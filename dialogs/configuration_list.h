// The named configurations that lie in a folder.
#pragma once

#include <string>
#include <vector>

// Returns the names (without ".con") of the regular files in folder whose names end in ".con"
// and are longer than 4 characters, sorted by byte value. Returns an empty list when the
// folder cannot be read; nothing is reported.
std::vector<std::string> ListConfigurations(const std::string& folder = ".");
