// Times of value events as text: ISO 8601 in UTC with milliseconds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Returns utcMs (milliseconds since 1970-01-01 UTC) as "2026-12-08T23:25:41.123Z".
std::string IsoUtc(int64_t utcMs);

// Reads "YYYY-MM-DD", "YYYY-MM-DDTHH:MM", "YYYY-MM-DDTHH:MM:SS" or with ".mmm" (a blank may
// stand for the T, a trailing Z is allowed; every time is UTC). Returns milliseconds since
// 1970-01-01 UTC, or nothing for any other text or a date that does not exist.
std::optional<int64_t> ParseIsoUtc(const std::string& text);
