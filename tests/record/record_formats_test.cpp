// The texts the value events leave the program as: times, JSON, CSV, and the broker address.
#include <gtest/gtest.h>

#include <cmath>

#include "mqtt_publisher.h"
#include "mqtt_url.h"
#include "utc_time.h"
#include "value_csv.h"
#include "value_json.h"

namespace {

TEST(RecordFormatsTest, BrokerAddresses) {
  struct Case {
    std::string url;
    bool ok;
    std::string host;
    int port;
    bool tls;
  };
  const Case cases[] = {
      {"mqtt://broker.plant", true, "broker.plant", 1883, false},
      {"mqtt://10.1.2.3:1884/", true, "10.1.2.3", 1884, false},
      {"mqtts://broker", true, "broker", 8883, true},
      {"mqtt://[fd00::1]:1883", true, "fd00::1", 1883, false},
      {"mqtt://[::1]", true, "::1", 1883, false},
      {"http://broker", false, "", 0, false},
      {"mqtt://", false, "", 0, false},
      {"mqtt://broker:", false, "", 0, false},
      {"mqtt://broker:0", false, "", 0, false},
      {"mqtt://broker:65536", false, "", 0, false},
      {"mqtt://broker:12x", false, "", 0, false},
      {"mqtt://user@broker", false, "", 0, false},
      {"mqtt://broker/topic", false, "", 0, false},
      {"mqtt://[fd00::1", false, "", 0, false},
  };
  for (const Case& c : cases) {
    const std::optional<MqttUrl> url = ParseMqttUrl(c.url);
    ASSERT_EQ(url.has_value(), c.ok) << c.url;
    if (!url) continue;
    EXPECT_EQ(url->host, c.host) << c.url;
    EXPECT_EQ(url->port, c.port) << c.url;
    EXPECT_EQ(url->tls, c.tls) << c.url;
  }
}

TEST(RecordFormatsTest, TimesReadAndWrittenInUtc) {
  struct Case {
    std::string text;
    std::optional<int64_t> ms;
  };
  const Case cases[] = {
      {"1970-01-01", 0},
      {"2026-12-08T23:25:41.123Z", 1796772341123},
      {"2026-12-08 23:25", 1796772300000},
      {"2024-02-29T00:00:00", 1709164800000},
      {"2023-02-29", std::nullopt},
      {"2026-12-08T24:00", std::nullopt},
      {"2026-12-8", std::nullopt},
      {"yesterday", std::nullopt},
      {"2026-12-08T10:00:00.1234", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseIsoUtc(c.text), c.ms) << c.text;
  EXPECT_EQ(IsoUtc(1796772341123), "2026-12-08T23:25:41.123Z");
  EXPECT_EQ(IsoUtc(0), "1970-01-01T00:00:00.000Z");
}

TEST(RecordFormatsTest, AnEventAsJsonAndAsCsv) {
  NumberedEvent n;
  n.seq = 7;
  n.event = {1796772341123,
             "hall \"3\"",
             2,
             "COM6",
             "",
             1,
             2,
             25.1,
             "+25,1\r\n",
             ValueStatus::OutOfRange,
             ValueCause::FootSwitch,
             "Caliper, left",
             "mm",
             {25.2, std::nullopt, -0.5, 25}};
  EXPECT_EQ(ValueEventJson(n),
            R"({"seq":7,"time":"2026-12-08T23:25:41.123Z","station":"hall \"3\"","slot":2,)"
            R"("port":"COM6","client":"","gauge":"1.2","number":25.1,"text":"+25,1\r\n",)"
            R"("status":"out_of_range","cause":"foot_switch","name":"Caliper, left","unit":"mm",)"
            R"("usl":25.2,"ucl":null,"lcl":-0.5,"lsl":25})");
  EXPECT_EQ(ValueCsvLine(n),
            "7,2026-12-08T23:25:41.123Z,\"hall \"\"3\"\"\",2,COM6,,1.2,25.1,\"'+25,1<13><10>\","
            "out_of_range,foot_switch,\"Caliper, left\",mm,25.2,,-0.5,25\r\n");
  EXPECT_EQ(ValueCsvHeader(),
            "seq,time,station,slot,port,client,gauge,number,text,status,cause,name,unit,usl,ucl,"
            "lcl,lsl\r\n");
  // No number, no description: empty cells and nulls; 8-bit texts as the engine has them.
  n.event.number = std::nan("");
  n.event.text = "\xb5m\x01";
  n.event.unit = "\xb5m";
  n.event.limits = {};
  const std::string json = ValueEventJson(InUtf8(n));
  EXPECT_NE(json.find(R"("number":null,"text":"µm\u0001")"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("unit":"µm","usl":null,"ucl":null,"lcl":null,"lsl":null})"),
            std::string::npos)
      << json;
  std::string scratch8, json8;
  AppendValueEventJson8Bit(json8, n, scratch8);
  EXPECT_EQ(json8, json);
  EXPECT_NE(ValueCsvLine(n).find(",1.2,,"), std::string::npos);
  EXPECT_NE(ValueCsvLine(n).find(",,,,\r\n"), std::string::npos);
  // Texts a spreadsheet would run as formulas get an apostrophe; plain numbers stay numbers.
  struct Cell {
    std::string text;
    std::string as_client;  // the cell of the client name
    std::string as_text;    // the cell of the text sent (control characters made visible)
  };
  const Cell cells[] = {
      {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\"", "\"'=HYPERLINK(\"\"x\"\")\""},
      {"+1+2", "'+1+2", "'+1+2"},
      {"-2+3", "'-2+3", "'-2+3"},
      {"@SUM(A1)", "'@SUM(A1)", "'@SUM(A1)"},
      {"\tx", "'\tx", "<9>x"},
      {"-", "'-", "'-"},
      {"-0.5", "-0.5", "-0.5"},
      {"+1.25e-3", "+1.25e-3", "+1.25e-3"},
      {"10:+0001.234", "10:+0001.234", "10:+0001.234"},
  };
  for (const Cell& c : cells) {
    n.event.text = c.text;
    n.event.client = c.text;
    const std::string line = ValueCsvLine(n);
    EXPECT_NE(line.find(",COM6," + c.as_client + ",1.2,"), std::string::npos) << line;
    EXPECT_NE(line.find("," + c.as_text + ",out_of_range,"), std::string::npos) << line;
  }
  // A client name the system gave in UTF-8 stays as it is; one that is not UTF-8 is read as
  // Windows-1252.
  std::string scratch;
  EXPECT_EQ(ClientAsUtf8("12 Prüfgerät", scratch), "12 Prüfgerät");
  EXPECT_EQ(ClientAsUtf8("12 Pr\xfc"
                         "fger\xe4t",
                         scratch),
            "12 Prüfgerät");
  EXPECT_EQ(MqttPublisher::TopicLevel("a/b+c#"), "a_b_c_");
  EXPECT_EQ(MqttPublisher::TopicLevel(""), "station");
}

}  // namespace
