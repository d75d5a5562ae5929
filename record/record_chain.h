// The keyed hash chain over the value history: each row's hash is an HMAC-SHA-256 over its
// fields and the previous row's hash, so that a row changed, inserted or removed without the
// key breaks the chain. Two keyed marks close it: the end (the last row's number and hash,
// renewed with each commit, so that rows cut off at the end show) and the pruned mark (the last
// row retention removed, so that removing old rows is not taken for tampering).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "value_events.h"

// The size of a hash in the chain.
inline constexpr size_t kChainHashSize = 32;

// The fields of one history row as stored (texts in UTF-8).
struct ChainRow {
  int64_t id = 0;
  int64_t utc_ms = 0;
  std::string_view station;
  int slot = 0;
  std::string_view port;
  std::string_view client;
  int device = 0;
  int input = 0;
  std::optional<double> number;  // none: stored as NULL
  std::string_view text;
  std::string_view status;
  std::string_view cause;
  // Rows written since the history stores the gauge's description (the stored name is not
  // NULL) have their hash cover it too; older rows keep the hash they were written with.
  bool described = false;
  std::string_view name = {};
  std::string_view unit = {};
  ValueLimits limits = {};
};

class ChainKey {
 public:
  // key: the key file's bytes. A key OpenSSL refuses makes every hash empty.
  explicit ChainKey(const std::string& key);
  ~ChainKey();

  // Returns the row's hash, chained to previous (the previous row's hash; empty for the first
  // row of the chain); a described row's covers its name, unit and limits after the other
  // fields. Returns an empty string when OpenSSL fails.
  std::string RowHash(const std::string& previous, const ChainRow& row);
  // Returns the keyed end mark over the chain's first row number, its last row number and the
  // last row's hash.
  std::string EndMark(int64_t chain_start, int64_t last_id, const std::string& last_hash);
  // Returns the keyed pruned mark: the rows up to up_to are removed, the last of them had hash.
  std::string PrunedMark(int64_t up_to, const std::string& hash);

  ChainKey(const ChainKey&) = delete;
  ChainKey& operator=(const ChainKey&) = delete;

 private:
  // Returns the HMAC of buffer_.
  std::string Mac();
  void Add(std::string_view bytes);
  void Add(int64_t number);
  // A flag, 1 with the number's 8 bytes (IEEE 754) or 0 for none.
  void Add(const std::optional<double>& number);

  struct Impl;
  Impl* impl_;
  std::string buffer_;
};

// Returns bytes as lower-case hexadecimal digits.
std::string HexOf(std::string_view bytes);
