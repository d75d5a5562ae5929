// The headless program: serves the simulated ports without windows until SIGINT or SIGTERM.
#pragma once

// Runs start-up (settings, command table, language, log, port probe, ports, device library)
// in the current directory, prints the simulated ports and their paths on standard output,
// then serves them every 10 ms until SIGINT, SIGTERM or SIGHUP arrives and runs the shutdown
// sequence once (device library closed, ports deleted, settings written, log closed).
// Arguments: --headless is accepted and ignored; --help prints the usage. Messages go to
// standard error. Returns 0 after a normal end, 1 when start-up ended early (the device
// library did not start, or no port could be created: the shutdown then runs at once), 2 for
// an unknown argument.
int RunHeadless(int argc, char** argv);
