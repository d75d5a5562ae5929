#include "telnet_com_port.h"

#include <utility>

namespace {

constexpr uint8_t kSe = 240;
constexpr uint8_t kSb = 250;
constexpr uint8_t kWill = 251;
constexpr uint8_t kWont = 252;
constexpr uint8_t kDo = 253;
constexpr uint8_t kDont = 254;
constexpr uint8_t kIac = 255;

constexpr uint8_t kBinary = 0;
constexpr uint8_t kSuppressGoAhead = 3;
constexpr uint8_t kComPortOption = 44;

// COM port commands as the client sends them; the server answers with code + 100.
enum ComPort : uint8_t {
  kSignature = 0,
  kSetBaudRate = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kNotifyLineState = 6,
  kNotifyModemState = 7,
  kFlowControlSuspend = 8,
  kFlowControlResume = 9,
  kSetLineStateMask = 10,
  kSetModemStateMask = 11,
  kPurgeData = 12,
};
constexpr uint8_t kServerCode = 100;

bool Accepted(uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}

// Marks option in a 256-bit set; returns whether it was marked before.
bool TestAndMark(uint8_t (&set)[32], uint8_t option) {
  const uint8_t bit = static_cast<uint8_t>(1u << (option & 7));
  const bool was = (set[option >> 3] & bit) != 0;
  set[option >> 3] |= bit;
  return was;
}

}  // namespace

TelnetComPort::TelnetComPort(std::string signature) : signature_(std::move(signature)) {
  sb_.reserve(kMaxSubnegotiation);
}

void TelnetComPort::Start(Sink& sink) {
  him_[kComPortOption] = kWantYes;
  SendOption(kDo, kComPortOption, sink);
  us_[kBinary] = kWantYes;
  SendOption(kWill, kBinary, sink);
  him_[kBinary] = kWantYes;
  SendOption(kDo, kBinary, sink);
  us_[kSuppressGoAhead] = kWantYes;
  SendOption(kWill, kSuppressGoAhead, sink);
  him_[kSuppressGoAhead] = kWantYes;
  SendOption(kDo, kSuppressGoAhead, sink);
}

void TelnetComPort::Receive(const uint8_t* bytes, size_t count, Sink& sink) {
  // Plain data is handed on in runs straight from the input; run marks where one starts.
  const uint8_t* run = nullptr;
  auto flush = [&](const uint8_t* end) {
    if (run != nullptr && end > run) sink.Data(run, static_cast<size_t>(end - run));
    run = nullptr;
  };
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    switch (parse_) {
      case Parse::kData:
        if (b == kIac) {
          flush(bytes + i);
          parse_ = Parse::kIac;
        } else if (run == nullptr) {
          run = bytes + i;
        }
        break;
      case Parse::kIac:
        if (b == kIac) {
          // The second IAC of a pair is the data byte 0xFF itself: a run starts at it.
          run = bytes + i;
          parse_ = Parse::kData;
        } else {
          Command(b);
        }
        break;
      case Parse::kOption:
        parse_ = Parse::kData;
        Negotiate(command_, b, sink);
        break;
      case Parse::kSbOption:
        sb_option_ = b;
        sb_.clear();
        parse_ = Parse::kSb;
        break;
      case Parse::kSb:
        if (b == kIac) {
          parse_ = Parse::kSbIac;
        } else if (sb_.size() < kMaxSubnegotiation) {
          sb_.push_back(static_cast<char>(b));
        } else {
          sb_.clear();
          parse_ = Parse::kSkip;
        }
        break;
      case Parse::kSbIac:
        if (b == kIac) {
          if (sb_.size() < kMaxSubnegotiation) {
            sb_.push_back(static_cast<char>(b));
            parse_ = Parse::kSb;
          } else {
            sb_.clear();
            parse_ = Parse::kSkip;
          }
        } else if (b == kSe) {
          parse_ = Parse::kData;
          Subnegotiation(sink);
          sb_.clear();
        } else {
          // IAC and a command inside a subnegotiation: the client abandoned it; the command
          // counts (an IAC SB here starts a new one).
          sb_.clear();
          Command(b);
        }
        break;
      case Parse::kSkip:
        if (b == kIac) parse_ = Parse::kSkipIac;
        break;
      case Parse::kSkipIac:
        if (b == kIac) {
          parse_ = Parse::kSkip;
        } else if (b == kSe) {
          parse_ = Parse::kData;
        } else {
          Command(b);
        }
        break;
    }
  }
  flush(bytes + count);
}

void TelnetComPort::Command(uint8_t command) {
  parse_ = Parse::kData;
  switch (command) {
    case kWill:
    case kWont:
    case kDo:
    case kDont:
      command_ = command;
      parse_ = Parse::kOption;
      break;
    case kSb:
      parse_ = Parse::kSbOption;
      break;
    default:
      // NOP, DM, BRK, IP, AO, AYT, EC, EL, GA, a stray SE, or no command at all: nothing to do.
      break;
  }
}

// RFC 1143's Q method without the queue: the server never changes its mind after Start, so
// it never has a second request pending. A refused option is refused once per side; a
// client that keeps asking is not answered again, so that no peer can make it loop.
void TelnetComPort::Negotiate(uint8_t command, uint8_t option, Sink& sink) {
  const bool asks_him = command == kWill || command == kWont;
  const bool yes = command == kWill || command == kDo;
  uint8_t& state = asks_him ? him_[option] : us_[option];
  const uint8_t accept = asks_him ? kDo : kWill;
  const uint8_t refuse = asks_him ? kDont : kWont;
  if (yes) {
    switch (state) {
      case kNo:
        if (Accepted(option)) {
          state = kYes;
          SendOption(accept, option, sink);
        } else if (!TestAndMark(asks_him ? refused_him_ : refused_us_, option)) {
          SendOption(refuse, option, sink);
        }
        break;
      case kWantYes:
        state = kYes;
        break;
      case kWantNo:  // a refusal answered with consent: the option stays off
        state = kNo;
        break;
      default:
        break;
    }
  } else {
    switch (state) {
      case kYes:
        state = kNo;
        SendOption(refuse, option, sink);
        break;
      case kWantYes:
      case kWantNo:
        state = kNo;
        break;
      default:
        break;
    }
  }
  if (option == kComPortOption) UpdateComPortActive(sink);
}

void TelnetComPort::UpdateComPortActive(Sink& sink) {
  const bool active = him_[kComPortOption] == kYes || us_[kComPortOption] == kYes;
  const bool turned_on = active && !com_port_active_;
  com_port_active_ = active;
  if (turned_on) SendModemState(sink);
}

void TelnetComPort::Subnegotiation(Sink& sink) {
  // Other options' subnegotiations, and the COM port option's before it was agreed, mean
  // nothing to this server.
  if (sb_option_ != kComPortOption || !com_port_active_ || sb_.empty()) return;
  const auto* value = reinterpret_cast<const uint8_t*>(sb_.data());
  ComPortCommand(value[0], value + 1, sb_.size() - 1, sink);
}

void TelnetComPort::ComPortCommand(uint8_t code, const uint8_t* value, size_t count, Sink& sink) {
  // Commands with a value of the wrong length are malformed and ignored.
  const bool one = count == 1;
  const uint8_t v = count > 0 ? value[0] : 0;
  switch (code) {
    case kSignature:
      // An empty one asks for ours; a client's own signature needs no answer.
      if (count == 0) {
        SendComPort(code, reinterpret_cast<const uint8_t*>(signature_.data()), signature_.size(),
                    sink);
      }
      break;
    case kSetBaudRate: {
      if (count != 4) break;
      const uint32_t baud = (uint32_t{value[0]} << 24) | (uint32_t{value[1]} << 16) |
                            (uint32_t{value[2]} << 8) | uint32_t{value[3]};
      if (baud != 0) line_.baud_rate = baud;
      const uint8_t reply[4] = {
          static_cast<uint8_t>(line_.baud_rate >> 24), static_cast<uint8_t>(line_.baud_rate >> 16),
          static_cast<uint8_t>(line_.baud_rate >> 8), static_cast<uint8_t>(line_.baud_rate)};
      SendComPort(code, reply, sizeof reply, sink);
      break;
    }
    case kSetDataSize:
      if (!one) break;
      if (v >= 5 && v <= 8) line_.data_size = v;
      SendComPort(code, &line_.data_size, 1, sink);
      break;
    case kSetParity:
      if (!one) break;
      if (v >= 1 && v <= 5) line_.parity = v;
      SendComPort(code, &line_.parity, 1, sink);
      break;
    case kSetStopSize:
      if (!one) break;
      if (v >= 1 && v <= 3) line_.stop_size = v;
      SendComPort(code, &line_.stop_size, 1, sink);
      break;
    case kSetControl:
      if (one) SetControl(v, sink);
      break;
    case kNotifyModemState:
      SendModemState(sink);
      break;
    case kFlowControlSuspend:
      suspended_ = true;
      break;
    case kFlowControlResume:
      suspended_ = false;
      break;
    case kSetLineStateMask:
      if (!one) break;
      linestate_mask_ = v;
      SendComPort(code, &linestate_mask_, 1, sink);
      break;
    case kSetModemStateMask: {
      if (!one) break;
      const bool changed = modemstate_mask_ != v;
      modemstate_mask_ = v;
      SendComPort(code, &modemstate_mask_, 1, sink);
      if (changed) SendModemState(sink);
      break;
    }
    case kPurgeData:
      if (!one || v < 1 || v > 3) break;
      // 1 is the server's receive buffer (what waits to go to the client), 2 its transmit
      // buffer (what the client sent that is not served yet).
      sink.Purge((v & 2) != 0, (v & 1) != 0);
      SendComPort(code, &v, 1, sink);
      break;
    default:  // NOTIFY-LINESTATE from the client, unknown codes
      break;
  }
}

void TelnetComPort::SetControl(uint8_t value, Sink& sink) {
  // BREAK, DTR and RTS: a code that asks for the state, then the codes for on and off.
  const std::pair<uint8_t, bool*> kSwitches[] = {
      {4, &line_.break_on}, {7, &line_.dtr}, {10, &line_.rts}};
  for (const auto& [ask, state] : kSwitches) {
    if (value < ask || value > ask + 2) continue;
    if (value != ask) *state = value == ask + 1;
    const uint8_t reply = *state ? ask + 1 : ask + 2;
    return SendComPort(kSetControl, &reply, 1, sink);
  }
  uint8_t reply = value;
  switch (value) {
    case 0:
      reply = line_.flow_control;
      break;
    case 1:
    case 2:
    case 3:
      line_.flow_control = value;
      break;
    case 13:
      reply = line_.inbound_flow;
      break;
    case 14:
    case 15:
    case 16:
      line_.inbound_flow = value;
      break;
    case 17:
    case 18:
    case 19:  // DCD and DSR flow control: nothing to switch on a port without lines
      break;
    default:
      return;
  }
  SendComPort(kSetControl, &reply, 1, sink);
}

void TelnetComPort::SendComPort(uint8_t code, const uint8_t* value, size_t count, Sink& sink) {
  std::string out = {static_cast<char>(kIac), static_cast<char>(kSb),
                     static_cast<char>(kComPortOption), static_cast<char>(code + kServerCode)};
  Escape(value, count, out);
  out.push_back(static_cast<char>(kIac));
  out.push_back(static_cast<char>(kSe));
  sink.Reply(reinterpret_cast<const uint8_t*>(out.data()), out.size());
}

void TelnetComPort::SendModemState(Sink& sink) {
  const uint8_t state = kModemState & modemstate_mask_;
  SendComPort(kNotifyModemState, &state, 1, sink);
}

void TelnetComPort::SendOption(uint8_t command, uint8_t option, Sink& sink) {
  const uint8_t out[3] = {kIac, command, option};
  sink.Reply(out, sizeof out);
}

void TelnetComPort::Escape(const uint8_t* bytes, size_t count, std::string& out) {
  out.reserve(out.size() + count);
  for (size_t i = 0; i < count; ++i) {
    out.push_back(static_cast<char>(bytes[i]));
    if (bytes[i] == kIac) out.push_back(static_cast<char>(kIac));
  }
}
