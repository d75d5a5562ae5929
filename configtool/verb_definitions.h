// The verbs of velk-vcp-config, one function each: it adds the verb's arguments to its
// subcommand and returns what the verb does with them (see Verb::define).
#pragma once

#include "verb.h"

// program_verbs.cpp: the running program.
VerbAction DefineStatus(CLI::App& command);
VerbAction DefineServe(CLI::App& command);
VerbAction DefineReload(CLI::App& command);

// show_verbs.cpp: the settings in words.
VerbAction DefineShow(CLI::App& command);

// port_verbs.cpp: the command format, the inputs and the simulated ports.
VerbAction DefinePresets(CLI::App& command);
VerbAction DefinePreset(CLI::App& command);
VerbAction DefineInput(CLI::App& command);
VerbAction DefinePorts(CLI::App& command);
VerbAction DefineHotkey(CLI::App& command);
VerbAction DefineSharedPorts(CLI::App& command);
VerbAction DefineEveryPort(CLI::App& command);

// program_option_verbs.cpp: the activity log, how values are written, the window's password.
VerbAction DefineLog(CLI::App& command);
VerbAction DefineValueFormat(CLI::App& command);
VerbAction DefinePassword(CLI::App& command);

// network_verbs.cpp: the ports served over TCP.
VerbAction DefineNet(CLI::App& command);
VerbAction DefineTls(CLI::App& command);

// web_verbs.cpp: the station's web page.
VerbAction DefineWeb(CLI::App& command);

// value_verbs.cpp: the value history.
VerbAction DefineHistory(CLI::App& command);
VerbAction DefineValues(CLI::App& command);
VerbAction DefineAudit(CLI::App& command);

// mqtt_verbs.cpp: the MQTT publisher.
VerbAction DefineMqtt(CLI::App& command);

// configuration_verbs.cpp: named configurations.
VerbAction DefineSave(CLI::App& command);
VerbAction DefineLoad(CLI::App& command);
