#include "bridge_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "presets.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

const char* const kTestDdk = R"(socket: Velk_VCP.sock
device: 1
footswitch: 0
name: Foot switch
footswitch: 1
name: Hand switch
input: 1
value: 1.234
input: 2
value: 2.5
input: 3
value: -0.5
input: 4
value: 4
status: novalue
input: 5
value: 5
status: outofrange
input: 7
value: 7.7
input: 150
value: 150.5
device: 2
input: 1
value: 21.25
input: 2
status: noanswer
)";

WorkFolder::WorkFolder() {
  path_ = MakeTempFolder("velk-engine");
  if (path_.empty()) ADD_FAILURE() << "no temporary folder";
  for (const auto& entry : fs::directory_iterator(VELK_DATA_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".DRV") || name.ends_with(".LAN")) {
      fs::copy_file(entry.path(), path_ + "/" + name);
    }
  }
  Write("Velk_VCP.DDK", kTestDdk);
  previous_ = fs::current_path().string();
  fs::current_path(path_);
}

WorkFolder::~WorkFolder() {
  fs::current_path(previous_);
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string WorkFolder::Read(const std::string& name) const {
  std::ifstream in(path_ + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WorkFolder::Write(const std::string& name, const std::string& text) const {
  std::ofstream(path_ + "/" + name, std::ios::binary) << text;
}

bool WorkFolder::Exists(const std::string& name) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path_ + "/" + name, ignored));
}

PortClient::PortClient(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

PortClient::~PortClient() { Close(); }

void PortClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void PortClient::Write(const std::string& bytes) {
  size_t done = 0;
  for (int attempt = 0; done < bytes.size() && attempt < 1000; ++attempt) {
    ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

void PortClient::Poll() {
  char buffer[4096];
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0 || poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return;
    ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) return;
    received_.append(buffer, static_cast<size_t>(n));
  }
}

std::string PortClient::Take() {
  Poll();
  std::string got;
  got.swap(received_);
  return got;
}

void RecordingView::ShowMessage(int textNumber, const std::string& title) {
  Record("ShowMessage " + std::to_string(textNumber) + " " + title);
}

void RecordingView::ShowPlainMessage(const std::string& text) {
  Record("ShowPlainMessage " + text);
  if (on_plain_message) on_plain_message();
}

void RecordingView::ShowLogLists(bool visible) {
  Record(std::string("ShowLogLists ") + (visible ? "1" : "0"));
}

void RecordingView::SetQuitAndPortSelectorEnabled(bool enabled) {
  Record(std::string("SetQuitAndPortSelectorEnabled ") + (enabled ? "1" : "0"));
}

void RecordingView::SetPortSelectorEnabled(bool enabled) {
  Record(std::string("SetPortSelectorEnabled ") + (enabled ? "1" : "0"));
}

void RecordingView::SetPortSelectorItems(const std::vector<std::string>& items) {
  std::string line = "SetPortSelectorItems";
  for (const std::string& item : items) line += "|" + item;
  Record(line);
}

void RecordingView::SelectPortSelectorEntry(int index) {
  Record("SelectPortSelectorEntry " + std::to_string(index));
}

void RecordingView::SetPortSelectorText(const std::string& text) {
  Record("SetPortSelectorText " + text);
}

void RecordingView::SetPortIcon(int slot) { Record("SetPortIcon " + std::to_string(slot)); }

void RecordingView::ShowSetupWindow() {
  Record("ShowSetupWindow");
  if (on_setup_window) on_setup_window();
}

void RecordingView::ShowSeveralPortsDialog() {
  Record("ShowSeveralPortsDialog");
  if (on_several_ports) on_several_ports();
}

void RecordingView::WaitAndProcessEvents(int ms) { Record("Wait " + std::to_string(ms)); }

std::vector<std::string> RecordingView::Take() {
  std::vector<std::string> taken;
  taken.swap(lines);
  return taken;
}

bool RecordingView::Saw(const std::string& line) const {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

int Operator(const std::string& arguments) {
  const std::string command =
      std::string("'") + VELK_DDK_TOOL + "' -f Velk_VCP.DDK " + arguments + " >/dev/null";
  return WEXITSTATUS(std::system(command.c_str()));
}

EngineTest::EngineTest() {
  for (auto& port : ports) port = std::make_unique<PtyPort>(work.path() + "/ports");
  bridge = std::make_unique<PortBridge>(
      view, library,
      std::array<IVirtualPort*, 4>{ports[0].get(), ports[1].get(), ports[2].get(), ports[3].get()},
      keys, s);
}

EngineTest::~EngineTest() {
  client.reset();
  library.Device_DeInit();
}

void EngineTest::UsePreset(int number) {
  SetDefaultSettings(s);
  s.CommandFormat = static_cast<int16_t>(number);
  ASSERT_TRUE(LoadPreset(s));
  s.VcpCom1 = 5;
}

void EngineTest::UseInput(int d, int a, const std::string& commandAdr, const std::string& meaValAdr,
                          int16_t fs) {
  InputRecord& in = s.Inputs[d][a];
  in.State = 1;
  in.FS = fs;
  in.CommandAdr = commandAdr;
  in.MeaValAdr = meaValAdr;
}

void EngineTest::Start() {
  ASSERT_EQ(library.Device_Init(1, "Velk_VCP.DDK", 0), 0);
  const int16_t numbers[4] = {s.VcpCom1, s.VcpCom2, s.VcpCom3, s.VcpCom4};
  for (int k = 0; k < 4; ++k) {
    if (numbers[k] > 0) {
      ASSERT_TRUE(ports[k]->CreatePort("COM" + std::to_string(numbers[k])));
    }
  }
  bridge->CreateCommandTab();
  client = std::make_unique<PortClient>(PortPath(0));
  ASSERT_TRUE(client->ok());
  Idle(3);
  ASSERT_EQ(bridge->PortsOpen(), -1);
}

std::string EngineTest::PortPath(int slotIndex) const {
  return ports[static_cast<size_t>(slotIndex)]->link_path();
}

std::string EngineTest::Exchange(const std::string& bytes, size_t expected, PortClient* to) {
  PortClient& c = to ? *to : *client;
  c.Write(bytes);
  if (expected == 0) return Idle(30, &c);
  std::string got;
  // A bound in time, not in ticks: on a loaded machine the device library's answer may take
  // far longer than a thousand ticks of a millisecond.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (got.size() < expected && std::chrono::steady_clock::now() < deadline) {
    Tick();
    got += c.Take();
    if (got.size() < expected) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return got + Idle(5, &c);
}

std::string EngineTest::Idle(int ticks, PortClient* to) {
  PortClient& c = to ? *to : *client;
  std::string got;
  for (int i = 0; i < ticks; ++i) {
    Tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    got += c.Take();
  }
  return got;
}
