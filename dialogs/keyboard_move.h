// Moving a window with Alt and the arrow keys: the step of one timer tick.
#pragma once

// The keys that move a window, as held at one moment.
struct MoveKeys {
  bool alt = false;
  bool left = false;
  bool up = false;
  bool down = false;
  bool right = false;
};

struct MoveStep {
  int dx = 0;
  int dy = 0;
};

// Returns how far one tick moves a window of width x height: nothing without Alt; with Alt, a
// third of the width left or right and a third of the height up or down for each arrow held
// (opposite arrows cancel out).
MoveStep KeyboardMoveStep(const MoveKeys& keys, int width, int height);
