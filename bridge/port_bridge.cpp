#include "port_bridge.h"

#include <algorithm>

#include "hot_keys.h"

PortBridge::PortBridge(IMainView& view, IDeviceLibrary& device,
                       std::array<IVirtualPort*, kSlots> ports, IKeyState& keys, SettingsRecord& s)
    : view_(view), device_(device), ports_(ports), keys_(keys), s_(s) {
  index_.Build(tab_);
}

void PortBridge::CreateCommandTab() {
  ::CreateCommandTab(tab_, s_, device_);
  index_.Build(tab_);
  served_rx_.prefix_skip = 0;
  for (RxState& rx : slot_rx_) rx.prefix_skip = 0;
}

void PortBridge::ResetAllRings() {
  RxState* const active = rx_;
  for (RxState* rx : {&served_rx_, &slot_rx_[0], &slot_rx_[1], &slot_rx_[2], &slot_rx_[3]}) {
    rx_ = rx;
    ResetRing();
  }
  rx_ = active;
}

void PortBridge::ResetRing() {
  rx_->ring.Reset();
  rx_->prefix_skip = 0;
  rx_->message_open = false;
  rx_->message_ack = false;
}

bool PortBridge::Backlogged() const {
  IVirtualPort* port = Port(io_slot_);
  return port && port->OutputBacklogged();
}

void PortBridge::ResetPollState() {
  ResetAllRings();
  tick_counter_ = 0;
  foot_switch_down_ = 0;
}

void PortBridge::SetCurrentPort(int16_t slotIndex) {
  if (slotIndex >= 0 && slotIndex < kSlots) current_port_ = io_slot_ = slotIndex;
}

bool PortBridge::ServeSlot(int slot) {
  const int16_t numbers[kSlots] = {s_.VcpCom1, s_.VcpCom2, s_.VcpCom3, s_.VcpCom4};
  if (slot < 1 || slot > kSlots || numbers[slot - 1] <= 0) return false;
  view_.SetPortIcon(slot);
  if (current_port_ + 1 == slot) return true;
  current_port_ = io_slot_ = static_cast<int16_t>(slot - 1);
  IVirtualPort* port = Port(current_port_);
  // A client of the newly served port gets nothing that waited before it was served; where
  // every port answers, its commands were answered all along and stay its own.
  if (port && port->IsOpened() && !AnswersEveryPort()) port->ResetPort();
  log_.WriteLine("Served port: slot " + std::to_string(slot) + " (COM" +
                 std::to_string(numbers[slot - 1]) + ")");
  return true;
}

PortBridge::SlotRecord& PortBridge::Record(int slot) {
  SlotRecord& record = records_[static_cast<size_t>(std::clamp(slot, 0, kSlots - 1))];
  IVirtualPort* port = Port(slot);
  const uint32_t session = port ? port->ClientSession() : 0;
  if (record.session != session) record = {{}, session};
  return record;
}

PortBridge::SlotActivity PortBridge::Activity(int slotIndex) const {
  IVirtualPort* port = Port(slotIndex);
  if (!port) return {};
  const SlotRecord& record = records_[static_cast<size_t>(slotIndex)];
  return record.session == port->ClientSession() ? record.activity : SlotActivity{};
}

IVirtualPort* PortBridge::Port(int slotIndex) const {
  if (slotIndex < 0 || slotIndex >= kSlots) return nullptr;
  return ports_[static_cast<size_t>(slotIndex)];
}

void PortBridge::Timer1_Timer() { ServingStep(true); }

void PortBridge::ServeInput() { ServingStep(false); }

int PortBridge::QuietTicks() const { return ports_open_ == 0 ? -1 : 5 - tick_counter_; }

void PortBridge::CountQuietTick() {
  if (QuietTicks() > 0) ++tick_counter_;
}

void PortBridge::ServingStep(bool tick) {
  // Every port follows its clients and sends what waits before the step, and sends the
  // step's answers in one go after it.
  in_step_ = true;
  for (IVirtualPort* port : ports_) {
    if (port) port->Pump();
  }
  ReleaseHeldValues();
  if (tick) HotKeyStep();
  io_slot_ = current_port_;
  OpenStateStep();
  if (ports_open_ != 0) {
    // Pushes go to the served port only.
    if (tick && ++tick_counter_ > 5) {
      tick_counter_ = 0;
      TriggerBlock();
    }
    if (AnswersEveryPort()) {
      for (int k = 0; k < kSlots; ++k) {
        if (Port(k)) ServeSlotInput(k, slot_rx_[static_cast<size_t>(k)]);
      }
    } else {
      ServeSlotInput(current_port_, served_rx_);
    }
  }
  for (IVirtualPort* port : ports_) {
    if (port) port->Pump();
  }
  in_step_ = false;
  // The step's value events go on together, after its answers, with the time they went out.
  FlushValueEvents();
  ShowListsIfChanged();
}

void PortBridge::ServeSlotInput(int slot, RxState& rx) {
  io_slot_ = static_cast<int16_t>(slot);
  rx_ = &rx;
  Receive();
  if (!rx_->ring.Empty()) {
    if (tab_.EndText.empty()) {
      ProcessPrefix();
    } else {
      ProcessTerminated();
    }
  }
  DiscardFullRing();
  io_slot_ = current_port_;
  rx_ = &served_rx_;
}

void PortBridge::HotKeyStep() {
  const int p = HotKeySlot(s_, keys_);
  if (p > 0) ServeSlot(p);
}

void PortBridge::OpenStateStep() {
  const int16_t numbers[kSlots] = {s_.VcpCom1, s_.VcpCom2, s_.VcpCom3, s_.VcpCom4};
  bool any = false;
  for (int k = 0; k < kSlots; ++k) {
    IVirtualPort* port = Port(k);
    if (numbers[k] > 0 && port && port->IsOpened()) any = true;
  }
  if (!any && ports_open_ == -1) {
    ports_open_ = 0;
    view_.SetQuitAndPortSelectorEnabled(true);
    log_.WriteLine("VCP=Closed");
  } else if (any && ports_open_ == 0) {
    ports_open_ = -1;
    // A command fragment left by a client that went away must not join the new client's
    // first command.
    ResetAllRings();
    view_.SetQuitAndPortSelectorEnabled(false);
    log_.WriteLine("VCP=Opened");
  }
}

bool PortBridge::RingOwnerStays() {
  IVirtualPort* port = Port(io_slot_);
  const uint32_t session = port ? port->ClientSession() : 0;
  const int32_t droppedByPort = port ? port->TakeDroppedInput() : 0;
  if (rx_->slot == io_slot_ && rx_->session == session) return true;
  // Another port is served, or its client left or was replaced (maybe within one step):
  // what the ring holds came from someone else and is not answered.
  const int64_t dropped = int64_t{rx_->ring.Used()} + droppedByPort;
  if (rx_->slot == io_slot_ && dropped > 0) {
    log_.WriteLine("Client gone: " + std::to_string(dropped) + " bytes not answered");
  }
  ResetRing();
  rx_->slot = io_slot_;
  rx_->session = session;
  return false;
}

void PortBridge::Receive() {
  IVirtualPort* port = Port(io_slot_);
  if (!port) return;
  // The port is asked first: taking input is where it notices a client leaving, and the
  // ring is then checked against the client that holds the port now.
  const int32_t waiting = port->InCount();
  RingOwnerStays();
  const int room = rx_->ring.Room();
  if (waiting <= 0 || room <= 0) return;
  if (finishing_) {
    FinishCommand(*port, room);
    return;
  }
  // Only what the ring has room for is taken; the rest waits in the port.
  const int32_t wanted = std::min<int32_t>(waiting, room);
  buffer_.resize(static_cast<size_t>(wanted));
  int32_t count = wanted;
  port->ReadData(buffer_.data(), count);
  count = std::clamp<int32_t>(count, 0, wanted);
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t b = buffer_[static_cast<size_t>(i)];
    if (b == ' ' && s_.Blanks != 0) continue;
    rx_->ring.Push(b);
  }
}

void PortBridge::FinishCommand(IVirtualPort& port, int room) {
  // What the port took already is the run's to answer; beyond that only the bytes that end the
  // command begun in the ring, one at a time.
  int32_t taken = std::min<int32_t>(port.TakenInput(), room);
  const std::string& end = tab_.EndText;
  for (int i = 0; i < room; ++i) {
    if (taken <= 0) {
      if (rx_->ring.Empty() || end.empty() || rx_->ring.Text().ends_with(end)) return;
    }
    uint8_t b = 0;
    int32_t count = 1;
    port.ReadData(&b, count);
    if (count != 1) return;
    --taken;
    if (b == ' ' && s_.Blanks != 0) continue;
    rx_->ring.Push(b);
  }
}

void PortBridge::FinishWhatWasTaken() {
  finishing_ = true;
  for (IVirtualPort* port : ports_) {
    if (port) port->TakeOnlyWhatIsRead();
  }
}

bool PortBridge::TakenFinished() {
  if (!finishing_) return false;
  for (int k = 0; k < kSlots; ++k) {
    IVirtualPort* port = Port(k);
    if (port && (port->TakenInput() > 0 || port->OutputPending())) return false;
  }
  // In prefix mode a command has no end to wait for: what is left in a ring is not taken on.
  if (tab_.EndText.empty()) return true;
  // A ring waits only for the client that filled it, and only while that client stays.
  auto waits = [this](const RxState& rx) {
    IVirtualPort* port = Port(rx.slot);
    return !rx.ring.Empty() && port && port->IsOpened() && port->ClientSession() == rx.session;
  };
  if (waits(served_rx_)) return false;
  for (const RxState& rx : slot_rx_) {
    if (waits(rx)) return false;
  }
  return true;
}

void PortBridge::DiscardFullRing() {
  // A ring full of commands that wait for the client to read is no garbage.
  if (rx_->ring.Room() > 0 || Backlogged()) return;
  // Full and nothing in it could be cut: in prefix mode the bytes known to match nothing go,
  // otherwise (a command that never ends) everything.
  const int discard =
      (tab_.EndText.empty() && rx_->prefix_skip > 0) ? rx_->prefix_skip : rx_->ring.Used();
  rx_->ring.Consume(discard);
  rx_->prefix_skip = 0;
  rx_->message_open = false;
  log_.WriteLine("Receive buffer full: " + std::to_string(discard) + " bytes discarded");
}

void PortBridge::ShowListsIfChanged() {
  if (log_.changes() == shown_changes_) return;
  shown_changes_ = log_.changes();
  view_.UpdateMonitorLists(log_.List1(), log_.List2());
}
