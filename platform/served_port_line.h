// The line both front ends print for each port they serve.
#pragma once

#include <string>

// Returns "Velk_VCP: slot SLOT simulates NAME at PATH" for the port link at link, PATH made
// absolute (link itself when that fails).
std::string ServedPortLine(int slot, const std::string& link);
