// Windows Sockets behind socket_calls.h. The socket library "WS2_32.DLL" is loaded at run
// time and its entry points are resolved by name; each load starts it (WSAStartup, version
// 1.0) and each unload stops it (WSACleanup) before freeing the library.
//
// The first load also pins the socket library in the process, so that later frees never
// unmap it: the library keeps per-thread state of the threads that called it, which some
// implementations (Wine) leave dangling in those threads when it is unmapped, breaking every
// later load in them.
#include "socket_calls.h"

// Windows Sockets first: windows.h would otherwise bring the older winsock.h.
#include <winsock2.h>
// Then the rest of the Windows API.
#include <windows.h>

#include <cstring>
#include <string>

#include "thread_primitives.h"

namespace velk::lan {
namespace {

struct SocketLibrary {
  HMODULE module = nullptr;
  int(WSAAPI* WSAStartup)(WORD, LPWSADATA) = nullptr;
  int(WSAAPI* WSACleanup)() = nullptr;
  int(WSAAPI* WSAGetLastError)() = nullptr;
  SOCKET(WSAAPI* socket)(int, int, int) = nullptr;
  int(WSAAPI* closesocket)(SOCKET) = nullptr;
  int(WSAAPI* connect)(SOCKET, const sockaddr*, int) = nullptr;
  int(WSAAPI* send)(SOCKET, const char*, int, int) = nullptr;
  int(WSAAPI* recv)(SOCKET, char*, int, int) = nullptr;
  u_short(WSAAPI* htons)(u_short) = nullptr;
  hostent*(WSAAPI* gethostbyname)(const char*) = nullptr;
  int(WSAAPI* ioctlsocket)(SOCKET, long, u_long*) = nullptr;
  int(WSAAPI* select)(int, fd_set*, fd_set*, fd_set*, const timeval*) = nullptr;
  int(WSAAPI* shutdown)(SOCKET, int) = nullptr;
  int(WSAAPI* setsockopt)(SOCKET, int, int, const char*, int) = nullptr;
  int(WSAAPI* getsockopt)(SOCKET, int, int, char*, int*) = nullptr;
};

// Written only while no slot holds a socket (the socket layer serialises load and unload).
SocketLibrary g_library;

template <typename Function>
bool Resolve(Function& function, const char* name) {
  function =
      reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(g_library.module, name)));
  return function != nullptr;
}

bool ResolveAll() {
  return Resolve(g_library.WSAStartup, "WSAStartup") &&
         Resolve(g_library.WSACleanup, "WSACleanup") &&
         Resolve(g_library.WSAGetLastError, "WSAGetLastError") &&
         Resolve(g_library.socket, "socket") && Resolve(g_library.closesocket, "closesocket") &&
         Resolve(g_library.connect, "connect") && Resolve(g_library.send, "send") &&
         Resolve(g_library.recv, "recv") && Resolve(g_library.htons, "htons") &&
         Resolve(g_library.gethostbyname, "gethostbyname") &&
         Resolve(g_library.ioctlsocket, "ioctlsocket") && Resolve(g_library.select, "select") &&
         Resolve(g_library.shutdown, "shutdown") && Resolve(g_library.setsockopt, "setsockopt") &&
         Resolve(g_library.getsockopt, "getsockopt");
}

SOCKET Handle(SocketHandle socket) { return static_cast<SOCKET>(socket); }

bool WouldBlock() {
  const int error = g_library.WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS;
}

// select() on one socket for reading, or for writing with errors (how a failed connect shows).
SocketWait Select(SocketHandle socket, bool for_writing, int timeout_ms) {
  fd_set ready;
  fd_set failed;
  ready.fd_count = 1;
  ready.fd_array[0] = Handle(socket);
  failed.fd_count = 1;
  failed.fd_array[0] = Handle(socket);
  const int ms = timeout_ms < 0 ? 0 : timeout_ms;
  const timeval timeout{ms / 1000, (ms % 1000) * 1000};
  const int result = g_library.select(0, for_writing ? nullptr : &ready,
                                      for_writing ? &ready : nullptr, &failed, &timeout);
  if (result > 0) return SocketWait::kReady;
  return result == 0 ? SocketWait::kTimedOut : SocketWait::kFailed;
}

}  // namespace

bool LoadSocketLibrary() {
  g_library = SocketLibrary{};
  g_library.module = LoadLibraryW(L"WS2_32.DLL");
  if (g_library.module == nullptr) return false;
  static bool pinned = false;
  if (!pinned) {
    HMODULE module = nullptr;
    pinned = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"WS2_32.DLL", &module) != 0;
  }
  WSADATA data;
  if (!ResolveAll() || g_library.WSAStartup(0x0001, &data) != 0) {
    FreeLibrary(g_library.module);
    g_library = SocketLibrary{};
    return false;
  }
  return true;
}

void UnloadSocketLibrary() {
  if (g_library.module == nullptr) return;
  g_library.WSACleanup();
  FreeLibrary(g_library.module);
  g_library = SocketLibrary{};
}

SocketHandle OpenStreamSocket() {
  const SOCKET socket = g_library.socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) return kNoSocket;
  u_long on = 1;
  if (g_library.ioctlsocket(socket, FIONBIO, &on) != 0) {
    g_library.closesocket(socket);
    return kNoSocket;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
  return static_cast<SocketHandle>(socket);
}

namespace {

// A look-up on a thread of its own, shared by the caller and the thread and freed by the last
// of them, so that a caller that gives up need not wait. The thread holds a reference to this
// library's module and drops it as its last act: unloading the library leaves the code in
// place until the look-up has ended. It calls the socket library's gethostbyname through its
// own copy of the entry point (the socket library stays mapped, see above).
struct PendingLookUp {
  explicit PendingLookUp(const char* name) : host(name) {}
  std::string host;
  hostent*(WSAAPI* gethostbyname)(const char*) = nullptr;
  HMODULE module = nullptr;
  HANDLE done = nullptr;
  LONG references = 2;
  bool found = false;
  uint8_t address[4] = {};
};

void Release(PendingLookUp* pending) {
  if (InterlockedDecrement(&pending->references) != 0) return;
  CloseHandle(pending->done);
  delete pending;
}

DWORD WINAPI LookUpMain(void* argument) {
  auto* pending = static_cast<PendingLookUp*>(argument);
  const HMODULE module = pending->module;
  const hostent* entry = pending->gethostbyname(pending->host.c_str());
  if (entry != nullptr && entry->h_addrtype == AF_INET && entry->h_length == 4 &&
      entry->h_addr_list != nullptr && entry->h_addr_list[0] != nullptr) {
    std::memcpy(pending->address, entry->h_addr_list[0], 4);
    pending->found = true;
  }
  SetEvent(pending->done);
  Release(pending);
  FreeLibraryAndExitThread(module, 0);
  return 0;
}

// How often a look-up under way looks at its abandon requests.
constexpr int kLookUpSliceMs = 50;

}  // namespace

LookUp LookUpHost(const char* host, uint8_t (&address)[4], int64_t deadline_ms,
                  const std::atomic<int>& abandon) {
  auto* pending = new PendingLookUp(host);
  pending->gethostbyname = g_library.gethostbyname;
  pending->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (pending->done == nullptr ||
      !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&LookUpMain), &pending->module)) {
    if (pending->done != nullptr) CloseHandle(pending->done);
    delete pending;
    return LookUp::kNotFound;
  }
  const HANDLE thread = CreateThread(nullptr, 0, &LookUpMain, pending, 0, nullptr);
  if (thread == nullptr) {
    FreeLibrary(pending->module);
    CloseHandle(pending->done);
    delete pending;
    return LookUp::kNotFound;
  }
  CloseHandle(thread);
  for (;;) {
    const int64_t left = deadline_ms - NowMs();
    if (left <= 0 || abandon.load(std::memory_order_acquire) > 0) {
      Release(pending);
      return LookUp::kGaveUp;
    }
    const DWORD slice = static_cast<DWORD>(left < kLookUpSliceMs ? left : kLookUpSliceMs);
    if (WaitForSingleObject(pending->done, slice) == WAIT_OBJECT_0) break;
  }
  const bool found = pending->found;
  if (found) std::memcpy(address, pending->address, 4);
  Release(pending);
  return found ? LookUp::kFound : LookUp::kNotFound;
}

SocketWait StartConnect(SocketHandle socket, const uint8_t (&address)[4], uint16_t port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = g_library.htons(port);
  std::memcpy(&peer.sin_addr, address, 4);
  if (g_library.connect(Handle(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) ==
      0) {
    return SocketWait::kReady;
  }
  return WouldBlock() ? SocketWait::kTimedOut : SocketWait::kFailed;
}

bool ConnectionFailed(SocketHandle socket) {
  int error = 0;
  int length = sizeof error;
  return g_library.getsockopt(Handle(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                              &length) != 0 ||
         error != 0;
}

SocketWait WaitWritable(SocketHandle socket, int timeout_ms) {
  return Select(socket, true, timeout_ms);
}

SocketWait WaitReadable(SocketHandle socket, int timeout_ms) {
  return Select(socket, false, timeout_ms);
}

long SendSome(SocketHandle socket, const uint8_t* bytes, std::size_t length) {
  const int sent = g_library.send(Handle(socket), reinterpret_cast<const char*>(bytes),
                                  static_cast<int>(length), 0);
  if (sent != SOCKET_ERROR) return sent;
  return WouldBlock() ? 0 : -1;
}

long ReceiveSome(SocketHandle socket, uint8_t* bytes, std::size_t length) {
  const int received =
      g_library.recv(Handle(socket), reinterpret_cast<char*>(bytes), static_cast<int>(length), 0);
  if (received != SOCKET_ERROR) return received;
  return WouldBlock() ? -2 : -1;
}

void SetNoDelay(SocketHandle socket) {
  const BOOL on = TRUE;
  g_library.setsockopt(Handle(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                       sizeof on);
}

void ShutdownSocket(SocketHandle socket) { g_library.shutdown(Handle(socket), SD_BOTH); }

void CloseSocket(SocketHandle socket) { g_library.closesocket(Handle(socket)); }

}  // namespace velk::lan
