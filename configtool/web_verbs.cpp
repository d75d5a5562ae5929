// web: the station's page in a browser (status, values, live events), read only.
#include <filesystem>
#include <memory>
#include <vector>

#include "arguments.h"
#include "settings_checks.h"
#include "verb_definitions.h"

VerbAction DefineWeb(CLI::App& command) {
  struct Arguments {
    std::string port, bind, passwordFile;
    std::vector<std::string> allow;
    bool tls = false;
    std::filesystem::path calledIn;
  };
  auto a = std::make_shared<Arguments>();
  command.add_option("PORT", a->port, "TCP port 1..65535, or off")->required();
  CLI::Option* bindOption = command.add_option(
      "--bind", a->bind, "listen on this IP address (default 127.0.0.1; others need --allow)");
  CLI::Option* allowOption = command.add_option(
      "--allow", a->allow, "client networks let in, e.g. 192.168.10.0/24 (several allowed)");
  CLI::Option* tlsOption = command.add_flag(
      "--tls", a->tls, "speak HTTPS with the station's certificate (velk-vcp-config tls)");
  CLI::Option* passwordOption =
      command
          .add_option("--password-file", a->passwordFile,
                      "ask for the password on the file's first line (mode 0600 or 0400; only "
                      "with --tls or on 127.0.0.1)")
          ->type_name("FILE");
  std::error_code cwdError;
  a->calledIn = std::filesystem::current_path(cwdError);
  return ChangeAction([a, bindOption, allowOption, tlsOption, passwordOption] {
    if (a->port == "off") {
      if (bindOption->count() + allowOption->count() + tlsOption->count() +
              passwordOption->count() >
          0) {
        throw UsageError{"web off takes no options"};
      }
      Settings.WebPort.clear();
      Settings.WebBind.clear();
      Settings.WebAllow.clear();
      Settings.WebTls = 0;
      Settings.WebPasswordFile.clear();
      return;
    }
    std::string allow;
    for (const std::string& entry : a->allow) allow += (allow.empty() ? "" : ",") + entry;
    Settings.WebPort = a->port;
    Settings.WebBind = EngineText(a->bind);
    Settings.WebAllow = EngineText(allow);
    Settings.WebTls = a->tls ? 1 : 0;
    Settings.WebPasswordFile =
        a->passwordFile.empty()
            ? std::string()
            : EngineText(ReadableFile("--password-file", a->calledIn, a->passwordFile));
    // Checked as the program will read it, before anything is written.
    const std::string problem = WebProblem(Settings);
    if (!problem.empty()) throw UsageError{problem};
  });
}
