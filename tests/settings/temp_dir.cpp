#include "temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
  previous_ = std::filesystem::current_path();
  std::string tmpl = (std::filesystem::temp_directory_path() / "velk-test-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
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
