#include "temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::string MakeTempFolder(const std::string& prefix) {
  std::error_code ec;
  std::string pattern = (std::filesystem::temp_directory_path(ec) / (prefix + "-XXXXXX")).string();
  if (ec || ::mkdtemp(pattern.data()) == nullptr) return "";
  return pattern;
}

TempDir::TempDir() {
  previous_ = std::filesystem::current_path();
  path_ = MakeTempFolder("velk-test");
  if (path_.empty()) throw std::runtime_error("mkdtemp failed");
  std::filesystem::current_path(path_);
}

TempDir::~TempDir() {
  std::filesystem::current_path(previous_);
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

void TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream(path_ + "/" + name, std::ios::binary) << bytes;
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(path_ + "/" + name, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
