// The telnet COM port layer over arbitrary client bytes. The first byte picks where the rest
// is split into two Receive calls; the result must equal one call and byte-by-byte feeding.
// Replies must be whole telnet commands that only ever accept the server's options; the
// decoded data, escaped again, must decode to itself without replies; the line stays in range.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_input.h"
#include "telnet_com_port.h"

namespace {

constexpr uint8_t kIac = 255;
constexpr uint8_t kSe = 240;
constexpr uint8_t kSb = 250;

// Everything a Receive produced, in order; neighbouring events of one kind merged, so that
// any split of the input gives the same transcript.
class Transcript : public TelnetComPort::Sink {
 public:
  void Data(const uint8_t* bytes, size_t count) override {
    if (count == 0) std::abort();
    Add('D', std::string(reinterpret_cast<const char*>(bytes), count));
    data.append(reinterpret_cast<const char*>(bytes), count);
  }
  void Reply(const uint8_t* bytes, size_t count) override {
    CheckReply(bytes, count);
    Add('R', std::string(reinterpret_cast<const char*>(bytes), count));
    ++replies;
  }
  void Purge(bool input, bool output) override {
    if (!input && !output) std::abort();
    events += 'P';
    events += static_cast<char>('0' + input * 2 + output);
  }

  std::string events;
  std::string data;
  size_t replies = 0;

 private:
  void Add(char kind, const std::string& bytes) {
    if (last_ != kind) {
      events += '|';
      events += kind;
    }
    last_ = kind;
    events += bytes;
  }

  // One reply is one telnet command: a negotiation, or a COM port subnegotiation with a
  // server code whose IACs are doubled.
  static void CheckReply(const uint8_t* b, size_t n) {
    if (n < 3 || b[0] != kIac) std::abort();
    if (b[1] >= 251) {
      const bool consent = b[1] == 251 || b[1] == 253;
      if (n != 3 || (consent && b[2] != 0 && b[2] != 3 && b[2] != 44)) std::abort();
      return;
    }
    if (b[1] != kSb || n < 6 || b[2] != 44 || b[3] < 100 || b[3] > 112) std::abort();
    if (b[n - 2] != kIac || b[n - 1] != kSe) std::abort();
    for (size_t i = 4; i < n - 2; ++i) {
      if (b[i] == kIac && (++i >= n - 2 || b[i] != kIac)) std::abort();
    }
  }

  char last_ = 0;
};

bool Same(const TelnetComPort::Line& a, const TelnetComPort::Line& b) {
  return a.baud_rate == b.baud_rate && a.data_size == b.data_size && a.parity == b.parity &&
         a.stop_size == b.stop_size && a.flow_control == b.flow_control &&
         a.inbound_flow == b.inbound_flow && a.dtr == b.dtr && a.rts == b.rts &&
         a.break_on == b.break_on;
}

void CheckLine(const TelnetComPort::Line& l) {
  if (l.data_size < 5 || l.data_size > 8 || l.parity < 1 || l.parity > 5 || l.stop_size < 1 ||
      l.stop_size > 3 || l.flow_control < 1 || l.flow_control > 3 || l.inbound_flow < 14 ||
      l.inbound_flow > 16 || l.baud_rate == 0) {
    std::abort();
  }
}

void Run(const uint8_t* data, size_t size, size_t split, Transcript& t, TelnetComPort::Line& line,
         bool& suspended) {
  TelnetComPort port("Velk_VCP \xff COM5");
  port.Start(t);
  if (split == 0) {
    for (size_t i = 0; i < size; ++i) port.Receive(data + i, 1, t);
  } else {
    port.Receive(data, split - 1, t);
    port.Receive(data + split - 1, size - (split - 1), t);
  }
  line = port.line();
  suspended = port.OutputSuspended();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t pick = in.Byte();
  if (size > 0) {
    ++data;
    --size;
  }
  // split 0 feeds byte by byte; otherwise the first piece has split - 1 bytes.
  const size_t split = size == 0 ? 1 : 1 + pick % (size + 1);

  Transcript whole, pieces, single;
  TelnetComPort::Line whole_line, pieces_line, single_line;
  bool whole_suspended = false, pieces_suspended = false, single_suspended = false;
  Run(data, size, size + 1, whole, whole_line, whole_suspended);
  Run(data, size, split, pieces, pieces_line, pieces_suspended);
  Run(data, size, 0, single, single_line, single_suspended);
  if (whole.events != pieces.events || whole.events != single.events) std::abort();
  if (!Same(whole_line, pieces_line) || !Same(whole_line, single_line) ||
      whole_suspended != pieces_suspended || whole_suspended != single_suspended) {
    std::abort();
  }
  CheckLine(whole_line);
  // Five opening commands, then at most one reply per input byte (each needs three or more).
  if (whole.replies > 5 + size) std::abort();
  if (whole.data.size() > size) std::abort();

  std::string escaped;
  TelnetComPort::Escape(reinterpret_cast<const uint8_t*>(whole.data.data()), whole.data.size(),
                        escaped);
  Transcript again;
  TelnetComPort fresh("");
  fresh.Receive(reinterpret_cast<const uint8_t*>(escaped.data()), escaped.size(), again);
  if (again.data != whole.data || again.replies != 0) std::abort();
  return 0;
}
