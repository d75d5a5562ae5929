// The program with windows.
#pragma once

// Runs the desktop program: the start-up form, then the main window until it unloads. Returns
// the process's exit status (0 also after an early end of start-up).
int RunDesktop(int argc, char** argv);
