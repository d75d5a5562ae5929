// net: serving a port slot also over TCP; tls: the station's certificate for TLS ports.
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "arguments.h"
#include "endpoint_config.h"
#include "settings_checks.h"
#include "verb_definitions.h"

VerbAction DefineNet(CLI::App& command) {
  struct Arguments {
    int slot = 0;
    std::string port, protocol = "raw", bind;
    std::vector<std::string> allow;
    std::optional<int> idle;
    bool tls = false;
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
  CLI::Option* tlsOption = command.add_flag(
      "--tls", a->tls, "speak TLS with the station's certificate (velk-vcp-config tls)");
  return ChangeAction([a, bindOption, allowOption, tlsOption] {
    const size_t k = static_cast<size_t>(a->slot);
    if (a->port == "off") {
      if (bindOption->count() > 0 || allowOption->count() > 0 || a->idle ||
          tlsOption->count() > 0) {
        throw UsageError{"net off takes no options"};
      }
      Settings.NetPort[k].clear();
      Settings.NetProtocol[k].clear();
      Settings.NetBind[k].clear();
      Settings.NetAllow[k].clear();
      Settings.NetTls[k] = 0;
      return;
    }
    std::string allow;
    for (const std::string& entry : a->allow) allow += (allow.empty() ? "" : ",") + entry;
    Settings.NetPort[k] = a->port;
    Settings.NetProtocol[k] = a->protocol;
    Settings.NetBind[k] = a->bind;
    Settings.NetAllow[k] = allow;
    Settings.NetTls[k] = a->tls ? 1 : 0;
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

VerbAction DefineTls(CLI::App& command) {
  struct Arguments {
    std::string state, cert, key, clientCa;
    std::filesystem::path calledIn;
  };
  auto a = std::make_shared<Arguments>();
  command.add_option("STATE", a->state, "off: no certificate (no port may then use --tls)")
      ->check(CLI::IsMember({"off"}));
  CLI::Option* certOption =
      command.add_option("--cert", a->cert, "the station's certificate chain (PEM)")
          ->type_name("FILE");
  CLI::Option* keyOption =
      command.add_option("--key", a->key, "its private key (PEM, mode 0600 or 0400)")
          ->type_name("FILE");
  CLI::Option* caOption = command
                              .add_option("--client-ca", a->clientCa,
                                          "let in only clients with a certificate of this CA (PEM)")
                              ->type_name("FILE");
  // Files are named relative to where the tool is called, not to the working folder.
  std::error_code cwdError;
  a->calledIn = std::filesystem::current_path(cwdError);
  return ChangeAction([=] {
    if (a->state == "off") {
      if (certOption->count() + keyOption->count() + caOption->count() > 0) {
        throw UsageError{"tls off takes no options"};
      }
      Settings.TlsCertFile.clear();
      Settings.TlsKeyFile.clear();
      Settings.TlsClientCaFile.clear();
    } else {
      if (certOption->count() == 0 || keyOption->count() == 0) {
        throw UsageError{"tls needs --cert FILE and --key FILE (or off)"};
      }
      Settings.TlsCertFile = EngineText(ReadableFile("--cert", a->calledIn, a->cert));
      Settings.TlsKeyFile = EngineText(ReadableFile("--key", a->calledIn, a->key));
      Settings.TlsClientCaFile =
          caOption->count() > 0 ? EngineText(ReadableFile("--client-ca", a->calledIn, a->clientCa))
                                : std::string();
    }
    std::string problem = TlsProblem(Settings);
    // A port that speaks TLS needs the certificate: "off" is refused while one does.
    for (int slot = 1; slot <= 4 && problem.empty(); ++slot)
      problem = NetworkSlotProblem(Settings, slot);
    if (!problem.empty()) throw UsageError{problem};
  });
}
