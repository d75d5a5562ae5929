// A simulated serial port on a Linux pseudo-terminal, visible to clients as the symbolic link
// <port folder>/<name> to the pty's slave device. The program keeps only the master side: the
// master then reports a hang-up exactly while no client holds the slave, which is the truth
// about presence that merged events cannot hide (PtyClientWatch only wakes the program). A
// client, once seen, holds the port alone: the terminal is made exclusive, so further opens
// fail with EBUSY (except for root). After a client has left, the port continues on a fresh
// pseudo-terminal behind the same link: the old one stays exclusive and keeps nothing of the
// departed client, and the next client starts with a clean line. The old terminal stays open,
// exclusive and unserved, until the port moves again: a client whose open followed the link
// just before it moved is told EBUSY and opens again (reaching the fresh terminal), instead of
// finding the device gone or a newer terminal that took its number. The port is its own
// client line (ClientLine): what it queues for its client is bounded by BoundedOutput. All calls
// come from one thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "bounded_output.h"
#include "byte_queue.h"
#include "client_line.h"
#include "holder_lookup.h"
#include "port_claim.h"
#include "port_folder.h"
#include "pty_client_watch.h"
#include "virtual_port.h"

class PtyPort : public IVirtualPort, public ClientLine {
 public:
  // Ports of this instance appear in folder (created when missing).
  explicit PtyPort(std::string folder = PortFolder());
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;
  ~PtyPort() override;

  // Whether several clients may hold the port at once, or a client, once seen, holds it alone
  // (the default). Takes effect with the next client; the port folder's marker tells the
  // client layer (MarkPortsShared).
  void SetShared(bool shared) override;

  // Opens a raw pty and links <folder>/<name> to its slave, replacing a stale link (one into
  // /dev/pts that no live port claims). Returns false, with the reason on standard error, when
  // the name is invalid, claimed by a live port, used by any other entry (a user's link to a
  // real device, a file), or the folder, pty, client watch or link cannot be made. Deletes a
  // previous port of this element first.
  bool CreatePort(const std::string& name) override;
  // Closes the pty (the client is hung up) and removes the link and the claim; nothing
  // without a port.
  void DeletePort() override;
  // Queues bytes for the client; Pump sends them. Without a client, or without a port, the
  // bytes are discarded: a client never receives output older than its own arrival. When
  // the queue cannot take all of them (BoundedOutput::kQueueMax) they are dropped together, never
  // in part, and counted; standard error says when dropping starts and how many were dropped when
  // it ends.
  void WriteData(const uint8_t* data, int32_t count) override;
  // Moves up to count received bytes into data, oldest first, and sets count to the number
  // moved (fewer only when fewer arrived; 0 for a null buffer or a count below 1).
  void ReadData(uint8_t* data, int32_t& count) override;
  // Returns true while a client held the slave at the last FollowClients; false without a
  // port. Makes no system call.
  bool IsOpened() override;
  // Takes what the client wrote from the kernel, at most BoundedOutput::kInputMax (nothing
  // while the output is backlogged), and returns the number of received bytes waiting; 0
  // without a client.
  int32_t InCount() override;
  // Discards received bytes and output not yet read by the client.
  void ResetPort() override;
  // Removes the COM* links of the folder that point into /dev/pts and that no live port
  // claims, and lock files nobody holds. Links elsewhere (a user's real device) stay.
  void RemoveStalePorts() override;
  // Sends queued output with as few writes as the pty takes; nothing (no system call) when no
  // output waits.
  void Pump() override;
  // The number of client arrivals and departures seen so far (by FollowClients).
  uint32_t ClientSession() override;
  int32_t TakeDroppedInput() override;
  bool HeldAcrossRestart() override { return client_ && adopted_session_ == session_; }
  // The client as "PID program", looked up in /proc once per client session, off the serving
  // thread (see holder()); empty without a client, until the look-up has finished, or when
  // /proc cannot tell.
  const std::string& ClientName() override;
  bool ClientNameKnown() override { return !client_ || holder_.Done(); }
  void TakeOnlyWhatIsRead() override { take_only_what_is_read_ = true; }
  int32_t TakenInput() override { return static_cast<int32_t>(in_.size()); }
  bool OutputPending() override { return client_ && queued_output() > 0; }
  // True while more than BoundedOutput::kPauseInput of output waits for the client.
  bool OutputBacklogged() override { return InputPaused(); }
  // True while the client's terminal echoes what it receives (its answers come back).
  bool EchoesAnswers() override;

  // Follows clients coming and going, from the pty's hang-up state (and, for root clients
  // that the exclusive mode does not stop, from close events): an arrival makes the terminal
  // exclusive; a departure drops everything the client left (its unread input and output)
  // and moves the port to a fresh pseudo-terminal. An opener of the terminal the link has
  // just left (root, through the link as it moved) is served there (TakeBackRetired). Up to
  // three system calls when nothing happened; call it when a watch or the master's hang-up
  // woke the program.
  void FollowClients();

  // Keeps clients out while the slot's client is elsewhere (on the network): the terminal is
  // made exclusive with nobody holding it, so opens fail with EBUSY (root, whom the exclusive
  // mode does not stop, excepted, and not followed while locked). Returns false while a client
  // holds the port (also one that opened it this moment) or without a port; true when locked
  // (also when already).
  bool LockOut();
  // Lets clients in again, on a fresh terminal behind the same link. Nothing when not locked.
  void EndLockOut();
  bool locked_out() const { return locked_; }

  // The client's path of the port, empty without a port.
  const std::string& link_path() const { return link_path_; }
  // Number of output bytes queued in the program, not yet taken by the pty.
  size_t queued_output() const { return out_.size(); }
  // True while a client held the port at the last look (no system call).
  bool client_present() const { return client_; }
  // True while a client holds the slave now (asks the pty; false without a port).
  bool Held() const;
  // True while queued output holds back input (see BoundedOutput::kPauseInput).
  bool InputPaused() const { return out_.Backlogged(); }
  // The master descriptor (readable when the client wrote, writable when output fits, hung
  // up while no client holds the port) and the client watch's descriptor (readable when a
  // client opened or closed the port); -1 without a port.
  int master_descriptor() const { return master_; }
  int watch_descriptor() const { return watch_.descriptor(); }
  // The watch of the terminal the link left at its last move (readable when someone opened
  // it); -1 when there is none.
  int retired_watch_descriptor() const { return retired_.watch.descriptor(); }
  // Changes whenever the port's descriptors are closed or made anew.
  uint32_t generation() const { return generation_; }
  // The slave device clients open now (behind the link), empty without a port.
  const std::string& slave_path() const { return slave_path_; }
  // The process holding the port, as looked up when its client came (on a thread of its own);
  // nothing while no client holds it, while the look-up runs, or when /proc cannot tell.
  std::optional<PortHolder> holder() const { return client_ ? holder_.holder() : std::nullopt; }

  // What the present client did, counted from its arrival (reset when the next one comes).
  const ClientCounters& counters() const override { return out_.counters(); }

 private:
  // A pseudo-terminal of the port: its master, the slave's path and the watch of its clients.
  struct Terminal {
    int master = -1;
    std::string slave;
    PtyClientWatch watch;
  };
  static bool OpenTerminal(Terminal& terminal, std::string& reason);
  static bool AdoptTerminal(Terminal& terminal, int master, std::string& reason);
  static void CloseTerminal(Terminal& terminal);
  void SwapTerminals();
  void MakeSpare();
  void RetireSpare();
  bool Link(std::string& reason);
  void ReplaceTerminal();
  // Moves the port back to the retired terminal when someone came through the link to it as
  // it moved and nobody holds the port. Returns true when it did.
  bool TakeBackRetired();
  void Settle(const PtyClientWatch::Changes& changes);
  void MakeExclusive();
  void FlushClientInput();
  void ClientArrived();
  void ClientLeft();
  static void MakeRaw(int master);
  void DropAllPending();
  void Drain();

  std::string folder_;
  std::string name_;
  std::string link_path_;
  std::string slave_path_;
  int master_ = -1;
  PtyClientWatch watch_;
  // A terminal made ahead, so that a departure moves the link at once.
  Terminal spare_;
  // The terminal the link led to before its last move (see the top of this file).
  Terminal retired_;
  PortClaim claim_;
  bool exclusive_ = true;
  bool locked_ = false;                  // clients are kept out: the slot's client is elsewhere
  uint32_t adopted_session_ = 0;         // the session of a client kept across a restart
  bool take_only_what_is_read_ = false;  // the run ends: the terminal keeps what is not asked
  HolderLookup holder_;                  // who the client is, looked up off the serving thread
  std::string client_name_;              // ClientName of the session client_name_session_
  uint32_t client_name_session_ = 0;
  bool client_ = false;
  uint32_t session_ = 0;  // counts client arrivals and departures
  uint32_t generation_ = 0;
  int32_t dropped_input_ = 0;  // bytes of departed clients dropped, not yet taken
  BoundedOutput out_;          // output not yet taken by the pty, and the client's counters
  ByteQueue in_;               // received bytes not yet taken by ReadData
};
