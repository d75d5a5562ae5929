// Conversion between the 8-bit Windows-1252 texts of the files and the engine, and the UTF-8
// texts that windows show and edit.
#pragma once

#include <string>
#include <string_view>

// Returns text, read as Windows-1252, in UTF-8. The five bytes the code page leaves unassigned
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of the same number, so every
// byte string survives a round trip.
std::string Cp1252ToUtf8(std::string_view text);

// Returns text itself when it is plain ASCII (the same in both), else its UTF-8 form made in
// scratch: a conversion that allocates nothing for the usual texts.
const std::string& Cp1252AsUtf8(const std::string& text, std::string& scratch);

// Returns text, read as UTF-8, in Windows-1252. A character the code page cannot hold, and a
// byte that is not valid UTF-8, becomes '?'.
std::string Utf8ToCp1252(std::string_view text);
