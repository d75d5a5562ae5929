// The DDK file reader and the value behaviours of the simulated gauge library.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ddk_description.h"
#include "temp_dir.h"
#include "value_behaviour.h"

namespace {

class DdkFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakeTempFolder("velk-ddk");
    ASSERT_FALSE(folder_.empty());
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  DdkDescription Read(const std::string& content) {
    path_ = folder_ + "/Test.DDK";
    std::ofstream(path_, std::ios::binary) << content;
    return ReadDdkFile(path_, errors_);
  }

  std::string folder_;
  std::string path_;
  std::ostringstream errors_;
};

TEST_F(DdkFileTest, ReadsDevicesItemsNamesValuesAndStatuses) {
  DdkDescription d = Read(
      "# comment\r\n"
      "; another comment\r\n"
      "\r\n"
      "device: 2\r\n"
      "footswitch: 1\r\n"
      "name: Pedal\r\n"
      "name_de: Pedal DE\r\n"
      "input: 7\r\n"
      "NAME :  Caliper 7  \r\n"
      "name_fr: Pied 7\r\n"
      "value: sine 10 0.5 4\r\n"
      "unit: \xb5m\r\n"
      "status: outofrange\r\n"
      "input: 200\n"
      "status: -3\n");
  EXPECT_EQ(errors_.str(), "");
  EXPECT_TRUE(d.readable);
  EXPECT_TRUE(d.HasDevices());
  EXPECT_FALSE(d.devices[1].present);
  const DeviceDescription& dev = d.devices[2];
  ASSERT_TRUE(dev.present);
  EXPECT_FALSE(dev.foot_switches[0].has_value());
  ASSERT_TRUE(dev.foot_switches[1].has_value());
  EXPECT_EQ(dev.foot_switches[1]->ForLanguage(2), "Pedal DE");
  EXPECT_EQ(dev.foot_switches[1]->ForLanguage(3), "Pedal");  // no French name: English
  const InputDescription& in = dev.inputs.at(7);
  EXPECT_EQ(in.names.ForLanguage(1), "Caliper 7");
  EXPECT_EQ(in.names.ForLanguage(3), "Pied 7");
  EXPECT_EQ(in.value.kind, ValueKind::kSine);
  EXPECT_DOUBLE_EQ(in.value.b, 0.5);
  EXPECT_EQ(in.status, kStatusOutOfRange);
  EXPECT_EQ(in.unit, "\xb5m");
  EXPECT_EQ(dev.inputs.at(200).status, -3);
  EXPECT_EQ(dev.inputs.at(200).unit, "");
  EXPECT_EQ(d.socket_path, folder_ + "/Test.sock");
}

TEST_F(DdkFileTest, ReportsBadLinesWithFileAndLineAndUsesTheRest) {
  DdkDescription d = Read(
      "input: 1\n"               // 1: before any device
      "device: 9\n"              // 2: out of range; its block is skipped quietly
      "input: 1\n"               // 3
      "name: lost\n"             // 4
      "device: 1\n"              // 5
      "colour: red\n"            // 6: unknown key
      "input: 201\n"             // 7: out of range
      "name: lost too\n"         // 8
      "input: 3\n"               // 9
      "value: sine 1 2\n"        // 10: too few numbers
      "status: broken\n"         // 11
      "garbage without colon\n"  // 12
      "footswitch: 0\n"          // 13
      "value: 5\n"               // 14: a foot switch has no value
      "name: Switch\n"           // 15
      "unit: mm\n"               // 16: nor a unit
      "socket: ctl.sock\n"       // 17: relative to the file's folder
      "\x01\xff: \x80\n");       // 18: bytes of any value
  EXPECT_EQ(d.problems, 10);
  const std::string e = errors_.str();
  for (int line : {1, 2, 6, 7, 10, 11, 12, 14, 16, 18}) {
    EXPECT_NE(e.find(path_ + ":" + std::to_string(line) + ": "), std::string::npos) << line;
  }
  EXPECT_EQ(e.find(":4: "), std::string::npos);
  EXPECT_EQ(e.find(":8: "), std::string::npos);
  EXPECT_FALSE(d.devices[8].present);
  ASSERT_TRUE(d.devices[1].present);
  EXPECT_EQ(d.devices[1].inputs.size(), 1u);
  EXPECT_EQ(d.devices[1].inputs.at(3).value.kind, ValueKind::kFixed);
  EXPECT_EQ(d.devices[1].inputs.at(3).status, kStatusValid);
  EXPECT_EQ(d.devices[1].foot_switches[0]->english, "Switch");
  EXPECT_EQ(d.socket_path, folder_ + "/ctl.sock");
}

TEST_F(DdkFileTest, CutsOverlongNamesLeavesOutOverlongUnitsAndRejectsMissingFiles) {
  DdkDescription d = Read("device: 1\ninput: 1\nname: " + std::string(300, 'x') +
                          "\nunit: mm\nunit: " + std::string(kDdkUnitMax + 1, 'u') + "\n");
  EXPECT_EQ(d.devices[1].inputs.at(1).names.english.size(), kDdkNameMax);
  EXPECT_NE(errors_.str().find(":3: name longer"), std::string::npos);
  // A unit too long is left out whole (the one before stays): a cut one would mislead.
  EXPECT_EQ(d.devices[1].inputs.at(1).unit, "mm");
  EXPECT_NE(errors_.str().find(":5: unit longer than 15 bytes"), std::string::npos);

  std::ostringstream errors;
  EXPECT_FALSE(ReadDdkFile(folder_ + "/missing.DDK", errors).readable);
  EXPECT_FALSE(ReadDdkFile(folder_, errors).readable);  // a folder is no device file
  EXPECT_NE(errors.str().find("missing.DDK: cannot read"), std::string::npos);
  EXPECT_FALSE(Read("").HasDevices());
}

TEST(ValueBehaviourTest, ParsesEveryFormAndRejectsBadOnes) {
  ValueBehaviour b;
  std::string error;
  ASSERT_TRUE(ParseValueBehaviour("  12.5 ", b, error));
  EXPECT_EQ(b.kind, ValueKind::kFixed);
  EXPECT_DOUBLE_EQ(b.a, 12.5);
  ASSERT_TRUE(ParseValueBehaviour("walk 10 0.01 0.5 42", b, error));
  EXPECT_EQ(b.kind, ValueKind::kWalk);
  EXPECT_EQ(b.seed, 42u);
  ValueBehaviour again;
  ASSERT_TRUE(ParseValueBehaviour(DescribeValueBehaviour(b), again, error));
  EXPECT_EQ(again.seed, 42u);
  EXPECT_DOUBLE_EQ(again.b, 0.01);
  for (const char* bad : {"", "abc", "12,5", "fixed", "ramp 0 1 0", "sine 1 1 -2", "sine 1 1 nan",
                          "walk 1 1 1 -1", "walk 1 -1 1 3", "1e999", "ramp 0 1 2 3"}) {
    ValueBehaviour untouched;
    untouched.a = 99;
    EXPECT_FALSE(ParseValueBehaviour(bad, untouched, error)) << bad;
    EXPECT_DOUBLE_EQ(untouched.a, 99) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(ValueBehaviourTest, MovingValuesStayInTheirBandAndRepeat) {
  ValueBehaviour ramp{ValueKind::kRamp, 0, 10, 4, 0};
  ValueGenerator r(ramp);
  EXPECT_DOUBLE_EQ(r.ValueAt(0), 0);
  EXPECT_DOUBLE_EQ(r.ValueAt(2), 5);
  EXPECT_DOUBLE_EQ(r.ValueAt(5), 2.5);  // wrapped
  ValueGenerator s({ValueKind::kSine, 25, 0.5, 4, 0});
  EXPECT_NEAR(s.ValueAt(1), 25.5, 1e-12);
  EXPECT_NEAR(s.ValueAt(3), 24.5, 1e-12);

  ValueBehaviour walk{ValueKind::kWalk, 10, 0.3, 0.5, 7};
  ValueGenerator w1(walk), w2(walk), other({ValueKind::kWalk, 10, 0.3, 0.5, 8});
  bool moved = false;
  for (int i = 1; i <= 500; ++i) {
    double v = w1.ValueAt(i * 0.1);
    EXPECT_EQ(v, w2.ValueAt(i * 0.1));
    EXPECT_GE(v, 9.5);
    EXPECT_LE(v, 10.5);
    moved = moved || v != 10;
  }
  EXPECT_TRUE(moved);
  EXPECT_NE(other.ValueAt(50), w1.ValueAt(50));
  // A walk started later by origin begins at its nominal.
  ValueGenerator late(walk, 100.0);
  EXPECT_EQ(late.ValueAt(100.0), 10);
}

}  // namespace

namespace {

TEST(SerialLineTest, ReadsSpeedFrameAndFlowAndRejectsTheRest) {
  const struct {
    const char* text;
    bool ok;
    SerialLine line;
    const char* error_part;
  } cases[] = {
      {"9600 8N1", true, {9600, 8, Parity::kNone, 1, FlowControl::kNone}, ""},
      {"4800 7E2", true, {4800, 7, Parity::kEven, 2, FlowControl::kNone}, ""},
      {"115200 8o1 rtscts", true, {115200, 8, Parity::kOdd, 1, FlowControl::kRtsCts}, ""},
      {"  1200 7 E 1   XONXOFF ", true, {1200, 7, Parity::kEven, 1, FlowControl::kXonXoff}, ""},
      {"19200 5N2 none", true, {19200, 5, Parity::kNone, 2, FlowControl::kNone}, ""},
      {"9601 8N1", false, {}, "speed '9601'"},
      {"fast 8N1", false, {}, "speed 'fast'"},
      {"9600", false, {}, "need a speed and a frame"},
      {"9600 9N1", false, {}, "data bits '9'"},
      {"9600 8X1", false, {}, "parity 'X'"},
      {"9600 8N3", false, {}, "stop bits '3'"},
      {"9600 8N", false, {}, "frame '8N'"},
      {"9600 8N1 dtrdsr", false, {}, "unknown port option 'dtrdsr'"},
      {"9600 8N1 none extra", false, {}, "unknown port option 'extra'"},
  };
  for (const auto& c : cases) {
    SerialLine line{1, 1, Parity::kOdd, 2, FlowControl::kRtsCts};
    const SerialLine untouched = line;
    std::string error;
    EXPECT_EQ(ParseSerialLine(c.text, line, error), c.ok) << c.text;
    EXPECT_EQ(line, c.ok ? c.line : untouched) << c.text;
    EXPECT_NE(error.find(c.error_part), std::string::npos) << c.text << ": " << error;
    if (c.ok) {
      SerialLine again;
      EXPECT_TRUE(ParseSerialLine(DescribeSerialLine(line), again, error));
      EXPECT_EQ(again, line) << DescribeSerialLine(line);
    }
  }
}

TEST_F(DdkFileTest, ReadsRealInputsAndSwitchesAndReportsBadPortLines) {
  DdkDescription d = Read(
      "device: 1\n"
      "footswitch: 0\n"
      "evdev: /dev/input/by-id/usb-pedal-event-kbd KEY_B\n"
      "footswitch: 1\n"
      "modem: ttyS0 dsr\n"
      "input: 1\n"
      "serial: /dev/ttyUSB0\n"
      "line: 4800 7E2\n"
      "request: \"?\",13\n"
      "timeout: 500\n"
      "skip: 3\n"
      "interval: 0\n"
      "input: 2\n"
      "serial: /dev/ttyUSB0\n"  // line 14: the port's line differs from input 1's
      "line: 9600 8N1\n"
      "request: \"SEND 2\",13,10\n"
      "input: 3\n"
      "line: 9600 8N1\n"  // line 18: no serial: line yet
      "serial: gauge\n"
      "line: 9600 8N1 hardware\n"         // line 20
      "timeout: 0\n"                      // line 21
      "skip: x\n"                         // line 22
      "evdev: /dev/input/event3 KEY_B\n"  // line 23: not on an input
      "footswitch: 0\n"
      "evdev: /dev/input/event3 KEY_NOPE\n"  // line 25
      "modem: /dev/ttyS0 RTS\n"              // line 26
      "evdev: KEY_B\n");                     // line 27
  const DeviceDescription& dev = d.devices[1];
  ASSERT_TRUE(dev.switch_sources[0].has_value());
  EXPECT_EQ(dev.switch_sources[0]->kind, SwitchKind::kEvdev);
  EXPECT_EQ(dev.switch_sources[0]->path, "/dev/input/by-id/usb-pedal-event-kbd");
  EXPECT_EQ(dev.switch_sources[0]->key, 48);  // KEY_B
  ASSERT_TRUE(dev.switch_sources[1].has_value());
  EXPECT_EQ(dev.switch_sources[1]->kind, SwitchKind::kModem);
  EXPECT_EQ(dev.switch_sources[1]->modem, ModemLine::kDsr);
  EXPECT_EQ(dev.switch_sources[1]->path, folder_ + "/ttyS0");
  const SerialSource& one = *dev.inputs.at(1).serial;
  EXPECT_EQ(one.path, "/dev/ttyUSB0");
  EXPECT_EQ(one.line, (SerialLine{4800, 7, Parity::kEven, 2, FlowControl::kNone}));
  EXPECT_EQ(one.request, "?\r");
  EXPECT_EQ(one.timeout_ms, 500);
  EXPECT_EQ(one.skip, 3);
  EXPECT_EQ(one.interval_ms, 0);
  const SerialSource& two = *dev.inputs.at(2).serial;
  EXPECT_EQ(two.request, "SEND 2\r\n");  // blanks kept
  EXPECT_EQ(two.line, one.line);         // a shared port keeps its first settings
  const SerialSource& three = *dev.inputs.at(3).serial;
  EXPECT_EQ(three.path, folder_ + "/gauge");
  EXPECT_EQ(three.line, SerialLine{});
  EXPECT_EQ(three.timeout_ms, 1000);
  EXPECT_EQ(three.request, "");
  const std::string e = errors_.str();
  for (int line : {14, 18, 20, 21, 22, 23, 25, 26, 27}) {
    EXPECT_NE(e.find(path_ + ":" + std::to_string(line) + ": "), std::string::npos) << line;
  }
  EXPECT_NE(e.find("unknown port option 'hardware'"), std::string::npos) << e;
  EXPECT_NE(e.find("unknown key name 'KEY_NOPE'"), std::string::npos) << e;
  EXPECT_NE(e.find("the first is used"), std::string::npos) << e;
  EXPECT_EQ(d.problems, 9) << e;
}

}  // namespace
