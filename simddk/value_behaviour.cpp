#include "value_behaviour.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

bool ParseFinite(std::string_view word, double& value) {
  const char* end = word.data() + word.size();
  auto [ptr, ec] = std::from_chars(word.data(), end, value);
  return ec == std::errc() && ptr == end && std::isfinite(value);
}

// splitmix64: a small, well-mixed generator whose sequence is the same on every platform.
uint64_t NextRandom(uint64_t& state) {
  uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// Elapsed time of more steps than this is not caught up step by step; the walk goes on from
// where it is (it is random anyway), so a long pause costs bounded time.
constexpr int64_t kMaxCatchUpSteps = 1'000'000;

}  // namespace

bool ParseValueBehaviour(std::string_view text, ValueBehaviour& out, std::string& error) {
  std::vector<std::string_view> words = SplitWords(text);
  if (words.empty()) {
    error = "empty value";
    return false;
  }
  ValueBehaviour result;
  std::string_view kind = words[0];
  size_t wanted = 0;
  size_t first = 1;
  if (kind == "fixed") {
    wanted = 1;
  } else if (kind == "ramp") {
    result.kind = ValueKind::kRamp;
    wanted = 3;
  } else if (kind == "sine") {
    result.kind = ValueKind::kSine;
    wanted = 3;
  } else if (kind == "walk") {
    result.kind = ValueKind::kWalk;
    wanted = 4;
  } else {
    wanted = 1;
    first = 0;
  }
  if (words.size() - first != wanted) {
    if (first == 0) {
      error = "value must be a number or fixed, ramp, sine or walk with parameters";
    } else {
      error = std::string(kind) + " takes " + std::to_string(wanted) + " numbers";
    }
    return false;
  }
  double numbers[3] = {};
  for (size_t i = 0; i < wanted && i < 3; ++i) {
    if (!ParseFinite(words[first + i], numbers[i])) {
      error = "'" + std::string(words[first + i]) + "' is not a number";
      return false;
    }
  }
  result.a = numbers[0];
  result.b = numbers[1];
  result.c = numbers[2];
  if (result.kind == ValueKind::kWalk) {
    std::string_view seed = words[4];
    auto [ptr, ec] = std::from_chars(seed.data(), seed.data() + seed.size(), result.seed);
    if (ec != std::errc() || ptr != seed.data() + seed.size()) {
      error = "seed '" + std::string(seed) + "' is not a whole number";
      return false;
    }
    if (result.b < 0 || result.c < 0) {
      error = "walk step and spread must not be negative";
      return false;
    }
  }
  if ((result.kind == ValueKind::kRamp || result.kind == ValueKind::kSine) && !(result.c > 0)) {
    error = "period must be above 0 seconds";
    return false;
  }
  out = result;
  return true;
}

std::string DescribeValueBehaviour(const ValueBehaviour& b) {
  char text[160];
  switch (b.kind) {
    case ValueKind::kFixed:
      snprintf(text, sizeof text, "fixed %.17g", b.a);
      break;
    case ValueKind::kRamp:
      snprintf(text, sizeof text, "ramp %.17g %.17g %.17g", b.a, b.b, b.c);
      break;
    case ValueKind::kSine:
      snprintf(text, sizeof text, "sine %.17g %.17g %.17g", b.a, b.b, b.c);
      break;
    case ValueKind::kWalk:
      snprintf(text, sizeof text, "walk %.17g %.17g %.17g %llu", b.a, b.b, b.c,
               static_cast<unsigned long long>(b.seed));
      break;
  }
  return text;
}

ValueGenerator::ValueGenerator(const ValueBehaviour& behaviour, double origin)
    : behaviour_(behaviour),
      origin_(origin),
      walk_value_(behaviour.a),
      walk_state_(behaviour.seed) {}

double ValueGenerator::ValueAt(double seconds) {
  const ValueBehaviour& b = behaviour_;
  seconds -= origin_;
  if (!(seconds >= 0)) seconds = 0;
  switch (b.kind) {
    case ValueKind::kFixed:
      return b.a;
    case ValueKind::kRamp:
      return b.a + (b.b - b.a) * (std::fmod(seconds, b.c) / b.c);
    case ValueKind::kSine:
      return b.a + b.b * std::sin(2 * std::numbers::pi * seconds / b.c);
    case ValueKind::kWalk: {
      const int64_t target = static_cast<int64_t>(std::min(seconds * 10, 9.0e18));
      int64_t steps = target - walk_steps_;
      if (steps > kMaxCatchUpSteps) steps = kMaxCatchUpSteps;
      for (int64_t i = 0; i < steps; ++i) {
        const double unit = static_cast<double>(NextRandom(walk_state_) >> 11) * 0x1.0p-53;
        walk_value_ += b.b * (2 * unit - 1);
        // Reflect at the edges of the band around the nominal.
        if (walk_value_ > b.a + b.c) walk_value_ = 2 * (b.a + b.c) - walk_value_;
        if (walk_value_ < b.a - b.c) walk_value_ = 2 * (b.a - b.c) - walk_value_;
        walk_value_ = std::clamp(walk_value_, b.a - b.c, b.a + b.c);
      }
      if (target > walk_steps_) walk_steps_ = target;
      return walk_value_;
    }
  }
  return b.a;
}
