#include "host_address.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cstring>

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

bool ResolveHost(const char* host, in_addr& address) {
  if (host == nullptr || HasOverlongPart(host)) return false;

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) == 0 && found != nullptr) {
    bool copied = false;
    if (found->ai_family == AF_INET && found->ai_addrlen >= sizeof(sockaddr_in)) {
      address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
      copied = true;
    }
    freeaddrinfo(found);
    if (copied) return true;
  }

  uint8_t bytes[4];
  if (!ReadDottedAddress(host, bytes)) return false;
  std::memcpy(&address.s_addr, bytes, sizeof bytes);
  return true;
}

}  // namespace velk::lan
