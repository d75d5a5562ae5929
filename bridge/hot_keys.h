// Hot keys: function-key combinations (F1..F12 with or without Ctrl and Alt) that choose the
// port slot the poll cycle serves.
#pragma once

#include <cstdint>

#include "key_state.h"
#include "settings_record.h"

// Returns 1 while combination KeyComb is held: 1..12 F1..F12 alone, 13..24 with Ctrl, 25..36
// with Alt, 37..48 with Alt and Ctrl (Ctrl and Alt must be up when not part of it; Shift is
// not looked at). Returns 0 otherwise, and for any KeyComb outside 1..48.
int16_t TestIfKeyPressed(IKeyState& keys, int16_t KeyComb);

// Returns the slot 1..4 whose hot key is held (the highest when several are), or 0 when none
// is, in single-port mode (VcpCom2..4 all 0), and for slots that are off.
int HotKeySlot(const SettingsRecord& s, IKeyState& keys);
