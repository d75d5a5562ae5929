#include "evdev_key_state.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <span>

namespace {

constexpr std::array<int, 12> kFunctionKeys = {KEY_F1, KEY_F2, KEY_F3, KEY_F4,  KEY_F5,  KEY_F6,
                                               KEY_F7, KEY_F8, KEY_F9, KEY_F10, KEY_F11, KEY_F12};
constexpr int kControlKeys[] = {KEY_LEFTCTRL, KEY_RIGHTCTRL};
constexpr int kAltKeys[] = {KEY_LEFTALT, KEY_RIGHTALT};

bool BitSet(const unsigned char* bits, int bit) { return (bits[bit / 8] >> (bit % 8)) & 1; }

// True when the device reports the function keys, a Control key and an Alt key.
bool IsKeyboard(int fd) {
  unsigned char keys[KEY_MAX / 8 + 1] = {};
  if (ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys) < 0) return false;
  for (int key : kFunctionKeys) {
    if (!BitSet(keys, key)) return false;
  }
  return BitSet(keys, KEY_LEFTCTRL) && BitSet(keys, KEY_LEFTALT);
}

}  // namespace

struct EvdevKeyState::Stream {
  int fd = -1;
  std::array<bool, KEY_MAX + 1> down{};
  std::array<char, sizeof(input_event)> partial{};
  size_t partialSize = 0;

  // Takes the device's own key state; nothing for a stream that is no device.
  void Synchronise() {
    unsigned char keys[KEY_MAX / 8 + 1] = {};
    if (ioctl(fd, EVIOCGKEY(sizeof keys), keys) < 0) return;
    for (int key = 0; key <= KEY_MAX; ++key) down[key] = BitSet(keys, key);
  }

  void Apply(const input_event& event) {
    if (event.type == EV_SYN && event.code == SYN_DROPPED) Synchronise();
    if (event.type == EV_KEY && event.code <= KEY_MAX) down[event.code] = event.value != 0;
  }

  // Reads what arrived. Returns false when the stream ended or failed.
  bool Read() {
    char buffer[64 * sizeof(input_event)];
    for (;;) {
      std::memcpy(buffer, partial.data(), partialSize);
      const ssize_t n = read(fd, buffer + partialSize, sizeof buffer - partialSize);
      if (n < 0) return errno == EAGAIN || errno == EINTR;
      if (n == 0) return false;
      const size_t total = partialSize + static_cast<size_t>(n);
      size_t at = 0;
      for (; at + sizeof(input_event) <= total; at += sizeof(input_event)) {
        input_event event;
        std::memcpy(&event, buffer + at, sizeof event);
        Apply(event);
      }
      partialSize = total - at;
      std::memcpy(partial.data(), buffer + at, partialSize);
    }
  }
};

EvdevKeyState::EvdevKeyState(std::vector<int> fds) {
  for (int fd : fds) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto stream = std::make_unique<Stream>();
    stream->fd = fd;
    stream->Synchronise();
    streams_.push_back(std::move(stream));
  }
}

EvdevKeyState::~EvdevKeyState() {
  for (const auto& stream : streams_) close(stream->fd);
}

void EvdevKeyState::ReadEvents() {
  std::erase_if(streams_, [](const std::unique_ptr<Stream>& stream) {
    if (stream->Read()) return false;
    close(stream->fd);
    return true;
  });
}

bool EvdevKeyState::IsDown(int virtualKey) {
  std::span<const int> keys;
  if (virtualKey == kVirtualKeyControl) {
    keys = kControlKeys;
  } else if (virtualKey == kVirtualKeyAlt) {
    keys = kAltKeys;
  } else if (virtualKey >= kVirtualKeyF1 && virtualKey < kVirtualKeyF1 + 12) {
    keys = std::span<const int>(kFunctionKeys).subspan(virtualKey - kVirtualKeyF1, 1);
  } else {
    return false;
  }
  ReadEvents();
  return std::any_of(streams_.begin(), streams_.end(), [&](const std::unique_ptr<Stream>& s) {
    return std::any_of(keys.begin(), keys.end(), [&](int key) { return s->down[key]; });
  });
}

std::unique_ptr<EvdevKeyState> OpenInputDeviceKeyState(std::vector<std::string>& paths) {
  paths.clear();
  std::vector<int> fds;
  const char* listed = std::getenv("VELK_VCP_INPUT_DEVICES");
  if (listed != nullptr && std::string(listed) == "none") return nullptr;
  if (listed != nullptr && *listed != '\0') {
    std::string rest = listed;
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      const std::string path = rest.substr(0, colon);
      rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
      const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
      if (fd < 0) continue;
      fds.push_back(fd);
      paths.push_back(path);
    }
  } else {
    std::error_code ec;
    std::vector<std::string> candidates;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/input", ec)) {
      if (entry.path().filename().string().starts_with("event")) {
        candidates.push_back(entry.path().string());
      }
    }
    std::sort(candidates.begin(), candidates.end());
    for (const std::string& path : candidates) {
      const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
      if (fd < 0) continue;
      if (!IsKeyboard(fd)) {
        close(fd);
        continue;
      }
      fds.push_back(fd);
      paths.push_back(path);
    }
  }
  if (fds.empty()) return nullptr;
  return std::make_unique<EvdevKeyState>(std::move(fds));
}

std::unique_ptr<IKeyState> OpenConsoleKeyState() {
  std::vector<std::string> paths;
  if (auto devices = OpenInputDeviceKeyState(paths)) {
    std::string list;
    for (const std::string& path : paths) list += (list.empty() ? "" : ", ") + path;
    std::cerr << "Velk_VCP: hot keys are read from " << list << std::endl;
    return devices;
  }
  std::cerr << "Velk_VCP: no input device can be read (a member of the group \"input\" may read "
               "them); hot keys have no effect"
            << std::endl;
  return std::make_unique<InertKeyState>();
}
