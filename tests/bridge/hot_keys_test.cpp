// Hot keys: the key combinations, and choosing the served slot on real ports.
#include "hot_keys.h"

#include <gtest/gtest.h>

#include "bridge_fixture.h"

namespace {

constexpr int kF1 = kVirtualKeyF1;
constexpr int kF12 = kVirtualKeyF1 + 11;

TEST(TestIfKeyPressed, CombinationsOfCtrlAltAndFunctionKeys) {
  SettableKeyState keys;
  keys.Press(kVirtualKeyControl);
  keys.Press(kF1);
  EXPECT_EQ(TestIfKeyPressed(keys, 13), 1);
  EXPECT_EQ(TestIfKeyPressed(keys, 1), 0);
  EXPECT_EQ(TestIfKeyPressed(keys, 37), 0);
  keys.Press(kVirtualKeyAlt);
  EXPECT_EQ(TestIfKeyPressed(keys, 13), 0);
  EXPECT_EQ(TestIfKeyPressed(keys, 37), 1);
  keys.ReleaseAll();
  keys.Press(kF1);
  EXPECT_EQ(TestIfKeyPressed(keys, 13), 0);
  EXPECT_EQ(TestIfKeyPressed(keys, 1), 1);
  keys.ReleaseAll();
  keys.Press(kVirtualKeyControl);
  keys.Press(kF12);
  EXPECT_EQ(TestIfKeyPressed(keys, 24), 1);
  keys.ReleaseAll();
  keys.Press(kVirtualKeyAlt);
  keys.Press(kF1);
  EXPECT_EQ(TestIfKeyPressed(keys, 25), 1);
  for (int16_t outside : {0, -1, 49, 1000}) EXPECT_EQ(TestIfKeyPressed(keys, outside), 0);
}

TEST(HotKeySlot, HighestHeldSlotWinsAndSinglePortModeIgnoresKeys) {
  SettingsRecord s;
  s.VcpCom1 = 5;
  s.VcpCom2 = 6;
  s.VcpCom3 = 7;
  s.HotKey1 = 1;
  s.HotKey2 = 2;
  s.HotKey3 = 2;
  SettableKeyState keys;
  EXPECT_EQ(HotKeySlot(s, keys), 0);
  keys.Press(kF1);
  EXPECT_EQ(HotKeySlot(s, keys), 1);
  keys.Press(kF1 + 1);
  EXPECT_EQ(HotKeySlot(s, keys), 3);
  s.VcpCom3 = 0;
  EXPECT_EQ(HotKeySlot(s, keys), 2);
  s.VcpCom2 = 0;
  EXPECT_EQ(HotKeySlot(s, keys), 0);
}

class HotKeyEngineTest : public EngineTest {};

TEST_F(HotKeyEngineTest, HotKeyMakesItsSlotCurrentAndResetsItsPort) {
  UsePreset(0);
  UseInput(1, 1, "1", "10");
  s.VcpCom2 = 6;
  s.HotKey2 = 2;
  Start();
  PortClient second(PortPath(1));
  ASSERT_TRUE(second.ok());
  Idle(3);

  // Waiting input of the slot that becomes current is discarded by the port reset.
  second.Write("M1\r");
  Idle(5, &second);
  view.Take();
  keys.Press(kF1 + 1);
  Idle(3, &second);
  EXPECT_EQ(bridge->CurrentPort(), 1);
  EXPECT_TRUE(view.Saw("SetPortIcon 2"));
  EXPECT_EQ(Idle(10, &second), "");

  EXPECT_EQ(Exchange("M1\r", 14, &second), "10:+0001.234\r\n");
  EXPECT_EQ(client->Take(), "");

  // Held on: the icon is set on every tick, the slot stays.
  view.Take();
  Idle(3, &second);
  EXPECT_EQ(view.Take().size(), 3u);
  keys.ReleaseAll();
  EXPECT_EQ(Exchange("M1\r", 14, &second), "10:+0001.234\r\n");
  EXPECT_TRUE(view.Take().empty());
}

TEST_F(HotKeyEngineTest, SinglePortModeHotKeyDoesNothing) {
  UsePreset(0);
  UseInput(1, 1, "1", "10");
  s.HotKey1 = 1;
  s.HotKey2 = 2;
  Start();
  view.Take();
  keys.Press(kF1 + 1);
  Idle(3);
  EXPECT_EQ(bridge->CurrentPort(), 0);
  EXPECT_TRUE(view.Take().empty());
}

}  // namespace
