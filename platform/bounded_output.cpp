#include "bounded_output.h"

#include <iostream>

void BoundedOutput::StartClient() {
  queue_.Clear();
  counters_ = {std::chrono::system_clock::now()};
}

bool BoundedOutput::Add(const uint8_t* data, size_t count, size_t also_waiting) {
  if (!data || count == 0) return true;
  if (size() + also_waiting + count > kQueueMax) {
    if (episode_answers_ == 0 && !report_name_.empty()) {
      std::cerr << "Velk_VCP: port " << report_name_ << ": the client does not read its answers ("
                << size() + also_waiting << " bytes wait); answers that do not fit are dropped\n";
    }
    ++episode_answers_;
    episode_bytes_ += count;
    counters_.dropped_bytes += count;
    return false;
  }
  queue_.Append(data, count);
  return true;
}

void BoundedOutput::Consume(size_t count) {
  const size_t taken = count < size() ? count : size();
  queue_.Consume(taken);
  counters_.bytes_out += taken;
}

void BoundedOutput::EndDropEpisode() {
  if (episode_answers_ == 0) return;
  if (!report_name_.empty()) {
    std::cerr << "Velk_VCP: port " << report_name_ << ": " << episode_answers_ << " answers ("
              << episode_bytes_ << " bytes) were dropped whole: the client did not read them\n";
  }
  episode_answers_ = 0;
  episode_bytes_ = 0;
}
