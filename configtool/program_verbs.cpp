// status, serve and reload: requests to the program running in the working folder.
#include <iostream>
#include <memory>

#include "running_program.h"
#include "status_text.h"
#include "verb_definitions.h"

VerbAction DefineStatus(CLI::App& command) {
  auto json = std::make_shared<bool>(false);
  command.add_flag("--json", *json, "the status as JSON (one line)");
  return AskAction([json] {
    return AskRunningProgram("status",
                             [json](const nlohmann::json& answer, const std::string& line) {
                               std::cout << (*json ? line + "\n" : StatusText(answer));
                               return 0;
                             });
  });
}

VerbAction DefineServe(CLI::App& command) {
  auto slot = std::make_shared<int>(0);
  command.add_option("SLOT", *slot, "port 1..4")->required()->check(CLI::Range(1, 4));
  return AskAction([slot] {
    return AskRunningProgram(
        "serve " + std::to_string(*slot), [](const nlohmann::json& answer, const std::string&) {
          std::cout << "serving port slot " << answer.value("served_slot", 0) << "\n";
          return 0;
        });
  });
}

VerbAction DefineReload(CLI::App&) {
  return AskAction([] {
    const int status =
        AskRunningProgram("reload", [](const nlohmann::json&, const std::string&) { return 0; });
    // The program refused the file (its reason is on standard error): it could not take the
    // change over, as for any other change, not a bad argument.
    return status == kUsageError ? kProgramRunning : status;
  });
}
