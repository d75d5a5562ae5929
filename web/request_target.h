// What a request may ask for: a path of the page's own, never one outside it.
#pragma once

#include <string>
#include <string_view>

// Checks a request's target as the HTTP library gives it (percent-decoded, query apart).
// Returns 0 when it is a plain path ("/", "/api/status"); 400 for anything that could reach
// outside the page's own files or is no path: a target that does not start with "/", a ".."
// or "." segment, a backslash, an empty segment ("//"), a control character.
int RequestTargetProblem(std::string_view path);
