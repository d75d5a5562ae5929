// The text conversions of the wire: dotted addresses, date-and-time texts, number texts.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "date_time_text.h"
#include "dotted_address.h"
#include "wire_numbers.h"

namespace velk::lan {
namespace {

std::array<int, 4> Address(const char* text, bool& ok) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  ok = ReadDottedAddress(text, bytes);
  return {bytes[0], bytes[1], bytes[2], bytes[3]};
}

TEST(DottedAddressTest, ReadsFourPartsRepeatingAPartEndedByTheText) {
  bool ok = false;
  EXPECT_EQ(Address("192.168.1.20", ok), (std::array{192, 168, 1, 20}));
  EXPECT_TRUE(ok);
  EXPECT_EQ(Address("10.0.0", ok), (std::array{10, 0, 0, 0}));
  EXPECT_TRUE(ok);
  EXPECT_EQ(Address("10.1.2", ok), (std::array{10, 1, 2, 2}));
  EXPECT_TRUE(ok);
  EXPECT_EQ(Address("7", ok), (std::array{7, 7, 7, 7}));
  EXPECT_TRUE(ok);
  EXPECT_EQ(Address("192.168.1.300", ok)[3], 44);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Address("1.2.3.4.5", ok), (std::array{1, 2, 3, 4}));
  EXPECT_TRUE(ok);
  EXPECT_EQ(Address("1.2y.3x.256", ok), (std::array{1, 2, 3, 0}));
  EXPECT_TRUE(ok);
}

TEST(DottedAddressTest, EmptyOverlongOrNonNumericPartsFail) {
  bool ok = true;
  for (const char* text : std::initializer_list<const char*>{
           "a..b.c", "", ".1.2.3", "1.2.3.", "1..", nullptr, "nosuchhost", "x.y", "a.b.c.d.e",
           "qentrix-pc.invalid", "1.2.3.x", "x.-1.2y.256", "-1", " 1.2.3.4", "10.0.0.a"}) {
    Address(text, ok);
    EXPECT_FALSE(ok) << (text ? text : "null");
  }
  const std::string longest(103, '9');
  Address(("1.2.3." + longest).c_str(), ok);
  EXPECT_TRUE(ok);
  Address(("1.2.3." + longest + "9").c_str(), ok);
  EXPECT_FALSE(ok);
  Address((longest + "1.2.3.4").c_str(), ok);
  EXPECT_FALSE(ok);
}

std::string DateTime(uint32_t seconds) {
  char text[kDateTimeTextSize];
  FormatDateTime(seconds, text);
  return text;
}

TEST(DateTimeTextTest, SecondsBecomeTimeAndUsDate) {
  EXPECT_EQ(DateTime(0), "00:00:00 - 01/01/1970");
  EXPECT_EQ(DateTime(951782400), "00:00:00 - 02/29/2000");
  EXPECT_EQ(DateTime(1589205909), "14:05:09 - 05/11/2020");
  EXPECT_EQ(DateTime(86399), "23:59:59 - 01/01/1970");
  EXPECT_EQ(DateTime(68255999), "23:59:59 - 02/29/1972");
  EXPECT_EQ(DateTime(94694399), "23:59:59 - 12/31/1972");
  EXPECT_EQ(DateTime(4107542400u), "00:00:00 - 03/01/2100");  // 2100 is no leap year
  EXPECT_EQ(DateTime(4294967295u), "06:28:15 - 02/07/2106");
}

TEST(NumberTextTest, WritesSixDecimalsWithAPoint) {
  char text[100];
  EXPECT_EQ(FormatNumberText(12.5, text, sizeof text), 9u);
  EXPECT_STREQ(text, "12.500000");
  FormatNumberText(-0.001, text, sizeof text);
  EXPECT_STREQ(text, "-0.001000");
  FormatNumberText(0.0000004, text, sizeof text);
  EXPECT_STREQ(text, "0.000000");
  FormatNumberText(2.0000005, text, sizeof text);
  EXPECT_STREQ(text, "2.000001");
  EXPECT_EQ(FormatNumberText(2e87, text, sizeof text), 95u);
  EXPECT_EQ(FormatNumberText(2e88, text, sizeof text), 0u);
  EXPECT_EQ(FormatNumberText(1.0, text, 5), 0u);
}

TEST(NumberTextTest, ReadsNumbersAsTheClassicConversionsDo) {
  EXPECT_EQ(ReadAsDouble("  12.5abc"), 12.5);
  EXPECT_EQ(ReadAsDouble("-1e3"), -1000);
  EXPECT_EQ(ReadAsDouble("+.5"), 0.5);
  EXPECT_EQ(ReadAsDouble("3,5"), 3);
  EXPECT_EQ(ReadAsDouble("abc"), 0);
  EXPECT_EQ(ReadAsDouble(""), 0);
  EXPECT_EQ(ReadAsInt(" 70000"), 70000);
  EXPECT_EQ(ReadAsInt("-12.9"), -12);
  EXPECT_EQ(ReadAsInt("x1"), 0);
  EXPECT_EQ(static_cast<uint32_t>(ReadAsInt("4294967295")), 4294967295u);
}

}  // namespace
}  // namespace velk::lan
