// A port slot as the engine serves it: its pseudo-terminal and, when configured, its network
// port, with one client at a time across both. While a network client holds the slot, the
// pty is locked (opens fail with EBUSY) and the engine's data goes over the connection; while
// a pty client holds it, network connections are refused. The slot serves one client line
// (ClientLine) at a time: the pty, or the network client while one holds the slot; it is chosen
// when a network client comes or leaves, and the port's data path and line state go to it.
// All calls come from one thread.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "client_line.h"
#include "network_endpoint.h"
#include "port_folder.h"
#include "pty_port.h"
#include "settings_record.h"
#include "virtual_port.h"

class SlotPort : public IVirtualPort {
 public:
  // slot is 1..4; the network port comes from settings (read at CreatePort and
  // ApplyNetwork), which must outlive this object.
  SlotPort(int slot, const SettingsRecord& settings, std::string folder = PortFolder());

  PtyPort& pty() { return pty_; }
  const PtyPort& pty() const { return pty_; }
  NetworkEndpoint& network() { return network_; }
  const NetworkEndpoint& network() const { return network_; }
  // The line the slot serves now: the network client while one holds the slot (also one whose
  // connection has just ended, until the slot or its endpoint next looks), else the pty.
  ClientLine& line() { return *line_; }
  // Where network refusals and arrivals are logged (the activity log); standard error
  // always gets them.
  void SetLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }
  // Where network refusals go besides the log (the record of changes); called with the line.
  void SetRefusalRecord(std::function<void(const std::string&)> record) {
    refused_ = std::move(record);
  }
  // Why the configured network port does not listen (invalid settings, the address taken),
  // empty when it listens or none is configured.
  const std::string& network_error() const { return network_error_; }

  // Makes the pty port, then the network port the settings give (a network port that cannot
  // listen is reported on standard error and in network_error(); the pty port serves on).
  // Returns the pty port's result.
  bool CreatePort(const std::string& name) override;
  // Ends the network client and listener, then deletes the pty port.
  void DeletePort() override;
  // Takes over changed network settings of a slot whose port stays: an unchanged endpoint is
  // kept with its client (a TLS port loads its certificate anew for the next client); a changed
  // one is closed (its client hung up) and opened anew. Returns false, with the reason, when
  // the new one cannot listen (then none listens) or a kept TLS port's files cannot be loaded
  // (it goes on with the certificate it had).
  bool ApplyNetwork(std::string& reason);
  // Checks before a change that the network port wanted (nullopt: none) can listen. Where the
  // slot's own listener stands in the way (the same port number on another address, as when
  // 127.0.0.1 becomes 0.0.0.0), the port moves there now, its client hung up. Returns false,
  // with the reason, when it cannot listen there or, for TLS, its files cannot be loaded; the
  // port then listens as before.
  bool PrepareNetwork(const std::optional<NetworkEndpointConfig>& wanted, std::string& reason);

  // The data path and the line state are the served line's (see ClientLine). IsOpened, InCount
  // and Pump also end a network client whose connection has ended; InCount then returns 0.
  void WriteData(const uint8_t* data, int32_t count) override { line_->WriteData(data, count); }
  void ReadData(uint8_t* data, int32_t& count) override { line_->ReadData(data, count); }
  bool IsOpened() override;
  int32_t InCount() override;
  void ResetPort() override { line_->ResetPort(); }
  void Pump() override;
  bool OutputBacklogged() override { return line_->OutputBacklogged(); }
  bool EchoesAnswers() override { return line_->EchoesAnswers(); }
  bool HeldAcrossRestart() override { return line_->HeldAcrossRestart(); }
  const std::string& ClientName() override { return line_->ClientName(); }
  bool ClientNameKnown() override { return line_->ClientNameKnown(); }
  int32_t TakenInput() override { return line_->TakenInput(); }
  bool OutputPending() override { return line_->OutputPending(); }
  // Arrivals and departures on both lines change it.
  uint32_t ClientSession() override { return pty_.ClientSession() + network_.session(); }
  // Input dropped because its client left, of both lines (saturating).
  int32_t TakeDroppedInput() override;
  // The port's own matters are the pty's: a network client's connection is not kept across
  // runs, so only the pty finishes its input.
  void RemoveStalePorts() override { pty_.RemoveStalePorts(); }
  void SetShared(bool shared) override { pty_.SetShared(shared); }
  void TakeOnlyWhatIsRead() override { pty_.TakeOnlyWhatIsRead(); }

  // True while a client (pty or network) holds the slot.
  bool client_present() const { return pty_.client_present() || network_.client() != nullptr; }

 private:
  void Log(const std::string& line);

  int slot_;
  const SettingsRecord& settings_;
  PtyPort pty_;
  ClientLine* line_ = &pty_;  // the line served now; set by network_, which it outlives
  NetworkEndpoint network_;
  std::string name_;
  std::string network_error_;
  std::function<void(const std::string&)> log_;
  std::function<void(const std::string&)> refused_;
};
