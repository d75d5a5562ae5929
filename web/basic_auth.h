// The page's password: read from its file, and HTTP basic authentication checked against it
// (any user name, that password).
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Returns the first line of the file at path (without its line end), or nothing with reason
// when the file cannot be read, is not a regular file, may be read or changed by others (it
// must be 0600 or 0400), or its first line is empty.
std::optional<std::string> ReadPasswordFile(const std::string& path, std::string& reason);

// Returns true when authorization (an Authorization header's value, null when there is none)
// is "Basic " and the base64 of "user:password" with password equal to the one given; false
// for anything else. The passwords are compared in time independent of where they differ.
bool BasicAuthAccepts(const char* authorization, const std::string& password);

// Returns the bytes base64 (RFC 4648, with padding) encodes, or nothing for text that is no
// such encoding.
std::optional<std::string> Base64Decode(std::string_view base64);
