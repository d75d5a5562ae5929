// The input-device key reader fed through pipes that stand in for input devices.
#include "evdev_key_state.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    read = fds[0];
    write = fds[1];
  }
};

std::string Event(int type, int code, int value) {
  input_event event{};
  event.type = static_cast<uint16_t>(type);
  event.code = static_cast<uint16_t>(code);
  event.value = value;
  return std::string(reinterpret_cast<const char*>(&event), sizeof event);
}

std::string Key(int code, int value) { return Event(EV_KEY, code, value); }

void Send(int fd, const std::string& bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// The virtual keys that are down, in order.
std::vector<int> DownKeys(EvdevKeyState& keys) {
  std::vector<int> down;
  for (int key : {kVirtualKeyControl, kVirtualKeyAlt, 16, 65}) {
    if (keys.IsDown(key)) down.push_back(key);
  }
  for (int k = 0; k < 12; ++k) {
    if (keys.IsDown(kVirtualKeyF1 + k)) down.push_back(kVirtualKeyF1 + k);
  }
  return down;
}

TEST(EvdevKeyStateTest, FollowsKeyEventsOfEveryStream) {
  const int f1 = kVirtualKeyF1, f12 = kVirtualKeyF1 + 11, ctrl = kVirtualKeyControl,
            alt = kVirtualKeyAlt;
  const struct {
    const char* what;
    int stream;
    std::string bytes;
    std::vector<int> down;
  } steps[] = {
      {"nothing yet", 0, "", {}},
      {"F1 pressed", 0, Key(KEY_F1, 1) + Event(EV_SYN, SYN_REPORT, 0), {f1}},
      {"autorepeat keeps it down", 0, Key(KEY_F1, 2), {f1}},
      {"right Ctrl on the other device", 1, Key(KEY_RIGHTCTRL, 1), {ctrl, f1}},
      {"AltGr is Alt", 1, Key(KEY_RIGHTALT, 1), {ctrl, alt, f1}},
      {"other keys count for nothing",
       0,
       Key(KEY_A, 1) + Key(KEY_LEFTSHIFT, 1) + Key(KEY_ESC, 1),
       {ctrl, alt, f1}},
      {"F12, half a record first", 0, Key(KEY_F12, 1).substr(0, 5), {ctrl, alt, f1}},
      {"then the rest", 0, Key(KEY_F12, 1).substr(5), {ctrl, alt, f1, f12}},
      {"releases", 1, Key(KEY_RIGHTCTRL, 0) + Key(KEY_RIGHTALT, 0), {f1, f12}},
      {"a code past the key range is ignored", 0, Event(EV_KEY, 0xffff, 1), {f1, f12}},
      {"release of F1 and F12", 0, Key(KEY_F1, 0) + Key(KEY_F12, 0), {}},
  };
  Pipe a, b;
  EvdevKeyState keys({a.read, b.read});
  EXPECT_TRUE(keys.CanChange());
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    Send(step.stream == 0 ? a.write : b.write, step.bytes);
    EXPECT_EQ(DownKeys(keys), step.down);
  }
  // A stream that ends takes its keys with it; with none left nothing can change.
  Send(b.write, Key(KEY_F5, 1));
  EXPECT_TRUE(keys.IsDown(kVirtualKeyF1 + 4));
  close(b.write);
  EXPECT_FALSE(keys.IsDown(kVirtualKeyF1 + 4));
  EXPECT_TRUE(keys.CanChange());
  close(a.write);
  EXPECT_FALSE(keys.IsDown(kVirtualKeyF1));
  EXPECT_FALSE(keys.CanChange());
}

TEST(EvdevKeyStateTest, NoStreamMeansNoChange) {
  EvdevKeyState keys({});
  EXPECT_FALSE(keys.CanChange());
  EXPECT_FALSE(keys.IsDown(kVirtualKeyF1));
}

TEST(EvdevKeyStateTest, OpensTheListedDevicesAndNoneThatIsMissing) {
  Pipe a;
  const std::string path = "/proc/self/fd/" + std::to_string(a.read);
  const struct {
    std::string listed;
    std::vector<std::string> opened;
  } cases[] = {
      {path, {path}},
      {"/nonexistent/event0:" + path, {path}},
      {"/nonexistent/event0", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.listed);
    setenv("VELK_VCP_INPUT_DEVICES", c.listed.c_str(), 1);
    std::vector<std::string> paths;
    auto keys = OpenInputDeviceKeyState(paths);
    EXPECT_EQ(paths, c.opened);
    EXPECT_EQ(keys != nullptr, !c.opened.empty());
    if (keys) {
      Send(a.write, Key(KEY_F3, 1));
      EXPECT_TRUE(keys->IsDown(kVirtualKeyF1 + 2));
      Send(a.write, Key(KEY_F3, 0));
    }
  }
  unsetenv("VELK_VCP_INPUT_DEVICES");
}

}  // namespace
