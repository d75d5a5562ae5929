#include "ddk_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <vector>

namespace {

constexpr const char* kLibraryName = "libVelk_DDK.so";

// Folder of the running executable, with a trailing '/'; empty when it cannot be found.
std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
  std::string path(buffer.data(), static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::string> Candidates(const std::string& path) {
  if (!path.empty()) return {path};
  const char* env = std::getenv("VELK_DDK_LIBRARY");
  if (env && *env) return {env};
  std::vector<std::string> candidates;
  std::string folder = ExecutableFolder();
  if (!folder.empty()) candidates.push_back(folder + kLibraryName);
  candidates.push_back(kLibraryName);
  return candidates;
}

template <typename F>
bool Resolve(void* handle, const char* name, F& function, const std::string& path) {
  dlerror();
  function = reinterpret_cast<F>(dlsym(handle, name));
  if (function) return true;
  const char* reason = dlerror();
  std::cerr << "Velk_DDK: " << path << ": function " << name
            << " missing: " << (reason ? reason : "null address") << '\n';
  return false;
}

// Copies a text into a zero-terminated buffer the C interface can take (it is not const).
std::vector<char> CText(const std::string& text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  return buffer;
}

}  // namespace

DdkLibrary::DdkLibrary() = default;

DdkLibrary::DdkLibrary(std::string path) : path_(std::move(path)) {}

bool DdkLibrary::Load() {
  Use();
  return complete_;
}

const DdkLibrary::Functions& DdkLibrary::Use() {
  if (tried_) return functions_;
  tried_ = true;
  void* handle = nullptr;
  std::string reasons;
  for (const std::string& candidate : Candidates(path_)) {
    handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle) {
      loaded_path_ = candidate;
      break;
    }
    const char* reason = dlerror();
    reasons += std::string(reasons.empty() ? "" : "; ") + (reason ? reason : candidate);
  }
  if (!handle) {
    std::cerr << "Velk_DDK: cannot load the device library: " << reasons << '\n';
    return functions_;
  }
  Functions& f = functions_;
  const std::string& p = loaded_path_;
  bool all = Resolve(handle, "Device_PreInit", f.pre_init, p);
  all = Resolve(handle, "Device_Init", f.init, p) && all;
  all = Resolve(handle, "Device_DeInit", f.de_init, p) && all;
  all = Resolve(handle, "Device_GetName", f.get_name, p) && all;
  all = Resolve(handle, "Device_Setup", f.setup, p) && all;
  all = Resolve(handle, "Device_Value", f.value, p) && all;
  all = Resolve(handle, "Device_Trigger", f.trigger, p) && all;
  all = Resolve(handle, "Device_Collect", f.collect, p) && all;
  all = Resolve(handle, "Device_LimitCheck", f.limit_check, p) && all;
  complete_ = all;
  // Optional: a library without it is complete all the same.
  f.source = reinterpret_cast<decltype(f.source)>(dlsym(handle, "Device_Source"));
  f.unit = reinterpret_cast<decltype(f.unit)>(dlsym(handle, "Device_Unit"));
  return functions_;
}

void DdkLibrary::Device_PreInit() {
  if (auto f = Use().pre_init) f(0, 0, 0, 0, 0, 0, 0);
}

int16_t DdkLibrary::Device_Init(int16_t lang, const std::string& ddk, int32_t window) {
  auto f = Use().init;
  if (!f) return 1;
  std::vector<char> text = CText(ddk);
  return f(lang, text.data(), window, 0);
}

void DdkLibrary::Device_DeInit() {
  if (auto f = Use().de_init) f();
}

int16_t DdkLibrary::Device_GetName(int16_t lang, const std::string& ddk, int16_t device,
                                   int16_t kind, int16_t number, std::string& name) {
  auto f = Use().get_name;
  if (!f) return 1;
  std::vector<char> text = CText(ddk);
  // 200 blanks as the interface wants, plus a zero of our own that the library never sees
  // as part of its buffer, so a name without a terminator still ends.
  std::vector<char> buffer(VELK_DDK_NAME_SIZE + 1, ' ');
  buffer[VELK_DDK_NAME_SIZE] = '\0';
  int16_t result = f(lang, text.data(), device, kind, number, buffer.data());
  if (result != 0) return result;
  std::string found(buffer.data());
  if (found.size() == VELK_DDK_NAME_SIZE) {
    found.erase(found.find_last_not_of(' ') + 1);
  }
  name = std::move(found);
  return 0;
}

void DdkLibrary::Device_Setup(int16_t lang, const std::string& ddk, int32_t window) {
  auto f = Use().setup;
  if (!f) return;
  std::vector<char> text = CText(ddk);
  char empty[1] = {'\0'};
  f(lang, text.data(), window, empty);
}

int16_t DdkLibrary::Device_Value(int16_t device, int16_t input, double& value) {
  auto f = Use().value;
  if (!f) return -1;
  return f(device, input, &value);
}

int16_t DdkLibrary::Device_Trigger(int16_t device, int16_t input) {
  auto f = Use().trigger;
  if (!f) return 0;
  return f(device, input, 0);
}

int16_t DdkLibrary::Device_Collect(int16_t device, int16_t& input, double& value) {
  auto f = Use().collect;
  if (!f) return 1;
  return f(device, &input, &value);
}

void DdkLibrary::Device_LimitCheck(int16_t device, int16_t input, int16_t kind, double upper,
                                   double lower) {
  if (auto f = Use().limit_check) f(device, input, kind, upper, lower, 9);
}

bool DdkLibrary::Device_Source(int16_t device, int16_t input, std::string& source,
                               int32_t& age_ms) {
  auto f = Use().source;
  if (!f) return false;
  char text[256] = {};
  int32_t age = -1;
  if (f(device, input, text, static_cast<int32_t>(sizeof text), &age) != 0) return false;
  text[sizeof text - 1] = '\0';
  source = text;
  age_ms = age;
  return true;
}

bool DdkLibrary::Device_Unit(const std::string& ddk, int16_t device, int16_t input,
                             std::string& unit) {
  auto f = Use().unit;
  if (!f) return false;
  std::vector<char> path = CText(ddk);
  char text[VELK_DDK_UNIT_SIZE] = {};
  if (f(path.data(), device, input, text, static_cast<int32_t>(sizeof text)) != 0) return false;
  text[sizeof text - 1] = '\0';
  unit = text;
  return true;
}
