#include "http_library_tls.h"

#include <civetweb.h>
#include <dlfcn.h>

#include <filesystem>
#include <mutex>

namespace {

// The folder of the running program, where the objects are built and installed.
std::string ProgramFolder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

}  // namespace

bool PrepareHttpLibraryTls(std::string& reason) {
  static std::once_flag once;
  static bool ready = false;
  static std::string why;
  std::call_once(once, [] {
    const std::string folder = ProgramFolder();
    for (const char* name : {"libvelk_crypto_old_names.so", "libvelk_ssl_old_names.so"}) {
      const std::string path = folder + "/" + name;
      if (dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL) == nullptr) {
        const char* error = dlerror();
        why = "TLS for the web page: " + (error ? std::string(error) : path + ": cannot load");
        return;
      }
    }
    if ((mg_init_library(MG_FEATURES_TLS) & MG_FEATURES_TLS) == 0) {
      why = "TLS for the web page: the HTTP library cannot start OpenSSL";
      return;
    }
    ready = true;
  });
  if (!ready) reason = why;
  return ready;
}
