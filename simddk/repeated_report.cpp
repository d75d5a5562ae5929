#include "repeated_report.h"

RepeatedReport::RepeatedReport(std::ostream& out, std::chrono::milliseconds interval,
                               std::function<Clock::time_point()> now)
    : out_(out), interval_(interval), now_(std::move(now)) {}

void RepeatedReport::WriteLine(const std::string& text, long more) {
  out_ << text;
  if (more > 0) {
    out_ << " (" << more << " more time" << (more == 1 ? "" : "s") << " in the last "
         << std::chrono::duration_cast<std::chrono::seconds>(interval_).count() << " s)";
  }
  out_ << std::endl;
}

void RepeatedReport::Report(const std::string& text) {
  std::lock_guard lock(mutex_);
  const Clock::time_point now = now_();
  auto [it, fresh] = entries_.try_emplace(text, Entry{now, 0});
  Entry& entry = it->second;
  if (fresh) {
    WriteLine(text, 0);
    return;
  }
  if (now - entry.written < interval_) {
    ++entry.unreported;
    return;
  }
  WriteLine(text, entry.unreported);
  entry = Entry{now, 0};
}

void RepeatedReport::Flush() {
  std::lock_guard lock(mutex_);
  for (const auto& [text, entry] : entries_) {
    if (entry.unreported > 0) {
      out_ << text << " (" << entry.unreported << " more time" << (entry.unreported == 1 ? "" : "s")
           << ")" << std::endl;
    }
  }
  entries_.clear();
}
