// Addresses of a network port: where it listens, and which clients it lets in.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

// One network in CIDR notation ("192.168.10.0/24", "fd00::/8"; a plain address is a network
// of one), IPv4 or IPv6.
struct AddressBlock {
  int family = 0;          // AF_INET or AF_INET6
  uint8_t bytes[16] = {};  // the network's address (4 bytes used for IPv4), host bits zero
  int prefix = 0;          // bits that must match
};

// Parses text as an AddressBlock. Returns false, with reason set ("not an address: ...",
// "prefix too long: ..."), for anything else: host names, empty text, a prefix out of range,
// host bits set below the prefix ("10.1.2.3/8" is refused, so that a typo is not silently
// widened). A block of IPv4-mapped addresses (::ffff:10.0.0.0/104) becomes the IPv4 block it
// means (10.0.0.0/8). block is left untouched on failure.
bool ParseAddressBlock(const std::string& text, AddressBlock& block, std::string& reason);

// The block as canonical text ("10.0.0.0/8", "fd00::/8", "127.0.0.1/32"); empty for a block
// of neither family.
std::string AddressBlockText(const AddressBlock& block);

// True when the address lies in one of blocks. An IPv4-mapped IPv6 address
// (::ffff:192.168.1.5, as a dual-stack socket reports IPv4 clients) is matched as the IPv4
// address. False for other families and an empty list.
bool AddressAllowed(const std::vector<AddressBlock>& blocks, const sockaddr* address,
                    socklen_t length);

// True for a loopback address (127.0.0.0/8, ::1, and ::ffff:127.x.y.z); false for anything
// else, other families and a short length included.
bool IsLoopbackAddress(const sockaddr* address, socklen_t length);

// The address as text without the port ("192.168.1.5", "::1"; IPv4-mapped shown as IPv4);
// empty for other families and a length too short for the family.
std::string AddressText(const sockaddr* address, socklen_t length);

// Parses a listening address: an IPv4 or IPv6 literal ("127.0.0.1", "::1", "0.0.0.0", "::",
// "[::1]"), no host names. Fills address/length with it and port. Returns false with reason
// otherwise, leaving address and length untouched.
bool ParseBindAddress(const std::string& text, uint16_t port, sockaddr_storage& address,
                      socklen_t& length, std::string& reason);

// The entries of a comma-separated list of client networks as the settings hold it ("10.0.0.0/8,
// 192.168.1.7"), blanks around each trimmed, empty ones left out. Never fails.
std::vector<std::string> SplitAllowList(const std::string& text);
