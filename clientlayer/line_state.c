#include "line_state.h"

#include <stdatomic.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/ioctl.h>

#include "port_match.h"

enum { kMaxDescriptors = 4096, kMaxDevices = 64 };

// Descriptor entries: 0 when nothing is known of the number, otherwise kKnown, kOurs for a
// port, and the pseudo-terminal's device number from bit 2 on. Descriptors above the table
// are recognised anew on every call.
static const uint64_t kKnown = 1;
static const uint64_t kOurs = 2;
static _Atomic uint64_t descriptors[kMaxDescriptors];

// Device entries: `device` is 0 when free and kClaiming while a claimer sets the state;
// `state` is a LineState packed by Pack.
static const uint64_t kClaiming = UINT64_MAX;
struct Device {
  _Atomic uint64_t device;
  _Atomic uint64_t state;
};
static struct Device devices[kMaxDevices];

static uint64_t Pack(int lines, int has_frame, tcflag_t frame) {
  return (uint64_t)frame | (uint64_t)(has_frame != 0) << 32 | (uint64_t)(lines & 0xFF) << 33;
}

static const uint64_t kFreshState = (uint64_t)(TIOCM_DTR | TIOCM_RTS) << 33;

static void Unpack(uint64_t packed, dev_t device, struct LineState* state) {
  state->device = device;
  state->frame = (tcflag_t)packed;
  state->has_frame = (int)(packed >> 32 & 1);
  state->lines = (int)(packed >> 33 & 0xFF);
}

static dev_t EntryDevice(uint64_t entry) { return (dev_t)(entry >> 2); }

static int InTable(int fd) { return fd >= 0 && fd < kMaxDescriptors; }

static struct Device* FindDevice(dev_t device) {
  for (int i = 0; i < kMaxDevices; ++i) {
    if (atomic_load(&devices[i].device) == (uint64_t)device) return &devices[i];
  }
  return NULL;
}

// Returns the device's entry, claimed with a fresh state on first use; NULL when all are
// taken. Two threads claiming the same device at once settle on the lower entry.
static struct Device* DeviceFor(dev_t device) {
  struct Device* found = FindDevice(device);
  if (found != NULL) return found;
  for (int i = 0; i < kMaxDevices; ++i) {
    uint64_t expected = 0;
    if (!atomic_compare_exchange_strong(&devices[i].device, &expected, kClaiming)) continue;
    atomic_store(&devices[i].state, kFreshState);
    atomic_store(&devices[i].device, (uint64_t)device);
    for (int j = 0; j < i; ++j) {
      if (atomic_load(&devices[j].device) == (uint64_t)device) {
        atomic_store(&devices[i].device, 0);
        return &devices[j];
      }
    }
    return &devices[i];
  }
  return NULL;
}

// Whether a descriptor other than `except` is known to be open on the port `device`. With
// `verify`, entries whose descriptor no longer is (closed or replaced unseen) are dropped.
static int DeviceInUse(dev_t device, int except, int verify) {
  for (int fd = 0; fd < kMaxDescriptors; ++fd) {
    uint64_t entry = atomic_load(&descriptors[fd]);
    if (fd == except || !(entry & kOurs) || EntryDevice(entry) != device) continue;
    dev_t now;
    if (!verify || (IsPseudoTerminal(fd, &now) && now == device)) return 1;
    atomic_compare_exchange_strong(&descriptors[fd], &entry, 0);
  }
  return 0;
}

// Frees the state of a port no known descriptor is open on any more.
static void ReleaseIfUnused(dev_t device) {
  if (DeviceInUse(device, -1, 0)) return;
  struct Device* d = FindDevice(device);
  if (d == NULL) return;
  uint64_t expected = (uint64_t)device;
  atomic_compare_exchange_strong(&d->device, &expected, 0);
}

// Whether fd, open on the pseudo-terminal `device`, is a port; the answer is kept per number.
static int Recognise(int fd, dev_t device) {
  if (!InTable(fd)) return IsPortDevice(device);
  const uint64_t entry = atomic_load(&descriptors[fd]);
  if (entry != 0 && EntryDevice(entry) == device) return (entry & kOurs) != 0;
  const int ours = IsPortDevice(device);
  const uint64_t before =
      atomic_exchange(&descriptors[fd], (uint64_t)device << 2 | kKnown | (ours ? kOurs : 0));
  // The number named another terminal before (a close the layer did not see).
  if ((before & kOurs) && EntryDevice(before) != device) ReleaseIfUnused(EntryDevice(before));
  return ours;
}

int PortState(int fd, struct LineState* state) {
  dev_t device;
  if (!IsPseudoTerminal(fd, &device) || !Recognise(fd, device)) return 0;
  const struct Device* d = DeviceFor(device);
  Unpack(d != NULL ? atomic_load(&d->state) : kFreshState, device, state);
  return 1;
}

void StorePortState(const struct LineState* state) {
  struct Device* d = DeviceFor(state->device);
  if (d != NULL) atomic_store(&d->state, Pack(state->lines, state->has_frame, state->frame));
}

void ForgetDescriptor(int fd) {
  if (!InTable(fd) || atomic_load(&descriptors[fd]) == 0) return;
  const uint64_t before = atomic_exchange(&descriptors[fd], 0);
  if (before & kOurs) ReleaseIfUnused(EntryDevice(before));
}

int PortOpened(int fd) {
  ForgetDescriptor(fd);
  dev_t device;
  if (!IsPseudoTerminal(fd, &device) || !Recognise(fd, device)) return 0;
  if (DeviceInUse(device, fd, 1)) return 1;
  struct Device* d = FindDevice(device);
  if (d != NULL) atomic_store(&d->state, kFreshState);
  return 1;
}
