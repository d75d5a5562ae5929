#include "served_port_line.h"

#include <filesystem>

std::string ServedPortLine(int slot, const std::string& link) {
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::absolute(link, ec);
  return "Velk_VCP: slot " + std::to_string(slot) + " simulates " +
         link.substr(link.rfind('/') + 1) + " at " + (ec ? link : path.lexically_normal().string());
}
