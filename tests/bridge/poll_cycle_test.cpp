// The poll cycle in terminated mode: a client on a real port sends commands of the shipped
// formats and receives exactly the right bytes.
#include <gtest/gtest.h>

#include "bridge_fixture.h"

namespace {

class TerminatedModeTest : public EngineTest {
 protected:
  // The generic 8-channel format: terminated by CR, separator CR, no acknowledgement.
  void Generic() {
    UsePreset(0);
    for (int a = 1; a <= 5; ++a) UseInput(1, a, std::to_string(a), std::to_string(a * 10));
    UseInput(2, 1, "9", "90");
    Start();
  }
  // The multiplexer format: separator ";", blanks dropped, acknowledgement "OK".
  void Multiplexer() {
    UsePreset(1);
    UseInput(1, 1, "1.1", "11");
    UseInput(1, 2, "1.2", "12");
    UseInput(1, 3, "1.3", "13");
    UseInput(2, 1, "2.1", "21");
    UseInput(2, 2, "2.2", "22");
    Start();
  }
  // Sends bytes and expects exactly answer back.
  void Expect(const std::string& bytes, const std::string& answer) {
    EXPECT_EQ(Exchange(bytes, answer), answer) << "for " << bytes;
  }
};

TEST_F(TerminatedModeTest, SingleChannelReadsWithEveryOutcome) {
  Generic();
  Expect("M1\r", "10:+0001.234\r\n");
  Expect("M2\r", "20:+000002.5\r\n");
  Expect("M3\r", "30:-000000.5\r\n");
  Expect("M4\r", "40:NO VALUE\r\n");
  Expect("M5\r", "50:OUT OF RANGE\r\n");
  Expect("M9\r", "90:+00021.25\r\n");
}

TEST_F(TerminatedModeTest, OnlyAValidValueThatDoesNotFitIsOutOfRange) {
  Generic();
  s.NumOfChar = 4;
  ASSERT_EQ(Operator("set 1 1 123456"), 0);
  ASSERT_EQ(Operator("set 1 4 123456"), 0);  // reports no value
  Expect("M1\r", "10:OUT OF RANGE\r\n");
  Expect("M4\r", "40:NO VALUE\r\n");
  s.Timeout.clear();
  Expect("M4\r", "");
  Expect("M2\r", "20:+2.5\r\n");
}

TEST_F(TerminatedModeTest, WhatAClientLeftBehindIsNotAnsweredToTheNext) {
  Generic();
  // A fragment taken into the ring, then commands still waiting in the port: the client
  // leaves, one tick sees it go, and the next client opens the port.
  client->Write("M");
  for (int i = 0; i < 3; ++i) Tick();
  client->Write("1\rM2\rM3\r");
  client->Close();
  Tick();
  client = std::make_unique<PortClient>(PortPath(0));
  ASSERT_TRUE(client->ok());
  EXPECT_EQ(Idle(), "");
  Expect("M1\r", "10:+0001.234\r\n");
}

TEST_F(TerminatedModeTest, AllChannelReadAndSwitchingKinds) {
  Generic();
  const std::string all =
      "10:+0001.234\r\n20:+000002.5\r\n30:-000000.5\r\n40:NO VALUE\r\n50:OUT OF RANGE\r\n"
      "90:+00021.25\r\n";
  Expect("M*\r", all);
  // Kinds 2..7 answer nothing in a format without acknowledgement.
  Expect("OFF2\r", "");
  EXPECT_EQ(bridge->Table().Entry(1, 2).Active, 0);
  Expect("M2\r", "");
  Expect("OFF*\r", "");
  Expect("M*\r", "");
  Expect("ON3\r", "");
  Expect("M*\r", "30:-000000.5\r\n");
  Expect("ON*\r", "");
  Expect("M*\r", all);

  Expect("FON*\r", "");
  Expect("FOFF2\r", "");
  Expect("KOFF*\r", "");
  Expect("KON5\r", "");
  for (int a = 1; a <= 5; ++a) {
    EXPECT_EQ(bridge->Table().Entry(1, a).FootSwitch, a == 2 ? 0 : 1) << a;
    EXPECT_EQ(bridge->Table().Entry(1, a).DataKey, a == 5 ? 1 : 0) << a;
  }
}

TEST_F(TerminatedModeTest, AnAnswerWaitsForTheEndCharacter) {
  Generic();
  Expect("M1", "");
  EXPECT_EQ(bridge->RxRing().Used(), 2);
  Expect("\r", "10:+0001.234\r\n");
  EXPECT_TRUE(bridge->RxRing().Empty());
}

TEST_F(TerminatedModeTest, FixedAnswersUndefinedCommandsAndTheFootSwitchQuery) {
  Generic();
  Expect("ID?\r", "GENERIC 8-CHANNEL INTERFACE\r\n");
  Expect("VER?\r", "V2.40\r\n");
  Expect("M7\r", "?\r\n");
  Expect("m1\r", "?\r\n");
  Expect("FS?\r", "FS:0\r\n");
  s.UndefCommand = "";
  bridge->CreateCommandTab();
  Expect("XX\r", "");
}

TEST_F(TerminatedModeTest, BackToBackCommandsAreEachAnswered) {
  Generic();
  Expect("M1\rM2\rID?\r", "10:+0001.234\r\n20:+000002.5\r\nGENERIC 8-CHANNEL INTERFACE\r\n");
}

TEST_F(TerminatedModeTest, MultipleCommandsAcknowledgedOncePerMessage) {
  Multiplexer();
  Expect("RD1.1\r", "OK\r\n11=+001.234\r\n");
  Expect("RD1.1;RD1.2\r", "OK\r\n11=+001.234\r\n12=+00002.5\r\n");
  // Two messages without waiting: each is acknowledged and answered.
  Expect("RD1.1\rRD1.3\r", "OK\r\n11=+001.234\r\nOK\r\n13=-00000.5\r\n");
  Expect("RD 2 . 1\r", "OK\r\n21=+0021.25\r\n");
  Expect("EN1.1;DI1.2\r", "OK\r\n");
  EXPECT_EQ(bridge->Table().Entry(1, 2).Active, 0);
  // A read of an inactive entry, or of a device that does not answer, gets the
  // acknowledgement only.
  Expect("RD1.2\r", "OK\r\n");
  Expect("RD2.2\r", "OK\r\n");
  Expect("XX\r", "ERR\r\n");
  Expect("ID?\r", "MUX 8X8\r\n");
  Expect("RD1.1;ID?\r", "OK\r\n11=+001.234\r\nMUX 8X8\r\n");
}

TEST_F(TerminatedModeTest, EndTextOfTwoCharacters) {
  UsePreset(0);
  UseInput(1, 1, "1", "10");
  s.EndChar = "13,10";
  s.Separator = "\";\"";
  for (int k = 1; k <= 7; ++k) {
    s.ChCommandAll[k] += ",10";
    s.ChCommandSingle[k] += ",10";
  }
  s.TabCommand[1] = "\"ID?\",13,10";
  Start();
  Expect("M1\r\n", "10:+0001.234\r\n");
  Expect("M1\r", "");
  Expect("\n", "10:+0001.234\r\n");
  Expect("M1;ID?\r\n", "10:+0001.234\r\nGENERIC 8-CHANNEL INTERFACE\r\n");
  Expect("M1\r\nM1\r\n", "10:+0001.234\r\n10:+0001.234\r\n");
}

TEST_F(TerminatedModeTest, LimitCommandsReachTheLibraryAndChangeTheStatus) {
  Multiplexer();
  const CommandEntry& e = bridge->Table().Entry(1, 1);
  Expect("USL1.1,1.0\r", "OK\r\n");
  EXPECT_EQ(e.LimitValue[USL], 1.0);
  Expect("RD1.1\r", "OK\r\n11=RANGE\r\n");
  Expect("USL1.1,2\r", "OK\r\n");
  Expect("RD1.1\r", "OK\r\n11=+001.234\r\n");
  // LSL above USL: the cross check moves USL to 999999.999999.
  Expect("LSL1.1,3\r", "OK\r\n");
  EXPECT_EQ(e.LimitValue[USL], 999999.999999);
  EXPECT_EQ(e.LimitValue[LSL], 3.0);
  Expect("RD1.1\r", "OK\r\n11=RANGE\r\n");
  // USL below LSL: LSL becomes 999999.999999 before the library gets the pair.
  Expect("USL1.1,1.5\r", "OK\r\n");
  EXPECT_EQ(e.LimitValue[LSL], 999999.999999);
  Expect("RD1.1\r", "OK\r\n11=RANGE\r\n");
  // Control limits: a text without a number reads as 0.
  Expect("UCL1.1,-2\r", "OK\r\n");
  EXPECT_EQ(e.LimitValue[UCL], -2.0);
  Expect("LCL1.1,abc\r", "OK\r\n");
  EXPECT_EQ(e.LimitValue[LCL], 0.0);
  EXPECT_EQ(e.LimitValue[UCL], 999999.999999);
  // Too short to carry a value: no limit command.
  Expect("USL1.1,\r", "ERR\r\n");
  // Rebuilding the table forgets the limits.
  bridge->CreateCommandTab();
  EXPECT_EQ(bridge->Table().Entry(1, 1).LimitValue[LSL], -999999.999999);
}

TEST_F(TerminatedModeTest, ValueTooWideForItsFormatIsOutOfRange) {
  Multiplexer();
  ASSERT_EQ(Operator("set 1 1 12345678.9"), 0);
  Expect("RD1.1\r", "OK\r\n11=RANGE\r\n");
  ASSERT_EQ(Operator("set 1 1 12345.6789"), 0);
  Expect("RD1.1\r", "OK\r\n11=+12345.6\r\n");
}

TEST_F(TerminatedModeTest, NothingIsServedWhileNoClientHoldsThePort) {
  Generic();
  client->Close();
  Idle(5);
  EXPECT_EQ(bridge->PortsOpen(), 0);
  EXPECT_TRUE(view.Saw("SetQuitAndPortSelectorEnabled 0"));
  EXPECT_TRUE(view.Saw("SetQuitAndPortSelectorEnabled 1"));
  const int ticks = bridge->TickCounter();
  Idle(10);
  EXPECT_EQ(bridge->TickCounter(), ticks);
}

}  // namespace
