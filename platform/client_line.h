// The line to the client of a port slot, whatever carries it (a pseudo-terminal, a network
// connection): bytes both ways, bounded by BoundedOutput's limits, with what the client's side
// of the line does. A slot serves one line at a time (SlotPort). The methods bear the names of
// IVirtualPort's, so that a port that is its own client line (PtyPort) serves both with one
// method. Calls come from the serving thread.
#pragma once

#include <cstdint>
#include <string>

#include "bounded_output.h"

class ClientLine {
 public:
  virtual ~ClientLine() = default;
  // True while a client holds the line; false once it left (or before one came).
  virtual bool IsOpened() = 0;
  // Takes what the client sent and returns the number of received bytes waiting; 0 without a
  // client, and while BoundedOutput::kPauseInput of output waits nothing more is taken.
  virtual int32_t InCount() = 0;
  // Moves up to count received bytes into data, oldest first, and sets count to the number
  // moved (0 for a null buffer, a count below 1, or without a client).
  virtual void ReadData(uint8_t* data, int32_t& count) = 0;
  // Queues bytes for the client; Pump sends them. Without a client they are discarded; when
  // they do not fit BoundedOutput::kQueueMax they are dropped whole and counted.
  virtual void WriteData(const uint8_t* data, int32_t count) = 0;
  // Sends queued output on as far as the line takes it; never blocks.
  virtual void Pump() = 0;
  // Discards received bytes and output the client has not got yet.
  virtual void ResetPort() = 0;
  // True while more than BoundedOutput::kPauseInput of output waits for the client.
  virtual bool OutputBacklogged() = 0;
  // True while the client's side of the line echoes what it receives.
  virtual bool EchoesAnswers() = 0;
  // True while the client held the line already before this run of the program.
  virtual bool HeldAcrossRestart() = 0;
  // Bytes taken from the client that the next run of the program would still answer; 0 for a
  // line not kept across runs.
  virtual int32_t TakenInput() = 0;
  // True while answers wait in the program for a line kept across runs; false for others.
  virtual bool OutputPending() = 0;
  // The client for the status and value events ("1234 python3", "network 127.0.0.1:50123");
  // empty without a client or while not known yet. Valid until the next call.
  virtual const std::string& ClientName() = 0;
  // False while the line is still finding out who its client is.
  virtual bool ClientNameKnown() = 0;
  // What the present client did, counted from its arrival.
  virtual const ClientCounters& counters() const = 0;
};
