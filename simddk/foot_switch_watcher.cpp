#include "foot_switch_watcher.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "input_key_names.h"
#include "serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string SourceText(const SwitchSource& source) {
  if (source.kind == SwitchKind::kEvdev) return "evdev " + source.path + " " + KeyName(source.key);
  return "modem " + source.path + " " + ModemLineName(source.modem);
}

}  // namespace

FootSwitchWatcher::~FootSwitchWatcher() { Stop(); }

bool FootSwitchWatcher::Start(std::vector<Switch> switches, std::string& error) {
  Stop();
  switches_ = std::move(switches);
  {
    std::lock_guard lock(mutex_);
    states_.assign(switches_.size(), State{});
  }
  if (switches_.empty()) return true;
  return thread_.Start([this] { Run(); }, error);
}

void FootSwitchWatcher::Stop() {
  thread_.Stop();
  std::lock_guard lock(mutex_);
  for (State& s : states_) {
    if (s.fd >= 0) close(s.fd);
    s.fd = -1;
    s.pressed = false;
  }
}

int FootSwitchWatcher::Find(int device, int number) const {
  for (size_t i = 0; i < switches_.size(); ++i) {
    if (switches_[i].device == device && switches_[i].number == number) return static_cast<int>(i);
  }
  return -1;
}

bool FootSwitchWatcher::Has(int device, int number) const { return Find(device, number) >= 0; }

bool FootSwitchWatcher::Pressed(int device, int number) const {
  const int i = Find(device, number);
  if (i < 0) return false;
  std::lock_guard lock(mutex_);
  return states_[static_cast<size_t>(i)].pressed;
}

std::string FootSwitchWatcher::Describe(int device, int number) const {
  const int i = Find(device, number);
  if (i < 0) return {};
  std::lock_guard lock(mutex_);
  const State& s = states_[static_cast<size_t>(i)];
  return SourceText(switches_[static_cast<size_t>(i)].source) +
         (s.fd >= 0 ? ", open" : ", closed") + ", last error " +
         (s.last_error.empty() ? "none" : s.last_error);
}

void FootSwitchWatcher::Lose(size_t index, const std::string& reason) {
  std::lock_guard lock(mutex_);
  State& s = states_[index];
  if (s.fd >= 0) close(s.fd);
  s.fd = -1;
  s.pressed = false;
  s.pending.clear();
  s.last_error = reason;
  s.retry = Clock::now() + std::chrono::seconds(1);
  if (!s.reported) {
    std::cerr << "Velk_DDK: foot switch " << switches_[index].device << "."
              << switches_[index].number << " (" << SourceText(switches_[index].source)
              << "): " << reason << "; trying again every second\n";
    s.reported = true;
  }
}

void FootSwitchWatcher::Open(size_t index) {
  const SwitchSource& source = switches_[index].source;
  std::string error;
  int fd = -1;
  bool pressed = false;
  if (source.kind == SwitchKind::kModem) {
    fd = OpenModemPort(source.path, error);
    if (fd >= 0) pressed = ReadModemLine(fd, source.modem, error) == 1;
  } else {
    fd = open(source.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      error = std::string("cannot open: ") + strerror(errno);
    } else {
      // Take the keys for this program alone, so a pedal that is a keyboard types nothing
      // elsewhere; and start from the key's present state. Streams that are not input
      // devices refuse both and start released.
      (void)ioctl(fd, EVIOCGRAB, 1);
      unsigned char keys[KEY_MAX / 8 + 1] = {};
      if (ioctl(fd, EVIOCGKEY(sizeof keys), keys) >= 0) {
        pressed = (keys[source.key / 8] >> (source.key % 8)) & 1;
      }
    }
  }
  if (fd < 0) return Lose(index, error);
  std::lock_guard lock(mutex_);
  State& s = states_[index];
  if (s.reported) {
    std::cerr << "Velk_DDK: foot switch " << switches_[index].device << "."
              << switches_[index].number << " is open again\n";
  }
  s = State{fd, pressed, false, {}, {}, {}};
}

void FootSwitchWatcher::Run() {
  std::vector<pollfd> fds;
  std::vector<size_t> owners;
  for (;;) {
    const Clock::time_point now = Clock::now();
    bool any_modem = false;
    bool any_closed = false;
    fds.assign(1, pollfd{thread_.wake_descriptor(), POLLIN, 0});
    owners.clear();
    for (size_t i = 0; i < switches_.size(); ++i) {
      int fd = -1;
      {
        std::lock_guard lock(mutex_);
        fd = states_[i].fd;
        if (fd < 0 && states_[i].retry > now) {
          any_closed = true;
          continue;
        }
      }
      if (fd < 0) {
        Open(i);
        std::lock_guard lock(mutex_);
        fd = states_[i].fd;
        if (fd < 0) {
          any_closed = true;
          continue;
        }
      }
      if (switches_[i].source.kind == SwitchKind::kModem) {
        any_modem = true;
        std::string error;
        const int line = ReadModemLine(fd, switches_[i].source.modem, error);
        if (line < 0) {
          Lose(i, error);
        } else {
          std::lock_guard lock(mutex_);
          states_[i].pressed = line == 1;
        }
      } else {
        fds.push_back({fd, POLLIN, 0});
        owners.push_back(i);
      }
    }
    const int timeout = any_modem ? kModemPollMs : any_closed ? 100 : -1;
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents) break;
    for (size_t k = 1; k < fds.size(); ++k) {
      if (!fds[k].revents) continue;
      const size_t i = owners[k - 1];
      char buffer[sizeof(input_event) * 32];
      const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        Lose(i, n == 0 ? "the device was closed" : strerror(errno));
        continue;
      }
      if (n < 0) continue;
      std::lock_guard lock(mutex_);
      State& s = states_[i];
      s.pending.append(buffer, static_cast<size_t>(n));
      size_t used = 0;
      for (; used + sizeof(input_event) <= s.pending.size(); used += sizeof(input_event)) {
        input_event event;
        memcpy(&event, s.pending.data() + used, sizeof event);
        if (event.type == EV_KEY && event.code == switches_[i].source.key) {
          s.pressed = event.value != 0;  // 1 down, 2 repeat, 0 up
        } else if (event.type == EV_SYN && event.code == SYN_DROPPED) {
          // The device dropped events: ask it for the key's state instead.
          unsigned char keys[KEY_MAX / 8 + 1] = {};
          const int key = switches_[i].source.key;
          if (ioctl(s.fd, EVIOCGKEY(sizeof keys), keys) >= 0) {
            s.pressed = (keys[key / 8] >> (key % 8)) & 1;
          }
        }
      }
      s.pending.erase(0, used);
    }
  }
  std::lock_guard lock(mutex_);
  for (State& s : states_) {
    if (s.fd >= 0) close(s.fd);
    s.fd = -1;
    s.pressed = false;
  }
}
