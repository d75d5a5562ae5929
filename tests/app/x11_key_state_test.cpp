// The hot keys' key state read from a real X server, with keys pressed through XTest.
#include "x11_key_state.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "program_process.h"

// Xlib last: its macros clash with the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

class X11KeyStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (server_.display().empty()) GTEST_SKIP() << "Xvfb cannot be started";
    setenv("DISPLAY", server_.display().c_str(), 1);
    display_ = XOpenDisplay(server_.display().c_str());
    ASSERT_NE(display_, nullptr);
    keys_ = X11KeyState::Open();
    ASSERT_NE(keys_, nullptr);
  }
  void TearDown() override {
    if (display_ != nullptr) XCloseDisplay(display_);
    unsetenv("DISPLAY");
  }
  void Set(KeySym symbol, bool down) {
    XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, symbol), down ? True : False, 0);
    XSync(display_, False);
  }

  XServer server_;
  Display* display_ = nullptr;
  std::unique_ptr<X11KeyState> keys_;
};

TEST_F(X11KeyStateTest, EitherModifierKeyCountsAndFunctionKeysMapInOrder) {
  EXPECT_FALSE(keys_->IsDown(kVirtualKeyControl));
  Set(XK_Control_R, true);
  Set(XK_Alt_L, true);
  Set(XK_F12, true);
  EXPECT_TRUE(keys_->IsDown(kVirtualKeyControl));
  EXPECT_TRUE(keys_->IsDown(kVirtualKeyAlt));
  EXPECT_TRUE(keys_->IsDown(kVirtualKeyF1 + 11));
  EXPECT_FALSE(keys_->IsDown(kVirtualKeyF1));
  EXPECT_FALSE(keys_->IsDown(65));  // a key the hot keys never ask for
  Set(XK_F12, false);
  Set(XK_Alt_L, false);
  Set(XK_Control_R, false);
  Set(XK_Control_L, true);
  EXPECT_TRUE(keys_->IsDown(kVirtualKeyControl));
  EXPECT_FALSE(keys_->IsDown(kVirtualKeyAlt));
  EXPECT_FALSE(keys_->IsDown(kVirtualKeyF1 + 11));
  Set(XK_Control_L, false);
  EXPECT_FALSE(keys_->IsDown(kVirtualKeyControl));
}

}  // namespace
