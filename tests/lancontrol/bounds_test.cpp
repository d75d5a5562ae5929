// Every export returns within a bound, whatever the peer does: peers that trickle trigger
// records without end, never read, or never accept; closers on other threads; process exit
// during a blocked call; and a peer that closes is closed on our side at once.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "hostile_peer.h"
#include "lan_control_library.h"

namespace velk::lan::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Kind = HostilePeer::Kind;

const LanControlLibrary& Lib() { return LanControlLibrary::Get(); }

// Runs `action` and returns how long it took.
Clock::duration Timed(const std::function<void()>& action) {
  const auto start = Clock::now();
  action();
  return Clock::now() - start;
}

// Control_DeInit of `slot` from another thread, `after` the call has started.
Clock::duration DeInitFromAnotherThread(int16_t slot, Clock::duration after) {
  Clock::duration took{};
  std::thread closer([&] {
    std::this_thread::sleep_for(after);
    took = Timed([&] { Lib().Control_DeInit(slot); });
  });
  closer.join();
  return took;
}

// Starts a child process that runs `body` on a second thread and then ends the process with
// exit(0) at once; returns how long the child took to end (or 30 s when it was killed).
Clock::duration ExitDuringCall(const std::function<void()>& body) {
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    std::thread call(body);
    call.detach();
    std::this_thread::sleep_for(300ms);
    exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() - start > 30s) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return 30s;
    }
    std::this_thread::sleep_for(10ms);
  }
  return Clock::now() - start;
}

struct BoundCase {
  const char* name;
  Kind peer;
  // Runs against the peer on slot 0 (connected first unless the peer never accepts) and
  // returns how long the bounded part took.
  std::function<Clock::duration(HostilePeer&)> run;
  Clock::duration bound;
};

TEST(BoundsTest, EveryCallReturnsWithinItsBoundAgainstHostilePeers) {
  const LanControlLibrary& lib = Lib();
  ASSERT_NE(lib.handle, nullptr);
  const BoundCase cases[] = {
      {"a read while records trickle in without end", Kind::kTrickle,
       [&](HostilePeer& peer) {
         std::this_thread::sleep_for(100ms);
         double value = 0;
         const auto took = Timed([&] { lib.Control_GetActCharValue(0, 1, &value); });
         int16_t number = -1;
         EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 0);
         EXPECT_EQ(number, 0);
         EXPECT_GT(peer.RecordsSent(), 0);
         return took;
       },
       4s},
      {"Control_Get_GTrigVal while records trickle in", Kind::kTrickle,
       [&](HostilePeer&) {
         int16_t number = 0;
         double value = 0;
         return Timed([&] { lib.Control_Get_GTrigVal(0, &number, &value); });
       },
       4s},
      {"Control_DeInit from another thread during a trickled call", Kind::kTrickle,
       [&](HostilePeer&) {
         std::thread caller([&] {
           double value = 0;
           for (int i = 0; i < 5; ++i) lib.Control_GetActCharValue(0, 1, &value);
         });
         const auto took = DeInitFromAnotherThread(0, 150ms);
         caller.join();
         return took;
       },
       1s},
      {"requests to a peer that never reads, until the send stalls", Kind::kNeverReads,
       [&](HostilePeer&) {
         const std::string unit(96, 'u');
         Clock::duration longest{};
         // Its "ok" lines answer each request (or, cut by a drain, give 2) until the send stalls.
         int32_t result = 0;
         const auto start = Clock::now();
         while (result != 1 && Clock::now() - start < 60s) {
           longest = std::max(
               longest, Timed([&] { result = lib.Control_Set_CharUnit(0, 1, unit.c_str()); }));
         }
         EXPECT_EQ(result, 1) << "the send never stalled";
         longest = std::max(longest, Timed([&] { lib.Control_DeInit(0); }));
         return longest;
       },
       4s},
      {"Control_Init to a peer that never accepts gives 1", Kind::kNeverAccepts,
       [&](HostilePeer& peer) {
         int32_t result = -1;
         const auto took = Timed([&] { result = lib.Control_Init(0, "127.0.0.1", peer.port()); });
         EXPECT_EQ(result, 1);
         return took;
       },
       10s},
      {"Control_DeInit from another thread abandons a hanging Control_Init", Kind::kNeverAccepts,
       [&](HostilePeer& peer) {
         int32_t result = -1;
         Clock::duration init_took{};
         std::thread caller([&] {
           init_took = Timed([&] { result = lib.Control_Init(0, "127.0.0.1", peer.port()); });
         });
         const auto deinit_took = DeInitFromAnotherThread(0, 300ms);
         caller.join();
         EXPECT_EQ(result, 1);
         EXPECT_LT(init_took, 2s);
         return deinit_took;
       },
       1s},
      {"process exit during a hanging Control_Init", Kind::kNeverAccepts,
       [&](HostilePeer& peer) {
         return ExitDuringCall([&] { lib.Control_Init(0, "127.0.0.1", peer.port()); });
       },
       3s},
      {"process exit during a trickled call", Kind::kTrickle,
       [&](HostilePeer&) {
         return ExitDuringCall([&] {
           double value = 0;
           for (;;) lib.Control_GetActCharValue(0, 1, &value);
         });
       },
       3s},
  };
  for (const BoundCase& test : cases) {
    SCOPED_TRACE(test.name);
    HostilePeer peer(test.peer);
    ASSERT_TRUE(peer.Start());
    if (test.peer != Kind::kNeverAccepts) {
      ASSERT_EQ(lib.Control_Init(0, "127.0.0.1", peer.port()), 0);
    }
    const Clock::duration took = test.run(peer);
    EXPECT_LT(took, test.bound) << std::chrono::duration<double>(took).count() << " s";
    lib.Control_DeInit(0);
  }
}

// Returns whether a TCP socket to `port` on this machine is in CLOSE-WAIT (the peer has
// closed, this side has not).
bool HasCloseWaitSocketTo(uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (state == "08" && std::stoul(remote.substr(remote.find(':') + 1), nullptr, 16) == port) {
      return true;
    }
  }
  return false;
}

TEST(BoundsTest, APeerThatClosesIsClosedAtOnceAndItsRecordsStayReadable) {
  const LanControlLibrary& lib = Lib();
  ASSERT_NE(lib.handle, nullptr);
  QentrixPeer peer;
  ASSERT_TRUE(peer.Start());
  ASSERT_EQ(lib.Control_Init(12, "127.0.0.1", peer.port()), 0);
  ASSERT_TRUE(peer.WaitForConnections(1, 2s));
  peer.Push(QentrixPeer::TriggerRecord(1, 1.5) + QentrixPeer::TriggerRecord(2, 2.5));
  ASSERT_TRUE(peer.WaitUntilSent(2s));
  std::this_thread::sleep_for(100ms);
  peer.CloseConnections();
  ASSERT_TRUE(peer.WaitForConnections(0, 2s));

  const auto start = Clock::now();
  while (HasCloseWaitSocketTo(peer.port()) && Clock::now() - start < 5s) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(HasCloseWaitSocketTo(peer.port()));
  for (int16_t expected : {1, 2}) {
    int16_t number = 0;
    double value = 0;
    EXPECT_EQ(lib.Control_Get_GTrigVal(12, &number, &value), 0);
    EXPECT_EQ(number, expected);
    EXPECT_EQ(value, expected + 0.5);
  }
  double value = 0;
  EXPECT_EQ(lib.Control_GetActCharValue(12, 1, &value), 1);
  lib.Control_DeInit(12);
}

}  // namespace
}  // namespace velk::lan::testing
