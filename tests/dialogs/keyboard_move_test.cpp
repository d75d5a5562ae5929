#include "keyboard_move.h"

#include <gtest/gtest.h>

TEST(KeyboardMove, ArrowsMoveByAThirdOnlyWithAlt) {
  MoveKeys keys;
  keys.right = true;
  MoveStep none = KeyboardMoveStep(keys, 300, 90);
  EXPECT_EQ(none.dx, 0);
  EXPECT_EQ(none.dy, 0);
  keys.alt = true;
  MoveStep right = KeyboardMoveStep(keys, 300, 90);
  EXPECT_EQ(right.dx, 100);
  EXPECT_EQ(right.dy, 0);
  keys = {true, true, true, false, false};
  MoveStep leftUp = KeyboardMoveStep(keys, 301, 92);
  EXPECT_EQ(leftUp.dx, -100);
  EXPECT_EQ(leftUp.dy, -30);
  keys = {true, true, true, true, true};
  MoveStep all = KeyboardMoveStep(keys, 300, 90);
  EXPECT_EQ(all.dx, 0);
  EXPECT_EQ(all.dy, 0);
}
