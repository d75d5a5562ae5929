#include "record_chain.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstring>

namespace {

// The number's 8 bytes (IEEE 754) as one integer.
int64_t Bits(double number) {
  int64_t bits = 0;
  std::memcpy(&bits, &number, sizeof bits);
  return bits;
}

}  // namespace

struct ChainKey::Impl {
  EVP_MAC* mac = nullptr;
  EVP_MAC_CTX* keyed = nullptr;  // keyed once, started anew for each hash
};

ChainKey::ChainKey(const std::string& key) : impl_(new Impl) {
  impl_->mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  if (impl_->mac == nullptr) return;
  impl_->keyed = EVP_MAC_CTX_new(impl_->mac);
  char digest[] = "SHA256";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_END};
  if (impl_->keyed == nullptr ||
      EVP_MAC_init(impl_->keyed, reinterpret_cast<const unsigned char*>(key.data()), key.size(),
                   params) != 1) {
    EVP_MAC_CTX_free(impl_->keyed);
    impl_->keyed = nullptr;
  }
}

ChainKey::~ChainKey() {
  EVP_MAC_CTX_free(impl_->keyed);
  EVP_MAC_free(impl_->mac);
  delete impl_;
}

void ChainKey::Add(std::string_view bytes) {
  // Each field with its length in front: no two different rows give the same bytes.
  Add(static_cast<int64_t>(bytes.size()));
  buffer_.append(bytes.data(), bytes.size());
}

void ChainKey::Add(int64_t number) {
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i)
    bytes[i] = static_cast<unsigned char>(static_cast<uint64_t>(number) >> (8 * i));
  buffer_.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void ChainKey::Add(const std::optional<double>& number) {
  if (!number) {
    Add(int64_t{0});
    return;
  }
  Add(int64_t{1});
  Add(Bits(*number));
}

std::string ChainKey::Mac() {
  if (impl_->keyed == nullptr) return {};
  // Started anew with the key it holds: no copy of the context per hash.
  EVP_MAC_CTX* ctx = impl_->keyed;
  unsigned char out[EVP_MAX_MD_SIZE];
  size_t size = 0;
  const bool ok = EVP_MAC_init(ctx, nullptr, 0, nullptr) == 1 &&
                  EVP_MAC_update(ctx, reinterpret_cast<const unsigned char*>(buffer_.data()),
                                 buffer_.size()) == 1 &&
                  EVP_MAC_final(ctx, out, &size, sizeof out) == 1;
  return ok ? std::string(reinterpret_cast<const char*>(out), size) : std::string();
}

std::string ChainKey::RowHash(const std::string& previous, const ChainRow& row) {
  buffer_.assign("row");
  Add(previous);
  Add(row.id);
  Add(row.utc_ms);
  Add(row.station);
  Add(int64_t{row.slot});
  Add(row.port);
  Add(row.client);
  Add(int64_t{row.device});
  Add(int64_t{row.input});
  Add(row.number);
  Add(row.text);
  Add(row.status);
  Add(row.cause);
  if (row.described) {
    Add(row.name);
    Add(row.unit);
    // Which limits are set (bit 0 USL, 1 UCL, 2 LCL, 3 LSL), then the 8 bytes of each set one:
    // a row and its usual limits stay within the blocks the hash takes without them.
    const std::optional<double>* limits[] = {&row.limits.usl, &row.limits.ucl, &row.limits.lcl,
                                             &row.limits.lsl};
    int64_t set = 0;
    for (int k = 0; k < 4; ++k) {
      if (limits[k]->has_value()) set |= int64_t{1} << k;
    }
    Add(set);
    for (const std::optional<double>* limit : limits) {
      if (limit->has_value()) Add(Bits(**limit));
    }
  }
  return Mac();
}

std::string ChainKey::EndMark(int64_t chain_start, int64_t last_id, const std::string& last_hash) {
  buffer_.assign("end");
  Add(chain_start);
  Add(last_id);
  Add(last_hash);
  return Mac();
}

std::string ChainKey::PrunedMark(int64_t up_to, const std::string& hash) {
  buffer_.assign("pruned");
  Add(up_to);
  Add(hash);
  return Mac();
}

std::string HexOf(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}
