#include "request_target.h"

int RequestTargetProblem(std::string_view path) {
  if (path.empty() || path.front() != '/') return 400;
  for (const char c : path) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 32 || code == 127 || c == '\\') return 400;
  }
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (segment == ".." || segment == ".") return 400;
    if (segment.empty() && end < path.size()) return 400;
    start = end + 1;
  }
  return 0;
}
