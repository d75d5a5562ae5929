#include "address_allow_list.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <sstream>

namespace {

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

// An address reduced to what the rules compare: family and bytes, IPv4-mapped IPv6 as IPv4.
struct Plain {
  int family = 0;
  uint8_t bytes[16] = {};
};

bool ToPlain(const sockaddr* address, socklen_t length, Plain& plain) {
  if (address == nullptr || length < static_cast<socklen_t>(sizeof(sa_family_t))) return false;
  if (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
    sockaddr_in in{};
    std::memcpy(&in, address, sizeof in);
    plain.family = AF_INET;
    std::memcpy(plain.bytes, &in.sin_addr, 4);
    return true;
  }
  if (address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
    sockaddr_in6 in6{};
    std::memcpy(&in6, address, sizeof in6);
    const auto* b = reinterpret_cast<const uint8_t*>(&in6.sin6_addr);
    if (std::memcmp(b, kMappedPrefix, sizeof kMappedPrefix) == 0) {
      plain.family = AF_INET;
      std::memcpy(plain.bytes, b + 12, 4);
    } else {
      plain.family = AF_INET6;
      std::memcpy(plain.bytes, b, 16);
    }
    return true;
  }
  return false;
}

// True when the first bits bits of a and b are equal.
bool PrefixMatches(const uint8_t* a, const uint8_t* b, int bits) {
  const int whole = bits / 8;
  if (std::memcmp(a, b, static_cast<size_t>(whole)) != 0) return false;
  const int rest = bits % 8;
  if (rest == 0) return true;
  const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
  return (a[whole] & mask) == (b[whole] & mask);
}

bool HostBitsZero(const uint8_t* bytes, int size, int bits) {
  for (int i = 0; i < size; ++i) {
    const int kept = bits - i * 8;
    const uint8_t mask = kept >= 8   ? 0xFF
                         : kept <= 0 ? 0
                                     : static_cast<uint8_t>(0xFF << (8 - kept));
    if ((bytes[i] & ~mask & 0xFF) != 0) return false;
  }
  return true;
}

}  // namespace

bool ParseAddressBlock(const std::string& text, AddressBlock& block, std::string& reason) {
  if (text.find('\0') != std::string::npos) {
    reason = "not an address: " + text.substr(0, text.find('\0'));
    return false;
  }
  const size_t slash = text.find('/');
  const std::string address = text.substr(0, slash);
  AddressBlock parsed;
  int max_prefix = 0;
  if (inet_pton(AF_INET, address.c_str(), parsed.bytes) == 1) {
    parsed.family = AF_INET;
    max_prefix = 32;
  } else if (inet_pton(AF_INET6, address.c_str(), parsed.bytes) == 1) {
    parsed.family = AF_INET6;
    max_prefix = 128;
  } else {
    reason = "not an address: " + text;
    return false;
  }
  parsed.prefix = max_prefix;
  if (slash != std::string::npos) {
    const std::string digits = text.substr(slash + 1);
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      reason = "not a prefix length: " + text;
      return false;
    }
    parsed.prefix = std::stoi(digits);
    if (parsed.prefix > max_prefix) {
      reason = "prefix too long: " + text;
      return false;
    }
  }
  if (!HostBitsZero(parsed.bytes, max_prefix / 8, parsed.prefix)) {
    reason = "host bits set below the prefix: " + text;
    return false;
  }
  // A block of IPv4-mapped addresses is kept as the IPv4 block it means, since clients'
  // mapped addresses are matched as IPv4.
  if (parsed.family == AF_INET6 && parsed.prefix >= 96 &&
      std::memcmp(parsed.bytes, kMappedPrefix, sizeof kMappedPrefix) == 0) {
    AddressBlock v4;
    v4.family = AF_INET;
    std::memcpy(v4.bytes, parsed.bytes + 12, 4);
    v4.prefix = parsed.prefix - 96;
    parsed = v4;
  }
  block = parsed;
  return true;
}

std::string AddressBlockText(const AddressBlock& block) {
  char text[INET6_ADDRSTRLEN] = {};
  if ((block.family != AF_INET && block.family != AF_INET6) ||
      inet_ntop(block.family, block.bytes, text, sizeof text) == nullptr) {
    return "";
  }
  return std::string(text) + "/" + std::to_string(block.prefix);
}

bool AddressAllowed(const std::vector<AddressBlock>& blocks, const sockaddr* address,
                    socklen_t length) {
  Plain plain;
  if (!ToPlain(address, length, plain)) return false;
  const int max_prefix = plain.family == AF_INET ? 32 : 128;
  for (const AddressBlock& block : blocks) {
    if (block.family == plain.family && block.prefix >= 0 && block.prefix <= max_prefix &&
        PrefixMatches(block.bytes, plain.bytes, block.prefix)) {
      return true;
    }
  }
  return false;
}

bool IsLoopbackAddress(const sockaddr* address, socklen_t length) {
  Plain plain;
  if (!ToPlain(address, length, plain)) return false;
  if (plain.family == AF_INET) return plain.bytes[0] == 127;
  static constexpr uint8_t kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return std::memcmp(plain.bytes, kLoopback6, sizeof kLoopback6) == 0;
}

std::string AddressText(const sockaddr* address, socklen_t length) {
  Plain plain;
  char text[INET6_ADDRSTRLEN] = {};
  if (!ToPlain(address, length, plain) ||
      inet_ntop(plain.family, plain.bytes, text, sizeof text) == nullptr) {
    return "";
  }
  return text;
}

bool ParseBindAddress(const std::string& text, uint16_t port, sockaddr_storage& address,
                      socklen_t& length, std::string& reason) {
  std::string literal = text;
  if (literal.find('\0') != std::string::npos) {
    reason = "not an address: " + text.substr(0, text.find('\0'));
    return false;
  }
  const bool bracketed = !literal.empty() && literal.front() == '[';
  if (bracketed) {
    if (literal.size() < 2 || literal.back() != ']') {
      reason = "not an address: " + text;
      return false;
    }
    literal = literal.substr(1, literal.size() - 2);
  }
  sockaddr_storage parsed{};
  sockaddr_in in{};
  sockaddr_in6 in6{};
  if (!bracketed && inet_pton(AF_INET, literal.c_str(), &in.sin_addr) == 1) {
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    std::memcpy(&parsed, &in, sizeof in);
    length = sizeof in;
  } else if (inet_pton(AF_INET6, literal.c_str(), &in6.sin6_addr) == 1) {
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    std::memcpy(&parsed, &in6, sizeof in6);
    length = sizeof in6;
  } else {
    reason = "not an address: " + text;
    return false;
  }
  address = parsed;
  return true;
}

std::vector<std::string> SplitAllowList(const std::string& text) {
  std::vector<std::string> entries;
  std::string entry;
  std::istringstream in(text);
  while (std::getline(in, entry, ',')) {
    entry.erase(0, entry.find_first_not_of(" \t"));
    entry.erase(entry.find_last_not_of(" \t") + 1);
    if (!entry.empty()) entries.push_back(entry);
  }
  return entries;
}
