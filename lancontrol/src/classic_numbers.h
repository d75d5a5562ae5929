// strtod and strtoll in the classic ("C") locale, whatever locale the calling program set.
// One implementation per platform (posix/, windows/), chosen by the build.
#pragma once

namespace velk::lan {

// Returns the number at the start of `text` as strtod reads it with "." as decimal point.
double ClassicStrtod(const char* text);

// Returns the number at the start of `text` as strtoll reads it in base 10.
long long ClassicStrtoll(const char* text);

}  // namespace velk::lan
