// The values the engine announces to the history and MQTT: with the port that answered them
// and the client that asked, never delaying an answer.
#include <gtest/gtest.h>

#include "bridge_fixture.h"
#include "holder_lookup.h"

namespace {

class ValueAnnouncementTest : public EngineTest {};

// Keeps the values the engine announces, as the history would store them.
class KeptValues : public IValueEvents {
 public:
  void Announce(const SentValue& v) override {
    kept.push_back("slot " + std::to_string(v.slot) + " COM" + std::to_string(v.com) + " " +
                   std::string(v.text.substr(0, v.text.find('\r'))) +
                   (v.client.empty() ? "" : " by " + std::string(v.client)));
  }
  void Flush(int64_t) override {}
  std::vector<std::string> kept;
};

TEST_F(ValueAnnouncementTest, EveryPortRecordsEachValueWithThePortThatAnswered) {
  UsePreset(0);
  UseInput(1, 1, "1", "10");
  UseInput(1, 2, "2", "20");
  s.VcpCom2 = 6;
  s.AnswerEveryPort = 1;
  KeptValues values;
  Start();
  bridge->SetValueEvents(&values);
  PortClient second(PortPath(1));
  ASSERT_TRUE(second.ok());
  Idle(3);
  // Both clients named before they ask, so that neither value waits for its client's name and
  // the two are recorded in the order they were answered.
  ASSERT_TRUE(WaitForHolderLookups(20000));
  Idle(3);
  EXPECT_EQ(Exchange("M2\r", 14, &second), "20:+000002.5\r\n");
  EXPECT_EQ(Exchange("M1\r", 14), "10:+0001.234\r\n");
  EXPECT_EQ(bridge->CurrentPort(), 0);
  // Recorded once the ports know who their clients are (looked up on a thread of their own).
  ASSERT_TRUE(WaitForHolderLookups(20000));
  Idle(10);
  EXPECT_EQ(values.kept,
            (std::vector<std::string>{"slot 2 COM6 20:+000002.5", "slot 1 COM5 10:+0001.234"}));
  bridge->SetValueEvents(nullptr);
}

// Slot 1's pty, slow to find out who its client is, as on a machine with many processes.
class SlowToNamePort : public IVirtualPort {
 public:
  explicit SlowToNamePort(PtyPort& pty) : pty_(pty) {}
  bool CreatePort(const std::string& name) override { return pty_.CreatePort(name); }
  void DeletePort() override { pty_.DeletePort(); }
  void WriteData(const uint8_t* data, int32_t count) override { pty_.WriteData(data, count); }
  void ReadData(uint8_t* data, int32_t& count) override { pty_.ReadData(data, count); }
  bool IsOpened() override { return pty_.IsOpened(); }
  int32_t InCount() override { return pty_.InCount(); }
  void ResetPort() override { pty_.ResetPort(); }
  void RemoveStalePorts() override {}
  void Pump() override { pty_.Pump(); }
  uint32_t ClientSession() override { return pty_.ClientSession(); }
  const std::string& ClientName() override { return known ? name : none; }
  bool ClientNameKnown() override { return known; }

  bool known = false;
  std::string name = "4242 spc.exe";

 private:
  PtyPort& pty_;
  const std::string none;
};

TEST_F(ValueAnnouncementTest, ValuesWaitForTheClientsNameAnswersDoNot) {
  UsePreset(0);
  UseInput(1, 1, "1", "10");
  UseInput(1, 2, "2", "20");
  SlowToNamePort slow(*ports[0]);
  bridge = std::make_unique<PortBridge>(
      view, library, std::array<IVirtualPort*, 4>{&slow, ports[1].get(), nullptr, nullptr}, keys,
      s);
  KeptValues values;
  Start();
  bridge->SetValueEvents(&values);
  // Answered at once; recorded only once the port knows who asked, with that name, in order.
  EXPECT_EQ(Exchange("M1\r", 14), "10:+0001.234\r\n");
  EXPECT_EQ(Exchange("M2\r", 14), "20:+000002.5\r\n");
  Idle(10);
  EXPECT_TRUE(values.kept.empty());
  slow.known = true;
  Idle(10);
  EXPECT_EQ(values.kept, (std::vector<std::string>{"slot 1 COM5 10:+0001.234 by 4242 spc.exe",
                                                   "slot 1 COM5 20:+000002.5 by 4242 spc.exe"}));
  bridge->SetValueEvents(nullptr);
}

}  // namespace
