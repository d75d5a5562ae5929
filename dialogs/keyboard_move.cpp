#include "keyboard_move.h"

MoveStep KeyboardMoveStep(const MoveKeys& keys, int width, int height) {
  MoveStep step;
  if (!keys.alt) return step;
  if (keys.left) step.dx -= width / 3;
  if (keys.up) step.dy -= height / 3;
  if (keys.down) step.dy += height / 3;
  if (keys.right) step.dx += width / 3;
  return step;
}
