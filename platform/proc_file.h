// Reading the small text files of /proc (a process's cmdline, status) whole, without streams:
// a process that ends while it is read makes read() fail, which a C++ file stream turns into
// an exception in the middle of a look-up.
#pragma once

#include <optional>
#include <string>

// The bytes of the file at path, read to its end. Nothing when it cannot be opened or a read
// fails (the process is gone, the path is a folder); never throws for either.
std::optional<std::string> ReadProcFile(const std::string& path);
