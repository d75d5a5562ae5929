// POSIX sockets behind socket_calls.h. Names are looked up with the C library's
// asynchronous getaddrinfo_a: its own threads do the look-up into a request on the heap, so a
// look-up given up on (time bound, Control_DeInit, unloading) needs no thread of this library.
// (ThreadSanitizer does not know those threads: a name looked up in a program built with it
// crashes there; addresses in numbers are read without them.)
#include "socket_calls.h"

#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "thread_primitives.h"

#if defined(__SANITIZE_ADDRESS__) && __has_include(<sanitizer/lsan_interface.h>)
#include <sanitizer/lsan_interface.h>
#endif

namespace velk::lan {
namespace {

// How often a look-up under way looks at its abandon requests.
constexpr int kLookUpSliceMs = 50;

// Longest name the system's name resolution takes (a longer one is no name).
constexpr std::size_t kMaxNameLength = 253;

// One getaddrinfo_a request with everything it points to, in one allocation.
struct PendingLookUp {
  explicit PendingLookUp(const char* name) {
    std::strcpy(host, name);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    request.ar_name = host;
    request.ar_request = &hints;
  }
  ~PendingLookUp() {
    if (request.ar_result != nullptr) freeaddrinfo(request.ar_result);
  }
  char host[kMaxNameLength + 1];
  addrinfo hints{};
  gaicb request{};
  PendingLookUp* next = nullptr;
};

#if defined(__SANITIZE_ADDRESS__) && __has_include(<sanitizer/lsan_interface.h>)
// A request still in the C library's hands when this library is unloaded stays allocated on
// purpose; the leak checker is told so.
void KeptOnPurpose(const void* object) { __lsan_ignore_object(object); }
#else
void KeptOnPurpose(const void*) {}
#endif

// Look-ups given up on that the C library could not cancel: it still writes into them, so
// they are freed only once finished (by a later look-up), or left at unload.
Mutex g_abandoned_mutex;
PendingLookUp* g_abandoned = nullptr;

void FreeFinishedLookUps() {
  ScopedLock lock(g_abandoned_mutex);
  for (PendingLookUp** link = &g_abandoned; *link != nullptr;) {
    PendingLookUp* pending = *link;
    if (gai_error(&pending->request) == EAI_INPROGRESS) {
      link = &pending->next;
      continue;
    }
    *link = pending->next;
    delete pending;
  }
}

void GiveUp(PendingLookUp* pending) {
  if (gai_cancel(&pending->request) == EAI_CANCELED ||
      gai_error(&pending->request) != EAI_INPROGRESS) {
    delete pending;
    return;
  }
  KeptOnPurpose(pending);
  ScopedLock lock(g_abandoned_mutex);
  pending->next = g_abandoned;
  g_abandoned = pending;
}

// An address in numbers (the forms inet_aton reads) needs no look-up and no thread.
bool ReadNumericAddress(const char* host, uint8_t (&address)[4]) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
  std::memcpy(address, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, 4);
  freeaddrinfo(found);
  return true;
}

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

SocketWait Poll(SocketHandle socket, short events, int timeout_ms) {
  pollfd entry{Fd(socket), events, 0};
  const int ready = poll(&entry, 1, timeout_ms < 0 ? 0 : timeout_ms);
  if (ready > 0) return SocketWait::kReady;
  if (ready == 0 || errno == EINTR) return SocketWait::kTimedOut;
  return SocketWait::kFailed;
}

}  // namespace

bool LoadSocketLibrary() { return true; }

void UnloadSocketLibrary() {}

SocketHandle OpenStreamSocket() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  return fd < 0 ? kNoSocket : fd;
}

LookUp LookUpHost(const char* host, uint8_t (&address)[4], int64_t deadline_ms,
                  const std::atomic<int>& abandon) {
  if (ReadNumericAddress(host, address)) return LookUp::kFound;
  FreeFinishedLookUps();
  if (std::strlen(host) > kMaxNameLength) return LookUp::kNotFound;
  auto* pending = new PendingLookUp(host);
  gaicb* list[] = {&pending->request};
  if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
    delete pending;
    return LookUp::kNotFound;
  }
  for (;;) {
    if (gai_error(&pending->request) != EAI_INPROGRESS) break;
    const int64_t left = deadline_ms - NowMs();
    if (left <= 0 || abandon.load(std::memory_order_acquire) > 0) {
      GiveUp(pending);
      return LookUp::kGaveUp;
    }
    const int64_t slice = left < kLookUpSliceMs ? left : kLookUpSliceMs;
    const timespec wait{0, static_cast<long>(slice) * 1000000};
    gai_suspend(list, 1, &wait);
  }
  const addrinfo* found = pending->request.ar_result;
  const bool usable = gai_error(&pending->request) == 0 && found != nullptr &&
                      found->ai_family == AF_INET && found->ai_addrlen >= sizeof(sockaddr_in);
  if (usable) {
    std::memcpy(address, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, 4);
  }
  delete pending;
  return usable ? LookUp::kFound : LookUp::kNotFound;
}

SocketWait StartConnect(SocketHandle socket, const uint8_t (&address)[4], uint16_t port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  std::memcpy(&peer.sin_addr, address, 4);
  if (connect(Fd(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return SocketWait::kReady;
  }
  return errno == EINPROGRESS || errno == EINTR ? SocketWait::kTimedOut : SocketWait::kFailed;
}

bool ConnectionFailed(SocketHandle socket) {
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0;
}

SocketWait WaitWritable(SocketHandle socket, int timeout_ms) {
  return Poll(socket, POLLOUT, timeout_ms);
}

SocketWait WaitReadable(SocketHandle socket, int timeout_ms) {
  return Poll(socket, POLLIN, timeout_ms);
}

long SendSome(SocketHandle socket, const uint8_t* bytes, std::size_t length) {
  const ssize_t sent = send(Fd(socket), bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent >= 0) return static_cast<long>(sent);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

long ReceiveSome(SocketHandle socket, uint8_t* bytes, std::size_t length) {
  const ssize_t received = recv(Fd(socket), bytes, length, MSG_DONTWAIT);
  if (received >= 0) return static_cast<long>(received);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -2 : -1;
}

void SetNoDelay(SocketHandle socket) {
  const int on = 1;
  setsockopt(Fd(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void ShutdownSocket(SocketHandle socket) { shutdown(Fd(socket), SHUT_RDWR); }

void CloseSocket(SocketHandle socket) { close(Fd(socket)); }

}  // namespace velk::lan
