// Hot-key states read from the Linux input devices (evdev), so the hot keys work on a console,
// under Wayland and without any display, wherever the user may read the devices (normally as
// a member of the group "input").
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "key_state.h"

// Follows the key events of a set of input devices: Ctrl is either Control key, Alt either Alt
// key (AltGr included), F1..F12 the function keys, each down while it is down on any device.
class EvdevKeyState : public IKeyState {
 public:
  // Takes over fds (closed by the destructor), each a stream of struct input_event records:
  // an input device or a stand-in such as a pipe. Keys start up, or as the device reports
  // them when it answers EVIOCGKEY.
  explicit EvdevKeyState(std::vector<int> fds);
  ~EvdevKeyState() override;
  EvdevKeyState(const EvdevKeyState&) = delete;
  EvdevKeyState& operator=(const EvdevKeyState&) = delete;

  // Reads the events that arrived on every stream, then returns true while one of the keys
  // the virtual key stands for is down; false for every other virtual key. A stream that ends
  // or fails is dropped with its keys.
  bool IsDown(int virtualKey) override;
  // Returns false when no stream is left.
  bool CanChange() const override { return !streams_.empty(); }

 private:
  struct Stream;
  void ReadEvents();

  std::vector<std::unique_ptr<Stream>> streams_;
};

// Opens the input devices to read hot keys from: the paths listed in VELK_VCP_INPUT_DEVICES
// (separated by ':', opened as they are, for example a named pipe) when it is set and not
// empty and not "none" (which means no device), otherwise each /dev/input/event* that opens
// for reading and reports F1..F12, Ctrl and Alt. Returns nullptr when none opens; paths
// receives the opened paths.
std::unique_ptr<EvdevKeyState> OpenInputDeviceKeyState(std::vector<std::string>& paths);

// Returns the key state for a program without X11: the input devices when one can be read,
// otherwise one with no key ever down. Says once on standard error which source is used.
std::unique_ptr<IKeyState> OpenConsoleKeyState();
