#include "command_index.h"

void CommandIndex::Build(const CommandTab& tab) {
  for (auto& bucket : buckets_) bucket.clear();
  auto add = [this](CommandCandidate c) {
    if (!c.text.empty()) buckets_[static_cast<uint8_t>(c.text.front())].push_back(c);
  };
  for (int16_t k = 1; k <= kKinds; ++k) {
    if (tab.AllLength[k] > 0) add({CommandCandidate::AllForm, k, 0, 0, tab.AllCommand[k]});
    for (int16_t d = kFirstDevice; d <= kLastDevice; ++d) {
      if (tab.DeviceUsed[d] <= 0) continue;
      for (int16_t a = 1; a <= kLastAddress; ++a) {
        const CommandEntry& e = tab.Entry(d, a);
        if (e.SingleLength[k] > 0) add({CommandCandidate::SingleForm, k, d, a, e.SingleCommand[k]});
      }
    }
  }
  if (!tab.FsQuery.empty() && tab.FsTrigger[1].device > 0) {
    add({CommandCandidate::FsQuery, 0, 0, 0, tab.FsQuery});
  }
  for (int16_t j = USL; j <= LSL; ++j) {
    for (int16_t d = kFirstDevice; d <= kLastDevice; ++d) {
      if (tab.DeviceUsed[d] <= 0) continue;
      for (int16_t a = 1; a <= kLastAddress; ++a) {
        const CommandEntry& e = tab.Entry(d, a);
        if (e.LimitLength[j] > 0) add({CommandCandidate::Limit, j, d, a, e.LimitCommand[j]});
      }
    }
  }
  for (int16_t i = 1; i <= kExtraCommands; ++i) {
    if (tab.ExtraLength[i] > 0) add({CommandCandidate::Extra, i, 0, 0, tab.ExtraCommand[i]});
  }
}
