// One simulated serial port as the engine sees it: the operations of the port emulation.
#pragma once

#include <cstdint>
#include <string>

class IVirtualPort {
 public:
  virtual ~IVirtualPort() = default;
  // Makes the port (e.g. "COM5") visible to clients. Returns false when the name is taken
  // or the port cannot be made; the element then holds no port.
  virtual bool CreatePort(const std::string& name) = 0;
  // Removes the port for clients; does nothing on an element without a port.
  virtual void DeletePort() = 0;
  // Queues bytes for the client in order; never blocks. Pump sends them.
  virtual void WriteData(const uint8_t* data, int32_t count) = 0;
  // Fills data with exactly count received bytes, oldest first (count from InCount).
  virtual void ReadData(uint8_t* data, int32_t& count) = 0;
  // True while a client holds the port open; false on an element without a port.
  virtual bool IsOpened() = 0;
  // Number of received bytes waiting.
  virtual int32_t InCount() = 0;
  // Discards pending input and output.
  virtual void ResetPort() = 0;
  // Removes port entries that no live port owns any more.
  virtual void RemoveStalePorts() = 0;
  // Sends queued output on; the poll cycle calls it before and after every serving step.
  virtual void Pump() {}
  // Returns a number that changes whenever a client arrives or leaves, so that what one
  // client sent is never answered to the next. Ports that cannot tell return 0.
  virtual uint32_t ClientSession() { return 0; }
  // Returns the number of received bytes dropped because their client left, since the last
  // call. Ports that cannot tell return 0.
  virtual int32_t TakeDroppedInput() { return 0; }
  // True while so much output waits for the client that no further command should be
  // answered until it reads: the engine then leaves commands waiting instead of answering
  // into a queue that would have to drop. Ports without a bound return false.
  virtual bool OutputBacklogged() { return false; }
  // True while the client's side of the line echoes what it receives, so that every answer
  // comes back as input. Ports without such a line return false.
  virtual bool EchoesAnswers() { return false; }
  // Lets several clients hold the port at once (true) or only one (false, the default); takes
  // effect with the next client. Ports that cannot tell clients apart ignore it.
  virtual void SetShared(bool /*shared*/) {}
  // True while the client holding the port held it already before this run of the program
  // (the port was kept across a restart): what it wrote meanwhile is still to be answered.
  virtual bool HeldAcrossRestart() { return false; }
  // Returns the client holding the port as the port knows it ("1234 python3"), or an empty
  // text when it cannot tell. The text stays valid until the next call.
  virtual const std::string& ClientName() {
    static const std::string kUnknown;
    return kUnknown;
  }
  // False while the port is still finding out who its client is (ClientName is empty until
  // then); values it sends meanwhile are announced once the name is known.
  virtual bool ClientNameKnown() { return true; }
  // Before the port goes to the next run of the program (a restart or hand-over): from now on
  // the port takes from the terminal only what ReadData asks for, so that what the client
  // writes stays in the terminal for the next run. Nothing for ports without such a terminal.
  virtual void TakeOnlyWhatIsRead() {}
  // Bytes the port has taken from its client but not yet handed on with ReadData.
  virtual int32_t TakenInput() { return 0; }
  // True while answers wait in the port for the client to read them.
  virtual bool OutputPending() { return false; }
};
