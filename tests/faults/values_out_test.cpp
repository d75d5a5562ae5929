// Values leaving the running program: a real mosquitto broker on 127.0.0.1 at a free port, a
// real subscriber (mosquitto_sub), the value history read back with velk-vcp-config.
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <numeric>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "loopback.h"
#include "program_fixture.h"
#include "start_process.h"

using namespace std::chrono_literals;

namespace {

// Returns a TCP port on 127.0.0.1 that nothing listens on now.
pid_t Spawn(const std::vector<std::string>& args, const std::string& out) {
  ProcessStart start;
  start.argv = args;
  start.output_file = out;
  return StartProcess(start);
}

void End(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

// True when something listens on port of 127.0.0.1.
bool Listens(int port) {
  const int s = ConnectLoopback(port);
  if (s >= 0) close(s);
  return s >= 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The "seq" of each value message the subscriber printed, in arrival order.
std::vector<int> Seqs(const std::string& received) {
  std::vector<int> seqs;
  static const std::regex seq(R"(/value \{"seq":(\d+),)");
  for (const std::string& line : Lines(received)) {
    std::smatch m;
    if (std::regex_search(line, m, seq)) seqs.push_back(std::stoi(m[1]));
  }
  return seqs;
}

// The resident memory of process pid in MB (VmRSS), 0 when it cannot be read.
size_t ResidentMb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6)) / 1024;
  }
  return 0;
}

// The sockets process pid holds.
size_t Sockets(pid_t pid) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  return static_cast<size_t>(Shell("exit $(ls -l " + fds + " 2>/dev/null | grep -c 'socket:')") >>
                             8);
}

// A broker on 127.0.0.1 that accepts one client after another, answers CONNECT with a CONNACK
// and then does what the test says with the connection (until it returns or the peer ends).
class FakeBroker {
 public:
  using Then = std::function<void(int fd, const std::atomic<bool>& stop)>;
  explicit FakeBroker(Then then) : then_(std::move(then)) {
    listener_ = ListenLoopback(0, port_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeBroker() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  int port() const { return port_; }
  int connections() const { return connections_; }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      ++connections_;
      char connect[512];
      if (read(fd, connect, sizeof connect) > 0) {
        const unsigned char connack[] = {0x20, 0x02, 0x00, 0x00};
        if (write(fd, connack, sizeof connack) == sizeof connack) then_(fd, stop_);
      }
      close(fd);
    }
  }
  Then then_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// Writes bytes to fd until done says so, the peer ends or stop is set. Returns the bytes
// written.
size_t Flood(int fd, const std::atomic<bool>& stop,
             const std::function<std::string(size_t)>& next) {
  size_t sent = 0;
  for (size_t k = 0; !stop; ++k) {
    const std::string bytes = next(k);
    if (bytes.empty()) break;
    size_t at = 0;
    while (at < bytes.size() && !stop) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
      if (n <= 0) return sent;
      at += static_cast<size_t>(n);
      sent += static_cast<size_t>(n);
    }
  }
  return sent;
}

class ValuesOutTest : public ProgramTest {
 protected:
  ValuesOutTest() : port_(FreePort()) {
    const passwd* me = getpwuid(geteuid());
    // A broker that keeps its sessions across a restart (the subscriber's queued messages).
    Write("broker.conf", "listener " + std::to_string(port_) +
                             " 127.0.0.1\nallow_anonymous true\npersistence true\n"
                             "persistence_location " +
                             Path("") + "\nmax_queued_messages 0\nuser " +
                             (me ? me->pw_name : "root") + "\n");
  }
  ~ValuesOutTest() override {
    End(subscriber_);
    End(broker_);
    unsetenv("VELK_VCP_VALUE_QUEUE");
  }

  void StartBroker() {
    broker_ = Spawn({"mosquitto", "-c", Path("broker.conf")}, Path("broker.log"));
    ASSERT_TRUE(WaitFor([&] { return Listens(port_); })) << Read("broker.log");
  }
  std::string Mqtt(const std::string& tool) const {
    return std::string(tool) + " -h 127.0.0.1 -p " + std::to_string(port_);
  }
  // Starts a subscriber with a lasting session on velk/# and waits until it is subscribed.
  void Subscribe() {
    subscriber_ = Spawn({"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port_), "-c",
                         "-i", "velk-test-sub", "-q", "1", "-v", "-t", "velk/#"},
                        Path("sub.out"));
    ASSERT_TRUE(WaitFor([&] {
      Shell(Mqtt("mosquitto_pub") + " -q 1 -t velk/probe -m ready 2>/dev/null");
      return Received().find("velk/probe ready") != std::string::npos;
    })) << Read("broker.log");
  }
  std::string Received() const { return Exists("sub.out") ? Read("sub.out") : ""; }
  // Settings: the fault tests' inputs, input 1.1 released by the foot switch, history on (or
  // off), MQTT to the test's broker as station st1.
  void WriteSettings(bool history = true) const {
    Write("Velk_VCP.CFG", FaultSettings() + "1000:3\r\n600:" + (history ? "1" : "0") +
                              "\r\n603:mqtt://127.0.0.1:" + std::to_string(port_) +
                              "\r\n605:st1\r\n");
  }
  // Waits until the program's status says MQTT is disconnected.
  bool WaitDisconnected() {
    return WaitFor([&] {
      Shell(std::string(VELK_CONFIG_TOOL) + " --dir " + Path("") + " status --json >" +
            Path("status.out"));
      return Read("status.out").find(R"("state":"disconnected")") != std::string::npos;
    });
  }
  int Ddk(const std::string& command) const {
    return Shell(std::string(VELK_DDK_TOOL) + " -s " + Path("Velk_VCP.sock") + " " + command +
                 " >/dev/null");
  }
  std::string Values(const std::string& options = "") const {
    const std::string out = Path("values.out");
    const int status = Shell(std::string(VELK_CONFIG_TOOL) + " --dir " + Path("") + " values " +
                             options + " >" + out);
    return status == 0 ? Read("values.out") : "status " + std::to_string(status) + "\n";
  }
  size_t HistoryRows() const { return Lines(Values()).size() - 1; }

  int port_;
  pid_t broker_ = -1;
  pid_t subscriber_ = -1;
};

TEST_F(ValuesOutTest, EveryValueSentArrivesOnceInOrderAsJsonAndInTheHistory) {
  StartBroker();
  Subscribe();
  WriteSettings();
  // Input 1.1 gets a name and a unit.
  Write("Velk_VCP.DDK", std::string(kFaultDdk) + "input: 1\nname: Caliper\nunit: mm\n");
  const pid_t pid = Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  ASSERT_TRUE(
      WaitFor([&] { return Received().find("velk/st1/status online") != std::string::npos; }));
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);

  struct Step {
    std::string action;  // a command to the port, or "press" / "key" through velk-ddk
    std::string answer;  // what the client receives
    std::string json;    // the message after the seq and time
  };
  // The client is this test process, which holds the port.
  const std::string client = std::to_string(getpid()) + " program_fault_tests";
  const std::string where = R"("station":"st1","slot":1,"port":"COM5","client":")" + client + "\",";
  // What describes the values: 1.1's name and unit and the tolerance limits the client set first.
  const std::string caliper =
      R"(,"name":"Caliper","unit":"mm","usl":1.5,"ucl":null,"lcl":null,"lsl":1})";
  const std::string plain = R"(,"name":"","unit":"","usl":null,"ucl":null,"lcl":null,"lsl":null})";
  const std::vector<Step> steps = {
      {"USL1,1.5\rLSL1,1\rM1\r", "10:+0001.234\r\n",
       where +
           R"("gauge":"1.1","number":1.234,"text":"10:+0001.234\r\n","status":"valid","cause":"request")" +
           caliper},
      {"M3\r", "30:OUT OF RANGE\r\n",
       where +
           R"("gauge":"1.3","number":0,"text":"30:OUT OF RANGE\r\n","status":"out_of_range","cause":"request")" +
           plain},
      {"M2\r", "20:NO VALUE\r\n",
       where +
           R"("gauge":"1.2","number":null,"text":"20:NO VALUE\r\n","status":"no_value","cause":"request")" +
           plain},
      {"press", "10:+0001.234\r\n",
       where +
           R"("gauge":"1.1","number":1.234,"text":"10:+0001.234\r\n","status":"valid","cause":"foot_switch")" +
           caliper},
      {"key", "80:+000002.5\r\n",
       where +
           R"("gauge":"1.8","number":2.5,"text":"80:+000002.5\r\n","status":"valid","cause":"data_key")" +
           plain},
      {"M8\r", "80:+000002.5\r\n",
       where +
           R"("gauge":"1.8","number":2.5,"text":"80:+000002.5\r\n","status":"valid","cause":"request")" +
           plain},
  };
  for (const Step& step : steps) {
    if (step.action == "press") {
      ASSERT_EQ(Ddk("press 1"), 0);
      EXPECT_EQ(ReadFor(fd, step.answer.size(), 5s), step.answer);
      ASSERT_EQ(Ddk("release 1"), 0);
    } else if (step.action == "key") {
      ASSERT_EQ(Ddk("key 1 8"), 0);
      EXPECT_EQ(ReadFor(fd, step.answer.size(), 5s), step.answer);
    } else {
      EXPECT_EQ(Ask(fd, step.action, step.answer), step.answer);
    }
  }
  ASSERT_TRUE(WaitFor([&] { return Seqs(Received()).size() >= steps.size(); })) << Received();

  std::vector<std::string> messages;
  static const std::regex time(R"("time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z",)");
  for (const std::string& line : Lines(Received())) {
    if (line.find("/value ") != std::string::npos) messages.push_back(line);
  }
  ASSERT_EQ(messages.size(), steps.size()) << Received();
  for (size_t k = 0; k < steps.size(); ++k) {
    const std::string gauge = steps[k].json.substr(steps[k].json.find("\"gauge\":\"") + 9, 3);
    const std::string expected =
        "velk/st1/" + gauge + "/value {\"seq\":" + std::to_string(k + 1) + "," + steps[k].json;
    EXPECT_EQ(std::regex_replace(messages[k], time, ""), expected);
  }

  // The history holds the same values; the CSV reads back the same numbers.
  ASSERT_TRUE(WaitFor([&] { return HistoryRows() == steps.size(); })) << Values();
  const std::vector<std::string> rows = Lines(Values("--csv"));
  EXPECT_EQ(rows[0],
            "seq,time,station,slot,port,client,gauge,number,text,status,cause,name,unit,usl,ucl,"
            "lcl,lsl\r");
  EXPECT_NE(rows[1].find(",st1,1,COM5," + client +
                         ",1.1,1.234,10:+0001.234<13><10>,valid,request,Caliper,mm,1.5,,,1\r"),
            std::string::npos)
      << rows[1];
  EXPECT_NE(rows[3].find(",1.2,,20:NO VALUE<13><10>,no_value,request,,,,,,\r"), std::string::npos)
      << rows[3];
  EXPECT_EQ(Lines(Values("--json --gauge 1.8")).size(), 2u);

  // The program's status shows both listeners at work.
  ASSERT_EQ(Shell(std::string(VELK_CONFIG_TOOL) + " --dir " + Path("") + " status --json >" +
                  Path("status.out")),
            0);
  EXPECT_NE(Read("status.out").find(R"("mqtt":{"dropped":0,"published":)"), std::string::npos)
      << Read("status.out");
  EXPECT_NE(Read("status.out").find(R"("history":{"dropped":0,"failing":false,)"),
            std::string::npos);

  // Killed, the program vanishes for the plant: the broker publishes its last will.
  kill(pid, SIGKILL);
  EXPECT_TRUE(WaitFor([&] {
    return Received().find("velk/st1/status offline") != std::string::npos;
  })) << Received();
  close(fd);
}

TEST_F(ValuesOutTest, ABrokerAwayDelaysNoAnswerAndLosesOnlyWhatTheQueueCannotHold) {
  setenv("VELK_VCP_VALUE_QUEUE", "100", 1);
  StartBroker();
  Subscribe();
  WriteSettings(false);
  Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  ASSERT_TRUE(
      WaitFor([&] { return Received().find("velk/st1/status online") != std::string::npos; }));
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  const std::string answer = "10:+0001.234\r\n";
  auto ask = [&](int times) {
    for (int k = 0; k < times; ++k) ASSERT_EQ(Ask(fd, "M1\r", answer), answer);
  };
  ask(50);
  ASSERT_TRUE(WaitFor([&] { return Seqs(Received()).size() == 50; })) << Received();

  End(broker_);
  // Once the program knows the broker is away, 150 values are answered as ever; without the
  // history, 100 of them wait for the broker.
  ASSERT_TRUE(WaitDisconnected()) << Read("status.out");
  ask(150);
  StartBroker();
  // The drops are reported at once when the broker is back: the last report's total.
  auto dropped = [&] {
    const std::string err = Err();
    static const std::regex total(
        R"(MQTT: \d+ values dropped since the last report, (\d+) in all)");
    size_t last = 0;
    for (std::sregex_iterator m(err.begin(), err.end(), total), end; m != end; ++m) {
      last = std::stoul((*m)[1]);
    }
    return last;
  };
  auto seqs = [&] {
    const std::vector<int> v = Seqs(Received());
    return std::set<int>(v.begin(), v.end());
  };
  EXPECT_TRUE(WaitFor([&] { return seqs().size() + dropped() == 200; }))
      << seqs().size() << " + " << dropped() << "\n"
      << Err();
  // Every value the queue could hold arrived; only the oldest of the time away were dropped.
  EXPECT_GT(dropped(), 0u);
  EXPECT_LE(dropped(), 50u);
  const std::set<int> arrived = seqs();
  for (int s = 1; s <= 50; ++s) EXPECT_TRUE(arrived.count(s)) << s;
  for (int s = 101; s <= 200; ++s) EXPECT_TRUE(arrived.count(s)) << s;
  close(fd);
}

TEST_F(ValuesOutTest, WithTheHistoryEveryValueReachesTheBrokerAfterAnOutageAndARestart) {
  setenv("VELK_VCP_VALUE_QUEUE", "50", 1);
  StartBroker();
  Subscribe();
  WriteSettings();
  const std::string answer = "10:+0001.234\r\n";
  // Values sent while the broker is away, 25 at a time (the history takes each 25 within its
  // queue's bound of 50), the first half by one run of the program, the second by the next.
  auto run = [&](const std::string& tag, int first) {
    const pid_t pid = Start(Options{}, tag);
    ASSERT_TRUE(WaitUntilServing(tag)) << Err(tag);
    if (first == 1) {
      ASSERT_TRUE(
          WaitFor([&] { return Received().find("velk/st1/status online") != std::string::npos; }));
      End(broker_);
      ASSERT_TRUE(WaitDisconnected()) << Read("status.out");
    }
    const int fd = OpenPort("COM5");
    ASSERT_GE(fd, 0);
    for (int k = first; k < first + 500; k += 25) {
      for (int n = 0; n < 25; ++n) ASSERT_EQ(Ask(fd, "M1\r", answer), answer);
      ASSERT_TRUE(WaitFor([&] { return HistoryRows() == static_cast<size_t>(k + 24); }))
          << HistoryRows();
    }
    close(fd);
    ASSERT_EQ(Stop(pid), 0) << Err(tag);
  };
  run("first", 1);
  run("second", 501);
  const pid_t pid = Start(Options{}, "third");
  ASSERT_TRUE(WaitUntilServing("third")) << Err("third");
  StartBroker();
  // A live value, sent while the backlog is caught up, arrives too (beside the backlog).
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WaitFor([&] { return Seqs(Received()).size() >= 1; }, 120s))
      << Err("third") << Received() << Read("broker.log");
  ASSERT_EQ(Ask(fd, "M1\r", answer), answer);
  auto first_arrivals = [&] {
    std::vector<int> order;
    std::set<int> seen;
    for (const int seq : Seqs(Received())) {
      if (seen.insert(seq).second) order.push_back(seq);
    }
    return order;
  };
  ASSERT_TRUE(WaitFor([&] { return first_arrivals().size() == 1001; }, 120s))
      << first_arrivals().size() << "\n"
      << Err("third");
  // Every value arrived, the backlog in its order without a gap, a repeat only of one already
  // sent (as QoS 1 may repeat); the live value 1001 anywhere among them.
  std::vector<int> backlog = first_arrivals();
  backlog.erase(std::remove(backlog.begin(), backlog.end(), 1001), backlog.end());
  std::vector<int> expected(1000);
  std::iota(expected.begin(), expected.end(), 1);
  EXPECT_EQ(backlog, expected);
  // All acknowledged: the next run publishes nothing again.
  ASSERT_TRUE(WaitFor([&] {
    Shell(std::string(VELK_CONFIG_TOOL) + " --dir " + Path("") + " status --json >" +
          Path("status.out"));
    return Read("status.out").find(R"("queued":0,"state":"connected")") != std::string::npos;
  })) << Read("status.out");
  close(fd);
  ASSERT_EQ(Stop(pid), 0) << Err("third");
  const size_t before = Seqs(Received()).size();
  const pid_t again = Start(Options{}, "fourth");
  ASSERT_TRUE(WaitUntilServing("fourth")) << Err("fourth");
  const int next = OpenPort("COM5");
  ASSERT_GE(next, 0);
  ASSERT_EQ(Ask(next, "M1\r", answer), answer);
  ASSERT_TRUE(WaitFor(
      [&] {
        const std::vector<int> seqs = Seqs(Received());
        return !seqs.empty() && seqs.back() == 1002;
      },
      60s))
      << Err("fourth");
  EXPECT_EQ(Seqs(Received()).size(), before + 1);
  close(next);
  ASSERT_EQ(Stop(again), 0) << Err("fourth");
}

// The station proves itself to a TLS broker of the test's own CA either as a user with a
// password file or by a client certificate of that CA (the broker then asks for one and takes
// its common name as the user); the broker lets in no one else.
TEST_F(ValuesOutTest, TheStationProvesItselfToATlsBrokerByPasswordOrCertificate) {
  const std::string d = Path("");
  ASSERT_EQ(
      Shell("cd '" + d +
            "' && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=ca "
            "-keyout ca.key -out ca.pem 2>/dev/null && printf 'subjectAltName=IP:127.0.0.1\\n' "
            ">ext && for who in broker:127.0.0.1 station:station1; do "
            "openssl req -newkey rsa:2048 -nodes -subj /CN=${who#*:} -keyout ${who%:*}.key "
            "-out ${who%:*}.csr 2>/dev/null && openssl x509 -req -in ${who%:*}.csr -CA ca.pem "
            "-CAkey ca.key -CAcreateserial -days 2 -extfile ext -out ${who%:*}.pem 2>/dev/null "
            "|| exit 1; done && touch users && chmod 600 users station.key && "
            "mosquitto_passwd -b users station1 'pass word' && chmod 644 users broker.key"),
      0);
  const std::string broker =
      "cafile " + d + "ca.pem\ncertfile " + d + "broker.pem\nkeyfile " + d + "broker.key\n";
  const std::string url =
      "603:mqtts://127.0.0.1:" + std::to_string(port_) + "\r\n605:st1\r\n608:" + d + "ca.pem\r\n";
  Write("station.pw", "pass word\n");
  chmod(Path("station.pw").c_str(), 0600);
  const struct {
    const char* name;
    const char* tag;
    std::string broker, settings;
  } ways[] = {
      {"a user with a password file", "password", "password_file " + d + "users\n",
       "606:station1\r\n607:" + d + "station.pw\r\n"},
      {"a client certificate", "certificate",
       "require_certificate true\nuse_identity_as_username true\n",
       "609:" + d + "station.pem\r\n610:" + d + "station.key\r\n"},
  };
  const std::string plain = Read("broker.conf");
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    Write("broker.conf",
          std::regex_replace(plain, std::regex("allow_anonymous true"), "allow_anonymous false") +
              broker + way.broker);
    StartBroker();
    std::vector<std::string> sub = {
        "mosquitto_sub", "-h",         "127.0.0.1", "-p", std::to_string(port_),
        "--cafile",      d + "ca.pem", "-v",        "-t", "velk/#"};
    // The subscriber gets in the same way as the station.
    if (way.broker.find("password") != std::string::npos) {
      sub.insert(sub.end(), {"-u", "station1", "-P", "pass word"});
    } else {
      sub.insert(sub.end(), {"--cert", d + "station.pem", "--key", d + "station.key"});
    }
    Write("sub.out", "");
    subscriber_ = Spawn(sub, Path("sub.out"));
    Write("Velk_VCP.CFG", FaultSettings() + url + way.settings);
    const pid_t pid = Start({}, way.tag);
    ASSERT_TRUE(WaitUntilServing(way.tag)) << Err(way.tag);
    const int fd = OpenPort("COM5");
    ASSERT_GE(fd, 0);
    // The subscriber may connect after the first values: the retained last value reaches it.
    EXPECT_EQ(Ask(fd, "M1\r", 14), "10:+0001.234\r\n");
    EXPECT_TRUE(WaitFor([&] {
      return Received().find("velk/st1/1.1/value {\"seq\":1,") != std::string::npos &&
             Received().find("velk/st1/status online") != std::string::npos;
    })) << Received()
        << Err(way.tag) << Read("broker.log");
    close(fd);
    EXPECT_EQ(Stop(pid), 0);
    End(subscriber_);
    End(broker_);
    // What the broker kept (the retained value) would let the next way pass unseen.
    Shell("rm -f " + Path("mosquitto.db"));
  }
}

TEST_F(ValuesOutTest, TheHistoryKeepsWhatWasWrittenWhenTheProgramIsKilledDuringABurst) {
  Write("Velk_VCP.CFG", "600:1\r\n" + FaultSettings());
  const pid_t pid = Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  std::string burst;
  for (int k = 0; k < 500; ++k) burst += "M1\rM8\r";
  const std::string answers = ReadFor(fd, 0, 0ms) + [&] {
    EXPECT_TRUE(WriteAll(fd, burst, 5s));
    return ReadFor(fd, 1000 * 14, 10s);
  }();
  ASSERT_EQ(Count(answers, "\r\n"), 1000u);
  ASSERT_TRUE(WaitFor([&] { return HistoryRows() == 1000; })) << HistoryRows();
  // A second burst, killed while it is being answered and written.
  EXPECT_TRUE(WriteAll(fd, burst + burst, 5s));
  ReadFor(fd, 3000, 10s);
  kill(pid, SIGKILL);
  Wait(pid);
  close(fd);

  const std::vector<std::string> rows = Lines(Values());
  ASSERT_GE(rows.size(), 1001u);
  for (size_t k = 1; k < rows.size(); ++k) {
    const bool one =
        rows[k].find(",1.1,1.234,10:+0001.234<13><10>,valid,request") != std::string::npos;
    const bool eight =
        rows[k].find(",1.8,2.5,80:+000002.5<13><10>,valid,request") != std::string::npos;
    ASSERT_TRUE(k % 2 == 1 ? one : eight) << k << ": " << rows[k];
    ASSERT_EQ(rows[k].substr(0, rows[k].find(',')), std::to_string(k));
  }
  ASSERT_EQ(Shell("sqlite3 " + Path("Velk_VCP.values.db") + " 'PRAGMA integrity_check' >" +
                  Path("check.out")),
            0);
  EXPECT_EQ(Read("check.out"), "ok\n");
}

TEST_F(ValuesOutTest, TheRecordVerifiesAfterAKillDuringABurstAndTheToolShowsTampering) {
  Write("Velk_VCP.CFG", "600:1\r\n" + FaultSettings());
  const pid_t pid = Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  std::string burst;
  for (int k = 0; k < 1000; ++k) burst += "M1\rM8\r";
  EXPECT_TRUE(WriteAll(fd, burst, 5s));
  // Killed while the burst is being answered and written.
  ASSERT_TRUE(WaitFor([&] {
    ReadFor(fd, 0, 0ms);
    return HistoryRows() >= 10;
  }));
  kill(pid, SIGKILL);
  Wait(pid);
  close(fd);
  auto verify = [&] {
    const int status = Shell(std::string(VELK_CONFIG_TOOL) + " --dir " + Path("") +
                             " values --verify >" + Path("verify.out"));
    return std::pair{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Read("verify.out")};
  };
  EXPECT_EQ(verify(), (std::pair{0, std::string("intact\n")}));
  // An auditor's copy carries each row's hash.
  const std::vector<std::string> rows = Lines(Values("--csv --with-hash"));
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(
      rows[0],
      "seq,time,station,slot,port,client,gauge,number,text,status,cause,name,unit,usl,ucl,lcl,"
      "lsl,hash\r");
  EXPECT_TRUE(std::regex_search(rows[1], std::regex(",request,,,,,,,[0-9a-f]{64}\r$"))) << rows[1];
  EXPECT_TRUE(std::regex_search(Lines(Values("--json --with-hash"))[0],
                                std::regex(R"(,"hash":"[0-9a-f]{64}"\}$)")));
  ASSERT_EQ(Shell("sqlite3 " + Path("Velk_VCP.values.db") +
                  " 'UPDATE value_events SET number=1.235 WHERE id=5'"),
            0);
  EXPECT_EQ(verify(), (std::pair{6, std::string("altered: row 5: changed\n")}));
}

TEST_F(ValuesOutTest, TheRecordOfChangesShowsWhoChangedWhatAndHowAndClientsComingAndGoing) {
  const int net = FreePort();
  Write("Velk_VCP.CFG",
        "600:1\r\n611:" + std::to_string(net) + "\r\n616:raw\r\n" + FaultSettings());
  const pid_t pid = Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const std::string tool = std::string(VELK_CONFIG_TOOL) + " --dir " + Path("");
  // A client comes and goes.
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  ASSERT_EQ(Ask(fd, "M1\r", "10:+0001.234\r\n"), "10:+0001.234\r\n");
  ASSERT_TRUE(WaitFor([&] {
    Shell(tool + " audit >" + Path("audit.out"));
    return Read("audit.out").find(" arrived\r") != std::string::npos;
  })) << Read("audit.out");
  // A network client refused while the port is held.
  const int refused = ConnectLoopback(net);
  ASSERT_GE(refused, 0);
  ASSERT_TRUE(WaitFor([&] {
    Shell(tool + " audit >" + Path("audit.out"));
    return Read("audit.out").find(",network,") != std::string::npos;
  })) << Read("audit.out");
  close(refused);
  close(fd);
  ASSERT_TRUE(WaitFor([&] {
    Shell(tool + " audit >" + Path("audit.out"));
    return Read("audit.out").find(" left\r") != std::string::npos;
  })) << Read("audit.out");
  // A change made with the tool, then one made by editing the file and taking it over.
  ASSERT_EQ(Shell(tool + " log off >/dev/null"), 0);
  std::string file = Read("Velk_VCP.CFG");
  const size_t at = file.find("50:0\r\n");
  ASSERT_NE(at, std::string::npos);
  file.replace(at, 4, "50:1");
  Write("Velk_VCP.CFG", file);
  ASSERT_EQ(Shell(tool + " reload >/dev/null"), 0);
  ASSERT_EQ(Stop(pid), 0) << Err();
  ASSERT_EQ(Shell(tool + " audit >" + Path("audit.out")), 0);
  const std::vector<std::string> rows = Lines(Read("audit.out"));
  const passwd* me = getpwuid(geteuid());
  const std::string user = me ? me->pw_name : std::to_string(geteuid());
  struct Row {
    std::string process;  // what the process cell holds (a part of it)
    std::string how_what;
  };
  const std::vector<Row> expected = {
      {"", ",program,started (headless)\r"},
      {"", ",client,COM5: " + std::to_string(getpid()) + " program_fault_tests arrived\r"},
      {"", " was refused: held by " + std::to_string(getpid()) + " program_fault_tests\r"},
      {"", ",client,COM5: " + std::to_string(getpid()) + " program_fault_tests left\r"},
      {" velk-vcp-config --dir " + Path("") + " log off,",
       ",velk-vcp-config,settings: 50: 1 -> 0\r"},
      {" velk-vcp-config --dir " + Path("") + " reload,", ",reload,settings: 50: 0 -> 1\r"},
      {"", ",program,stopped\r"},
  };
  ASSERT_EQ(rows.size(), expected.size() + 1) << Read("audit.out");
  EXPECT_EQ(rows[0], "id,time,user,process,how,what\r");
  for (size_t k = 0; k < expected.size(); ++k) {
    const std::string& row = rows[k + 1];
    EXPECT_EQ(row.rfind(std::to_string(k + 1) + ",", 0), 0u) << row;
    EXPECT_NE(row.find("," + user + ","), std::string::npos) << row;
    EXPECT_NE(row.find(expected[k].process), std::string::npos) << row;
    EXPECT_TRUE(row.size() > expected[k].how_what.size() &&
                row.compare(row.size() - expected[k].how_what.size(), std::string::npos,
                            expected[k].how_what) == 0)
        << row;
  }
  ASSERT_EQ(Shell(tool + " audit --json --since 2000-01-01 >" + Path("audit.json")), 0);
  EXPECT_EQ(Lines(Read("audit.json")).size(), expected.size());
  EXPECT_NE(Read("audit.json").find(R"("how":"reload","what":"settings: 50: 0 -> 1"})"),
            std::string::npos)
      << Read("audit.json");
}

TEST_F(ValuesOutTest, AFullDiskDelaysNoAnswerAndIsReported) {
  Write("Velk_VCP.CFG", "600:1\r\n50:0\r\n" + FaultSettings());
  Options options;
  options.file_size_limit = 64 * 1024;  // the settings file fits, the history soon does not
  Start(options);
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  std::string burst;
  for (int k = 0; k < 2000; ++k) burst += "M1\r";
  EXPECT_TRUE(WriteAll(fd, burst, 5s));
  EXPECT_EQ(Count(ReadFor(fd, 2000 * 14, 20s), "10:+0001.234\r\n"), 2000u);
  EXPECT_TRUE(WaitFor([&] {
    return Err().find("value history: cannot write") != std::string::npos;
  })) << Err();
  EXPECT_EQ(Ask(fd, "M8\r", 14), "80:+000002.5\r\n");
  close(fd);
}

TEST_F(ValuesOutTest, ABrokerLateAtTheStartIsPublishedToOnceItIsThere) {
  WriteSettings();
  Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Ask(fd, "M1\r", 14), "10:+0001.234\r\n");
  // The station boots before the broker; it comes some seconds later.
  std::this_thread::sleep_for(4s);
  StartBroker();
  Subscribe();
  // Tried again at the latest every 30 s: connected well within three times that.
  EXPECT_TRUE(WaitFor(
      [&] {
        return Received().find("velk/st1/status online") != std::string::npos &&
               Received().find("velk/st1/1.1/value {\"seq\":1,") != std::string::npos;
      },
      90s))
      << Received() << Err();
  close(fd);
}

TEST_F(ValuesOutTest, AStalledOrHostileBrokerNeitherHoldsServingNorGrowsTheProgram) {
  auto length = [](size_t n) {
    std::string bytes;
    do {
      unsigned char b = n % 128;
      n /= 128;
      if (n > 0) b |= 128;
      bytes += static_cast<char>(b);
    } while (n > 0);
    return bytes;
  };
  const size_t total = size_t{200} << 20;
  const std::string chunk(64 * 1024, 'x');
  const std::string payload(1000, 'x');
  struct Case {
    const char* what;
    FakeBroker::Then then;
  };
  const std::vector<Case> cases = {
      // Takes the connection and then reads nothing more: nothing is ever acknowledged.
      {"a broker that stalls",
       [](int, const std::atomic<bool>& stop) {
         while (!stop) std::this_thread::sleep_for(20ms);
       }},
      // One PUBLISH of 200 MB, sent as fast as the program takes it.
      {"one PUBLISH of 200 MB",
       [&](int fd, const std::atomic<bool>& stop) {
         const std::string header = "\x30" + length(total) + std::string("\0\1t", 3);
         Flood(fd, stop, [&](size_t k) {
           if (k == 0) return header;
           return (k - 1) * chunk.size() < total ? chunk : std::string();
         });
       }},
      // 200,000 QoS 2 messages of 1,000 bytes, none of them ever released.
      {"a flood of QoS 2 PUBLISH",
       [&](int fd, const std::atomic<bool>& stop) {
         Flood(fd, stop, [&](size_t k) {
           if (k >= 200000) return std::string();
           const auto id = static_cast<unsigned>(k % 65535 + 1);
           return "\x34" + length(5 + payload.size()) + std::string("\0\1t", 3) +
                  static_cast<char>(id >> 8) + static_cast<char>(id & 0xff) + payload;
         });
       }},
  };
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeBroker broker(c.then);
    Write("Velk_VCP.CFG", FaultSettings() + "603:mqtt://127.0.0.1:" +
                              std::to_string(broker.port()) + "\r\n605:st1\r\n");
    const std::string tag = "run" + std::to_string(++run);
    const pid_t pid = Start(Options{}, tag);
    ASSERT_TRUE(WaitUntilServing(tag)) << Err(tag);
    const int fd = OpenPort("COM5");
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WaitFor([&] { return broker.connections() > 0; })) << Err(tag);
    // Served as ever while the broker does its worst for 3 s.
    for (int k = 0; k < 30; ++k) {
      ASSERT_EQ(Ask(fd, "M1\r", 14), "10:+0001.234\r\n") << k;
      std::this_thread::sleep_for(100ms);
    }
    // The program took in no more than acknowledgements (it starts at about 20 MB; a sanitizer's
    // quarantine keeps what was freed, so memory is measured in the plain build only).
    if (MemoryIsMeasurable()) {
      EXPECT_LT(ResidentMb(pid), 100u);
    }
    // Switching MQTT off takes no longer than a reload that keeps it: it does not wait for the
    // broker (before, it held serving for 2 s more).
    auto timed = [&](const std::string& command) {
      const auto before = std::chrono::steady_clock::now();
      EXPECT_EQ(Shell(std::string(VELK_CONFIG_TOOL) + " --dir " + Path("") + " " + command), 0);
      return std::chrono::steady_clock::now() - before;
    };
    const auto reload = timed("reload");
    EXPECT_LT(timed("mqtt off"), reload + 1s);
    EXPECT_EQ(Ask(fd, "M8\r", 14), "80:+000002.5\r\n");
    if (MemoryIsMeasurable()) {
      EXPECT_LT(ResidentMb(pid), 100u);
    }
    close(fd);
    EXPECT_EQ(Stop(pid), 0) << Err(tag);
  }
}

TEST_F(ValuesOutTest, AHandOverKeepsTheStationOnlineAndAStopSaysOfflineOnce) {
  StartBroker();
  Subscribe();
  WriteSettings();
  auto said = [&](const std::string& word) { return Count(Received(), "velk/st1/status " + word); };
  size_t offline = 0;  // said by the runs before
  // Without windows, and with them (offscreen).
  for (const bool desktop : {false, true}) {
    SCOPED_TRACE(desktop ? "with windows" : "headless");
    const std::string tag = desktop ? "desktop" : "headless";
    const std::string served = desktop ? "simulates COM5" : "serving;";
    const size_t online = said("online");
    Options options;
    options.desktop = desktop;
    const pid_t pid = Start(options, tag);
    ASSERT_TRUE(WaitUntilServing(tag)) << Err(tag);
    ASSERT_TRUE(WaitFor([&] { return said("online") == online + 1; })) << Received();
    const size_t sockets = Sockets(pid);
    for (size_t k = 2; k <= 4; ++k) {
      kill(pid, SIGUSR2);
      ASSERT_TRUE(WaitFor([&] { return Count(Out(tag), served) == k; })) << Out(tag) << Err(tag);
      ASSERT_TRUE(WaitFor([&] { return said("online") == online + k; })) << Received();
    }
    // Each run left the broker with a DISCONNECT and took no socket along: the broker has no
    // connection of an old run to end a keepalive later with its last will.
    EXPECT_EQ(Sockets(pid), sockets);
    EXPECT_EQ(said("offline"), offline) << Received();
    EXPECT_EQ(Read("broker.log").find("closing old connection"), std::string::npos)
        << Read("broker.log");
    // A normal stop says "offline" once, and no last will follows it.
    EXPECT_EQ(Stop(pid), 0) << Err(tag);
    EXPECT_TRUE(WaitFor([&] { return said("offline") == offline + 1; })) << Received();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(said("offline"), ++offline) << Received();
  }
}

TEST_F(ValuesOutTest, TextsLeaveInUtf8AndInertInASpreadsheetAndNoValueHasNoNumber) {
  StartBroker();
  Subscribe();
  // A station name in the settings' 8-bit encoding that a spreadsheet would run as a formula.
  Write("Velk_VCP.CFG", FaultSettings() + "1000:3\r\n600:1\r\n603:mqtt://127.0.0.1:" +
                            std::to_string(port_) + "\r\n605:=Halle \xfc\r\n");
  Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  ASSERT_TRUE(WaitFor([&] {
    return Received().find("velk/=Halle ü/status online") != std::string::npos;
  })) << Received();
  // A client program with a name beyond ASCII, as the system gives it (UTF-8).
  const std::string client = Path("Prüfgerät");
  ASSERT_EQ(Shell("cp /bin/bash '" + client + "'"), 0);
  ASSERT_EQ(Shell("'" + client + "' -c \"exec 3<>'" + Path("ports/COM5") +
                  "'; printf 'M1\\rM2\\r' >&3; read -t 2 -N 1000 answers <&3; true\""),
            0);
  ASSERT_TRUE(WaitFor([&] { return HistoryRows() == 2 && Seqs(Received()).size() == 2; }))
      << Values() << Received();
  auto status = [&] {
    Shell(std::string(VELK_CONFIG_TOOL) + " --dir " + Path("") + " status --json >" +
          Path("status.out"));
    return Read("status.out");
  };
  // The status messages ("online") are not counted as published values.
  EXPECT_TRUE(WaitFor([&] {
    return status().find(R"("mqtt":{"dropped":0,"published":2,)") != std::string::npos;
  })) << status();

  struct Case {
    const char* where;
    std::string text;
    std::vector<std::string> contains;
  };
  const std::vector<Case> cases = {
      {"MQTT",
       Received(),
       {R"("station":"=Halle ü")", " Prüfgerät\",\"gauge\":\"1.1\",\"number\":1.234,",
        R"("gauge":"1.2","number":null,"text":"20:NO VALUE\r\n","status":"no_value")"}},
      {"JSON",
       Values("--json"),
       {R"("station":"=Halle ü")", " Prüfgerät\",\"gauge\":\"1.1\",\"number\":1.234,",
        R"("gauge":"1.2","number":null,)"}},
      {"CSV",
       Values("--csv"),
       {",'=Halle ü,1,COM5,", " Prüfgerät,1.1,1.234,10:+0001.234<13><10>,valid,",
        " Prüfgerät,1.2,,20:NO VALUE<13><10>,no_value,"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    for (const std::string& part : c.contains) {
      EXPECT_NE(c.text.find(part), std::string::npos) << part << "\n" << c.text;
    }
    // Nothing encoded twice (ü as "Ã¼").
    EXPECT_EQ(c.text.find("Ã"), std::string::npos) << c.text;
  }
}

TEST_F(ValuesOutTest, AHistoryThatCannotBeOpenedIsReportedAndNeverHangsTheProgram) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
  };
  const std::vector<Case> cases = {
      {"a FIFO", [](const std::string& p) { mkfifo(p.c_str(), 0600); }},
      {"a folder", [](const std::string& p) { mkdir(p.c_str(), 0700); }},
  };
  const std::string db = Path("Velk_VCP.values.db");
  const std::string tool = "timeout 20 " + std::string(VELK_CONFIG_TOOL) + " --dir " + Path("");
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.make(db);
    Write("Velk_VCP.CFG", FaultSettings());
    std::string tag = "run" + std::to_string(++run);
    pid_t pid = Start(Options{}, tag);
    ASSERT_TRUE(WaitUntilServing(tag)) << Err(tag);
    // Switched on while the program runs: refused truthfully (exit status 3, the reason), the
    // settings file as it was.
    const std::string before = Read("Velk_VCP.CFG");
    EXPECT_EQ(Shell(tool + " history on 2>" + Path("tool.err")), 3 << 8) << Read("tool.err");
    EXPECT_NE(Read("tool.err").find("not a regular file"), std::string::npos) << Read("tool.err");
    EXPECT_TRUE(Read("Velk_VCP.CFG") == before);
    int fd = OpenPort("COM5");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Ask(fd, "M1\r", 14), "10:+0001.234\r\n");
    close(fd);
    EXPECT_EQ(Stop(pid), 0);
    // The program went on with the settings it had, and wrote those at its end.
    EXPECT_EQ(Read("Velk_VCP.CFG").find("600:1"), std::string::npos);
    // On at the start: the program serves without it and says why.
    Write("Velk_VCP.CFG", "600:1\r\n" + FaultSettings());
    tag = "run" + std::to_string(++run);
    pid = Start(Options{}, tag);
    ASSERT_TRUE(WaitUntilServing(tag)) << Err(tag);
    // Said as the listeners start, which may be just after the ports are announced.
    EXPECT_TRUE(WaitFor([&] {
      return Err(tag).find("value history off: Velk_VCP.values.db: not a regular file") !=
             std::string::npos;
    })) << Err(tag);
    fd = OpenPort("COM5");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Ask(fd, "M1\r", 14), "10:+0001.234\r\n");
    close(fd);
    // Read back: refused, not waited on.
    EXPECT_EQ(Shell(tool + " values >/dev/null 2>" + Path("tool.err")), 1 << 8) << Read("tool.err");
    EXPECT_NE(Read("tool.err").find("not a regular file"), std::string::npos) << Read("tool.err");
    EXPECT_EQ(Stop(pid), 0);
    Shell("rm -rf '" + db + "'");
  }
}

// A history whose disk stalls (another connection holds the database's write lock) switched
// off and on again with a new bound while a client asks: the answers keep coming, each change
// of the tool returns at once with exit status 0 (the history that goes finishes its queue on
// its own thread; the next one writes the file after it), and once the lock goes every value
// queued before, during and after the changes is in the file, which stays whole.
TEST_F(ValuesOutTest, AHistoryOnAStalledDiskIsSwitchedOffAndOnWithoutHoldingAnswersOrLosingValues) {
  Write("Velk_VCP.CFG", "600:1\r\n" + FaultSettings());
  const pid_t pid = Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  auto ask = [&](int times) {
    for (int i = 0; i < times; ++i) ASSERT_EQ(Ask(fd, "M1\r", 14), "10:+0001.234\r\n") << i;
  };
  ask(10);
  ASSERT_TRUE(WaitFor([&] { return HistoryRows() == 10; })) << Values();
  const std::string db = Path("Velk_VCP.values.db");
  const pid_t holder = fork();
  if (holder == 0) {
    setpgid(0, 0);
    execl("/bin/sh", "sh", "-c",
          // Waits for the lock while the program writes (the record's marks, the audit).
          ("{ echo '.timeout 20000'; echo 'BEGIN EXCLUSIVE;'; exec sleep 120; } | exec sqlite3 '" +
           db + "'")
              .c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(holder, 0);
  setpgid(holder, holder);
  const std::string tryWrite = "sqlite3 '" + db + "' 'BEGIN IMMEDIATE; ROLLBACK;' 2>/dev/null";
  ASSERT_TRUE(WaitFor([&] { return Shell(tryWrite) != 0; })) << "the lock was not taken";
  const std::string tool = std::string(VELK_CONFIG_TOOL) + " --dir " + Path("") + " ";
  ask(10);
  EXPECT_EQ(Shell(tool + "history off 2>" + Path("tool.err")), 0) << Read("tool.err");
  ask(5);  // not recorded: the history is off
  EXPECT_EQ(Shell(tool + "history on --max-mb 8 2>" + Path("tool.err")), 0) << Read("tool.err");
  ask(10);
  EXPECT_EQ(Shell(tool + "history on --max-mb 16 2>" + Path("tool.err")), 0) << Read("tool.err");
  ask(10);
  kill(-holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_TRUE(WaitFor([&] { return HistoryRows() == 40; }, 30s)) << Values() << Err();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(HistoryRows(), 40u);
  EXPECT_EQ(Shell("test \"$(sqlite3 '" + db + "' 'PRAGMA integrity_check')\" = ok"), 0);
  close(fd);
  EXPECT_EQ(Stop(pid), 0) << Err();
}

}  // namespace
