// Opening serial lines: a gauge port with its line settings, and a port whose modem-status
// lines are read as a foot switch.
#pragma once

#include <string>

#include "ddk_description.h"
#include "serial_line.h"

// Opens path (a tty or a link to one) as a raw line with the settings of line, non-blocking
// and close-on-exec, and drops what was waiting in it. Returns the descriptor, or -1 with the
// reason in error (a settings the device refuses is one: pseudo-terminals refuse parity).
int OpenSerialPort(const std::string& path, const SerialLine& line, std::string& error);

// Opens path for reading its modem-status lines, non-blocking and close-on-exec, and checks
// that they can be read. Returns the descriptor, or -1 with the reason in error.
int OpenModemPort(const std::string& path, std::string& error);

// Returns 1 while the modem-status line is asserted, 0 while not, -1 (reason in error) when
// it cannot be read.
int ReadModemLine(int fd, ModemLine line, std::string& error);
