// Running a verb in its working folder: entering the folder, taking its lock for a change, and
// reading and writing the settings file (or handing the change to the running program).
#pragma once

#include <string>

#include "verb.h"

// Reads the settings file into Settings as the program does at start; without a file, the
// start values. Returns false when the file cannot be read (reported on standard error).
bool ReadCurrentSettings();

// Enters the working folder (dir, the per-user folder with userFolder, otherwise the current
// one), takes its lock for a change, and runs action. Returns the exit status; a bad argument
// found late throws UsageError.
int RunInWorkingFolder(const std::string& dir, bool userFolder, const VerbAction& action);
