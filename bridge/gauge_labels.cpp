#include "gauge_labels.h"

#include <deque>
#include <map>
#include <mutex>
#include <utility>

namespace {

struct Labels {
  std::mutex mutex;
  std::deque<GaugeLabel> kept;  // never shrinks: a deque keeps its elements in place
  std::map<std::pair<std::string, std::string>, const GaugeLabel*, std::less<>> index;
  const GaugeLabel empty;
};

// Never destroyed: listener threads may still read labels while the process ends.
Labels& TheLabels() {
  static Labels* labels = new Labels;
  return *labels;
}

}  // namespace

const GaugeLabel* InternGaugeLabel(std::string_view name, std::string_view unit) {
  Labels& labels = TheLabels();
  if (name.empty() && unit.empty()) return &labels.empty;
  std::pair<std::string, std::string> key(name, unit);
  std::lock_guard lock(labels.mutex);
  auto it = labels.index.find(key);
  if (it != labels.index.end()) return it->second;
  if (labels.kept.size() >= kMaxGaugeLabels) return &labels.empty;
  labels.kept.push_back({key.first, key.second});
  const GaugeLabel* label = &labels.kept.back();
  labels.index.emplace(std::move(key), label);
  return label;
}
