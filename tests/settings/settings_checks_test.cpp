// The checks of a whole settings record: each problem with its message, in order, and a record
// that uses every checked setting well passes.
#include "settings_checks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace {

const std::string kControl = ": line breaks and other control characters cannot be stored";

// Every checked setting in use, none of them wrong.
SettingsRecord GoodRecord(const TempDir& dir) {
  SettingsRecord s;
  s.VcpCom1 = 5;
  s.VcpCom2 = 6;
  s.VcpCom4 = 8;
  s.Inputs[1][1].CommandAdr = "1.1";
  s.Inputs[1][1].MeaValAdr = "11";
  s.NetPort[1] = "4001";
  s.NetPort[2] = "4002";
  s.NetProtocol[2] = "rfc2217";
  s.NetBind[2] = "0.0.0.0";
  s.NetAllow[2] = "192.168.10.0/24";
  s.MqttUrl = "mqtts://broker.example:8883";
  s.MqttPrefix = "plant";
  s.MqttStation = "line 3";
  s.MqttUser = "u";
  s.MqttPasswordFile = dir.path() + "/private";
  s.MqttCaFile = dir.path() + "/ca.pem";
  s.Password = "secret";
  return s;
}

TEST(SettingsChecksTest, EachProblemIsNamedWithItsMessage) {
  TempDir dir;
  dir.Write("private", "pw\n");
  ASSERT_EQ(chmod((dir.path() + "/private").c_str(), 0600), 0);
  dir.Write("open", "pw\n");
  ASSERT_EQ(chmod((dir.path() + "/open").c_str(), 0640), 0);
  const struct {
    const char* what;
    std::function<void(SettingsRecord&)> change;
    std::vector<std::string> problems;
  } cases[] = {
      {"good", [](SettingsRecord&) {}, {}},
      {"nothing set", [](SettingsRecord& s) { s = SettingsRecord(); }, {}},
      {"com twice", [](SettingsRecord& s) { s.VcpCom4 = 5; }, {"ports: COM5 given twice"}},
      {"no port 1",
       [](SettingsRecord& s) { s.VcpCom1 = 0; },
       {"ports: several ports need a COM number for port 1"}},
      {"tab in a command address",
       [](SettingsRecord& s) { s.Inputs[8][199].CommandAdr = "a\tb"; },
       {"input" + kControl}},
      {"line break in a value address",
       [](SettingsRecord& s) { s.Inputs[3][7].MeaValAdr = "1\r\n20:9"; },
       {"input" + kControl}},
      {"tcp port out of range",
       [](SettingsRecord& s) { s.NetPort[3] = "70000"; },
       {"net: network port of slot 3: not a TCP port: 70000"}},
      {"another address without allow list",
       [](SettingsRecord& s) { s.NetAllow[2].clear(); },
       {"net: network port of slot 2: listening on 0.0.0.0 needs an allow list of client "
        "networks (--allow)"}},
      {"a TLS port without the station's certificate",
       [](SettingsRecord& s) { s.NetTls[1] = 1; },
       {"net: network port of slot 1: TLS needs the station's certificate (velk-vcp-config tls "
        "--cert FILE --key FILE)"}},
      {"a TLS key without its certificate",
       [](SettingsRecord& s) { s.TlsKeyFile = "/etc/velk/station.key"; },
       {"tls: the station's certificate needs both --cert and --key"}},
      {"tcp port of two slots, named at the later one",
       [](SettingsRecord& s) { s.NetPort[4] = "4001"; },
       {"net: TCP port 4001 is already the network port of slot 1"}},
      {"broker address",
       [](SettingsRecord& s) { s.MqttUrl = "http://broker"; },
       {"mqtt: http://broker is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]"}},
      {"password file others may read",
       [&dir](SettingsRecord& s) { s.MqttPasswordFile = dir.path() + "/open"; },
       {"mqtt: the password file " + dir.path() +
        "/open may be read by others: chmod 600 it "
        "first"}},
      {"password file missing",
       [&dir](SettingsRecord& s) { s.MqttPasswordFile = dir.path() + "/missing"; },
       {"mqtt: the password file " + dir.path() +
        "/missing may be read by others: chmod 600 "
        "it first"}},
      {"a client certificate without its key",
       [&dir](SettingsRecord& s) { s.MqttCertFile = dir.path() + "/private"; },
       {"mqtt: a client certificate needs both --cert and --key"}},
      {"a client certificate without TLS",
       [&dir](SettingsRecord& s) {
         s.MqttUrl = "mqtt://broker";
         s.MqttCaFile.clear();
         s.MqttCertFile = s.MqttKeyFile = dir.path() + "/private";
       },
       {"mqtt: a client certificate needs TLS: mqtts://HOST[:PORT]"}},
      {"a client key others may read",
       [&dir](SettingsRecord& s) {
         s.MqttCertFile = dir.path() + "/private";
         s.MqttKeyFile = dir.path() + "/open";
       },
       {"mqtt: the key file " + dir.path() +
        "/open may be read or changed by others: chmod 600 (or 400) it first"}},
      {"+ in the prefix",
       [](SettingsRecord& s) { s.MqttPrefix = "a+b"; },
       {"mqtt: + and # cannot stand in a topic"}},
      {"# in the station",
       [](SettingsRecord& s) { s.MqttStation = "x#"; },
       {"mqtt: + and # cannot stand in a topic"}},
      {"control character in the user",
       [](SettingsRecord& s) { s.MqttUser = "u\x7f"; },
       {"mqtt" + kControl}},
      {"publisher off: its texts are not looked at",
       [](SettingsRecord& s) {
         s.MqttUrl.clear();
         s.MqttPrefix = "a+b\n";
       },
       {}},
      {"control character in the password",
       [](SettingsRecord& s) { s.Password = "pw\a"; },
       {"password" + kControl}},
      {"several, in order",
       [](SettingsRecord& s) {
         s.Password = "pw\r60:x";
         s.MqttStation = "#";
         s.NetPort[2] = "4001";
         s.Inputs[2][2].CommandAdr = "\n";
         s.Inputs[2][3].CommandAdr = "\n";
         s.VcpCom2 = 5;
       },
       {"ports: COM5 given twice", "input" + kControl, "input" + kControl,
        "net: TCP port 4001 is already the network port of slot 1",
        "mqtt: + and # cannot stand in a topic", "password" + kControl}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SettingsRecord s = GoodRecord(dir);
    c.change(s);
    EXPECT_EQ(SettingsProblems(s), c.problems);
  }
}

TEST(SettingsChecksTest, ASlotNamesTheOtherSlotThatHasItsTcpPort) {
  SettingsRecord s;
  s.NetPort[1] = "4001";
  s.NetPort[3] = "4001";
  s.NetPort[4] = "4001";
  EXPECT_EQ(NetworkSlotProblem(s, 1), "net: TCP port 4001 is already the network port of slot 3");
  EXPECT_EQ(NetworkSlotProblem(s, 3), "net: TCP port 4001 is already the network port of slot 1");
  EXPECT_EQ(NetworkSlotProblem(s, 2), "");
}

}  // namespace
