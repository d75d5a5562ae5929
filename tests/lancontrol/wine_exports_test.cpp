// The Windows build of the library (Velk_Qentrix_Control.dll) under Wine: its export table,
// and its exports driven through the test program velk-qentrix-probe.exe against peers on
// 127.0.0.1 (request bytes, results, date text, triggers, time-outs, 100 slots, the bounds
// against hostile peers, a socket library that cannot be loaded). Run by
// tools/test-windows.sh, which builds the DLL, prepares Wine and sets VELK_WINDOWS_DLL and
// VELK_WINDOWS_PROBE.
#include <fcntl.h>
#include <gtest/gtest-spi.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <thread>

#include "hostile_peer.h"
#include "lan_control_library.h"

namespace velk::lan::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Peer = QentrixPeer;

// A probe that dies leaves its pipe without a reader: the write fails (EPIPE) and the test
// says so, instead of the signal ending the whole run.
const bool kWritesToAGonePeerFail = [] {
  signal(SIGPIPE, SIG_IGN);
  return true;
}();

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// One parsed answer of the probe: "result R ms T [OUTPUT]".
struct Outcome {
  int result = -1;
  long ms = -1;
  std::string output;
  long deinit_ms = -1;
};

Outcome Parse(const std::string& line) {
  Outcome outcome;
  std::istringstream in(line);
  std::string word;
  in >> word;
  if (word != "result") return outcome;
  in >> outcome.result >> word >> outcome.ms;
  std::string rest;
  std::getline(in, rest);
  const std::size_t deinit = rest.find(" deinit-ms ");
  if (deinit != std::string::npos) {
    outcome.deinit_ms = std::stol(rest.substr(deinit + 11));
    rest.erase(deinit);
  }
  if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
  outcome.output = rest;
  return outcome;
}

// velk-qentrix-probe.exe running under Wine, fed through pipes.
class WineProbe {
 public:
  // With `resolv_conf`, the probe runs in user, mount and network namespaces of its own:
  // "none" leaves every interface down, so its name look-ups reach no name server; a file
  // is mounted over /etc/resolv.conf, the loopback interface is up and a name server on
  // 127.0.0.1 swallows every query.
  explicit WineProbe(const char* dll_overrides = nullptr, const char* resolv_conf = nullptr) {
    const std::string probe = Environment("VELK_WINDOWS_PROBE");
    if (probe.empty()) return;
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      if (dll_overrides != nullptr) setenv("WINEDLLOVERRIDES", dll_overrides, 1);
      if (resolv_conf != nullptr && std::string(resolv_conf) == "none") {
        execlp("unshare", "unshare", "-rn", "wine", probe.c_str(), static_cast<char*>(nullptr));
      }
      if (resolv_conf != nullptr) {
        const char* script =
            "ip link set lo up && mount --bind \"$1\" /etc/resolv.conf || exit 1;"
            "socat -u UDP4-RECV:53,bind=127.0.0.1 /dev/null &"
            // The name server must listen before the first query: one sent earlier is refused
            // at once (on a loaded machine socat can start after Wine has asked).
            "for i in $(seq 200); do ss -Hlun 'sport = :53' | grep -q . && break; sleep 0.05; done;"
            "wine \"$2\"; kill $!; wait";
        execlp("unshare", "unshare", "-rnm", "sh", "-c", script, "sh", resolv_conf, probe.c_str(),
               static_cast<char*>(nullptr));
      }
      execlp("wine", "wine", probe.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~WineProbe() {
    if (pid_ > 0 && write(to_, "quit\n", 5) == 5 && !WaitForExit(10s)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    } else if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (to_ >= 0) close(to_);
    if (from_ >= 0) close(from_);
  }
  WineProbe(const WineProbe&) = delete;
  WineProbe& operator=(const WineProbe&) = delete;

  bool Running() const { return pid_ > 0; }

  void Send(const std::string& line) {
    const std::string bytes = line + "\n";
    if (write(to_, bytes.data(), bytes.size()) < 0) {
      ADD_FAILURE() << "cannot send \"" << line << "\" (" << std::strerror(errno)
                    << "): " << State();
    }
  }

  // Kills the probe and waits for it to end, as a probe that crashes.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    ended_ = "the probe was killed by signal " + std::to_string(WTERMSIG(status));
  }

  // What became of the probe process: running, or how it ended.
  std::string State() {
    if (pid_ <= 0) return ended_.empty() ? "not started" : ended_;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return "the probe runs but does not answer";
    pid_ = -1;
    ended_ = WIFEXITED(status)
                 ? "the probe exited with status " + std::to_string(WEXITSTATUS(status))
                 : "the probe was killed by signal " + std::to_string(WTERMSIG(status));
    return ended_;
  }

  // Sends `line` and returns the probe's answer line ("" after `timeout`).
  std::string Ask(const std::string& line, std::chrono::milliseconds timeout = 30s) {
    Send(line);
    const auto deadline = Clock::now() + timeout;
    std::string answer;
    for (;;) {
      const std::size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        answer = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        if (!answer.empty() && answer.back() == '\r') answer.pop_back();
        return answer;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd entry{from_, POLLIN, 0};
      if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) return "";
      char chunk[512];
      const ssize_t got = read(from_, chunk, sizeof chunk);
      if (got <= 0) return "";
      buffer_.append(chunk, static_cast<std::size_t>(got));
    }
  }

  // Asks line; no answer (the probe gone or silent for 30 s) fails the test with the reason.
  Outcome Call(const std::string& line) {
    const std::string answer = Ask(line);
    if (answer.empty()) ADD_FAILURE() << "no answer to \"" << line << "\": " << State();
    return Parse(answer);
  }

  // Waits for the probe process to end. Returns false on time-out.
  bool WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      int status = 0;
      if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) == pid_) {
        if (pid_ > 0) ended_ = "the probe exited";
        pid_ = -1;
        return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
  std::string buffer_;
  std::string ended_;
};

// How much later than a plain exit (a probe that has nothing running) the probe ends when
// told "exit-during 300 LINE": Wine's own exit, which a loaded machine makes slow, is left
// out of the bound.
long ExitDelayOver(WineProbe& probe, const std::string& line) {
  auto exit_time = [](WineProbe& exiting, const std::string& running) {
    const auto start = Clock::now();
    exiting.Send("exit-during 300 " + running);
    EXPECT_TRUE(exiting.WaitForExit(20s)) << exiting.State();
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  };
  WineProbe plain;
  EXPECT_EQ(plain.Ask("ws2").rfind("started ", 0), 0u) << plain.State();
  const long baseline = exit_time(plain, "ws2");
  return exit_time(probe, line) - baseline;
}

std::string Connect(int slot, uint16_t port) {
  return "init " + std::to_string(slot) + " 127.0.0.1 " + std::to_string(port);
}

// A probe that dies under a test fails that test with the reason, and the run goes on.
TEST(WineExportsTest, AProbeThatDiesFailsTheTestWithItsReason) {
  WineProbe probe;
  ASSERT_TRUE(probe.Running());
  ASSERT_EQ(probe.Ask("ws2").rfind("started ", 0), 0u);
  probe.Kill();
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    probe.Call("ws2");
  }
  std::string messages;
  for (int i = 0; i < failures.size(); ++i) messages += failures.GetTestPartResult(i).message();
  EXPECT_GE(failures.size(), 1);
  EXPECT_NE(messages.find("no answer to \"ws2\": the probe was killed by signal 9"),
            std::string::npos)
      << messages;
}

TEST(WineExportsTest, ExportTableHoldsExactlyTheThirtySixFunctionsByPlainName) {
  const std::string dll = Environment("VELK_WINDOWS_DLL");
  ASSERT_FALSE(dll.empty()) << "VELK_WINDOWS_DLL not set (run tools/test-windows.sh)";
  FILE* dump = popen(("x86_64-w64-mingw32-objdump -p '" + dll + "'").c_str(), "r");
  ASSERT_NE(dump, nullptr);
  std::set<std::string> exported;
  std::set<std::string> imported;
  bool in_names = false;
  char line[512];
  while (std::fgets(line, sizeof line, dump) != nullptr) {
    const std::string text(line);
    if (text.find("[Ordinal/Name Pointer] Table") != std::string::npos) in_names = true;
    if (in_names && text == "\n") in_names = false;
    char name[400];
    int ordinal = 0;
    if (in_names && std::sscanf(line, " [%d] %399s", &ordinal, name) == 2) exported.insert(name);
    if (std::sscanf(line, " DLL Name: %399s", name) == 1) imported.insert(name);
  }
  ASSERT_EQ(pclose(dump), 0);
  const std::set<std::string> expected = {
#define VELK_EXPORT_NAME(name) #name,
      VELK_QENTRIX_EXPORTS(VELK_EXPORT_NAME)
#undef VELK_EXPORT_NAME
  };
  EXPECT_EQ(exported, expected);
  // The socket library is loaded at run time, not imported.
  EXPECT_EQ(imported, (std::set<std::string>{"KERNEL32.dll", "msvcrt.dll"}));
}

struct ExportCase {
  std::vector<Peer::Reply> replies;
  std::string call;  // after "call 0 "
  int result;
  std::string output;                 // expected on result 0
  std::vector<std::string> requests;  // bytes the peer must have received
};

TEST(WineExportsTest, RequestBytesResultsAndOutputs) {
  WineProbe probe;
  ASSERT_TRUE(probe.Running()) << "VELK_WINDOWS_PROBE not set (run tools/test-windows.sh)";
  Peer peer;
  ASSERT_TRUE(peer.Start());
  ASSERT_EQ(probe.Call(Connect(0, peer.port())).result, 0);
  Peer::Reply silent;
  silent.silent = true;
  const ExportCase cases[] = {
      {{}, "get-act-char-value 3", 0, "3.25", {Bytes({3, 1, 3})}},
      {{}, "get-char-value 2 7", 0, "2007", {Bytes({5, 2, 2, 0, 7})}},
      {{}, "get-char-val-num 4", 0, "10", {Bytes({3, 3, 4})}},
      {{}, "get-last-char-value 5", 0, "5010", {Bytes({3, 3, 5}), Bytes({5, 2, 5, 0, 10})}},
      {{Peer::Line("951782400")},
       "get-char-date-time 1 9",
       0,
       "00:00:00 - 02/29/2000",
       {Bytes({5, 5, 1, 0, 9})}},
      {{},
       "get-last-char-date-time 6",
       0,
       "14:05:09 - 05/11/2020",
       {Bytes({3, 3, 6}), Bytes({5, 5, 6, 0, 10})}},
      {{Peer::Line("0")}, "get-last-char-value 5", 3, "", {Bytes({3, 3, 5})}},
      {{}, "get-register 8", 0, "4", {Bytes({4, 30, 0, 8})}},
      {{}, "set-register 1 2.5", 0, "", {Bytes({12, 31, 0, 1}) + "2.500000"}},
      {{}, "get-register-name 7", 0, "Register 7", {Bytes({4, 32, 0, 7})}},
      {{}, "change-test-order ABC", 0, "", {Bytes({6, 51, 3}) + "ABC"}},
      {{}, "get-act-test-order", 0, "Order A", {Bytes({2, 53})}},
      {{}, "get-act-test-scheme", 0, "Scheme B", {Bytes({2, 54})}},
      {{}, "get-act-test-step", 0, "Step C", {Bytes({2, 55})}},
      {{}, "get-char-name 9", 0, "Characteristic 9", {Bytes({3, 57, 9})}},
      {{}, "set-ri-data-set 2 5 xy", 0, "", {Bytes({8, 60, 2, 0, 5, 2}) + "xy"}},
      {{}, "read-ri-data-set 2 5", 0, "Data set 2/5", {Bytes({5, 61, 2, 0, 5})}},
      {{}, "get-nominal 2", 0, "200", {Bytes({3, 70, 2})}},
      {{}, "set-usl 3 -0.001", 0, "", {Bytes({12, 73, 3}) + "-0.001000"}},
      {{}, "get-master2 1", 0, "106", {Bytes({3, 82, 1})}},
      {{}, "get-char-unit 4", 0, "mm", {Bytes({3, 84, 4})}},
      {{}, "set-char-unit 4 um", 0, "", {Bytes({5, 85, 4}) + "um"}},
      {{}, "get-stat-param 3 2", 0, "32", {Bytes({4, 90, 3, 2})}},
      {{Peer::Line("---")}, "get-act-char-value 1", 2, "", {Bytes({3, 1, 1})}},
      {{Peer::Line("no")}, "set-char-unit 1 mm", 2, "", {Bytes({5, 85, 1}) + "mm"}},
      {{Peer::Line("")}, "get-char-name 1", 1, "", {Bytes({3, 57, 1})}},
      {{silent}, "get-act-char-value 1", 1, "", {Bytes({3, 1, 1})}},
      {{}, "get-act-char-value 0", 3, "", {}},
      {{}, "get-char-value 1 65536", 4, "", {}},
      {{}, "get-register 2001", 3, "", {}},
      {{}, "set-ri-data-set 31 1 x", 3, "", {}},
  };
  for (const ExportCase& test : cases) {
    SCOPED_TRACE(test.call);
    peer.ClearRequests();
    for (const Peer::Reply& reply : test.replies) peer.QueueReply(reply);
    const Outcome outcome = probe.Call("call 0 " + test.call);
    EXPECT_EQ(outcome.result, test.result);
    if (test.result == 0) {
      EXPECT_EQ(outcome.output, test.output);
    }
    if (!test.replies.empty() && test.replies[0].silent) {
      EXPECT_GE(outcome.ms, 1900);
      EXPECT_LT(outcome.ms, 5000);
    }
    peer.WaitForRequests(test.requests.size(), 1s);
    std::vector<std::string> hex;
    for (const std::string& request : peer.Requests()) hex.push_back(Hex(request));
    std::vector<std::string> expected;
    for (const std::string& request : test.requests) expected.push_back(Hex(request));
    EXPECT_EQ(hex, expected);
  }
  probe.Ask("deinit 0");
}

TEST(WineExportsTest, TriggerRecordsComeOutOldestFirstAlsoAfterThePeerCloses) {
  WineProbe probe;
  ASSERT_TRUE(probe.Running());
  Peer peer;
  ASSERT_TRUE(peer.Start());
  ASSERT_EQ(probe.Call(Connect(4, peer.port())).result, 0);
  ASSERT_TRUE(peer.WaitForConnections(1, 5s));
  EXPECT_EQ(probe.Call("call 4 get-trigger").result, 1);
  peer.Push(Peer::TriggerRecord(1, 1.5) + Peer::TriggerRecord(2, 2.5) +
            Peer::TriggerRecord(-3, -3.5));
  ASSERT_TRUE(peer.WaitUntilSent(2s));
  std::this_thread::sleep_for(200ms);
  peer.CloseConnections();
  ASSERT_TRUE(peer.WaitForConnections(0, 2s));
  for (const char* expected : {"1 1.5", "2 2.5", "-3 -3.5"}) {
    const Outcome outcome = probe.Call("call 4 get-trigger 2000");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.output, expected);
  }
  EXPECT_EQ(probe.Call("call 4 get-trigger").result, 1);
  EXPECT_EQ(probe.Call("call 4 get-act-char-value 1").result, 1);
  probe.Ask("deinit 4");
}

// The probe runs in a network namespace of its own, so that its name look-ups reach no name
// server. Its sockets are made by the wine server, which may run outside the namespace (and
// reach the peer) or inside (and reach nothing): a dotted address is read (result 0 or 1).
TEST(WineExportsTest, HostTextsThatAreNamesAreNoAddressAndConnectNowhere) {
  Peer peer;
  ASSERT_TRUE(peer.Start());
  WineProbe probe(nullptr, "none");
  if (!probe.Running() || probe.Ask("deinit 0").empty()) {
    GTEST_SKIP() << "no network namespace for the probe";
  }
  const std::string port = " " + std::to_string(peer.port());
  for (const char* host : {"nosuchhost", "x.y", "a.b.c.d.e", "qentrix-pc.invalid"}) {
    EXPECT_EQ(probe.Call(std::string("init 0 ") + host + port).result, 2) << host;
  }
  EXPECT_EQ(peer.OpenConnections(), 0u);
  EXPECT_LE(probe.Call("init 0 127.0.0.1" + port).result, 1);
  probe.Ask("deinit 0");
}

TEST(WineExportsTest, ANameServerThatNeverAnswersIsBoundedAndAbandonable) {
  char resolv_conf[] = "/tmp/velk-wine-resolv-XXXXXX";
  const int fd = mkstemp(resolv_conf);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "nameserver 127.0.0.1\n", 21), 21);
  close(fd);
  {
    WineProbe probe(nullptr, resolv_conf);
    if (!probe.Running() || probe.Ask("deinit 0").empty()) {
      unlink(resolv_conf);
      GTEST_SKIP() << "no namespaces for the probe";
    }
    // Without a bound the resolver waits 5 s for each of two tries.
    const Outcome alone = probe.Call("init 0 gauge.silent 17000");
    EXPECT_EQ(alone.result, 1);
    EXPECT_LT(alone.ms, 8000);
    const Outcome abandoned = probe.Call("deinit-during 1 1000 init 1 other.silent 17000");
    EXPECT_EQ(abandoned.result, 1);
    EXPECT_LT(abandoned.ms, 4000);
    EXPECT_LT(abandoned.deinit_ms, 2000);
    probe.Send("exit-during 500 init 2 exit.silent 17000");
    EXPECT_TRUE(probe.WaitForExit(10s)) << "the process did not end during a look-up";
  }
  unlink(resolv_conf);
}

TEST(WineExportsTest, HundredSlotsAndSocketsStartedOnlyWhileOneIsConnected) {
  WineProbe probe;
  ASSERT_TRUE(probe.Running());
  Peer peer;
  ASSERT_TRUE(peer.Start());
  EXPECT_EQ(probe.Ask("ws2"), "started 0");
  EXPECT_EQ(probe.Call(Connect(100, peer.port())).result, 3);
  EXPECT_EQ(probe.Call(Connect(-1, peer.port())).result, 3);
  EXPECT_EQ(probe.Ask("ws2"), "started 0");
  EXPECT_EQ(probe.Call("init 0 a..b.c " + std::to_string(peer.port())).result, 2);
  for (int slot = 0; slot < 100; ++slot) {
    ASSERT_EQ(probe.Call(Connect(slot, peer.port())).result, 0) << slot;
  }
  EXPECT_TRUE(peer.WaitForConnections(100, 10s));
  EXPECT_EQ(probe.Ask("ws2"), "started 1");
  for (int slot = 0; slot < 100; ++slot) {
    const int c = slot % 128 + 1;
    const Outcome outcome =
        probe.Call("call " + std::to_string(slot) + " get-act-char-value " + std::to_string(c));
    EXPECT_EQ(outcome.result, 0) << slot;
    EXPECT_EQ(outcome.output, std::to_string(c) + ".25") << slot;
  }
  for (int slot = 0; slot < 99; ++slot) probe.Ask("deinit " + std::to_string(slot));
  EXPECT_EQ(probe.Ask("ws2"), "started 1");
  probe.Ask("deinit 99");
  EXPECT_EQ(probe.Ask("ws2"), "started 0");
  EXPECT_TRUE(peer.WaitForConnections(0, 5s));
  EXPECT_EQ(probe.Call(Connect(7, peer.port())).result, 0);
  EXPECT_EQ(probe.Ask("ws2"), "started 1");
  probe.Ask("deinit 7");
}

TEST(WineExportsTest, ASocketLibraryThatCannotBeLoadedGivesOne) {
  WineProbe probe("ws2_32=d");
  ASSERT_TRUE(probe.Running());
  Peer peer;
  ASSERT_TRUE(peer.Start());
  EXPECT_EQ(probe.Call(Connect(0, peer.port())).result, 1);
  EXPECT_EQ(probe.Ask("ws2"), "started 0");
  EXPECT_EQ(probe.Call("call 0 get-act-char-value 1").result, 1);
  EXPECT_EQ(peer.OpenConnections(), 0u);
}

struct WineBoundCase {
  const char* name;
  HostilePeer::Kind peer;
  // Runs against the peer (slot 0 connected first unless the peer never accepts); returns
  // the bounded time in ms.
  long (*run)(WineProbe& probe, HostilePeer& peer);
  long bound_ms;
};

TEST(WineExportsTest, EveryCallReturnsWithinItsBoundAgainstHostilePeers) {
  using Kind = HostilePeer::Kind;
  const WineBoundCase cases[] = {
      {"a read while records trickle in without end", Kind::kTrickle,
       [](WineProbe& probe, HostilePeer&) {
         std::this_thread::sleep_for(100ms);
         const Outcome outcome = probe.Call("call 0 get-act-char-value 1");
         EXPECT_GE(outcome.result, 0);
         EXPECT_EQ(probe.Call("call 0 get-trigger").result, 0);
         return outcome.ms;
       },
       4000},
      {"Control_DeInit from another thread during a trickled call", Kind::kTrickle,
       [](WineProbe& probe, HostilePeer&) {
         return probe.Call("deinit-during 0 150 call 0 get-act-char-value 1").deinit_ms;
       },
       1000},
      {"requests to a peer that never reads, until the send stalls", Kind::kNeverReads,
       [](WineProbe& probe, HostilePeer&) {
         const std::string line = "call 0 set-char-unit 1 " + std::string(96, 'u');
         long longest = 0;
         Outcome outcome;
         const auto start = Clock::now();
         while (outcome.result != 1 && Clock::now() - start < 90s) {
           outcome = probe.Call(line);
           longest = std::max(longest, outcome.ms);
         }
         EXPECT_EQ(outcome.result, 1) << "the send never stalled";
         return longest;
       },
       4000},
      {"Control_Init to a peer that never accepts gives 1", Kind::kNeverAccepts,
       [](WineProbe& probe, HostilePeer& peer) {
         const Outcome outcome = probe.Call(Connect(0, peer.port()));
         EXPECT_EQ(outcome.result, 1);
         return outcome.ms;
       },
       10000},
      {"Control_DeInit from another thread abandons a hanging Control_Init", Kind::kNeverAccepts,
       [](WineProbe& probe, HostilePeer& peer) {
         const Outcome outcome = probe.Call("deinit-during 0 300 " + Connect(0, peer.port()));
         EXPECT_EQ(outcome.result, 1);
         EXPECT_LT(outcome.ms, 2000);
         return outcome.deinit_ms;
       },
       1000},
      // Bounded: how much later than a plain exit the process ends (about as soon). Waiting
      // for the call would add the rest of its 5 s connect, or of its 2 s answer wait.
      {"process exit during a hanging Control_Init", Kind::kNeverAccepts,
       [](WineProbe& probe, HostilePeer& peer) {
         return ExitDelayOver(probe, Connect(0, peer.port()));
       },
       3000},
      {"process exit during a trickled call", Kind::kTrickle,
       [](WineProbe& probe, HostilePeer&) {
         return ExitDelayOver(probe, "call 0 get-act-char-value 1");
       },
       1000},
  };
  for (const WineBoundCase& test : cases) {
    SCOPED_TRACE(test.name);
    WineProbe probe;
    ASSERT_TRUE(probe.Running());
    HostilePeer peer(test.peer);
    ASSERT_TRUE(peer.Start());
    if (test.peer != Kind::kNeverAccepts) {
      ASSERT_EQ(probe.Call(Connect(0, peer.port())).result, 0);
    }
    EXPECT_LT(test.run(probe, peer), test.bound_ms);
  }
}

}  // namespace
}  // namespace velk::lan::testing
