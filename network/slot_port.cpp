#include "slot_port.h"

#include <algorithm>
#include <cstring>
#include <iostream>

SlotPort::SlotPort(int slot, const SettingsRecord& settings, std::string folder)
    : slot_(slot),
      settings_(settings),
      pty_(std::move(folder)),
      network_(NetworkEndpoint::Hooks{
          [this] { return pty_.LockOut(); },
          [this] { pty_.EndLockOut(); },
          [this] { return pty_.ClientName(); },
          [this](const std::string& line) { Log(line); },
          [this](NetworkClient* client) {
            line_ = client ? static_cast<ClientLine*>(client) : &pty_;
          },
          [this](const std::string& line) {
            if (refused_) refused_(line);
          },
      }) {}

void SlotPort::Log(const std::string& line) {
  std::cerr << "Velk_VCP: " << line << std::endl;
  if (log_) log_(line);
}

bool SlotPort::CreatePort(const std::string& name) {
  network_.Stop();
  network_error_.clear();
  name_.clear();
  if (!pty_.CreatePort(name)) return false;
  name_ = name;
  std::string reason;
  if (!ApplyNetwork(reason)) Log(name + ": no network port: " + reason);
  return true;
}

void SlotPort::DeletePort() {
  network_.Stop();
  network_error_.clear();
  name_.clear();
  pty_.DeletePort();
}

bool SlotPort::ApplyNetwork(std::string& reason) {
  std::optional<NetworkEndpointConfig> config;
  network_error_.clear();
  if (!NetworkEndpointFromSettings(settings_, slot_, config, reason)) {
    network_.Stop();
    network_error_ = reason;
    return false;
  }
  if (name_.empty() || !config) {
    network_.Stop();
    return true;
  }
  if (network_.listening() && network_.config() == config) {
    // The same port: a TLS port takes a renewed certificate over for its next client.
    if (!network_.ReloadTls(reason)) {
      Log(name_ + ": the TLS certificate stays as it was: " + reason);
      return false;
    }
    return true;
  }
  if (!network_.Start(*config, name_, reason)) {
    network_error_ = reason;
    return false;
  }
  Log(name_ + ": also served over the network at " + EndpointText(*config));
  return true;
}

bool SlotPort::PrepareNetwork(const std::optional<NetworkEndpointConfig>& wanted,
                              std::string& reason) {
  // A TLS port whose files cannot be loaded is refused before anything changes.
  if (wanted && wanted->tls &&
      !TlsContext::Load(wanted->tls_cert, wanted->tls_key, wanted->tls_client_ca, reason)) {
    return false;
  }
  const std::optional<NetworkEndpointConfig>& current = network_.config();
  if (!wanted || (current && current->bind_length == wanted->bind_length &&
                  std::memcmp(&current->bind, &wanted->bind, wanted->bind_length) == 0)) {
    return true;
  }
  if (CanListen(*wanted, reason)) return true;
  if (!current || !network_.listening() || current->port != wanted->port || name_.empty()) {
    return false;
  }
  const NetworkEndpointConfig before = *current;
  if (network_.Start(*wanted, name_, reason)) {
    Log(name_ + ": also served over the network at " + EndpointText(*wanted));
    return true;
  }
  std::string again;
  if (!network_.Start(before, name_, again)) {
    network_error_ = again;
    Log(name_ + ": no network port: " + again);
  }
  return false;
}

bool SlotPort::IsOpened() {
  network_.Settle();
  return line_->IsOpened();
}

int32_t SlotPort::InCount() {
  const ClientLine* const before = line_;
  const int32_t count = line_->InCount();
  network_.Settle();
  return line_ == before ? count : 0;
}

void SlotPort::Pump() {
  line_->Pump();
  network_.Settle();
}

int32_t SlotPort::TakeDroppedInput() {
  const int64_t dropped = int64_t{pty_.TakeDroppedInput()} + network_.TakeDroppedInput();
  return static_cast<int32_t>(std::min<int64_t>(dropped, INT32_MAX));
}
