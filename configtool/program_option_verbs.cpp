// log, value-format and password: the activity log, how values are written and the password
// of the main window.
#include <memory>
#include <optional>

#include "arguments.h"
#include "settings_checks.h"
#include "settings_record.h"
#include "verb_definitions.h"

VerbAction DefineLog(CLI::App& command) {
  auto state = AddStateArgument(command);
  return ChangeAction([state] { Settings.LogOn = OnOff(*state) ? 1 : 0; });
}

VerbAction DefineValueFormat(CLI::App& command) {
  struct Arguments {
    std::optional<int> width;
    std::string separator, leadingZeros, plusSign;
  };
  auto a = std::make_shared<Arguments>();
  command.add_option("--width", a->width, "characters of a value, 1..99")->check(CLI::Range(1, 99));
  command.add_option("--decimal", a->separator, "point or comma")
      ->check(CLI::IsMember({"point", "comma"}));
  command.add_option("--leading-zeros", a->leadingZeros, "on or off")
      ->check(CLI::IsMember({"on", "off"}));
  command.add_option("--plus-sign", a->plusSign, "on or off")->check(CLI::IsMember({"on", "off"}));
  return ChangeAction([a] {
    if (!a->width && a->separator.empty() && a->leadingZeros.empty() && a->plusSign.empty()) {
      throw UsageError{"value-format: give at least one of the options"};
    }
    if (a->width) Settings.NumOfChar = static_cast<int16_t>(*a->width);
    if (!a->separator.empty()) Settings.DecPnt = a->separator == "comma" ? 1 : 0;
    if (!a->leadingZeros.empty()) Settings.LeadZeros = OnOff(a->leadingZeros) ? 1 : 0;
    if (!a->plusSign.empty()) Settings.PosSign = OnOff(a->plusSign) ? 1 : 0;
  });
}

VerbAction DefinePassword(CLI::App& command) {
  struct Arguments {
    std::string password;
    bool off = false;
  };
  auto a = std::make_shared<Arguments>();
  CLI::Option* text = command.add_option("TEXT", a->password, "the password");
  command.add_flag("--off", a->off, "no password")->excludes(text);
  return ChangeAction([a] {
    const std::string trimmed = EngineText(a->password);
    const size_t first = trimmed.find_first_not_of(' ');
    if (!a->off && first == std::string::npos) {
      throw UsageError{"password: give a text (not only spaces) or --off"};
    }
    Settings.Password =
        a->off ? "" : trimmed.substr(first, trimmed.find_last_not_of(' ') - first + 1);
    const std::string problem = PasswordProblem(Settings);
    if (!problem.empty()) throw UsageError{problem};
  });
}
