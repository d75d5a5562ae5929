// A private working folder for fuzz targets that read files by relative name.
#pragma once

#include <string>
#include <string_view>

// Changes into a fresh temporary folder on the first call (removed at exit).
void EnterFuzzWorkdir();

// Writes bytes to name in the current folder.
void WriteFuzzFile(const std::string& name, std::string_view bytes);
