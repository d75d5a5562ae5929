#include "verb_table.h"

#include <array>
#include <utility>

#include "verb_definitions.h"

VerbAction ChangeAction(std::function<void()> change) {
  VerbAction action;
  action.change = std::move(change);
  return action;
}

VerbAction ReadAction(std::function<int()> read) {
  VerbAction action;
  action.read = std::move(read);
  return action;
}

VerbAction AskAction(std::function<int()> ask) {
  VerbAction action;
  action.ask = std::move(ask);
  return action;
}

std::span<const Verb> Verbs() {
  static constexpr std::array<Verb, 23> kVerbs{{
      {"status", "what the program running in the folder serves, who holds its ports, its gauges",
       DefineStatus},
      {"serve", "let the running program serve port SLOT, as the slot's hot key does", DefineServe},
      {"show", "print the settings in words", DefineShow},
      {"presets", "list the command-format presets of the folder", DefinePresets},
      {"preset", "choose command-format preset N, with its default addresses", DefinePreset},
      {"input", "switch input D.A on or off, optionally with its command and value address",
       DefineInput},
      {"ports", "simulate COM numbers on ports 1..4 (0: first free / off)", DefinePorts},
      {"hotkey", "give port SLOT the hot key KEY (F1, Ctrl+F2, Alt+F3, ...)", DefineHotkey},
      {"log", "switch the activity log on or off", DefineLog},
      {"reload", "have the running program take over the settings file anew", DefineReload},
      {"shared-ports", "let several programs hold one port at once (off: one client per port)",
       DefineSharedPorts},
      {"every-port",
       "answer each port's client at any time, not only the served port's (pushes: served only)",
       DefineEveryPort},
      {"net", "serve port SLOT also over TCP at PORT, raw or RFC 2217 (off: not over the network)",
       DefineNet},
      {"tls", "give network ports with --tls the station's certificate and key, or off", DefineTls},
      {"web", "show the station in a browser at PORT (status, values, live events), or off",
       DefineWeb},
      {"history", "keep every value sent in the value history Velk_VCP.values.db, or not",
       DefineHistory},
      {"values", "print the value history (CSV, or JSON lines)", DefineValues},
      {"audit", "print the record of changes: settings, start, stop, hand-over (CSV, or JSON)",
       DefineAudit},
      {"mqtt", "publish every value sent to the MQTT broker at URL (mqtt://HOST[:PORT]), or off",
       DefineMqtt},
      {"value-format", "set how values are written", DefineValueFormat},
      {"password", "set the password of the main window, or --off", DefinePassword},
      {"save", "save the settings as configuration NAME", DefineSave},
      {"load", "take over the settings of configuration NAME", DefineLoad},
  }};
  return kVerbs;
}
