// Unrequested values: foot-switch presses and data keys pressed through the simulated
// library's operator tool, and library answers that the simulation cannot give.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>

#include "bridge_fixture.h"

namespace {

class TriggerTest : public EngineTest {
 protected:
  void Generic() {
    UsePreset(0);
    UseInput(1, 1, "1", "10", 1);
    UseInput(1, 2, "2", "20", 1);
    UseInput(1, 3, "3", "30", 0);
    s.Inputs[1][7].MeaValAdr = "70";
  }
  // Ticks through a few trigger blocks and returns what arrived.
  std::string Blocks(int blocks = 3) { return Idle(6 * blocks + 1); }
};

TEST_F(TriggerTest, FootSwitchSendsFlaggedEntriesOncePerPress) {
  Generic();
  Start();
  const std::string values = "10:+0001.234\r\n20:+000002.5\r\n";
  ASSERT_EQ(Operator("press 1"), 0);
  EXPECT_EQ(Blocks(), values);
  EXPECT_EQ(Blocks(), "");
  ASSERT_EQ(Operator("release 1"), 0);
  EXPECT_EQ(Blocks(), "");
  EXPECT_EQ(bridge->FootSwitchDown(), 0);
  ASSERT_EQ(Operator("press 1"), 0);
  EXPECT_EQ(Blocks(), values);
  // The flags set by command decide what a press sends.
  ASSERT_EQ(Operator("release 1"), 0);
  EXPECT_EQ(Exchange("FOFF1\r", ""), "");
  EXPECT_EQ(Exchange("FON3\r", ""), "");
  ASSERT_EQ(Operator("press 1"), 0);
  EXPECT_EQ(Blocks(), "20:+000002.5\r\n30:-000000.5\r\n");
}

TEST_F(TriggerTest, AdditionalTriggersAddUpButNeedTheFirst) {
  Generic();
  s.AddInputAdr1 = "1.1";
  Start();
  ASSERT_EQ(Operator("press 1 1"), 0);
  EXPECT_EQ(Blocks(), "10:+0001.234\r\n20:+000002.5\r\n");
  ASSERT_EQ(Operator("release 1 1"), 0);
  Blocks();

  s.FsSelect = 5;  // no first foot switch: the others are not polled either
  bridge->CreateCommandTab();
  ASSERT_EQ(Operator("press 1 1"), 0);
  EXPECT_EQ(Blocks(), "");
}

TEST_F(TriggerTest, DataKeySendsTheCollectedInput) {
  Generic();
  Start();
  ASSERT_EQ(Operator("key 1 2"), 0);
  EXPECT_EQ(Blocks(), "20:+000002.5\r\n");
  ASSERT_EQ(Operator("key 1 2 4.51"), 0);
  EXPECT_EQ(Blocks(), "20:+00004.51\r\n");
  // The library names the input: 7 is answered with its own address.
  ASSERT_EQ(Operator("key 1 7"), 0);
  EXPECT_EQ(Blocks(), "70:+000007.7\r\n");
  // Switched off by command: the value waits in the library.
  EXPECT_EQ(Exchange("KOFF*\r", ""), "");
  ASSERT_EQ(Operator("key 1 1"), 0);
  EXPECT_EQ(Blocks(), "");
  // Switched on again: the waiting value follows on the next trigger block.
  EXPECT_EQ(Exchange("KON1\r", "10:+0001.234\r\n"), "10:+0001.234\r\n");
}

TEST_F(TriggerTest, DataKeysBeyondAddress120AreNotCollected) {
  UsePreset(0);
  UseInput(1, 150, "150", "15", 1);
  Start();
  ASSERT_EQ(Operator("key 1 150"), 0);
  EXPECT_EQ(Blocks(), "");
  EXPECT_EQ(Exchange("M150\r", "15:+000150.5\r\n"), "15:+000150.5\r\n");
  ASSERT_EQ(Operator("press 1"), 0);
  EXPECT_EQ(Blocks(), "15:+000150.5\r\n");
}

// A library that answers as scripted, for results the simulation never gives.
class ScriptedDevice : public IDeviceLibrary {
 public:
  void Device_PreInit() override {}
  int16_t Device_Init(int16_t, const std::string&, int32_t) override { return 0; }
  void Device_DeInit() override {}
  int16_t Device_GetName(int16_t, const std::string&, int16_t device, int16_t kind, int16_t number,
                         std::string&) override {
    return device == 1 && kind == 1 && (number == 0 || number == 1) ? 0 : 1;
  }
  void Device_Setup(int16_t, const std::string&, int32_t) override {}
  int16_t Device_Value(int16_t, int16_t, double& value) override {
    value = value_;
    return status_;
  }
  int16_t Device_Trigger(int16_t, int16_t) override { return trigger_; }
  int16_t Device_Collect(int16_t, int16_t& input, double& value) override {
    if (collects_.empty()) return 1;
    input = collects_.front().first;
    value = collects_.front().second;
    collects_.pop_front();
    return 0;
  }
  void Device_LimitCheck(int16_t, int16_t, int16_t, double, double) override {}

  double value_ = 1.0;
  int16_t status_ = 0;
  int16_t trigger_ = 0;
  std::deque<std::pair<int16_t, double>> collects_;
};

class ScriptedTriggerTest : public TriggerTest {
 protected:
  void StartScripted() {
    Generic();
    s.AddInputAdr1 = "1.1";
    s.AddInputAdr2 = "1.1";
    Start();
    scripted_bridge =
        std::make_unique<PortBridge>(view, scripted,
                                     std::array<IVirtualPort*, 4>{ports[0].get(), ports[1].get(),
                                                                  ports[2].get(), ports[3].get()},
                                     keys, s);
    bridge.swap(scripted_bridge);
    bridge->CreateCommandTab();
    bridge->Log().Open(work.path() + "/scripted.log");
    Idle(2);
  }
  ScriptedDevice scripted;
  std::unique_ptr<PortBridge> scripted_bridge;
};

TEST_F(ScriptedTriggerTest, CollectedInputsOutsideTheTableAreIgnoredAndLogged) {
  StartScripted();
  scripted.collects_ = {{300, 1.0}, {0, 2.0}, {-7, 3.0}, {200, 4.0}};
  EXPECT_EQ(Blocks(2), ":+00000004\r\n");
  const std::string log = work.Read("scripted.log");
  EXPECT_NE(log.find("Gauge-Triggering: input 300 of device 1 ignored\r\n"), std::string::npos);
  EXPECT_NE(log.find("Gauge-Triggering: input -7 of device 1 ignored\r\n"), std::string::npos);
}

TEST_F(ScriptedTriggerTest, ValuesThatAreNotNumbersAnswerAsNoValue) {
  StartScripted();
  scripted.collects_ = {{1, std::nan("")}};
  EXPECT_EQ(Blocks(2), "10:NO VALUE\r\n");
  scripted.value_ = INFINITY;
  EXPECT_EQ(Exchange("M2\r", "20:NO VALUE\r\n"), "20:NO VALUE\r\n");
  scripted.value_ = 1.0;
  scripted.status_ = 136;
  EXPECT_EQ(Exchange("M2\r", "20:OUT OF RANGE\r\n"), "20:OUT OF RANGE\r\n");
  scripted.status_ = 9;
  EXPECT_EQ(Exchange("M2\r", "20:NO VALUE\r\n"), "20:NO VALUE\r\n");
}

TEST_F(ScriptedTriggerTest, HugeTriggerResultsStillCountAsAPress) {
  StartScripted();
  scripted.trigger_ = 32767;  // three triggers: a 16-bit sum would wrap below 0
  EXPECT_EQ(Blocks(2), "10:+00000001\r\n20:+00000001\r\n");
  EXPECT_EQ(bridge->FootSwitchDown(), 1);
  scripted.trigger_ = -1;
  EXPECT_EQ(Blocks(2), "");
  EXPECT_EQ(bridge->FootSwitchDown(), 1);
  scripted.trigger_ = 0;
  Blocks(2);
  EXPECT_EQ(bridge->FootSwitchDown(), 0);
}

}  // namespace
