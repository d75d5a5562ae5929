// The names of the keys and buttons an input device reports (KEY_B, BTN_LEFT, ...), as the
// system's input event header defines them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Returns the code of a key or button name such as "KEY_B" or "BTN_0" (case-insensitive), or
// of a plain number 0..767; nothing for any other text.
std::optional<int> KeyCode(std::string_view name);

// Returns the name of a key code ("KEY_B"), or the number as text when it has no name.
std::string KeyName(int code);
