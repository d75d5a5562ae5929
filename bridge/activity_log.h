// The activity log: the file "Velk_VCP.LOG" and the two monitor lists of the main window.
// Only while the log is on (LogOn = 1) is anything written or listed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "monitor_list.h"

inline constexpr const char* kLogFileName = "Velk_VCP.LOG";
// The log's size bound: past it the file becomes "<name>.1" (replacing an older one) and a new
// file begins, so the log never takes more than about twice the bound. The environment
// variable VELK_VCP_LOG_LIMIT (bytes, at least 4096) sets another bound.
inline constexpr int64_t kDefaultLogLimit = 64 * 1024 * 1024;

// Returns bytes as one line of log text: control bytes (codes 0..31 and 127) and '<' become
// their codes in angle brackets ("<13>", "<60>"), every other byte stays as it is.
std::string LogText(std::string_view bytes);

class ActivityLog {
 public:
  ActivityLog() = default;
  ActivityLog(const ActivityLog&) = delete;
  ActivityLog& operator=(const ActivityLog&) = delete;
  ~ActivityLog();

  // Turns the log on and opens path for appending (created private, 0600, when missing; a
  // symbolic link is refused). Returns false when the file cannot be opened (reported on
  // standard error); the log is on all the same, so the monitor lists still fill. The size bound is
  // read from the environment (see kDefaultLogLimit).
  bool Open(const std::string& path = kLogFileName);
  // Sets the size bound in bytes (values below 4096 count as 4096).
  void SetLimit(int64_t bytes);
  // Closes the file and turns the log off; nothing when it is not open.
  void Close();
  bool on() const { return on_; }

  // Writes text followed by CR LF and hands it to the system at once, so a crash loses no
  // line. Nothing while the log is off. A failing write is reported once on standard error.
  // A line that would take the file past the size bound starts a new file first: the old
  // one ends with a line naming where the log continues, the new one begins with a line
  // naming where the earlier part is.
  void WriteLine(const std::string& text);
  // "C: " + LogText(text) in the file and text in List1: one line, whatever the client sent.
  void Command(const std::string& text);
  // "A: " + LogText(text) in the file and text in List2.
  void Answer(const std::string& text);

  const MonitorList& List1() const { return list1_; }
  const MonitorList& List2() const { return list2_; }
  void ClearLists();
  // Counts every change of the lists, so a window knows when to show them again.
  unsigned changes() const { return changes_; }

 private:
  void Rotate();
  bool WriteRaw(const std::string& line);

  bool on_ = false;
  int fd_ = -1;
  std::string path_;
  int64_t size_ = 0;
  int64_t limit_ = kDefaultLogLimit;
  bool write_failed_ = false;
  MonitorList list1_;
  MonitorList list2_;
  unsigned changes_ = 0;
};
