#include "socket_layer.h"

#include <atomic>

#include "slot_table.h"
#include "socket_calls.h"
#include "thread_primitives.h"

namespace velk::lan {
namespace {

Mutex g_layer_mutex;
std::atomic<bool> g_started{false};
unsigned g_start_count = 0;

}  // namespace

bool StartSocketLayerFor(int slot) {
  ScopedLock lock(g_layer_mutex);
  if (!g_started.load(std::memory_order_relaxed)) {
    if (!LoadSocketLibrary()) return false;
    g_started.store(true, std::memory_order_release);
    ++g_start_count;
  }
  g_slots[slot].holds_socket.store(true, std::memory_order_release);
  return true;
}

void ReleaseSocketLayerFor(int slot) {
  ScopedLock lock(g_layer_mutex);
  g_slots[slot].holds_socket.store(false, std::memory_order_release);
  if (!g_started.load(std::memory_order_relaxed)) return;
  for (const Slot& other : g_slots) {
    if (other.holds_socket.load(std::memory_order_acquire)) return;
  }
  UnloadSocketLibrary();
  g_started.store(false, std::memory_order_release);
}

bool SocketLayerStarted() { return g_started.load(std::memory_order_acquire); }

unsigned SocketLayerStartCount() {
  ScopedLock lock(g_layer_mutex);
  return g_start_count;
}

}  // namespace velk::lan
