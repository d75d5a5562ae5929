#include "configuration_list.h"

#include <algorithm>
#include <filesystem>

#include "configuration_name.h"

std::vector<std::string> ListConfigurations(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    std::string file = it->path().filename().string();
    if (file.size() <= kConfigurationSuffix.size()) continue;
    if (!file.ends_with(kConfigurationSuffix)) continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    names.push_back(file.substr(0, file.size() - kConfigurationSuffix.size()));
  }
  std::sort(names.begin(), names.end());
  return names;
}
