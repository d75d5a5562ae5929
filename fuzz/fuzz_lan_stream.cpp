// The LAN control library's answer lines and trigger records over an arbitrary byte stream
// from a peer on 127.0.0.1, sent in arbitrary pieces, while the caller runs a sequence of
// exports drawn from the input. A result of 0 writes an output that came from the stream (a
// text is a piece of it without CR, a trigger value one of its 19-byte records); any other
// result leaves every output untouched; no output buffer is written past its size.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fuzz_input.h"
#include "velk_qentrix_control.h"

namespace {

constexpr size_t kMaxCalls = 48;
constexpr size_t kCanary = 16;

using Input = FuzzInput;

// The listening socket of the peer, made once per process.
int Listener(uint16_t& port) {
  static int fd = -1;
  static uint16_t bound = 0;
  if (fd < 0) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      std::abort();
    }
    bound = ntohs(address.sin_port);
  }
  port = bound;
  return fd;
}

// Bytes sent in one piece; a piece that waits is sent after the next request arrives (or a
// few milliseconds without one).
struct Piece {
  bool wait = false;
  std::string bytes;
};

// Sends the pieces, ends its side of the stream, and reads requests until the library closes.
void Peer(int fd, const std::vector<Piece>& pieces, bool pause) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char sink[256];
  for (const Piece& piece : pieces) {
    if (piece.wait) {
      pollfd request{fd, POLLIN, 0};
      if (poll(&request, 1, 5) == 1 && recv(fd, sink, sizeof sink, MSG_DONTWAIT) == 0) break;
    }
    if (send(fd, piece.bytes.data(), piece.bytes.size(), MSG_NOSIGNAL) < 0) break;
    if (pause) usleep(50);
  }
  shutdown(fd, SHUT_WR);
  while (recv(fd, sink, sizeof sink, 0) > 0) {
  }
  close(fd);
}

std::string Record(int16_t number, double value) {
  std::string r(19, '\0');
  r[0] = 0x13;
  r[1] = 'T';
  r[2] = static_cast<char>(number & 0xFF);
  r[3] = static_cast<char>((number >> 8) & 0xFF);
  std::memcpy(&r[10], &value, sizeof value);
  r[18] = '\r';
  return r;
}

// A text output: the buffer is zero-terminated within size and untouched behind it; on
// success the text is a piece of the stream without CR, otherwise nothing is written.
void CheckText(const char* buffer, size_t size, int32_t result, const std::string& stream) {
  for (size_t i = size; i < size + kCanary; ++i) {
    if (buffer[i] != '#') std::abort();
  }
  if (result != 0) {
    for (size_t i = 0; i < size; ++i) {
      if (buffer[i] != '#') std::abort();
    }
    return;
  }
  const size_t length = strnlen(buffer, size);
  if (length == size) std::abort();
  const std::string text(buffer, length);
  if (text.find('\r') != std::string::npos) std::abort();
  if (size == VELK_QENTRIX_TEXT_SIZE && stream.find(text) == std::string::npos) std::abort();
}

void CheckResult(int32_t result) {
  if (result < 0 || result > 3) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const int16_t slot = static_cast<int16_t>(in.Byte() % 100);
  const bool pause = in.Byte() & 1;

  // The calls, then the stream: pieces of raw bytes and whole trigger records, each sent at
  // once or after the next request.
  std::vector<uint8_t> calls;
  for (size_t n = in.Byte() % (kMaxCalls + 1); calls.size() < n;) calls.push_back(in.Byte());
  std::vector<Piece> pieces;
  std::string stream;
  std::set<std::pair<int16_t, uint64_t>> records;
  while (!in.Empty()) {
    uint8_t head = in.Byte();
    Piece piece;
    if (head >= 0xE0 && head < 0xF0) {
      piece.wait = true;
      head = in.Byte();
    }
    if (head >= 0xF0) {
      const int16_t number = static_cast<int16_t>(in.Byte() | (in.Byte() << 8));
      double value = 0;
      uint8_t raw[8];
      for (uint8_t& b : raw) b = in.Byte();
      std::memcpy(&value, raw, sizeof value);
      for (int i = 0; i <= (head & 0x0F); ++i) piece.bytes += Record(number, value);
    } else {
      for (int i = head % 64; i > 0; --i) {
        const uint8_t b = in.Byte();
        piece.bytes.push_back(static_cast<char>(b >= 0xE0 ? '\r' : b));
      }
    }
    stream += piece.bytes;
    pieces.push_back(std::move(piece));
  }
  for (size_t i = 0; i + 19 <= stream.size(); ++i) {
    if (stream[i + 18] != '\r') continue;
    const auto* r = reinterpret_cast<const uint8_t*>(stream.data() + i);
    uint64_t bits = 0;
    for (int k = 7; k >= 0; --k) bits = (bits << 8) | r[10 + k];
    records.insert({static_cast<int16_t>(r[2] | (r[3] << 8)), bits});
  }

  uint16_t port = 0;
  const int listener = Listener(port);
  if (Control_Init(slot, "127.0.0.1", port) != 0) std::abort();
  const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) std::abort();
  std::thread peer(Peer, fd, std::cref(pieces), pause);

  char text[VELK_QENTRIX_TEXT_SIZE + kCanary];
  for (uint8_t call : calls) {
    const auto c = static_cast<int16_t>(1 + call / 8 % 128);
    std::memset(text, '#', sizeof text);
    double value = -7.5;
    float single = -7.5f;
    int32_t count = -7;
    int32_t result = 0;
    switch (call % 8) {
      case 0:
        result = Control_GetActCharValue(slot, c, &value);
        if (result != 0 && value != -7.5) std::abort();
        break;
      case 1:
        result = Control_Get_CharName(slot, c, text);
        CheckText(text, VELK_QENTRIX_TEXT_SIZE, result, stream);
        break;
      case 2: {
        int16_t number = -7;
        result = Control_Get_GTrigVal(slot, &number, &value);
        if (result == 0) {
          uint64_t bits = 0;
          std::memcpy(&bits, &value, sizeof bits);
          if (!records.contains({number, bits})) std::abort();
        } else if (number != -7 || value != -7.5) {
          std::abort();
        }
        break;
      }
      case 3:
        result = Control_GetCharDateTime(slot, c, 1 + call, text);
        CheckText(text, VELK_QENTRIX_DATE_TIME_SIZE, result, stream);
        break;
      case 4:
        result = Control_GetLastCharValue(slot, c, &value);
        if (result != 0 && value != -7.5) std::abort();
        break;
      case 5:
        result = Control_Set_Nominal(slot, c, 1.5f);
        break;
      case 6:
        result = Control_Get_USL(slot, c, &single);
        if (result != 0 && single != -7.5f) std::abort();
        break;
      case 7:
        result = Control_GetCharValNum(slot, c, &count);
        if (result != 0 && count != -7) std::abort();
        break;
    }
    CheckResult(result);
  }
  Control_DeInit(slot);
  peer.join();
  return 0;
}
