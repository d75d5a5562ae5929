#include "status_snapshot.h"

void StatusSnapshot::Set(std::string status_json) {
  auto made = std::make_shared<const std::string>(std::move(status_json));
  std::lock_guard lock(mutex_);
  status_.swap(made);
}

std::shared_ptr<const std::string> StatusSnapshot::Get() const {
  std::lock_guard lock(mutex_);
  return status_;
}
