#include "lan_control_library.h"

#include <dlfcn.h>

#include <cstdio>

namespace velk::lan::testing {
namespace {

LanControlLibrary Load() {
  LanControlLibrary lib;
  lib.handle = dlopen(VELK_QENTRIX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (lib.handle == nullptr) {
    ADD_FAILURE() << "dlopen: " << dlerror();
    return lib;
  }
#define VELK_RESOLVE_EXPORT(name)                                           \
  lib.name = reinterpret_cast<decltype(&::name)>(dlsym(lib.handle, #name)); \
  if (lib.name == nullptr) ADD_FAILURE() << "missing export " #name;
  VELK_QENTRIX_EXPORTS(VELK_RESOLVE_EXPORT)
#undef VELK_RESOLVE_EXPORT
  return lib;
}

}  // namespace

const LanControlLibrary& LanControlLibrary::Get() {
  static const LanControlLibrary lib = Load();
  return lib;
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string text;
  for (int byte : bytes) text.push_back(static_cast<char>(byte));
  return text;
}

std::string Hex(const std::string& bytes) {
  std::string text;
  char part[8];
  for (unsigned char byte : bytes) {
    std::snprintf(part, sizeof part, "%s%u", text.empty() ? "" : " ", byte);
    text += part;
  }
  return text;
}

void LanControlTest::SetUp() {
  ASSERT_NE(lib.handle, nullptr);
  ASSERT_TRUE(peer.Start());
  ASSERT_EQ(lib.Control_Init(0, "127.0.0.1", peer.port()), 0);
}

void LanControlTest::TearDown() {
  if (lib.handle != nullptr) lib.Control_DeInit(0);
}

std::string LanControlTest::OnlyRequest() {
  const auto requests = peer.Requests();
  peer.ClearRequests();
  return requests.size() == 1 ? requests[0] : std::string();
}

}  // namespace velk::lan::testing
