#include "line_state.h"

#include <pthread.h>
#include <sys/ioctl.h>

#include "port_match.h"

enum { kMaxDescriptors = 1024, kMaxDevices = 64 };

// Pseudo-terminal descriptors already looked at, ours or not, so that the port folder is
// read once per descriptor rather than on every call.
struct Descriptor {
  int fd;
  dev_t device;
  int ours;
};

struct Device {
  dev_t device;
  struct LineState state;
};

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static struct Descriptor descriptors[kMaxDescriptors];
static int descriptor_count;
static struct Device devices[kMaxDevices];
static int device_count;

static struct Descriptor* FindDescriptor(int fd) {
  for (int i = 0; i < descriptor_count; ++i) {
    if (descriptors[i].fd == fd) return &descriptors[i];
  }
  return NULL;
}

static struct Device* FindDevice(dev_t device) {
  for (int i = 0; i < device_count; ++i) {
    if (devices[i].device == device) return &devices[i];
  }
  return NULL;
}

// Returns the device's state, made on first use; NULL when the table is full.
static struct Device* DeviceFor(dev_t device) {
  struct Device* d = FindDevice(device);
  if (d == NULL && device_count < kMaxDevices) {
    d = &devices[device_count++];
    d->device = device;
    d->state.lines = TIOCM_DTR | TIOCM_RTS;
    d->state.has_frame = 0;
    d->state.frame = 0;
  }
  return d;
}

// Drops the state of a device that no known descriptor is open on any more.
static void DropIfUnused(dev_t device) {
  for (int i = 0; i < descriptor_count; ++i) {
    if (descriptors[i].device == device) return;
  }
  struct Device* d = FindDevice(device);
  if (d != NULL) *d = devices[--device_count];
}

// Whether fd is a port; the caller holds the lock and has checked that fd is a pts.
static int Recognise(int fd, dev_t device) {
  struct Descriptor* known = FindDescriptor(fd);
  if (known != NULL && known->device == device) return known->ours;
  const int ours = IsPortDevice(device);
  if (known != NULL) {
    // The number now names another terminal (dup2, or a close the layer did not see).
    const dev_t before = known->device;
    known->device = device;
    DropIfUnused(before);
  } else if (descriptor_count < kMaxDescriptors) {
    known = &descriptors[descriptor_count++];
    known->fd = fd;
    known->device = device;
  }
  if (known != NULL) known->ours = ours;
  return ours;
}

int PortState(int fd, struct LineState* state) {
  dev_t device;
  if (!IsPseudoTerminal(fd, &device)) return 0;
  pthread_mutex_lock(&lock);
  int ours = Recognise(fd, device);
  if (ours) {
    const struct Device* d = DeviceFor(device);
    if (d != NULL) {
      *state = d->state;
    } else {
      state->lines = TIOCM_DTR | TIOCM_RTS;
      state->has_frame = 0;
      state->frame = 0;
    }
  }
  pthread_mutex_unlock(&lock);
  return ours;
}

void StorePortState(int fd, const struct LineState* state) {
  pthread_mutex_lock(&lock);
  const struct Descriptor* known = FindDescriptor(fd);
  if (known != NULL && known->ours) {
    struct Device* d = DeviceFor(known->device);
    if (d != NULL) d->state = *state;
  }
  pthread_mutex_unlock(&lock);
}

void ForgetDescriptor(int fd) {
  pthread_mutex_lock(&lock);
  struct Descriptor* known = FindDescriptor(fd);
  if (known != NULL) {
    const dev_t device = known->device;
    *known = descriptors[--descriptor_count];
    DropIfUnused(device);
  }
  pthread_mutex_unlock(&lock);
}
