// velk-vcp-config: reads and changes the settings file of a Velk_VCP working folder with the
// program's own readers and writers. Exit status: 0 done, 1 a file could not be read or
// written, 2 bad arguments (nothing changed), 3 a program runs in the folder or another tool
// kept it busy (nothing changed); status and serve talk to the program running in the folder:
// 4 none runs there, 5 it refused this user.
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "folder_run.h"
#include "verb_table.h"

int main(int argc, char** argv) {
  CLI::App app{
      "Reads and changes the settings of Velk_VCP in a working folder: the current folder when "
      "it holds Velk_VCP.CFG or VCP001.LAN, otherwise the per-user folder."};
  app.name("velk-vcp-config");
  app.set_version_flag("--version", VELK_VERSION);
  app.require_subcommand(1, 1);
  app.footer(
      "Environment: XDG_DATA_HOME, HOME (where the per-user folder lies), VELK_DDK_LIBRARY\n"
      "(the device library that lists the inputs for preset).\n"
      "Exit status: 0 done, 1 a file could not be read or written, 2 bad arguments (nothing\n"
      "changed), 3 the running Velk_VCP could not take the change over, or another\n"
      "velk-vcp-config changed the folder for 30 s\n"
      "(nothing changed), 4 no Velk_VCP runs in the folder (status, serve), 5 the Velk_VCP\n"
      "there refused this user.");
  std::string dir;
  bool userFolder = false;
  auto* dirOption = app.add_option("--dir", dir, "work in folder DIR")->type_name("DIR");
  app.add_flag("--user-folder", userFolder, "work in the per-user folder")->excludes(dirOption);

  std::vector<std::pair<const CLI::App*, VerbAction>> verbs;
  for (const Verb& verb : Verbs()) {
    CLI::App* command = app.add_subcommand(verb.name, verb.help);
    verbs.emplace_back(command, verb.define(*command));
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::cerr << "velk-vcp-config: " << e.what() << " (see --help)\n";
    return kUsageError;
  }

  try {
    for (const auto& [command, action] : verbs) {
      if (command->parsed()) return RunInWorkingFolder(dir, userFolder, action);
    }
    return kUsageError;
  } catch (const UsageError& e) {
    std::cerr << "velk-vcp-config: " << e.message << " (see --help)\n";
    return kUsageError;
  } catch (const std::exception& e) {
    std::cerr << "velk-vcp-config: " << e.what() << "\n";
    return kFileError;
  }
}
