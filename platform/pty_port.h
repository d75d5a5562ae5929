// A simulated serial port on a Linux pseudo-terminal, visible to clients as the symbolic link
// <port folder>/<name> to the pty's slave device. The program keeps only the master side and
// looks at it from the poll timer; all calls come from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "port_claim.h"
#include "port_folder.h"
#include "virtual_port.h"

class PtyPort : public IVirtualPort {
 public:
  // Output waiting for a slow client, at most; past it the oldest queued bytes are dropped.
  static constexpr size_t kOutputQueueMax = 64 * 1024;
  // Received bytes held for ReadData, at most; past it the client's writes wait in the kernel.
  static constexpr size_t kInputMax = 64 * 1024;

  // Ports of this instance appear in folder (created when missing).
  explicit PtyPort(std::string folder = PortFolder());
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;
  ~PtyPort() override;

  // Opens a raw pty and links <folder>/<name> to its slave, replacing a stale link (one into
  // /dev/pts that no live port claims). Returns false, with the reason on standard error, when
  // the name is invalid, claimed by a live port, used by any other entry (a user's link to a
  // real device, a file), or the folder, pty or link cannot be made. Deletes a previous port
  // of this element first.
  bool CreatePort(const std::string& name) override;
  // Closes the master and removes the link and the claim; nothing without a port.
  void DeletePort() override;
  // Sends bytes to the client without blocking. Bytes that do not fit into the pty now are
  // queued (see kOutputQueueMax) and sent by later calls and Pump. Without a client, or
  // without a port, the bytes are discarded: a client never receives output older than its
  // own arrival.
  void WriteData(const uint8_t* data, int32_t count) override;
  // Moves up to count received bytes into data, oldest first, and sets count to the number
  // moved (fewer only when fewer arrived; 0 for a null buffer or a count below 1).
  void ReadData(uint8_t* data, int32_t& count) override;
  // Returns true while at least one client holds the slave open; false without a port.
  bool IsOpened() override;
  // Returns the number of received bytes waiting (at most kInputMax); 0 without a client.
  int32_t InCount() override;
  // Discards received bytes and output not yet read by the client.
  void ResetPort() override;
  // Removes the COM* links of the folder that point into /dev/pts and that no live port
  // claims, and lock files nobody holds. Links elsewhere (a user's real device) stay.
  void RemoveStalePorts() override;
  // Sends queued output on and notices clients coming and going.
  void Pump() override;
  uint32_t ClientSession() override;

  // The client's path of the port, empty without a port.
  const std::string& link_path() const { return link_path_; }
  // Number of output bytes queued in the program, not yet taken by the pty.
  size_t queued_output() const { return out_.size(); }

 private:
  void Refresh();
  void ClientArrived();
  void ClientLeft();
  void MakeRaw();
  void PurgeClientInput();
  void Flush();
  void Drain();

  std::string folder_;
  std::string name_;
  std::string link_path_;
  std::string slave_path_;
  int master_ = -1;
  PortClaim claim_;
  bool client_ = false;
  uint32_t session_ = 0;   // counts client arrivals and departures
  bool dropping_ = false;  // output has been dropped since the queue was last empty
  std::deque<uint8_t> out_;
  std::deque<uint8_t> in_;
};
