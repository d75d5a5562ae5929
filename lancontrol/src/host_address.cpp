#include "host_address.h"

#include "dotted_address.h"
#include "socket_calls.h"

namespace velk::lan {
namespace {

bool HasOverlongPart(const char* host) {
  int part_length = 0;
  for (const char* at = host; *at != '\0'; ++at) {
    part_length = *at == '.' ? 0 : part_length + 1;
    if (part_length > kMaxHostPart) return true;
  }
  return false;
}

}  // namespace

bool ResolveHost(const char* host, uint8_t (&address)[4]) {
  if (host == nullptr || HasOverlongPart(host)) return false;
  return LookUpHost(host, address) || ReadDottedAddress(host, address);
}

}  // namespace velk::lan
