#include "settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "key_value_file.h"
#include "number_text.h"
#include "presets.h"
#include "settings_fields.h"

namespace {

// Creates an empty file when none exists. O_NONBLOCK keeps a FIFO of that name from blocking.
bool EnsureFileExists(const std::string& name, std::string& error) {
  // A file that is there is left alone: one that may not be written is still read.
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0) return true;
  // Private: the file will hold the password.
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  if (errno == EISDIR || errno == ENXIO) return true;  // exists; the reader refuses it
  error = name + ": cannot create the file: " + std::strerror(errno);
  return false;
}

// The settings file last read could not be read as one: the next write keeps it aside first.
bool settings_file_unreadable = false;
std::string kept_notice;

// Renames the unreadable settings file name to "<name>.bad" and reports it.
void KeepUnreadableFile(const std::string& name) {
  settings_file_unreadable = false;
  const std::string bad = name + kUnreadableSuffix;
  if (::rename(name.c_str(), bad.c_str()) != 0) {
    kept_notice = name + " could not be read as a settings file and cannot be kept as " + bad +
                  ": " + std::strerror(errno);
  } else {
    kept_notice = name + " could not be read as a settings file; kept as " + bad +
                  ", the settings written anew";
  }
  std::fprintf(stderr, "Velk_VCP: %s\n", kept_notice.c_str());
}

}  // namespace

const std::string& KeptSettingsNotice() { return kept_notice; }

int RemoveStaleSettingsTemporaries() {
  return RemoveStaleTemporaries("", [](std::string_view name) {
    return name == kSettingsFileName || (name.size() > 4 && name.ends_with(".con"));
  });
}

bool WriteSettings(const std::string& fileName, SettingsRecord& s) {
  bool settingsFile = fileName.empty();
  std::string name = settingsFile ? kSettingsFileName : fileName;
  std::string content;
  content.reserve(64 * 1024);
  ForEachSettingsField(s, [&](const SettingsField& f) {
    if (f.settingsOnly && !settingsFile) return;
    if (f.writtenWhenSet &&
        ((f.integer != nullptr && *f.integer == 0) || (f.text != nullptr && f.text->empty()))) {
      return;
    }
    content += std::to_string(f.key);
    content += ':';
    if (f.integer != nullptr) {
      content += std::to_string(*f.integer);
    } else if (f.input != nullptr) {
      content += std::to_string(f.input->State + 2 * f.input->FS);
    } else {
      content += f.trimmed ? std::string(TrimSpaces(*f.text)) : *f.text;
    }
    content += "\r\n";
  });
  if (settingsFile && settings_file_unreadable) KeepUnreadableFile(name);
  std::string error;
  if (!WriteFileAtomically(name, content, error)) {
    std::fprintf(stderr, "Velk_VCP: settings not saved: %s\n", error.c_str());
    return false;
  }
  return true;
}

bool ReadSettings(const std::string& fileName, SettingsRecord& s) {
  bool settingsFile = fileName.empty();
  if (settingsFile) {
    SetDefaultSettings(s);
    LoadPreset(s);
  }
  std::string name = settingsFile ? kSettingsFileName : fileName;
  std::string error;
  struct stat before {};
  const bool existed = ::stat(name.c_str(), &before) == 0 && S_ISREG(before.st_mode);
  if (!EnsureFileExists(name, error)) {
    std::fprintf(stderr, "Velk_VCP: %s\n", error.c_str());
    return false;
  }
  std::optional<double> key;
  long lineNo = 0;
  long keyLines = 0;
  bool binary = false;
  bool ok = ReadLines(
      name,
      [&](std::string_view line) {
        ++lineNo;
        binary = binary || line.find('\0') != std::string_view::npos;
        KeyValueLine kv = SplitAtFirstColon(line);
        std::string value;
        if (kv.hasColon) {
          key = NumericValue(TrimSpaces(kv.key));
          keyLines += IsSettingsKey(s, *key);
          value = TrimSpaces(kv.value);
        } else {
          value = kv.value;
        }
        if (!key) return;
        if (!ApplySettingsValue(s, *key, value, settingsFile)) {
          std::fprintf(stderr, "Velk_VCP: %s:%ld: value out of range, line ignored\n", name.c_str(),
                       lineNo);
        }
      },
      error);
  if (!ok) std::fprintf(stderr, "Velk_VCP: %s\n", error.c_str());
  // An existing file without a single key line, or with NUL bytes, is no settings file: it is
  // kept before the settings are written over it. A file that merely lacks keys is not.
  if (settingsFile) settings_file_unreadable = ok && existed && (keyLines == 0 || binary);
  return ok;
}
