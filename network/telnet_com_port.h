// The server's side of a telnet connection that carries the COM port control option
// (RFC 2217, option 44): telnet framing both ways (IAC doubling, option negotiation,
// subnegotiations) and the COM port commands. The port has no physical line: every frame a
// client sets is accepted and kept, so that it reads back what it set; the modem lines a
// client expects from a connected device (CTS, DSR, DCD) are always on. Holds no socket: the
// connection feeds it what it received and sends what it is given. Input of any kind (telnet
// garbage, unfinished or endless subnegotiations) is handled in bounded memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TelnetComPort {
 public:
  // A subnegotiation longer than this is dropped whole (its bytes are skipped until its end).
  static constexpr size_t kMaxSubnegotiation = 512;

  // What the client set on the line, as RFC 2217 codes. Starts as 9600 8N1 without flow
  // control, DTR and RTS on, no break.
  struct Line {
    uint32_t baud_rate = 9600;
    uint8_t data_size = 8;      // 5..8
    uint8_t parity = 1;         // 1 none, 2 odd, 3 even, 4 mark, 5 space
    uint8_t stop_size = 1;      // 1 one, 2 two, 3 one and a half
    uint8_t flow_control = 1;   // outbound: 1 none, 2 XON/XOFF, 3 hardware
    uint8_t inbound_flow = 14;  // 14 none, 15 XON/XOFF, 16 hardware
    bool dtr = true;
    bool rts = true;
    bool break_on = false;
  };

  // Where Receive puts what the client's bytes mean, in the order of the bytes.
  class Sink {
   public:
    virtual ~Sink() = default;
    // Data for the port, telnet escapes removed.
    virtual void Data(const uint8_t* bytes, size_t count) = 0;
    // Protocol bytes for the client, encoded; they go out before any data queued later.
    virtual void Reply(const uint8_t* bytes, size_t count) = 0;
    // The client asked to purge: input, what it sent that is not served yet; output, what
    // waits to be sent to it (never protocol replies).
    virtual void Purge(bool input, bool output) = 0;
  };

  // signature is the text the server gives for a SIGNATURE request ("Velk_VCP COM5").
  explicit TelnetComPort(std::string signature);

  // The server's opening: offers the COM port option (DO COM-PORT-OPTION) without waiting for
  // the client, and binary transmission and suppressed go-ahead both ways. Call once, first.
  void Start(Sink& sink);

  // Takes count bytes from the client. Data goes to sink.Data, with IAC IAC as one 0xFF.
  // Option requests are answered once each (RFC 1143 rules, no loops): accepted for BINARY,
  // SUPPRESS-GO-AHEAD and the COM port option, refused (WONT/DONT) for all others, ECHO
  // included; a refused option is refused once, a repeated request for it gets no further
  // answer. COM port commands are answered with the server's code (client code + 100):
  // SET-BAUDRATE, -DATASIZE, -PARITY, -STOPSIZE and SET-CONTROL carry the value the client
  // asked for (a request for the current value, 0, and the control requests 0, 4, 7, 10 and
  // 13, carry the current one); PURGE-DATA is reported to sink.Purge and then acknowledged;
  // SET-LINESTATE-MASK and SET-MODEMSTATE-MASK keep and echo the mask; NOTIFY-MODEMSTATE
  // from the client (a poll) and a new modem-state mask are answered with the modem state;
  // SIGNATURE (empty) gets the signature; FLOWCONTROL-SUSPEND and -RESUME switch
  // OutputSuspended. Out-of-range values (data size 9, parity 7) are answered with the
  // current value, unchanged. Unknown COM port commands, ones whose value has the wrong
  // length, COM port commands before the option is agreed, other options' subnegotiations and
  // telnet commands (NOP, AYT, GA, ...) are ignored. Never fails.
  void Receive(const uint8_t* bytes, size_t count, Sink& sink);

  // Appends count data bytes for the client to out, every 0xFF doubled.
  static void Escape(const uint8_t* bytes, size_t count, std::string& out);

  // The modem state the port reports: CTS, DSR and DCD on (0x10 | 0x20 | 0x80).
  static constexpr uint8_t kModemState = 0xB0;

  // True while the client asked the server to hold its data back (FLOWCONTROL-SUSPEND);
  // protocol replies still go out.
  bool OutputSuspended() const { return suspended_; }
  // True once the client agreed to the COM port option.
  bool ComPortActive() const { return com_port_active_; }
  const Line& line() const { return line_; }

 private:
  // Where the parser stands between two bytes; survives the end of a Receive call.
  enum class Parse : uint8_t {
    kData,      // plain data
    kIac,       // after IAC
    kOption,    // after IAC WILL/WONT/DO/DONT, command_ holds which
    kSbOption,  // after IAC SB, waiting for the option byte
    kSb,        // inside a subnegotiation, collecting
    kSbIac,     // after IAC inside a subnegotiation
    kSkip,      // inside an overlong subnegotiation, discarding
    kSkipIac,   // after IAC inside an overlong subnegotiation
  };
  // An option's state on one side, as RFC 1143 names them.
  enum Q : uint8_t { kNo, kYes, kWantNo, kWantYes };

  // Handles the byte after an IAC (outside a subnegotiation, or one that ends it).
  void Command(uint8_t command);
  void Negotiate(uint8_t command, uint8_t option, Sink& sink);
  void Subnegotiation(Sink& sink);
  void ComPortCommand(uint8_t code, const uint8_t* value, size_t count, Sink& sink);
  void SetControl(uint8_t value, Sink& sink);
  // Sends IAC SB COM-PORT-OPTION code value IAC SE, value escaped.
  void SendComPort(uint8_t code, const uint8_t* value, size_t count, Sink& sink);
  void SendModemState(Sink& sink);
  static void SendOption(uint8_t command, uint8_t option, Sink& sink);
  // Recomputes com_port_active_ and announces the modem state when it turns on.
  void UpdateComPortActive(Sink& sink);

  std::string signature_;
  Line line_;
  bool suspended_ = false;
  bool com_port_active_ = false;
  Parse parse_ = Parse::kData;
  uint8_t command_ = 0;
  uint8_t sb_option_ = 0;
  std::string sb_;         // the current subnegotiation's bytes after the option, unescaped
  uint8_t us_[256] = {};   // our side of each option (WILL/WONT we send, DO/DONT we get)
  uint8_t him_[256] = {};  // the client's side (WILL/WONT it sends, DO/DONT we send)
  // Options already refused once per side; repeated requests for them are not answered again.
  uint8_t refused_us_[32] = {};
  uint8_t refused_him_[32] = {};
  uint8_t linestate_mask_ = 0;
  uint8_t modemstate_mask_ = 255;
};
