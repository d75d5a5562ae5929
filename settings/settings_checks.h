// Checks of a settings record beyond what each field's reader accepts: values a field takes
// on its own that together cannot be served, or that a settings line cannot hold. Each
// problem is one line for a person, named by the setting it belongs to ("ports: COM5 given
// twice"). velk-vcp-config refuses to write a record with a problem in what it changed; the
// program can check a settings file it reads the same way.
#pragma once

#include <string>
#include <vector>

#include "settings_record.h"

// Returns the problem of the simulated ports: a COM number set for two ports, or a COM
// number for port 2, 3 or 4 while port 1 has none. Returns "" when there is none.
std::string PortsProblem(const SettingsRecord& s);

// Returns the problem of input device.input (device 1..8, input 1..199): a line break or
// another control character in its command or value address. Returns "" when there is none.
std::string InputAddressProblem(const SettingsRecord& s, int device, int input);

// Returns the problem of slot 1..4's network port: settings the network side cannot read
// (the reason NetworkEndpointFromSettings gives), or a TCP port that another slot's network
// port has (the first such slot is named). Returns "" when there is none or the slot has no
// network port.
std::string NetworkSlotProblem(const SettingsRecord& s, int slot);

// Returns the problem of the MQTT publisher: a broker address that is no mqtt:// or mqtts://
// URL, a password file that is missing or that others may read, + or # in the prefix or the
// station name, a control character in any of its texts. Returns "" when there is none or the
// publisher is off. Reads the password file's mode (one stat): fine at start and on reload,
// not for every value.
std::string MqttProblem(const SettingsRecord& s);

// Returns the problem of the station's TLS files: a certificate without a key or the other way
// round, a path that is not absolute or names no file, a key file that others may read or
// write (it must be 0600 or 0400), a control character in a path. Returns "" when there is
// none or no certificate is set. Reads the files' modes (a stat each), as MqttProblem does.
std::string TlsProblem(const SettingsRecord& s);

// Returns the problem of the web page: settings it cannot be served with (the reason
// WebConfigFromSettings gives), a TCP port a network port has, a password file that is not a
// regular file or that others may read or write (it must be 0600 or 0400), a control character
// in its texts. Returns "" when there is none or the page is off. Reads the password file's
// mode (one stat), as MqttProblem does.
std::string WebProblem(const SettingsRecord& s);

// Returns the problem of the main window's password: a control character in it. Returns ""
// when there is none.
std::string PasswordProblem(const SettingsRecord& s);

// Returns every problem of s in this order: the ports, each stored input, the network slots 1
// to 4 (a TCP port two slots share is named once, at the later slot), TLS, MQTT, the web page,
// the password.
// Returns an empty list when s has none. Reads the file system as MqttProblem does.
std::vector<std::string> SettingsProblems(const SettingsRecord& s);
