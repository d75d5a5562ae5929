#include "configuration_name.h"

bool IsPlainConfigurationName(std::string_view name) {
  if (name.empty() || name.front() == '.') return false;
  if (name.find("..") != std::string_view::npos) return false;
  for (char c : name) {
    auto code = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || code < 32 || code == 127) return false;
  }
  return true;
}
