// Running test code with the rights the exclusive mode of a terminal sees in a normal user.
#pragma once

#include <functional>
#include <string>

// Runs body in a child process that the exclusive mode of a terminal binds as it binds a
// normal user (a root child gives up CAP_SYS_ADMIN) and returns what body returned (empty:
// success), or a text saying how the child failed.
std::string RunAsNormalUser(const std::function<std::string()>& body);
