// net: serving a port slot also over TCP.
#include <memory>
#include <optional>
#include <vector>

#include "endpoint_config.h"
#include "settings_checks.h"
#include "verb_definitions.h"

VerbAction DefineNet(CLI::App& command) {
  struct Arguments {
    int slot = 0;
    std::string port, protocol = "raw", bind;
    std::vector<std::string> allow;
    std::optional<int> idle;
  };
  auto a = std::make_shared<Arguments>();
  command.add_option("SLOT", a->slot, "port slot 1..4")->required()->check(CLI::Range(1, 4));
  command.add_option("PORT", a->port, "TCP port 1..65535, or off")->required();
  command.add_option("PROTOCOL", a->protocol, "raw (the default) or rfc2217")
      ->check(CLI::IsMember({"raw", "rfc2217"}));
  CLI::Option* bindOption = command.add_option(
      "--bind", a->bind, "listen on this IP address (default 127.0.0.1; others need --allow)");
  CLI::Option* allowOption = command.add_option(
      "--allow", a->allow, "client networks let in, e.g. 192.168.10.0/24 (several allowed)");
  command
      .add_option("--idle", a->idle,
                  "seconds after which a client that vanished or takes no output is "
                  "dropped (all network ports; default 60)")
      ->check(CLI::Range(3, 3600));
  return ChangeAction([a, bindOption, allowOption] {
    const size_t k = static_cast<size_t>(a->slot);
    if (a->port == "off") {
      if (bindOption->count() > 0 || allowOption->count() > 0 || a->idle) {
        throw UsageError{"net off takes no options"};
      }
      Settings.NetPort[k].clear();
      Settings.NetProtocol[k].clear();
      Settings.NetBind[k].clear();
      Settings.NetAllow[k].clear();
      return;
    }
    std::string allow;
    for (const std::string& entry : a->allow) allow += (allow.empty() ? "" : ",") + entry;
    Settings.NetPort[k] = a->port;
    Settings.NetProtocol[k] = a->protocol;
    Settings.NetBind[k] = a->bind;
    Settings.NetAllow[k] = allow;
    // Checked as the program will read it, before anything is written.
    const std::string problem = NetworkSlotProblem(Settings, a->slot);
    if (!problem.empty()) throw UsageError{problem};
    std::optional<NetworkEndpointConfig> config;
    std::string ignored;
    if (NetworkEndpointFromSettings(Settings, a->slot, config, ignored) && config) {
      Settings.NetPort[k] = std::to_string(config->port);
    }
    if (a->idle) Settings.NetIdleSeconds = static_cast<int16_t>(*a->idle);
  });
}
