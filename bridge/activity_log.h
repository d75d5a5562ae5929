// The activity log: the file "Velk_VCP.LOG" and the two monitor lists of the main window.
// Only while the log is on (LogOn = 1) is anything written or listed.
#pragma once

#include <string>

#include "monitor_list.h"

inline constexpr const char* kLogFileName = "Velk_VCP.LOG";

class ActivityLog {
 public:
  ActivityLog() = default;
  ActivityLog(const ActivityLog&) = delete;
  ActivityLog& operator=(const ActivityLog&) = delete;
  ~ActivityLog();

  // Turns the log on and opens path for appending (created when missing). Returns false when
  // the file cannot be opened (reported on standard error); the log is on all the same, so the
  // monitor lists still fill.
  bool Open(const std::string& path = kLogFileName);
  // Closes the file and turns the log off; nothing when it is not open.
  void Close();
  bool on() const { return on_; }

  // Writes text followed by CR LF and hands it to the system at once, so a crash loses no
  // line. Nothing while the log is off. A failing write is reported once on standard error.
  void WriteLine(const std::string& text);
  // "C: " + text in the file and text in List1.
  void Command(const std::string& text);
  // "A: " + text in the file and text in List2.
  void Answer(const std::string& text);

  const MonitorList& List1() const { return list1_; }
  const MonitorList& List2() const { return list2_; }
  void ClearLists();
  // Counts every change of the lists, so a window knows when to show them again.
  unsigned changes() const { return changes_; }

 private:
  bool on_ = false;
  int fd_ = -1;
  bool write_failed_ = false;
  MonitorList list1_;
  MonitorList list2_;
  unsigned changes_ = 0;
};
