// The lifecycle: start-up order, serving, port re-creation, the setup button and the
// shutdown, on real ports with the real simulated library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "bridge_fixture.h"
#include "port_folder.h"
#include "vcp_session.h"

namespace {

namespace fs = std::filesystem;

const char* const kServingSettings = "20:5\r\n40:0\r\n50:1\r\n1000:1\r\n1001:1\r\n1002:10\r\n";

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() {
    for (auto& port : ports) port = std::make_unique<PtyPort>(folder);
    session = std::make_unique<VcpSession>(
        view, library,
        std::array<IVirtualPort*, 4>{ports[0].get(), ports[1].get(), ports[2].get(),
                                     ports[3].get()},
        [this](int n) { return PortCanBeOpened(folder, n); }, keys, s);
  }
  ~SessionTest() override {
    session.reset();
    library.Device_DeInit();
  }
  // Makes COM<n> exist on the machine: a link to a device that opens.
  void RealPort(int n) {
    fs::create_directories(folder);
    fs::create_symlink("/dev/null", folder + "/COM" + std::to_string(n));
  }
  bool PortExists(int n) const { return work.Exists("ports/COM" + std::to_string(n)); }
  // One tick, after following the ports' clients as the serving loop does on a wake-up.
  void Tick() {
    for (auto& port : ports) port->FollowClients();
    session->Tick();
  }
  // Writes bytes on client and ticks the session until expected bytes came back.
  std::string Serve(PortClient& client, const std::string& bytes, const std::string& expected) {
    client.Write(bytes);
    std::string got;
    for (int i = 0; i < 1000 && got.size() < expected.size(); ++i) {
      Tick();
      got += client.Take();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return got;
  }
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    const std::string text = work.Read("Velk_VCP.LOG");
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      lines.push_back(text.substr(start, end - start));
    }
    return lines;
  }

  WorkFolder work;
  std::string folder = work.path() + "/ports";
  SettingsRecord s;
  DdkLibrary library{VELK_DDK_SIM};
  std::array<std::unique_ptr<PtyPort>, 4> ports;
  InertKeyState keys;
  RecordingView view;
  std::unique_ptr<VcpSession> session;
};

std::string AllFreeItems() {
  std::string items = "SetPortSelectorItems";
  for (int n = 1; n <= 16; ++n) items += "|  COM" + std::to_string(n);
  return items + "|-->";
}

TEST_F(SessionTest, StartsInOrderServesAndShutsDownOnce) {
  work.Write("Velk_VCP.CFG", kServingSettings);
  ASSERT_TRUE(session->Start());
  EXPECT_EQ(view.Take(),
            (std::vector<std::string>{"ShowLogLists 1", "ApplyLanguageTexts",
                                      "SetDeviceLabel   " + s.DeviceName, AllFreeItems(),
                                      "SelectPortSelectorEntry 4", "MinimiseToTray"}));
  EXPECT_TRUE(session->TimerEnabled());
  ASSERT_TRUE(PortExists(5));

  PortClient client(work.path() + "/ports/COM5");
  ASSERT_TRUE(client.ok());
  EXPECT_EQ(Serve(client, "M1\r", "10:+0001.234\r\n"), "10:+0001.234\r\n");
  client.Close();
  for (int i = 0; i < 5; ++i) Tick();
  view.Take();

  session->Shutdown();
  EXPECT_EQ(view.Take(),
            (std::vector<std::string>{"Wait 200", "Wait 200", "RemoveTrayIcon", "RequestClose"}));
  EXPECT_FALSE(PortExists(5));
  EXPECT_NE(work.Read("Velk_VCP.CFG").find("\r\n20:5\r\n"), std::string::npos);
  const std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines.front(), "Device_Init()");
  EXPECT_EQ(lines[1], "VCP=Opened");
  EXPECT_EQ(lines[lines.size() - 3], "VCP=Closed");
  EXPECT_EQ(lines[lines.size() - 2], "Device_DeInit()");
  EXPECT_EQ(lines.back(), "*** Programm-Ende ***");

  session->Shutdown();
  Tick();
  EXPECT_TRUE(view.Take().empty());
  EXPECT_EQ(LogLines(), lines);
  EXPECT_FALSE(session->Start());
}

TEST_F(SessionTest, WithoutSettingsTheLowestFreePortIsSimulated) {
  RealPort(1);
  RealPort(2);
  ASSERT_TRUE(session->Start());
  EXPECT_EQ(s.VcpCom1, 3);
  EXPECT_TRUE(PortExists(3));
  EXPECT_EQ(session->ComPortExists()[1], 1);
  EXPECT_EQ(session->ComPortExists()[3], 0);
  EXPECT_EQ(session->PortSelectorItems().front(), "  COM3");
  EXPECT_TRUE(view.Saw("ShowInfoWindow"));
  EXPECT_TRUE(view.Saw("SelectPortSelectorEntry 0"));
  EXPECT_TRUE(view.Saw("ShowLogLists 0"));
  EXPECT_FALSE(work.Exists("Velk_VCP.LOG"));
}

TEST_F(SessionTest, ConfiguredPortThatExistsIsNotCreated) {
  RealPort(4);
  work.Write("Velk_VCP.CFG", "20:4\r\n40:0\r\n");
  ASSERT_TRUE(session->Start());
  const std::vector<std::string>& lines = view.lines;
  const auto wait = std::find(lines.begin(), lines.end(), "Wait 3000");
  const auto items = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with("SetPortSelectorItems");
  });
  EXPECT_TRUE(wait != lines.end() && wait < items);
  EXPECT_TRUE(view.Saw("ShowMessage 110 "));
  EXPECT_TRUE(fs::is_symlink(folder + "/COM4"));
  EXPECT_EQ(fs::read_symlink(folder + "/COM4"), "/dev/null");
  EXPECT_TRUE(session->TimerEnabled());
}

TEST_F(SessionTest, AllPortsTakenRunsWithoutAPort) {
  for (int n = 1; n <= 16; ++n) RealPort(n);
  ASSERT_TRUE(session->Start());
  EXPECT_EQ(s.VcpCom1, 0);
  EXPECT_TRUE(view.Saw("ShowMessage 110 "));
  EXPECT_EQ(session->PortSelectorItems(), std::vector<std::string>{"-->"});
  EXPECT_TRUE(session->TimerEnabled());
  Tick();
}

TEST_F(SessionTest, PortAboveSixteen) {
  work.Write("Velk_VCP.CFG", "20:20\r\n40:0\r\n");
  ASSERT_TRUE(session->Start());
  EXPECT_TRUE(view.Saw("ShowMessage 110 "));
  EXPECT_FALSE(PortExists(20));
}

TEST_F(SessionTest, SeveralPortsModeCreatesEverySlotThatIsOn) {
  work.Write("Velk_VCP.CFG", "20:-1\r\n83:20\r\n84:7\r\n40:0\r\n");
  ASSERT_TRUE(session->Start());
  EXPECT_TRUE(view.Saw("SetPortSelectorText -->"));
  EXPECT_TRUE(view.Saw("SetPortIcon 1"));
  EXPECT_TRUE(ports[0]->link_path().empty());
  EXPECT_TRUE(ports[1]->link_path().empty());
  EXPECT_TRUE(PortExists(20));
  EXPECT_TRUE(PortExists(7));
  EXPECT_EQ(session->bridge().CurrentPort(), 0);
}

TEST_F(SessionTest, FailedDeviceStartOffersTheSetupWindowOnce) {
  const std::string ddk = work.Read("Velk_VCP.DDK");
  fs::remove(work.path() + "/Velk_VCP.DDK");
  work.Write("Velk_VCP.CFG", kServingSettings);
  view.on_setup_window = [&] {
    EXPECT_TRUE(PortExists(5));
    work.Write("Velk_VCP.DDK", ddk);
  };
  ASSERT_TRUE(session->Start());
  EXPECT_TRUE(view.Saw("ShowSetupWindow"));
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Device_Init()"});
  EXPECT_TRUE(work.Exists("Velk_VCP.CFG"));
}

TEST_F(SessionTest, SecondFailedDeviceStartEndsTheProgram) {
  fs::remove(work.path() + "/Velk_VCP.DDK");
  work.Write("Velk_VCP.CFG", kServingSettings);
  EXPECT_FALSE(session->Start());
  const std::vector<std::string> lines = view.Take();
  ASSERT_GE(lines.size(), 5u);
  const std::vector<std::string> tail(lines.end() - 5, lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"SetDeviceLabel   " + s.DeviceName, "ShowMessage 112 ",
                                            "Wait 200", "RemoveTrayIcon", "RequestClose"}));
  EXPECT_FALSE(PortExists(5));
  EXPECT_FALSE(session->TimerEnabled());
  // The close request that follows ends the program without a second shutdown: the device
  // library that never started is not closed, the ports are not deleted again.
  session->Shutdown();
  EXPECT_TRUE(view.Take().empty());
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"*** Programm-Ende ***"}));
}

TEST_F(SessionTest, SetupButtonRestartsTheLibraryWithTheNewSettings) {
  work.Write("Velk_VCP.CFG", kServingSettings);
  ASSERT_TRUE(session->Start());
  view.on_setup_window = [&] {
    EXPECT_FALSE(session->TimerEnabled());
    s.UndefCommand = "\"NO\",13,10";
  };
  session->SetupButton_Click();
  EXPECT_TRUE(session->TimerEnabled());
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"Device_Init()", "Device_DeInit()",
                                                  "*** Setupfenster ***", "Device_Init()"}));
  EXPECT_NE(work.Read("Velk_VCP.CFG").find("\r\n420:\"NO\",13,10\r\n"), std::string::npos);
  PortClient client(work.path() + "/ports/COM5");
  EXPECT_EQ(Serve(client, "XX\r", "NO\r\n"), "NO\r\n");
  EXPECT_EQ(Serve(client, "M1\r", "10:+0001.234\r\n"), "10:+0001.234\r\n");
}

TEST_F(SessionTest, SetupButtonWhenTheLibraryDoesNotStartAgain) {
  work.Write("Velk_VCP.CFG", kServingSettings);
  ASSERT_TRUE(session->Start());
  view.Take();
  view.on_setup_window = [&] { fs::remove(work.path() + "/Velk_VCP.DDK"); };
  session->SetupButton_Click();
  EXPECT_EQ(view.Take(), (std::vector<std::string>{
                             "Wait 200", "ShowSetupWindow", "SetDeviceLabel   " + s.DeviceName,
                             "ShowMessage 112 ", "Wait 200", "RemoveTrayIcon", "RequestClose"}));
  EXPECT_FALSE(PortExists(5));
  EXPECT_FALSE(session->TimerEnabled());
  session->Shutdown();
  EXPECT_TRUE(view.Take().empty());
}

TEST_F(SessionTest, PortSelectorRecreatesThePort) {
  work.Write("Velk_VCP.CFG", kServingSettings);
  ASSERT_TRUE(session->Start());
  view.Take();
  // A click while the sequence runs does nothing.
  view.on_plain_message = [&] { session->COMPort2_Click(2); };
  session->COMPort2_Click(6);
  EXPECT_EQ(s.VcpCom1, 7);
  EXPECT_FALSE(PortExists(5));
  EXPECT_TRUE(PortExists(7));
  EXPECT_EQ(view.Take(),
            (std::vector<std::string>{"SetPortSelectorEnabled 0", "Wait 200", "Wait 200",
                                      "ShowPlainMessage Create new COM-Ports. Please wait ...",
                                      "RefreshTrayIcon", "Wait 200", "SetPortSelectorEnabled 1"}));
  EXPECT_NE(work.Read("Velk_VCP.CFG").find("\r\n20:7\r\n"), std::string::npos);
  EXPECT_TRUE(session->TimerEnabled());
  PortClient client(work.path() + "/ports/COM7");
  EXPECT_EQ(Serve(client, "M1\r", "10:+0001.234\r\n"), "10:+0001.234\r\n");
}

TEST_F(SessionTest, SeveralPortsDialogAddsAndRemovesSlots) {
  work.Write("Velk_VCP.CFG", kServingSettings);
  ASSERT_TRUE(session->Start());
  const int arrow = static_cast<int>(session->PortSelectorItems().size()) - 1;
  view.on_several_ports = [&] { s.VcpCom2 = 8; };
  session->COMPort2_Click(arrow);
  EXPECT_TRUE(PortExists(5));
  EXPECT_TRUE(PortExists(8));
  EXPECT_TRUE(view.Saw("SetPortIcon 1"));
  view.on_several_ports = [&] { s.VcpCom2 = 0; };
  session->COMPort2_Click(arrow);
  EXPECT_TRUE(PortExists(5));
  EXPECT_FALSE(PortExists(8));
}

TEST_F(SessionTest, RefusedPortLeavesPollingOff) {
  work.Write("Velk_VCP.CFG", kServingSettings);
  ASSERT_TRUE(session->Start());
  work.Write("ports/COM9", "not a port");
  view.Take();
  session->COMPort2_Click(8);
  EXPECT_TRUE(view.Saw("ShowMessage 110 COM9"));
  EXPECT_TRUE(view.Saw("SetPortSelectorEnabled 1"));
  EXPECT_FALSE(session->TimerEnabled());
  EXPECT_EQ(session->Busy(), 0);
}

}  // namespace
