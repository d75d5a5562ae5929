// What a request may ask for, its password and its query.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "api_routes.h"
#include "basic_auth.h"
#include "request_target.h"
#include "temp_dir.h"

TEST(WebRequestTest, OnlyPlainPathsOfThePageAreTargets) {
  const struct {
    const char* path;
    int problem;
  } cases[] = {
      {"/", 0},
      {"/api/status", 0},
      {"/page.js", 0},
      {"/a..b", 0},
      {"/..", 400},
      {"/../etc/passwd", 400},
      {"/api/../../etc/passwd", 400},
      {"/api/..", 400},
      {"/./page.js", 400},
      {"//etc/passwd", 400},
      {"/api//status", 400},
      {"/..\\Velk_VCP.CFG", 400},
      {"/a\nb", 400},
      {"/a\x7f", 400},
      {"", 400},
      {"etc/passwd", 400},
      {"http://127.0.0.1/", 400},
  };
  for (const auto& c : cases) EXPECT_EQ(RequestTargetProblem(c.path), c.problem) << c.path;
}

TEST(WebRequestTest, BasicAuthTakesAnyUserWithThePassword) {
  const struct {
    const char* header;
    bool accepted;
  } cases[] = {
      {"Basic YW55OnMzY3JldA==", true},  // any:s3cret
      {"basic YW55OnMzY3JldA==", true},
      {"Basic   YW55OnMzY3JldA==  ", true},
      {"Basic OnMzY3JldA==", true},        // :s3cret
      {"Basic YTpiOnMzY3JldA==", false},   // a:b:s3cret: the password is "b:s3cret"
      {"Basic YW55OnMzY3JldDI=", false},   // any:s3cret2
      {"Basic YW55OnMzY3Jl", false},       // any:s3cre
      {"Basic czNjcmV0", false},           // no colon
      {"Basic YW55OnMzY3JldA=", false},    // bad padding
      {"Basic YW55OnMzY3JldA==x", false},  // data after padding
      {"Basic !!!!", false},
      {"Bearer YW55OnMzY3JldA==", false},
      {"Basic ", false},
      {"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BasicAuthAccepts(c.header, "s3cret"), c.accepted) << c.header;
  EXPECT_FALSE(BasicAuthAccepts(nullptr, "s3cret"));
  EXPECT_FALSE(BasicAuthAccepts("Basic YW55Og==", ""));  // any: with no password set
}

TEST(WebRequestTest, PasswordFileMustBePrivateAndHoldAPassword) {
  TempDir dir;
  const struct {
    const char* what;
    std::string content;
    mode_t mode;
    const char* password;  // null: refused
    const char* says;
  } cases[] = {
      {"0600", "pw one\nsecond\n", 0600, "pw one", ""},
      {"0400 with CR LF", "pw\r\n", 0400, "pw", ""},
      {"no line end", "pw", 0600, "pw", ""},
      {"readable by the group", "pw\n", 0640, nullptr, "chmod 600 (or 400)"},
      {"writable by others", "pw\n", 0602, nullptr, "chmod 600 (or 400)"},
      {"empty first line", "\npw\n", 0600, nullptr, "has no password"},
  };
  for (const auto& c : cases) {
    dir.Write("pw", c.content);
    ASSERT_EQ(chmod((dir.path() + "/pw").c_str(), c.mode), 0);
    std::string reason;
    const std::optional<std::string> password = ReadPasswordFile(dir.path() + "/pw", reason);
    if (c.password) {
      EXPECT_EQ(password.value_or("(refused: " + reason + ")"), c.password) << c.what;
    } else {
      EXPECT_FALSE(password) << c.what;
      EXPECT_NE(reason.find(c.says), std::string::npos) << c.what << ": " << reason;
    }
    chmod((dir.path() + "/pw").c_str(), 0600);
  }
  std::string reason;
  EXPECT_FALSE(ReadPasswordFile(dir.path() + "/missing", reason));
  EXPECT_FALSE(ReadPasswordFile(dir.path(), reason));
}

TEST(WebRequestTest, QueryValuesAreDecoded) {
  const struct {
    const char* query;
    QueryValues values;
  } cases[] = {
      {"", {}},
      {"since=2026-12-08T10%3A00&gauge=1.2", {{"since", "2026-12-08T10:00"}, {"gauge", "1.2"}}},
      {"since=2026-12-08+10:00", {{"since", "2026-12-08 10:00"}}},
      {"limit=5&limit=7", {{"limit", "7"}}},
      {"flag&x=", {{"flag", ""}, {"x", ""}}},
      {"bad=%zz%4", {{"bad", "%zz%4"}}},
      {"&&a=1&", {{"a", "1"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseQuery(c.query), c.values) << c.query;
}
