// The web page in a real browser (headless Chromium): it loads from the running program and
// shows the gauges by name, a value a client asked for, the port's holder and a trend drawn
// from the history, and a picture of it is saved (VELK_SCREENSHOT_DIR, else the test's folder).
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "web_fixture.h"

namespace {

const char* const kNamedDdk = R"(socket: Velk_VCP.sock
device: 1
input: 1
name: Caliper
value: 1.234
input: 2
name: Dial gauge
value: sine 4.5 0.02 20
input: 3
name: Bore gauge
status: outofrange
)";

bool BrowserInstalled() { return std::system("command -v chromium >/dev/null 2>&1") == 0; }

}  // namespace

TEST_F(WebPageTest, ABrowserShowsTheGaugesTheirValuesTheHolderAndTheTrend) {
  if (!BrowserInstalled()) GTEST_SKIP() << "chromium is not installed (tools/setup.sh)";
  Write("Velk_VCP.DDK", kNamedDdk);
  std::string settings = "20:5\r\n40:0\r\n50:1\r\n600:1\r\n640:" + std::to_string(web_) + "\r\n";
  for (int n = 1; n <= 3; ++n) {
    const int key = 1000 + (n - 1) * 5;
    settings += std::to_string(key) + ":1\r\n" + std::to_string(key + 1) + ":" + std::to_string(n) +
                "\r\n" + std::to_string(key + 2) + ":" + std::to_string(n * 10) + "\r\n";
  }
  std::ifstream preset(std::string(VELK_DATA_DIR) + "/LIB000.DRV", std::ios::binary);
  std::stringstream presetText;
  presetText << preset.rdbuf();
  Write("Velk_VCP.CFG", settings + presetText.str());
  const pid_t pid = Start();
  ASSERT_TRUE(WaitUntilServing()) << Err();
  const int fd = OpenPort("COM5");
  ASSERT_GE(fd, 0);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(Ask(fd, "M1\r", kValue1), kValue1);
    ASSERT_FALSE(Ask(fd, "M2\r", 14).empty());
    usleep(100000);
  }
  ASSERT_TRUE(WaitFor([&] { return Status()["values"]["history"]["written"] == 10; })) << Err();
  const nlohmann::json client = Status()["ports"][0]["client"];
  ASSERT_TRUE(client.is_object());
  const std::string holder =
      std::to_string(client["pid"].get<int>()) + " " + client["program"].get<std::string>();
  const char* dir = std::getenv("VELK_SCREENSHOT_DIR");
  const std::string picture =
      (dir != nullptr && dir[0] != '\0' ? std::string(dir) : Path("")) + "/web_page.png";
  const std::string command =
      "/usr/bin/python3 " VELK_BROWSER_CHECK " 'http://127.0.0.1:" + std::to_string(web_) + "/' " +
      Path("dom.html") + " " + picture + " 60 Caliper 'Dial gauge' 'Bore gauge' '" + holder +
      "' '>1.234<' 'class=\"line\"' 'badge out-of-range' "
      "'class=\"state live\"' 2>" +
      Path("browser.err");
  EXPECT_EQ(Shell(command), 0) << Read("browser.err") << Read("dom.html");
  EXPECT_EQ(access(picture.c_str(), R_OK), 0) << picture;
  close(fd);
  EXPECT_EQ(Stop(pid), 0);
}
