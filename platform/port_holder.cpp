#include "port_holder.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "proc_file.h"

namespace {

std::string ReadLink(const std::string& path) {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
  return std::string(buffer.data(), static_cast<size_t>(n));
}

std::string AfterLastSeparator(const std::string& path) {
  const size_t at = path.find_last_of("/\\");
  return at == std::string::npos ? path : path.substr(at + 1);
}

bool IsWineLoader(const std::string& name) {
  return name == "wine" || name == "wine64" || name == "wine-preloader" ||
         name == "wine64-preloader";
}

bool EndsWithExe(const std::string& text) {
  if (text.size() < 4) return false;
  std::string end = text.substr(text.size() - 4);
  std::transform(end.begin(), end.end(), end.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return end == ".exe";
}

bool IsNumber(const char* text) {
  if (*text == '\0') return false;
  for (; *text; ++text) {
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
  }
  return true;
}

// A process may name itself anything: control characters (C0, DEL and UTF-8's C1) become '?',
// so that a name cannot start lines of its own in a log or drive a terminal.
std::string Neutralised(std::string name) {
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7f) {
      name[i] = '?';
    } else if (c == 0xc2 && i + 1 < name.size() &&
               static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(name[i + 1]) <= 0x9f) {
      name.replace(i, 2, "?");
    }
  }
  return name;
}

}  // namespace

std::string ProgramNameOf(const std::string& exe, const std::string& command_line) {
  const std::string own = AfterLastSeparator(exe);
  std::vector<std::string> words;
  for (size_t start = 0; start < command_line.size();) {
    size_t end = command_line.find('\0', start);
    if (end == std::string::npos) end = command_line.size();
    if (end > start) words.push_back(command_line.substr(start, end - start));
    start = end + 1;
  }
  if (!own.empty() && !IsWineLoader(own)) return Neutralised(own);
  for (const std::string& word : words) {
    if (EndsWithExe(word)) return Neutralised(AfterLastSeparator(word));
  }
  if (!words.empty()) return Neutralised(AfterLastSeparator(words.front()));
  return own;
}

std::string ProgramName(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  const std::string command_line = ReadProcFile(base + "/cmdline").value_or("");
  return ProgramNameOf(ReadLink(base + "/exe"), command_line);
}

std::optional<PortHolder> FindPortHolder(const std::string& device_path) {
  if (device_path.empty()) return std::nullopt;
  DIR* proc = opendir("/proc");
  if (!proc) return std::nullopt;
  const pid_t self = getpid();
  std::vector<PortHolder> holders;
  while (dirent* entry = readdir(proc)) {
    if (!IsNumber(entry->d_name)) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(entry->d_name));
    if (pid == self) continue;
    const std::string fds = std::string("/proc/") + entry->d_name + "/fd";
    DIR* dir = opendir(fds.c_str());
    if (!dir) continue;
    bool holds = false;
    while (dirent* fd = readdir(dir)) {
      if (fd->d_name[0] == '.') continue;
      if (ReadLink(fds + "/" + fd->d_name) == device_path) {
        holds = true;
        break;
      }
    }
    closedir(dir);
    if (holds) holders.push_back({pid, ProgramName(pid)});
  }
  closedir(proc);
  if (holders.empty()) return std::nullopt;
  // Wine's server keeps a copy of every descriptor its programs open: the program is the
  // holder, the server only when nobody else is.
  auto rank = [](const PortHolder& h) {
    return std::make_pair(h.program.rfind("wineserver", 0) == 0, h.pid);
  };
  return *std::min_element(
      holders.begin(), holders.end(),
      [&](const PortHolder& a, const PortHolder& b) { return rank(a) < rank(b); });
}
