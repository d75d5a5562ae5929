// The shared library exports exactly its 36 functions, versioned, and nothing else.
#include <cstdio>
#include <set>
#include <string>

#include "lan_control_library.h"

namespace velk::lan::testing {
namespace {

TEST(ExportsTest, DynamicSymbolTableHoldsExactlyTheThirtySixFunctions) {
  FILE* nm = popen("nm -D --defined-only '" VELK_QENTRIX_LIBRARY "'", "r");
  ASSERT_NE(nm, nullptr);
  std::set<std::string> exported;
  char line[512];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    char address[64];
    char kind = 0;
    char name[400];
    if (std::sscanf(line, "%63s %c %399s", address, &kind, name) != 3) continue;
    if (kind == 'A') {  // the version node itself
      EXPECT_STREQ(name, "VELK_QENTRIX_CONTROL_1");
      continue;
    }
    EXPECT_EQ(kind, 'T') << name;
    // Every export carries the library's symbol version.
    const std::string versioned = name;
    const size_t at = versioned.find("@@");
    EXPECT_EQ(at == std::string::npos ? "" : versioned.substr(at + 2), "VELK_QENTRIX_CONTROL_1")
        << name;
    exported.insert(versioned.substr(0, at));
  }
  ASSERT_EQ(pclose(nm), 0);
  const std::set<std::string> expected = {
#define VELK_EXPORT_NAME(name) #name,
      VELK_QENTRIX_EXPORTS(VELK_EXPORT_NAME)
#undef VELK_EXPORT_NAME
  };
  EXPECT_EQ(expected.size(), 36u);
  EXPECT_EQ(exported, expected);
}

TEST(ExportsTest, EveryExportResolvesByName) {
  const LanControlLibrary& lib = LanControlLibrary::Get();
  ASSERT_NE(lib.handle, nullptr);
#define VELK_EXPECT_RESOLVED(name) EXPECT_NE(lib.name, nullptr) << #name;
  VELK_QENTRIX_EXPORTS(VELK_EXPECT_RESOLVED)
#undef VELK_EXPECT_RESOLVED
}

}  // namespace
}  // namespace velk::lan::testing
