// The web page's settings: what they say, and each unsafe or impossible choice refused with
// its message, as the tool and the program check them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "settings_checks.h"
#include "temp_dir.h"
#include "web_config.h"

TEST(WebSettingsTest, EachProblemIsNamed) {
  TempDir dir;
  dir.Write("private", "pw\n");
  ASSERT_EQ(chmod((dir.path() + "/private").c_str(), 0600), 0);
  dir.Write("open", "pw\n");
  ASSERT_EQ(chmod((dir.path() + "/open").c_str(), 0644), 0);
  dir.Write("station.pem", "x");
  dir.Write("station.key", "x");
  ASSERT_EQ(chmod((dir.path() + "/station.key").c_str(), 0600), 0);
  const std::string privateFile = dir.path() + "/private";
  const struct {
    const char* what;
    std::function<void(SettingsRecord&)> change;
    const char* problem;  // "" none
  } cases[] = {
      {"off", [](SettingsRecord& s) { s.WebPort.clear(); }, ""},
      {"loopback", [](SettingsRecord&) {}, ""},
      {"loopback with a password", [&](SettingsRecord& s) { s.WebPasswordFile = privateFile; }, ""},
      {"IPv6 loopback", [](SettingsRecord& s) { s.WebBind = "::1"; },
       "web: listening on ::1: the web page listens on IPv4 addresses only"},
      {"another address with an allow list",
       [](SettingsRecord& s) {
         s.WebBind = "0.0.0.0";
         s.WebAllow = "192.168.10.0/24, 10.0.0.0/8";
       },
       ""},
      {"another address without one", [](SettingsRecord& s) { s.WebBind = "0.0.0.0"; },
       "web: listening on 0.0.0.0 needs an allow list of client networks (--allow)"},
      {"a password over plain HTTP on the network",
       [&](SettingsRecord& s) {
         s.WebBind = "192.168.10.4";
         s.WebAllow = "192.168.10.0/24";
         s.WebPasswordFile = privateFile;
       },
       "web: a password on 192.168.10.4 would cross the network readable: use --tls, or listen "
       "on 127.0.0.1"},
      {"a password over TLS on the network",
       [&](SettingsRecord& s) {
         s.WebBind = "0.0.0.0";
         s.WebAllow = "192.168.10.0/24";
         s.WebPasswordFile = privateFile;
         s.WebTls = 1;
         s.TlsCertFile = dir.path() + "/station.pem";
         s.TlsKeyFile = dir.path() + "/station.key";
       },
       ""},
      {"client certificates instead of an allow list",
       [&](SettingsRecord& s) {
         s.WebBind = "0.0.0.0";
         s.WebTls = 1;
         s.TlsCertFile = dir.path() + "/station.pem";
         s.TlsKeyFile = dir.path() + "/station.key";
         s.TlsClientCaFile = dir.path() + "/station.pem";
       },
       ""},
      {"TLS without the station's certificate", [](SettingsRecord& s) { s.WebTls = 1; },
       "web: TLS needs the station's certificate (velk-vcp-config tls --cert FILE --key FILE)"},
      {"a port out of range", [](SettingsRecord& s) { s.WebPort = "65536"; },
       "web: not a TCP port: 65536"},
      {"a port that is no number", [](SettingsRecord& s) { s.WebPort = "80a"; },
       "web: not a TCP port: 80a"},
      {"a host name", [](SettingsRecord& s) { s.WebBind = "localhost"; },
       "web: not an address: localhost"},
      {"a network of the allow list with host bits",
       [](SettingsRecord& s) { s.WebAllow = "10.1.2.3/8"; }, "web: "},
      {"the port of a network port", [](SettingsRecord& s) { s.NetPort[2] = "8080"; },
       "web: TCP port 8080 is already the network port of slot 2"},
      {"a password file others may read",
       [&](SettingsRecord& s) { s.WebPasswordFile = dir.path() + "/open"; },
       "may be read or changed by others: chmod 600 (or 400) it first"},
      {"a missing password file",
       [&](SettingsRecord& s) { s.WebPasswordFile = dir.path() + "/missing"; }, "no such file"},
      {"a relative password file", [](SettingsRecord& s) { s.WebPasswordFile = "pw"; },
       "is not an absolute path"},
      {"a line break", [](SettingsRecord& s) { s.WebAllow = "10.0.0.0/8\r\n640:1"; },
       "web: line breaks and other control characters cannot be stored"},
  };
  for (const auto& c : cases) {
    SettingsRecord s;
    s.WebPort = "8080";
    c.change(s);
    const std::string problem = WebProblem(s);
    if (std::string(c.problem).empty()) {
      EXPECT_EQ(problem, "") << c.what;
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
      EXPECT_EQ(problem.rfind("web: ", 0), 0u) << c.what << ": " << problem;
    }
    // The whole record's checks name it too.
    const std::vector<std::string> all = SettingsProblems(s);
    EXPECT_EQ(std::find(all.begin(), all.end(), problem) != all.end(), !problem.empty()) << c.what;
  }
}

TEST(WebSettingsTest, ReadsWhereAndHowThePageListens) {
  SettingsRecord s;
  s.WebPort = "8443";
  s.WebBind = "0.0.0.0";
  s.WebAllow = "fd00::/8, 10.0.0.0/8";
  s.LanguageNo = 3;
  std::optional<WebConfig> config;
  std::string reason;
  ASSERT_TRUE(WebConfigFromSettings(s, config, reason)) << reason;
  ASSERT_TRUE(config);
  EXPECT_EQ(WebEndpointText(*config), "0.0.0.0:8443");
  EXPECT_EQ(config->language, 3);
  ASSERT_EQ(config->allow.size(), 2u);
  EXPECT_EQ(AddressBlockText(config->allow[1]), "10.0.0.0/8");
  s.WebPort = "0";
  EXPECT_TRUE(WebConfigFromSettings(s, config, reason));
  EXPECT_FALSE(config);
}
