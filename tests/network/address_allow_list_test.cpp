#include "address_allow_list.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/un.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A socket address built in memory from a literal; IPv6 when the text has a colon.
struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

Address Make(const std::string& text) {
  Address a;
  if (text.find(':') == std::string::npos) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    EXPECT_EQ(inet_pton(AF_INET, text.c_str(), &in.sin_addr), 1) << text;
    std::memcpy(&a.storage, &in, sizeof in);
    a.length = sizeof in;
  } else {
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    EXPECT_EQ(inet_pton(AF_INET6, text.c_str(), &in6.sin6_addr), 1) << text;
    std::memcpy(&a.storage, &in6, sizeof in6);
    a.length = sizeof in6;
  }
  return a;
}

TEST(AddressAllowList, ParsesMatchesAndBinds) {
  // Block text -> canonical text, or the start of the reason it is refused.
  const struct {
    std::string text, canonical, reason;
  } blocks[] = {
      {"192.168.10.0/24", "192.168.10.0/24", ""},
      {"10.1.2.3", "10.1.2.3/32", ""},
      {"0.0.0.0/0", "0.0.0.0/0", ""},
      {"FD00:0::/8", "fd00::/8", ""},
      {"::1", "::1/128", ""},
      {"::ffff:10.0.0.0/104", "10.0.0.0/8", ""},
      {"10.1.2.3/8", "", "host bits set"},
      {"fd00::1/64", "", "host bits set"},
      {"10.0.0.0/33", "", "prefix too long"},
      {"fd00::/129", "", "prefix too long"},
      {"10.0.0.0/", "", "not a prefix"},
      {"10.0.0.0/+8", "", "not a prefix"},
      {"10.0.0.0/8/8", "", "not a prefix"},
      {"", "", "not an address"},
      {"*", "", "not an address"},
      {"localhost", "", "not an address"},
      {"10.0.0", "", "not an address"},
      {" 10.0.0.0/8", "", "not an address"},
      {"fe80::1%eth0", "", "not an address"},
      {std::string("10.0.0.1\0/8", 11), "", "not an address"},
  };
  for (const auto& row : blocks) {
    SCOPED_TRACE(row.text);
    AddressBlock block;
    std::string reason;
    EXPECT_EQ(ParseAddressBlock(row.text, block, reason), row.reason.empty());
    if (row.reason.empty()) {
      EXPECT_EQ(AddressBlockText(block), row.canonical);
    }
    EXPECT_EQ(reason.rfind(row.reason, 0), 0u) << reason;
  }

  // A client's address against the list, whether it is loopback, and its text.
  const struct {
    std::string address;
    std::vector<std::string> list;
    bool allowed, loopback;
    std::string text;
  } clients[] = {
      {"192.168.10.77", {"fd00::/8", "192.168.10.0/24"}, true, false, "192.168.10.77"},
      {"192.168.11.1", {"192.168.10.0/24"}, false, false, "192.168.11.1"},
      {"::ffff:192.168.10.77", {"192.168.10.0/24"}, true, false, "192.168.10.77"},
      {"::ffff:192.168.10.77", {"::/0"}, false, false, "192.168.10.77"},
      {"8.8.8.8", {"0.0.0.0/0"}, true, false, "8.8.8.8"},
      {"fd12:3456::9", {"fd00::/8"}, true, false, "fd12:3456::9"},
      {"fe80::1", {"fd00::/8", "0.0.0.0/0"}, false, false, "fe80::1"},
      {"10.0.0.1", {}, false, false, "10.0.0.1"},
      {"127.8.9.1", {"127.0.0.1"}, false, true, "127.8.9.1"},
      {"::1", {"::1"}, true, true, "::1"},
      {"::ffff:127.0.0.1", {"127.0.0.0/8"}, true, true, "127.0.0.1"},
      {"::2", {"::/127"}, false, false, "::2"},
  };
  for (const auto& row : clients) {
    SCOPED_TRACE(row.address);
    std::vector<AddressBlock> list;
    for (const std::string& text : row.list) {
      std::string reason;
      ASSERT_TRUE(ParseAddressBlock(text, list.emplace_back(), reason)) << reason;
    }
    const Address a = Make(row.address);
    EXPECT_EQ(AddressAllowed(list, a.get(), a.length), row.allowed);
    EXPECT_EQ(IsLoopbackAddress(a.get(), a.length), row.loopback);
    EXPECT_EQ(AddressText(a.get(), a.length), row.text);
    // Cut short, or of another family, it is nothing.
    EXPECT_FALSE(AddressAllowed(list, a.get(), a.length - 1) || IsLoopbackAddress(a.get(), 2));
    EXPECT_EQ(AddressText(a.get(), a.length - 1), "");
  }
  sockaddr_un local{};
  local.sun_family = AF_UNIX;
  AddressBlock all;
  std::string reason;
  ASSERT_TRUE(ParseAddressBlock("0.0.0.0/0", all, reason));
  EXPECT_FALSE(AddressAllowed({all}, reinterpret_cast<sockaddr*>(&local), sizeof local));

  // Listening address text -> address text, or refused (empty).
  const struct {
    std::string text, address;
    int family;
  } binds[] = {
      {"127.0.0.1", "127.0.0.1", AF_INET},
      {"0.0.0.0", "0.0.0.0", AF_INET},
      {"::1", "::1", AF_INET6},
      {"[::1]", "::1", AF_INET6},
      {"::", "::", AF_INET6},
      {"[127.0.0.1]", "", 0},
      {"[::1", "", 0},
      {"::1]", "", 0},
      {"[]", "", 0},
      {"*", "", 0},
      {"localhost", "", 0},
      {"", "", 0},
  };
  for (const auto& row : binds) {
    SCOPED_TRACE(row.text);
    sockaddr_storage address{};
    socklen_t length = 0;
    reason.clear();
    const bool ok = ParseBindAddress(row.text, 4001, address, length, reason);
    EXPECT_EQ(ok, row.family != 0);
    EXPECT_EQ(reason.empty(), ok);
    EXPECT_EQ(address.ss_family, row.family);
    if (!ok) continue;
    const auto* sa = reinterpret_cast<const sockaddr*>(&address);
    EXPECT_EQ(AddressText(sa, length), row.address);
    const uint16_t port = row.family == AF_INET
                              ? reinterpret_cast<const sockaddr_in*>(&address)->sin_port
                              : reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port;
    EXPECT_EQ(ntohs(port), 4001);
  }
}

}  // namespace
