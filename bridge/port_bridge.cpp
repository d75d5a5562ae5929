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
  ResetRing(served_rx_);
  for (RxState& rx : slot_rx_) ResetRing(rx);
}

void PortBridge::ResetRing(RxState& rx) {
  rx.ring.Reset();
  rx.prefix_skip = 0;
  rx.message_open = false;
  rx.message_ack = false;
}

PortBridge::ServingContext PortBridge::Serving(int slot, RxState& rx, ValueCause cause) const {
  return {static_cast<int16_t>(slot), rx, Port(slot), cause};
}

bool PortBridge::Backlogged(const ServingContext& c) {
  return c.port && c.port->OutputBacklogged();
}

void PortBridge::ResetPollState() {
  ResetAllRings();
  tick_counter_ = 0;
  foot_switch_down_ = 0;
}

void PortBridge::SetCurrentPort(int16_t slotIndex) {
  if (slotIndex >= 0 && slotIndex < kSlots) current_port_ = slotIndex;
}

bool PortBridge::ServeSlot(int slot) {
  const int16_t numbers[kSlots] = {s_.VcpCom1, s_.VcpCom2, s_.VcpCom3, s_.VcpCom4};
  if (slot < 1 || slot > kSlots || numbers[slot - 1] <= 0) return false;
  view_.SetPortIcon(slot);
  if (current_port_ + 1 == slot) return true;
  current_port_ = static_cast<int16_t>(slot - 1);
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
  OpenStateStep();
  if (ports_open_ != 0) {
    // Pushes go to the served port only.
    if (tick && ++tick_counter_ > 5) {
      tick_counter_ = 0;
      TriggerBlock();
    }
    if (AnswersEveryPort()) {
      for (int k = 0; k < kSlots; ++k) {
        if (Port(k)) ServeSlotInput(Serving(k, slot_rx_[static_cast<size_t>(k)]));
      }
    } else {
      ServeSlotInput(Serving(current_port_, served_rx_));
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

void PortBridge::ServeSlotInput(const ServingContext& c) {
  Receive(c);
  if (!c.rx.ring.Empty()) {
    if (tab_.EndText.empty()) {
      ProcessPrefix(c);
    } else {
      ProcessTerminated(c);
    }
  }
  DiscardFullRing(c);
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

bool PortBridge::RingOwnerStays(const ServingContext& c) {
  RxState& rx = c.rx;
  const uint32_t session = c.port ? c.port->ClientSession() : 0;
  const int32_t droppedByPort = c.port ? c.port->TakeDroppedInput() : 0;
  if (rx.slot == c.slot && rx.session == session) return true;
  // Another port is served, or its client left or was replaced (maybe within one step):
  // what the ring holds came from someone else and is not answered.
  const int64_t dropped = int64_t{rx.ring.Used()} + droppedByPort;
  if (rx.slot == c.slot && dropped > 0) {
    log_.WriteLine("Client gone: " + std::to_string(dropped) + " bytes not answered");
  }
  ResetRing(rx);
  rx.slot = c.slot;
  rx.session = session;
  return false;
}

void PortBridge::Receive(const ServingContext& c) {
  IVirtualPort* port = c.port;
  if (!port) return;
  // The port is asked first: taking input is where it notices a client leaving, and the
  // ring is then checked against the client that holds the port now.
  const int32_t waiting = port->InCount();
  RingOwnerStays(c);
  const int room = c.rx.ring.Room();
  if (waiting <= 0 || room <= 0) return;
  if (finishing_) {
    FinishCommand(c, room);
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
    c.rx.ring.Push(b);
  }
}

void PortBridge::FinishCommand(const ServingContext& c, int room) {
  IVirtualPort& port = *c.port;
  ReceiveRing& ring = c.rx.ring;
  // What the port took already is the run's to answer; beyond that only the bytes that end the
  // command begun in the ring, one at a time.
  int32_t taken = std::min<int32_t>(port.TakenInput(), room);
  const std::string& end = tab_.EndText;
  for (int i = 0; i < room; ++i) {
    if (taken <= 0) {
      if (ring.Empty() || end.empty() || ring.Text().ends_with(end)) return;
    }
    uint8_t b = 0;
    int32_t count = 1;
    port.ReadData(&b, count);
    if (count != 1) return;
    --taken;
    if (b == ' ' && s_.Blanks != 0) continue;
    ring.Push(b);
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

void PortBridge::DiscardFullRing(const ServingContext& c) {
  RxState& rx = c.rx;
  // A ring full of commands that wait for the client to read is no garbage.
  if (rx.ring.Room() > 0 || Backlogged(c)) return;
  // Full and nothing in it could be cut: in prefix mode the bytes known to match nothing go,
  // otherwise (a command that never ends) everything.
  const int discard =
      (tab_.EndText.empty() && rx.prefix_skip > 0) ? rx.prefix_skip : rx.ring.Used();
  rx.ring.Consume(discard);
  rx.prefix_skip = 0;
  rx.message_open = false;
  log_.WriteLine("Receive buffer full: " + std::to_string(discard) + " bytes discarded");
}

void PortBridge::ShowListsIfChanged() {
  if (log_.changes() == shown_changes_) return;
  shown_changes_ = log_.changes();
  view_.UpdateMonitorLists(log_.List1(), log_.List2());
}
