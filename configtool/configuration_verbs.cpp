// save and load: the settings kept as a named configuration.
#include <filesystem>
#include <memory>

#include "arguments.h"
#include "configuration_name.h"
#include "settings_file.h"
#include "verb_definitions.h"

VerbAction DefineSave(CLI::App& command) {
  auto name = std::make_shared<std::string>();
  command.add_option("NAME", *name, "configuration name")->required();
  return ReadAction([name]() -> int {
    if (!IsPlainConfigurationName(EngineText(*name))) {
      throw UsageError{"save: " + *name + " cannot name a configuration"};
    }
    return WriteSettings(EngineText(*name) + std::string(kConfigurationSuffix)) ? 0 : kFileError;
  });
}

VerbAction DefineLoad(CLI::App& command) {
  auto name = std::make_shared<std::string>();
  command.add_option("NAME", *name, "configuration name")->required();
  return ChangeAction([name] {
    const std::string file = EngineText(*name) + std::string(kConfigurationSuffix);
    std::error_code ec;
    if (!IsPlainConfigurationName(EngineText(*name)) ||
        !std::filesystem::is_regular_file(file, ec)) {
      throw UsageError{"load: no configuration " + *name + " here"};
    }
    if (!ReadSettings(file)) throw UsageError{"load: " + file + " cannot be read"};
  });
}
