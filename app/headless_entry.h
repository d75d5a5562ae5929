// The program without windows.
#pragma once

// Runs the program on standard output and standard error. Returns the process's exit status.
int RunHeadless(int argc, char** argv);
