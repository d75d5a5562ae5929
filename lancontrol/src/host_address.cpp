#include "host_address.h"

#include "dotted_address.h"

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

LookUp ResolveHost(const char* host, uint8_t (&address)[4], int64_t deadline_ms,
                   const std::atomic<int>& abandon) {
  if (host == nullptr || HasOverlongPart(host)) return LookUp::kNotFound;
  const LookUp found = LookUpHost(host, address, deadline_ms, abandon);
  if (found != LookUp::kNotFound) return found;
  return ReadDottedAddress(host, address) ? LookUp::kFound : LookUp::kNotFound;
}

}  // namespace velk::lan
