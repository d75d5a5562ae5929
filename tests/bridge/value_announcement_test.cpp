// The values the engine announces to the history and MQTT: with the port that answered them
// and the client that asked, the input's name and unit and the limits in force, never delaying
// an answer.
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

// Keeps what describes each value announced: the input's label and the limits.
class KeptDescriptions : public IValueEvents {
 public:
  void Announce(const SentValue& v) override {
    kept.push_back(
        {v.label ? v.label->name : "(none)", v.label ? v.label->unit : "(none)", v.limits});
  }
  void Flush(int64_t) override {}
  struct Description {
    std::string name, unit;
    ValueLimits limits;
    bool operator==(const Description&) const = default;
  };
  std::vector<Description> kept;
};

TEST_F(ValueAnnouncementTest, AValueCarriesItsInputsNameUnitAndTheLimitsInForce) {
  work.Write("Velk_VCP.DDK",
             "device: 1\ninput: 1\nname: Caliper\nunit: mm\nvalue: 1.234\n"
             "input: 2\nvalue: 2.5\n");
  UsePreset(0);
  UseInput(1, 1, "1", "10");
  UseInput(1, 2, "2", "20");
  KeptDescriptions values;
  Start();
  bridge->SetValueEvents(&values);
  ASSERT_TRUE(WaitForHolderLookups(20000));
  // A limit command is taken without an answer (this preset has none); a value is answered.
  auto ask = [&](const std::string& command) { Exchange(command, command[0] == 'M' ? 4 : 0); };
  using D = KeptDescriptions::Description;
  const std::optional<double> none;
  struct Step {
    const char* what;
    std::vector<std::string> commands;  // the last one sends a value
    D want;
  };
  const Step steps[] = {
      {"no limit set yet", {"M1\r"}, {"Caliper", "mm", {}}},
      {"USL and LSL set",
       {"USL1,1.5\r", "LSL1,1\r", "M1\r"},
       {"Caliper", "mm", {1.5, none, none, 1}}},
      {"UCL and LCL beside them",
       {"UCL1,1.4\r", "LCL1,1.1\r", "M1\r"},
       {"Caliper", "mm", {1.5, 1.4, 1.1, 1}}},
      {"USL set below LSL: LSL back to its start value, not set",
       {"USL1,0.5\r", "M1\r"},
       {"Caliper", "mm", {0.5, 1.4, 1.1, none}}},
      {"another input: its own limits, no name or unit in the file", {"M2\r"}, {"", "", {}}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    values.kept.clear();
    for (const std::string& command : step.commands) ask(command);
    EXPECT_EQ(values.kept, std::vector<D>{step.want});
  }
  // The settings taken anew rebuild the command table: the limits are back to their start
  // values in the engine (the device library keeps its own), and so in the record.
  bridge->CreateCommandTab();
  values.kept.clear();
  ask("M1\r");
  EXPECT_EQ(values.kept, (std::vector<D>{{"Caliper", "mm", {}}}));
  bridge->SetValueEvents(nullptr);
}

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
