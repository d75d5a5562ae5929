// mqtt: publishing the values sent to an MQTT broker.
#include <filesystem>
#include <memory>

#include "arguments.h"
#include "settings_checks.h"
#include "settings_record.h"
#include "verb_definitions.h"

VerbAction DefineMqtt(CLI::App& command) {
  struct Arguments {
    std::string url, prefix, station, user, passwordFile, ca;
    std::filesystem::path calledIn;
  };
  auto a = std::make_shared<Arguments>();
  command.add_option("URL", a->url, "mqtt://HOST[:PORT], mqtts://HOST[:PORT] or off")->required();
  CLI::Option* prefixOption =
      command.add_option("--prefix", a->prefix, "first topic level (default velk)");
  CLI::Option* stationOption =
      command.add_option("--station", a->station, "this station's name (default the host name)");
  CLI::Option* userOption = command.add_option("--user", a->user, "user name at the broker");
  CLI::Option* passwordFileOption =
      command.add_option("--password-file", a->passwordFile, "file with the password (0600)")
          ->needs(userOption);
  CLI::Option* caOption =
      command.add_option("--ca", a->ca, "CA certificates for TLS")->type_name("FILE");
  // Files are named relative to where the tool is called, not to the working folder.
  std::error_code cwdError;
  a->calledIn = std::filesystem::current_path(cwdError);
  return ChangeAction([=] {
    if (passwordFileOption->count() > 0) {
      a->passwordFile = ReadableFile("--password-file", a->calledIn, a->passwordFile);
    }
    if (caOption->count() > 0) a->ca = ReadableFile("--ca", a->calledIn, a->ca);
    if (a->url == "off") {
      if (prefixOption->count() + stationOption->count() + userOption->count() + caOption->count() +
              passwordFileOption->count() >
          0) {
        throw UsageError{"mqtt off takes no options"};
      }
      Settings.MqttUrl.clear();
      return;
    }
    Settings.MqttUrl = EngineText(a->url);
    Settings.MqttPrefix = EngineText(a->prefix);
    Settings.MqttStation = EngineText(a->station);
    Settings.MqttUser = EngineText(a->user);
    Settings.MqttPasswordFile = EngineText(a->passwordFile);
    Settings.MqttCaFile = EngineText(a->ca);
    const std::string problem = MqttProblem(Settings);
    if (!problem.empty()) throw UsageError{problem};
    if (prefixOption->count() > 0 && a->prefix.empty()) {
      throw UsageError{"mqtt: --prefix needs a text"};
    }
  });
}
