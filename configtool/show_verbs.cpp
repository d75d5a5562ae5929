// show: the settings of the working folder in words.
#include <filesystem>
#include <iostream>

#include "settings_summary.h"
#include "verb_definitions.h"

VerbAction DefineShow(CLI::App&) {
  return ReadAction([] {
    std::error_code ec;
    std::cout << "folder: " << std::filesystem::current_path(ec).string() << "\n"
              << SettingsSummary(Settings);
    return 0;
  });
}
