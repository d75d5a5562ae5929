// Network ports over TLS, against the running program on 127.0.0.1 only, with certificates
// the test makes with the openssl command line: Python's ssl clients raw and with RFC 2217,
// client certificates checked against the client CA, plain and stalled clients of a TLS
// port, and the settings tool's checks of the station's certificate.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "network_port_fixture.h"

namespace {

using namespace std::chrono_literals;

class TlsPortTest : public NetworkPortTest {
 protected:
  void SetUp() override {
    Shell("mkdir -p " + Path("tls"));
    ASSERT_EQ(
        Shell("sh " VELK_TLS_CERTIFICATES " " + Path("tls") + " >" + Path("tls.out") + " 2>&1"), 0)
        << Read("tls.out");
  }
  std::string Tls(const std::string& name) const { return Path("tls/" + name); }
  // The station's certificate with the client CA; slots 1 and 2 speak TLS, slot 3 is plain.
  void ServeTls() {
    Serve({"raw", "rfc2217", "raw"}, "631:" + Tls("station.pem") + "\r\n632:" + Tls("station.key") +
                                         "\r\n633:" + Tls("ca.pem") + "\r\n636:1\r\n637:1\r\n");
  }
  // Runs the Python TLS client against slot (1..4) as client (its certificate; empty: none);
  // returns what it printed ("ok\n", "refused: ..."). With release, the client runs on until
  // that file exists (see tls_client_check.py) and prints to out; server: the station's name
  // the client insists on.
  std::string Client(int slot, const std::string& client, bool rfc2217 = false,
                     const std::string& release = "", const std::string& server = "",
                     const std::string& out = "client.out") const {
    std::string command = "/usr/bin/python3 " VELK_TLS_CHECK " " + std::to_string(tcp_[slot - 1]) +
                          " " + Tls("ca.pem") + " 'M1\\r' '" + "10:+0001.234\\r\\n'";
    if (!client.empty())
      command += " --cert " + Tls(client + ".pem") + " --key " + Tls(client + ".key");
    if (rfc2217) command += " --rfc2217";
    if (!release.empty()) command += " --release " + release;
    if (!server.empty()) command += " --server " + server;
    Shell("rm -f " + Path(out));
    Shell(command + " >" + Path(out) + " 2>&1" + (release.empty() ? "" : " &"));
    if (!release.empty()) WaitFor([&] { return !Read(out).empty(); }, 20s);
    return Read(out);
  }
};

TEST_F(TlsPortTest, VerifiedClientsAreServedAndOthersRefused) {
  ServeTls();
  const struct {
    const char* name;
    int slot;
    std::string client;
    bool rfc2217;
    std::string printed;  // its start
    std::string logged;
  } cases[] = {
      {"a verified client, raw", 1, "alice", false, "ok\n", "network client alice (127.0.0.1:"},
      {"a verified client, RFC 2217 (baud rate set and read back)", 2, "alice", true, "ok\n",
       "(rfc2217 over TLS) holds the port"},
      {"no client certificate", 1, "", false, "refused", "peer did not return a certificate"},
      {"a certificate of another CA", 1, "mallory", false, "refused",
       "unable to get local issuer certificate"},
      {"an expired certificate", 1, "old", false, "refused", "certificate has expired"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string printed = Client(c.slot, c.client, c.rfc2217);
    EXPECT_EQ(printed.substr(0, c.printed.size()), c.printed) << printed;
    EXPECT_TRUE(WaitFor([&] { return Log().find(c.logged) != std::string::npos; }, 10s)) << Log();
  }
  // The status names the client by its certificate while it holds the slot.
  const std::string release = Path("release");
  ASSERT_EQ(Client(1, "alice", false, release), "ok\n");
  const nlohmann::json status = Status();
  const nlohmann::json client = status["ports"][0]["client"];
  EXPECT_EQ(client["certificate"], "alice") << status.dump();
  EXPECT_EQ(client["tls"], true) << status.dump();
  EXPECT_EQ(status["ports"][0]["network"]["tls"], true) << status.dump();
  Tool("status", "status.txt");
  EXPECT_NE(Read("status.txt").find("network client alice at 127.0.0.1:"), std::string::npos)
      << Read("status.txt");
  Shell("touch " + release);
}

TEST_F(TlsPortTest, ClientsWithoutAHandshakeAreDroppedWithoutHoldingUpOthers) {
  ServeTls();
  const struct {
    const char* name;
    std::string sent;
    std::string logged;
  } cases[] = {
      // Two commands: more than the five bytes of a TLS record's header, which are awaited.
      {"a plain TCP client", "M1\rM1\r", "TLS handshake failed"},
      {"a client that never starts its handshake", "", "no TLS handshake within 10 s"},
      {"garbage handshake records",
       std::string("\x16\x03\x01\x00\x08garbage!", 13) + "\x16\x03\x01", "TLS handshake failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int fd = ConnectLoopback(tcp_[0]);
    ASSERT_GE(fd, 0);
    if (!c.sent.empty()) WriteAll(fd, c.sent, 1s);
    // Meanwhile the plain slot and the other TLS slot answer at once.
    const int plain = ConnectLoopback(tcp_[2]);
    ASSERT_GE(plain, 0);
    EXPECT_EQ(Ask(plain, "M1\r", kValue1), kValue1);
    close(plain);
    EXPECT_EQ(Client(2, "alice", true), "ok\n");
    // The peer gets no answer, only the end of its connection.
    EXPECT_EQ(ReadToEnd(fd, 40s).find(kValue1), std::string::npos);
    EXPECT_TRUE(WaitFor([&] { return Log().find(c.logged) != std::string::npos; }, 10s)) << Log();
    close(fd);
    // The slot is free for a verified client again.
    EXPECT_EQ(Client(1, "alice"), "ok\n");
  }
  // A peer that tries again and again is logged once a minute, not once a try.
  const size_t before = Count(Log(), "TLS handshake failed");
  for (int k = 0; k < 20; ++k) {
    const int fd = ConnectLoopback(tcp_[0]);
    WriteAll(fd, "M1\rM1\r", 1s);
    ReadToEnd(fd, 20s);
    close(fd);
  }
  EXPECT_EQ(Client(1, "alice"), "ok\n");
  EXPECT_EQ(Count(Log(), "TLS handshake failed"), before) << Log();
  EXPECT_NE(Log().find("a network connection from 127.0.0.1 was refused: TLS handshake failed"),
            std::string::npos)
      << Log();
}

// A certificate renewed on disk is taken over at reload for the next client while the
// connected one goes on; one whose key file others may read is refused and changes nothing.
// The status and standard error tell the certificate's end from two weeks before it.
TEST_F(TlsPortTest, ARenewedCertificateIsTakenOverAtReloadAndItsEndIsTold) {
  ServeTls();
  nlohmann::json tls = Status()["tls"];
  EXPECT_EQ(tls["subject"], "station") << tls.dump();
  // Whole days left, rounded down: 30 within the second the certificate was made, 29 after.
  EXPECT_TRUE(tls["days_left"] == 29 || tls["days_left"] == 30) << tls.dump();
  EXPECT_TRUE(tls["warning"].is_null()) << tls.dump();
  const std::string release = Path("release");
  ASSERT_EQ(Client(1, "alice", false, release, "station", "held.out"), "ok\n");
  const struct {
    const char* name;
    std::string prepare;
    int reload;          // the tool's exit status
    std::string server;  // the certificate the next client sees
  } steps[] = {
      {"a renewal whose key others may read",
       "cp renewed.pem station.pem && cp renewed.key station.key && chmod 644 station.key", 3,
       "station"},
      {"the renewal made private", "chmod 600 station.key", 0, "station-renewed"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    // The files were read at the start: the running program goes on with what it took.
    ASSERT_EQ(Shell("cd " + Path("tls") + " && " + step.prepare), 0);
    EXPECT_EQ(Tool("reload"), step.reload) << Read("tool.out");
    EXPECT_EQ(Client(2, "alice", true, "", step.server), "ok\n");
  }
  EXPECT_NE(Read("tool.out").find("chmod 600"), std::string::npos) << Read("tool.out");
  // The first client held its connection throughout and is still answered.
  Shell("touch " + release);
  EXPECT_TRUE(WaitFor([&] { return Read("held.out") == "ok\nok\n"; }, 20s)) << Read("held.out");
  tls = Status()["tls"];
  EXPECT_EQ(tls["subject"], "station-renewed") << tls.dump();
  EXPECT_TRUE(tls["days_left"] == 9 || tls["days_left"] == 10) << tls.dump();
  EXPECT_NE(tls["warning"].get<std::string>().find("ends on"), std::string::npos) << tls.dump();
  EXPECT_TRUE(WaitFor([&] {
    return Err().find("the TLS certificate station-renewed ends on") != std::string::npos;
  })) << Err();
  Tool("status", "status.txt");
  EXPECT_NE(Read("status.txt").find("warning: the TLS certificate station-renewed ends on"),
            std::string::npos)
      << Read("status.txt");
}

// The network guide's recipes with stock tools (socat, stunnel, pyserial) reach a TLS port
// with a client certificate and are answered.
TEST_F(TlsPortTest, TheGuidesRecipesWithStockToolsAreAnswered) {
  ServeTls();
  const int status = Shell("/usr/bin/python3 " VELK_TLS_RECIPES " " + Tls("") + " " +
                           std::to_string(tcp_[0]) + " " + std::to_string(tcp_[1]) + " " +
                           Path("recipes") + " >" + Path("recipes.out") + " 2>&1");
  EXPECT_EQ(status, 0) << Read("recipes.out") << Log();
  EXPECT_EQ(Read("recipes.out"),
            "a local pty through socat: ok\npyserial socket:// through stunnel: ok\n"
            "pyserial rfc2217:// through a socat tunnel: ok\n");
}

TEST_F(TlsPortTest, SettingsToolChecksTheStationCertificate) {
  const std::string port = std::to_string(tcp_[0]);
  Shell("cp " + Tls("station.key") + " " + Tls("open.key") + " && chmod 644 " + Tls("open.key"));
  const std::string station = " --cert " + Tls("station.pem") + " --key " + Tls("station.key");
  const struct {
    std::string arguments;
    int status;
  } rows[] = {
      {"net 1 " + port + " raw --tls", 2},                                    // no certificate yet
      {"tls --cert " + Tls("station.pem") + " --key " + Tls("open.key"), 2},  // key for all
      {"tls --cert " + Tls("station.pem"), 2},
      {"tls" + station + " --client-ca " + Tls("missing.pem"), 2},
      {"tls" + station, 0},
      {"net 1 " + port + " raw --tls --bind 0.0.0.0", 2},  // neither allow list nor client CA
      {"tls" + station + " --client-ca " + Tls("ca.pem"), 0},
      {"net 1 " + port + " raw --tls --bind 0.0.0.0", 0},  // the client CA lets it listen
      {"tls off", 2},                                      // slot 1 speaks TLS
  };
  for (const auto& row : rows) EXPECT_EQ(Tool(row.arguments), row.status) << row.arguments;
  EXPECT_NE(Read("tool.out").find("chmod 600"), std::string::npos) << Read("tool.out");
  Tool("show", "show.out");
  EXPECT_NE(Read("show.out").find("network port 1: 0.0.0.0:" + port + " raw over TLS"),
            std::string::npos)
      << Read("show.out");
  EXPECT_NE(Read("show.out")
                .find("TLS certificate: " + Tls("station.pem") + ", key " + Tls("station.key") +
                      ", client certificates: required"),
            std::string::npos)
      << Read("show.out");
  EXPECT_EQ(Tool("net 1 off"), 0);
  EXPECT_EQ(Tool("tls off"), 0);
}

}  // namespace
