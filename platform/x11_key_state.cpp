#include "x11_key_state.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "evdev_key_state.h"

// Keycodes of each virtual key; a key without a keycode on this server stays empty.
struct X11KeyState::Keys {
  std::vector<KeyCode> control;
  std::vector<KeyCode> alt;
  std::array<std::vector<KeyCode>, 12> function;
};

namespace {

Display* AsDisplay(void* display) { return static_cast<Display*>(display); }

void AddKeycode(Display* display, KeySym symbol, std::vector<KeyCode>& codes) {
  const KeyCode code = XKeysymToKeycode(display, symbol);
  if (code != 0) codes.push_back(code);
}

bool AnyDown(const char (&keymap)[32], const std::vector<KeyCode>& codes) {
  for (KeyCode code : codes) {
    if (keymap[code / 8] & (1 << (code % 8))) return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<X11KeyState> X11KeyState::Open() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return nullptr;
  auto keys = std::make_unique<Keys>();
  AddKeycode(display, XK_Control_L, keys->control);
  AddKeycode(display, XK_Control_R, keys->control);
  AddKeycode(display, XK_Alt_L, keys->alt);
  AddKeycode(display, XK_Alt_R, keys->alt);
  for (int i = 0; i < 12; ++i) AddKeycode(display, XK_F1 + i, keys->function[i]);
  return std::unique_ptr<X11KeyState>(new X11KeyState(display, std::move(keys)));
}

X11KeyState::X11KeyState(void* display, std::unique_ptr<Keys> keys)
    : display_(display), keys_(std::move(keys)) {}

X11KeyState::~X11KeyState() { XCloseDisplay(AsDisplay(display_)); }

bool X11KeyState::IsDown(int virtualKey) {
  const std::vector<KeyCode>* codes = nullptr;
  if (virtualKey == kVirtualKeyControl) {
    codes = &keys_->control;
  } else if (virtualKey == kVirtualKeyAlt) {
    codes = &keys_->alt;
  } else if (virtualKey >= kVirtualKeyF1 && virtualKey < kVirtualKeyF1 + 12) {
    codes = &keys_->function[virtualKey - kVirtualKeyF1];
  } else {
    return false;
  }
  char keymap[32] = {};
  XQueryKeymap(AsDisplay(display_), keymap);
  return AnyDown(keymap, *codes);
}

std::unique_ptr<IKeyState> OpenDesktopKeyState() {
  std::vector<std::string> paths;
  if (auto devices = OpenInputDeviceKeyState(paths)) {
    std::string list;
    for (const std::string& path : paths) list += (list.empty() ? "" : ", ") + path;
    std::fprintf(stderr, "Velk_VCP: hot keys are read from %s\n", list.c_str());
    return devices;
  }
  if (auto x11 = X11KeyState::Open()) {
    std::fprintf(stderr, "Velk_VCP: hot keys are read from the X11 display\n");
    return x11;
  }
  std::fprintf(stderr,
               "Velk_VCP: no input device can be read and no X11 display; hot keys have no "
               "effect\n");
  return std::make_unique<InertKeyState>();
}
