// Hot-key states read from the X server, so a combination counts while any application has
// the focus.
#pragma once

#include <memory>

#include "key_state.h"

// Reads the whole keyboard with XQueryKeymap on a display connection of its own. Ctrl is
// either Control key, Alt either Alt key, F1..F12 the
// function keys; every other virtual key is up.
class X11KeyState : public IKeyState {
 public:
  // Returns the key state of the X display named by DISPLAY; nullptr when it cannot be opened.
  static std::unique_ptr<X11KeyState> Open();
  ~X11KeyState() override;
  X11KeyState(const X11KeyState&) = delete;
  X11KeyState& operator=(const X11KeyState&) = delete;

  // Returns true while one of the keys the virtual key stands for is down.
  bool IsDown(int virtualKey) override;

 private:
  struct Keys;
  X11KeyState(void* display, std::unique_ptr<Keys> keys);

  void* display_;
  std::unique_ptr<Keys> keys_;
};

// Returns the key state for the desktop: the input devices when one can be read (they see every
// key, also under Wayland), otherwise the X11 display when it opens, otherwise one with no key
// ever down. Says once on standard error which source is used.
std::unique_ptr<IKeyState> OpenDesktopKeyState();
