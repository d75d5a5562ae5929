// mqtt: publishing the values sent to an MQTT broker.
#include <filesystem>
#include <memory>

#include "arguments.h"
#include "settings_checks.h"
#include "settings_record.h"
#include "verb_definitions.h"

VerbAction DefineMqtt(CLI::App& command) {
  struct Arguments {
    std::string url, prefix, station, user, passwordFile, ca, cert, key;
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
  CLI::Option* certOption =
      command.add_option("--cert", a->cert, "client certificate for a broker that asks for one")
          ->type_name("FILE");
  CLI::Option* keyOption =
      command.add_option("--key", a->key, "the client certificate's private key (0600)")
          ->type_name("FILE");
  certOption->needs(keyOption);
  keyOption->needs(certOption);
  // Files are named relative to where the tool is called, not to the working folder.
  std::error_code cwdError;
  a->calledIn = std::filesystem::current_path(cwdError);
  return ChangeAction([=] {
    if (passwordFileOption->count() > 0) {
      a->passwordFile = ReadableFile("--password-file", a->calledIn, a->passwordFile);
    }
    if (caOption->count() > 0) a->ca = ReadableFile("--ca", a->calledIn, a->ca);
    if (certOption->count() > 0) {
      a->cert = ReadableFile("--cert", a->calledIn, a->cert);
      a->key = ReadableFile("--key", a->calledIn, a->key);
    }
    if (a->url == "off") {
      if (prefixOption->count() + stationOption->count() + userOption->count() + caOption->count() +
              passwordFileOption->count() + certOption->count() + keyOption->count() >
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
    Settings.MqttCertFile = EngineText(a->cert);
    Settings.MqttKeyFile = EngineText(a->key);
    const std::string problem = MqttProblem(Settings);
    if (!problem.empty()) throw UsageError{problem};
    if (prefixOption->count() > 0 && a->prefix.empty()) {
      throw UsageError{"mqtt: --prefix needs a text"};
    }
  });
}
