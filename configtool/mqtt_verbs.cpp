// mqtt: publishing the values sent to an MQTT broker.
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "arguments.h"
#include "mqtt_url.h"
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
    if (!ParseMqttUrl(a->url)) {
      throw UsageError{"mqtt: " + a->url + " is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]"};
    }
    if (!a->passwordFile.empty()) {
      struct stat st {};
      if (::stat(a->passwordFile.c_str(), &st) != 0 || (st.st_mode & 077) != 0) {
        throw UsageError{"mqtt: the password file " + a->passwordFile +
                         " may be read by others: chmod 600 it first"};
      }
    }
    for (const std::string* level : {&a->prefix, &a->station}) {
      if (level->find_first_of("+#") != std::string::npos) {
        throw UsageError{"mqtt: + and # cannot stand in a topic"};
      }
    }
    if (prefixOption->count() > 0 && a->prefix.empty()) {
      throw UsageError{"mqtt: --prefix needs a text"};
    }
    Settings.MqttUrl = LineText("mqtt", a->url);
    Settings.MqttPrefix = LineText("mqtt", a->prefix);
    Settings.MqttStation = LineText("mqtt", a->station);
    Settings.MqttUser = LineText("mqtt", a->user);
    Settings.MqttPasswordFile = LineText("mqtt", a->passwordFile);
    Settings.MqttCaFile = LineText("mqtt", a->ca);
  });
}
