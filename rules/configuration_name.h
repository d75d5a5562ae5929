// Names of named configurations: a configuration is the file "<name>.con" in the current folder.
#pragma once

#include <string_view>

inline constexpr std::string_view kConfigurationSuffix = ".con";

// Returns true when name (already trimmed of spaces) is a plain file name that stays in the
// current folder: not empty, no '/' or '\\', no leading '.', no ".." anywhere and no control
// characters (codes 0..31 and 127). Returns false for any other name; nothing is reported.
bool IsPlainConfigurationName(std::string_view name);
