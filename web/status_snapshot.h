// The station's status as the page's threads see it: the JSON of the "status" request, made by
// the serving thread now and then and handed over whole, so that a browser never waits for
// serving, nor serving for a browser.
#pragma once

#include <memory>
#include <mutex>
#include <string>

class StatusSnapshot {
 public:
  // Serving thread: replaces the snapshot. Returns at once.
  void Set(std::string status_json);
  // Any thread: the latest snapshot; "{}" before the first Set.
  std::shared_ptr<const std::string> Get() const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const std::string> status_ = std::make_shared<const std::string>("{}");
};
