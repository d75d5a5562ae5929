#include "running_program.h"

#include <filesystem>
#include <iostream>

#include "control_client.h"
#include "control_server.h"
#include "verb.h"

int AskRunningProgram(const std::string& request,
                      const std::function<int(const nlohmann::json&, const std::string&)>& done) {
  const std::string folder = std::filesystem::current_path().string();
  const ControlReply reply = AskProgram(kControlSocketName, request);
  switch (reply.result) {
    case ControlReply::kNoProgram:
      std::cerr << "velk-vcp-config: no Velk_VCP runs in " << folder << "\n";
      return kNoProgram;
    case ControlReply::kRefused:
      std::cerr << "velk-vcp-config: the Velk_VCP in " << folder
                << " belongs to another user: refused (" << reply.text << ")\n";
      return kRefused;
    case ControlReply::kFailed:
      std::cerr << "velk-vcp-config: Velk_VCP in " << folder << ": " << reply.text << "\n";
      return kFileError;
    case ControlReply::kAnswered:
      break;
  }
  const nlohmann::json answer = nlohmann::json::parse(reply.text, nullptr, false);
  if (!answer.is_object()) {
    std::cerr << "velk-vcp-config: Velk_VCP in " << folder << " gave no answer it can read\n";
    return kFileError;
  }
  if (answer.value("ok", false) != true) {
    const std::string error = answer.value("error", std::string("refused"));
    std::cerr << "velk-vcp-config: " << error << "\n";
    return error.rfind("refused", 0) == 0 ? kRefused : kUsageError;
  }
  return done(answer, reply.text);
}
