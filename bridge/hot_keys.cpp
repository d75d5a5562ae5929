#include "hot_keys.h"

int16_t TestIfKeyPressed(IKeyState& keys, int16_t KeyComb) {
  if (KeyComb < 1 || KeyComb > 48) return 0;
  const bool ctrl = (KeyComb >= 13 && KeyComb <= 24) || KeyComb >= 37;
  if (keys.IsDown(kVirtualKeyControl) != ctrl) return 0;
  const bool alt = KeyComb >= 25;
  if (keys.IsDown(kVirtualKeyAlt) != alt) return 0;
  return keys.IsDown(kVirtualKeyF1 + (KeyComb - 1) % 12) ? 1 : 0;
}

int HotKeySlot(const SettingsRecord& s, IKeyState& keys) {
  const int16_t ports[4] = {s.VcpCom1, s.VcpCom2, s.VcpCom3, s.VcpCom4};
  const int16_t hotKeys[4] = {s.HotKey1, s.HotKey2, s.HotKey3, s.HotKey4};
  int p = 0;
  for (int k = 1; k <= 4; ++k) {
    if (ports[k - 1] > 0 && hotKeys[k - 1] > 0 && TestIfKeyPressed(keys, hotKeys[k - 1]) == 1) {
      p = k;
    }
  }
  if (s.VcpCom2 == 0 && s.VcpCom3 == 0 && s.VcpCom4 == 0) p = 0;
  return p;
}
