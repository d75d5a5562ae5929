#include "fuzz_workdir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::string workdir;

void RemoveWorkdir() {
  std::error_code ec;
  std::filesystem::remove_all(workdir, ec);
}

}  // namespace

void EnterFuzzWorkdir() {
  if (!workdir.empty()) return;
  std::string tmpl = (std::filesystem::temp_directory_path() / "velk-fuzz-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
  workdir = tmpl;
  std::filesystem::current_path(workdir);
  std::atexit(RemoveWorkdir);
}

void WriteFuzzFile(const std::string& name, std::string_view bytes) {
  std::ofstream(name, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
}
