// A lookup of the command table by first byte, so that cutting commands costs a few
// comparisons per received byte however many inputs are configured.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "command_table.h"

struct CommandCandidate {
  enum Type : uint8_t { AllForm, SingleForm, FsQuery, Limit, Extra };
  // Order of the dispatch in terminated mode: kinds, limits, foot-switch query, additional.
  int TerminatedRank() const {
    switch (type) {
      case AllForm:
      case SingleForm:
        return 0;
      case Limit:
        return 1;
      case FsQuery:
        return 2;
      default:
        return 3;
    }
  }
  Type type;
  int16_t number;  // kind 1..7, limit USL..LSL or additional command 1..10
  int16_t d = 0;   // entry of single forms and limits
  int16_t a = 0;
  std::string_view text;  // the command, or for limits the prefix before the value
};

class CommandIndex {
 public:
  // Indexes every configured command of tab (the table must outlive the index and not change
  // until Build runs again): in each first-byte bucket the candidates keep the order of the
  // dispatch in prefix mode (kinds 1..7 with the all-channels form before the entries, the
  // foot-switch query when a foot switch is configured, limits USL..LSL, additional commands).
  void Build(const CommandTab& tab);
  const std::vector<CommandCandidate>& Bucket(uint8_t first) const { return buckets_[first]; }

 private:
  std::array<std::vector<CommandCandidate>, 256> buckets_;
};
