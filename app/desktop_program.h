// The program with windows.
#pragma once

// Runs the desktop program: the start-up form, then the main window until it unloads. Returns
// the process's exit status: 0 after a normal end, 1 when start-up ended early (the device
// library did not start).
int RunDesktop(int argc, char** argv);
