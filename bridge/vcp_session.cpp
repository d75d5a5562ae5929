#include "vcp_session.h"

#include <iostream>

#include "language_file.h"
#include "number_text.h"
#include "settings_file.h"

namespace {

constexpr int kProbedPorts = 16;
constexpr int kStalePortsPauseMs = 3000;
constexpr int kPortPauseMs = 200;

std::string PortName(int16_t n) { return "COM" + std::to_string(n); }

}  // namespace

VcpSession::VcpSession(IMainView& view, IDeviceLibrary& device, std::array<IVirtualPort*, 4> ports,
                       PortProbe probe, IKeyState& keys, SettingsRecord& settings)
    : view_(view),
      device_(device),
      ports_(ports),
      probe_(std::move(probe)),
      s_(settings),
      keys_(keys),
      bridge_(view, device, ports, keys, settings) {}

std::array<int16_t, 4> VcpSession::SlotNumbers() const {
  return {s_.VcpCom1, s_.VcpCom2, s_.VcpCom3, s_.VcpCom4};
}

int16_t VcpSession::LanguageCode() const {
  return RoundToInt16(NumericValue(LanguageTexts[999])).value_or(0);
}

void VcpSession::RecreateCommandTable() {
  bridge_.CreateCommandTab();
  view_.SetDeviceLabel("  " + s_.DeviceName);
}

bool VcpSession::Start() {
  if (started_) return false;
  started_ = true;

  if (const int stale = RemoveStaleSettingsTemporaries(); stale > 0) {
    std::cerr << "Velk_VCP: removed " << stale << " temporary file(s) of an interrupted save\n";
  }
  ReadSettings("", s_);
  // Written at once, so that a first start leaves a complete file, whatever happens later.
  WriteSettings("", s_);
  bridge_.CreateCommandTab();
  LoadLanguage(s_.LanguageNo);
  view_.ShowLogLists(s_.LogOn != 0);
  if (s_.LogOn == 1) bridge_.Log().Open();
  if (!KeptSettingsNotice().empty()) bridge_.Log().WriteLine(KeptSettingsNotice());

  busy_ = 1;
  view_.ApplyLanguageTexts();
  view_.SetDeviceLabel("  " + s_.DeviceName);
  bridge_.Log().ClearLists();

  if (s_.ShowInfoWin == 1) view_.ShowInfoWindow();

  if (s_.VcpCom1 != 0 && probe_ && probe_(s_.VcpCom1)) {
    if (ports_[0]) ports_[0]->RemoveStalePorts();
    view_.WaitAndProcessEvents(kStalePortsPauseMs);
  }

  selector_items_.clear();
  for (int n = 1; n <= kProbedPorts; ++n) {
    com_port_exists_[n] = 0;
    if (probe_ && probe_(n)) {
      com_port_exists_[n] = 1;
    } else {
      selector_items_.push_back("  COM" + std::to_string(n));
    }
  }
  selector_items_.push_back(kSeveralPortsEntry);
  view_.SetPortSelectorItems(selector_items_);

  if (s_.VcpCom1 == 0) s_.VcpCom1 = FirstFreePortNumber();

  const bool singlePort = s_.VcpCom2 == 0 && s_.VcpCom3 == 0 && s_.VcpCom4 == 0;
  bool createPorts = true;
  if (singlePort) {
    int index = -1;
    int count = 0;
    for (int n = 1; n <= kProbedPorts; ++n) {
      if (com_port_exists_[n] != 0) continue;
      if (n == s_.VcpCom1) index = count;
      ++count;
    }
    if (index >= 0) {
      view_.SelectPortSelectorEntry(index);
    } else {
      view_.ShowMessage(110, "");
      createPorts = false;
    }
  } else {
    view_.SetPortSelectorText(kSeveralPortsEntry);
    view_.SetPortIcon(1);
  }
  if (createPorts) CreatePorts(false);

  bridge_.SetCurrentPort(0);
  if (ports_[0] && ports_[0]->IsOpened() && !ports_[0]->HeldAcrossRestart()) {
    ports_[0]->ResetPort();
  }
  busy_ = 0;
  bridge_.ResetPollState();

  if (device_.Device_Init(LanguageCode(), kDdkFileName, view_.WindowHandle()) != 0) {
    view_.ShowSetupWindow();
    RecreateCommandTable();
    WriteSettings("", s_);
    if (device_.Device_Init(LanguageCode(), kDdkFileName, view_.WindowHandle()) != 0) {
      EndWithoutDeviceLibrary();
      return false;
    }
  }
  bridge_.Log().WriteLine("Device_Init()");
  view_.MinimiseToTray();
  timer_enabled_ = true;
  if (SeveralPorts() && !keys_.CanChange()) {
    std::cerr << "Velk_VCP: several ports are set up and no hot key can be read: slot 1 is "
              << (s_.AnswerEveryPort != 0 ? "served (foot switch and data keys); every port "
                                            "answers its own client"
                                          : "served; choose another with velk-vcp-config "
                                            "serve SLOT, or let every port answer with "
                                            "velk-vcp-config every-port on")
              << std::endl;
  }
  return true;
}

int VcpSession::CheckGauges() {
  if (!timer_enabled_ || shut_down_) return 0;
  return bridge_.Health().Check(s_, device_);
}

void VcpSession::ApplyPortSharing() {
  for (IVirtualPort* port : ports_) {
    if (port) port->SetShared(s_.SharedPorts != 0);
  }
}

bool VcpSession::CreatePorts(bool stopAtFailure) {
  ApplyPortSharing();
  const std::array<int16_t, 4> numbers = SlotNumbers();
  for (size_t k = 0; k < numbers.size(); ++k) {
    if (numbers[k] <= 0) continue;
    const std::string name = PortName(numbers[k]);
    if (ports_[k] && ports_[k]->CreatePort(name)) continue;
    view_.ShowMessage(110, name);
    if (stopAtFailure) return false;
  }
  return true;
}

void VcpSession::DeleteSlotPorts(const std::array<int16_t, 4>& numbers) {
  for (size_t k = 0; k < numbers.size(); ++k) {
    if (numbers[k] <= 0) continue;
    if (ports_[k]) ports_[k]->DeletePort();
    view_.WaitAndProcessEvents(kPortPauseMs);
  }
}

void VcpSession::Tick() {
  if (!timer_enabled_ || in_tick_ || shut_down_) return;
  in_tick_ = true;
  bridge_.Timer1_Timer();
  in_tick_ = false;
}

int VcpSession::QuietTicks() const {
  if (!timer_enabled_ || shut_down_) return 0;
  return bridge_.QuietTicks();
}

void VcpSession::CountQuietTick() {
  if (timer_enabled_ && !in_tick_ && !shut_down_) bridge_.CountQuietTick();
}

void VcpSession::ServeInput() {
  if (!timer_enabled_ || in_tick_ || shut_down_) return;
  in_tick_ = true;
  bridge_.ServeInput();
  in_tick_ = false;
}

void VcpSession::COMPort2_Click(int index) {
  if (busy_ != 0 || shut_down_ || !started_) return;
  if (index < 0 || index >= static_cast<int>(selector_items_.size())) return;
  const bool severalPorts = selector_items_[static_cast<size_t>(index)] == kSeveralPortsEntry;

  view_.SetPortSelectorEnabled(false);
  busy_ = 1;
  timer_enabled_ = false;
  view_.WaitAndProcessEvents(kPortPauseMs);

  const std::array<int16_t, 4> before = SlotNumbers();
  if (severalPorts) view_.ShowSeveralPortsDialog();
  // A slot the dialog switched off is taken down as well; it would be served by nobody.
  std::array<int16_t, 4> taken = SlotNumbers();
  for (size_t k = 0; k < taken.size(); ++k) {
    if (taken[k] <= 0 && before[k] > 0) {
      if (ports_[k]) ports_[k]->DeletePort();
    }
  }
  DeleteSlotPorts(taken);

  if (!severalPorts) {
    int count = 0;
    for (int16_t n = 1; n <= kProbedPorts; ++n) {
      if (com_port_exists_[n] != 0) continue;
      if (count++ == index) s_.VcpCom1 = n;
    }
    s_.VcpCom2 = s_.VcpCom3 = s_.VcpCom4 = 0;
  }
  view_.ShowPlainMessage(kRecreatePortsText);
  WriteSettings("", s_);
  bridge_.SetPortsOpen(0);

  if (!CreatePorts(true)) {
    view_.SetPortSelectorEnabled(true);
    busy_ = 0;
    return;
  }
  bridge_.SetCurrentPort(0);
  if (ports_[0] && ports_[0]->IsOpened()) ports_[0]->ResetPort();
  if (s_.VcpCom2 != 0 || s_.VcpCom3 != 0 || s_.VcpCom4 != 0) {
    view_.SetPortIcon(1);
  } else {
    view_.RefreshTrayIcon();
  }
  view_.WaitAndProcessEvents(kPortPauseMs);
  view_.SetPortSelectorEnabled(true);
  busy_ = 0;
  timer_enabled_ = true;
}

std::string VcpSession::ApplySettings(const SettingsRecord& next) {
  if (shut_down_ || !started_ || busy_ != 0 || !timer_enabled_) {
    return "the program is busy (a window or a port change); try again";
  }
  const SettingsRecord previous = s_;
  const std::array<int16_t, 4> before = SlotNumbers();
  timer_enabled_ = false;
  bridge_.Log().WriteLine("Device_DeInit()");
  device_.Device_DeInit();
  // Makes the ports of the slots whose number differs between from and to anew; false when
  // one cannot be made.
  auto move_ports = [this](const std::array<int16_t, 4>& from, const std::array<int16_t, 4>& to) {
    bool made = true;
    for (size_t k = 0; k < to.size(); ++k) {
      if (from[k] == to[k] || !ports_[k]) continue;
      ports_[k]->DeletePort();
      if (to[k] <= 0) continue;
      made = ports_[k]->CreatePort(PortName(to[k])) && made;
    }
    return made;
  };
  s_ = next;
  // Port 1 set to the first free number keeps the number this run chose for it: the settings
  // file holds 0 until the program ends, and taking 0 over as it stands would delete the port.
  if (s_.VcpCom1 == 0) s_.VcpCom1 = before[0] > 0 ? before[0] : FirstFreePortNumber();
  ApplyPortSharing();
  std::string reason;
  if (!move_ports(before, SlotNumbers())) reason = "a port of the new settings cannot be made";
  RecreateCommandTable();
  if (reason.empty() && device_.Device_Init(LanguageCode(), kDdkFileName, 0) != 0) {
    reason = "the device library does not start with the new settings";
    device_.Device_DeInit();
  }
  if (!reason.empty()) {
    const std::array<int16_t, 4> tried = SlotNumbers();
    s_ = previous;
    ApplyPortSharing();
    move_ports(tried, SlotNumbers());
    RecreateCommandTable();
    if (device_.Device_Init(LanguageCode(), kDdkFileName, 0) != 0) {
      // The device file went bad while the program ran. Ending here would take the clients'
      // ports with it; the ports stay, and the next change that starts the library mends it.
      bridge_.Log().WriteLine("Device_Init() failed");
      timer_enabled_ = true;
      return reason +
             ", and it does not start again with the previous ones either (is the device file "
             "empty or broken?); the ports stay, but no gauge answers until a change or "
             "reload starts it";
    }
  }
  bridge_.Log().WriteLine("Device_Init()");
  // A served slot that is off now leaves serving to slot 1.
  if (SlotNumbers()[static_cast<size_t>(bridge_.CurrentPort())] <= 0) bridge_.SetCurrentPort(0);
  timer_enabled_ = true;
  return reason;
}

int16_t VcpSession::FirstFreePortNumber() const {
  for (int16_t n = 1; n <= kProbedPorts; ++n) {
    if (com_port_exists_[static_cast<size_t>(n)] == 0) return n;
  }
  return 0;
}

void VcpSession::SetupButton_Click() {
  if (shut_down_ || !started_) return;
  timer_enabled_ = false;
  view_.WaitAndProcessEvents(kPortPauseMs);
  bridge_.Log().WriteLine("Device_DeInit()");
  device_.Device_DeInit();
  bridge_.Log().WriteLine("*** Setupfenster ***");
  view_.ShowSetupWindow();
  WriteSettings("", s_);
  RecreateCommandTable();
  if (device_.Device_Init(LanguageCode(), kDdkFileName, 0) != 0) {
    EndWithoutDeviceLibrary();
    return;
  }
  bridge_.Log().WriteLine("Device_Init()");
  bridge_.Health().Forget();
  IVirtualPort* current = bridge_.Port(bridge_.CurrentPort());
  if (current && current->IsOpened()) current->ResetPort();
  timer_enabled_ = true;
}

void VcpSession::EndWithoutDeviceLibrary() {
  view_.ShowMessage(112, "");
  DeleteSlotPorts(SlotNumbers());
  // This is the program's shutdown: the settings are written, the ports gone, and the device
  // library never started, so the close request that follows must not run it again.
  shut_down_ = true;
  timer_enabled_ = false;
  view_.RemoveTrayIcon();
  view_.RequestClose();
  bridge_.Log().WriteLine("*** Programm-Ende ***");
  bridge_.Log().Close();
}

void VcpSession::Shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  timer_enabled_ = false;
  view_.WaitAndProcessEvents(kPortPauseMs);
  bridge_.Log().WriteLine("Device_DeInit()");
  device_.Device_DeInit();
  DeleteSlotPorts(SlotNumbers());
  WriteSettings("", s_);
  view_.RemoveTrayIcon();
  view_.RequestClose();
  bridge_.Log().WriteLine("*** Programm-Ende ***");
  bridge_.Log().Close();
}
