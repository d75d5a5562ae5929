// The Windows client velk-com-client.exe under Wine, started through velk-wine against a real
// port of the headless program: frames, modem lines, a synchronous request, event-driven
// round trips and a foot-switch push arriving while it waits; the port's registry entry. Run by
// tools/test-windows.sh, which builds the client, prepares the Wine prefix (WINEPREFIX) and sets
// VELK_WINDOWS_COM_CLIENT.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "client_process.h"
#include "control_client.h"
#include "program_fixture.h"

namespace {

using namespace std::chrono_literals;

class WineClientTest : public ProgramTest {};

TEST_F(WineClientTest, PassesEveryStepUnderVelkWine) {
  const char* client = std::getenv("VELK_WINDOWS_COM_CLIENT");
  ASSERT_NE(client, nullptr) << "run through tools/test-windows.sh";
  // Input 1.1 is also sent on a push of the foot switch.
  std::string settings = FaultSettings();
  settings.replace(settings.find("\r\n1000:1\r\n"), 10, "\r\n1000:3\r\n");
  Write("Velk_VCP.CFG", settings);
  Start();
  ASSERT_TRUE(WaitUntilServing()) << Out() << Err();

  // Wine runs as a normal user would: root without CAP_SYS_ADMIN, which the exclusive mode of
  // the port binds. The Wine server opens the devices, so it starts anew under that limit.
  RunClient({"wineserver", "-k"}, Path(""), {});
  RunClient({"wineserver", "-w"}, Path(""), {});
  std::vector<std::string> launcher;
  if (geteuid() == 0) launcher = {"setpriv", "--bounding-set=-sys_admin", "--inh-caps=-sys_admin"};
  launcher.insert(launcher.end(), {std::string(VELK_RUN_DIR) + "/velk-wine", "-d", "ports", client,
                                   "COM5", "M1", "10:+0001.234", "20"});
  bool pressed = false;
  std::string holder;
  const ClientRun run = RunClient(
      launcher, Path(""), {},
      [&](const std::string& line) {
        std::cout << line << std::endl;
        if (line != "waiting for foot switch") return;
        // Who holds the port: the Windows program, not Wine's loader.
        const nlohmann::json status = nlohmann::json::parse(
            AskProgram(Path("Velk_VCP.control"), "status").text, nullptr, false);
        if (status.is_object() && status["ports"][0]["client"].is_object()) {
          holder = status["ports"][0]["client"].value("program", "");
        }
        std::this_thread::sleep_for(300ms);
        const ClientRun press = RunClient({VELK_DDK_TOOL, "press", "1"}, Path(""), {});
        pressed = press.status == 0;
      },
      180s);
  EXPECT_TRUE(pressed);
  EXPECT_EQ(holder, "velk-com-client.exe");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Count(run.output, "FAIL"), 0u);
  EXPECT_EQ(Count(run.output, "ok "), 16u);
  EXPECT_NE(run.output.find("all steps passed"), std::string::npos);
}

// The entry velk-wine makes lasts: when Wine starts again in the prefix, the number is the
// port's and Wine lists it among the serial ports.
TEST_F(WineClientTest, PortIsListedWhenWineStartsAgain) {
  const char* prefix = std::getenv("WINEPREFIX");
  ASSERT_NE(prefix, nullptr) << "run through tools/test-windows.sh";
  Write("Velk_VCP.CFG", FaultSettings());
  Start();
  ASSERT_TRUE(WaitUntilServing()) << Out() << Err();
  const std::string velk_wine = std::string(VELK_RUN_DIR) + "/velk-wine";
  ASSERT_EQ(RunClient({velk_wine, "-d", "ports", "cmd", "/c", "exit"}, Path(""), {}).status, 0);
  RunClient({"wineserver", "-k"}, Path(""), {});
  RunClient({"wineserver", "-w"}, Path(""), {});

  const ClientRun list =
      RunClient({"wine", "reg", "query", "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM"}, Path(""), {});
  EXPECT_NE(list.output.find("REG_SZ    COM5"), std::string::npos) << list.output;
  std::error_code error;
  EXPECT_EQ(std::filesystem::read_symlink(std::string(prefix) + "/dosdevices/com5", error),
            Path("ports/COM5"));
}

}  // namespace
