// The value history's key: 32 random bytes in a private file next to the database, made at the
// first use. It keys the hash chain of the history's rows, so that a row changed, inserted or
// removed without it shows.
#pragma once

#include <string>

inline constexpr size_t kHistoryKeySize = 32;

// Returns the key file's path for the database at db_path: "Velk_VCP.values.db" gives
// "Velk_VCP.values.key" (a name without ".db" gets ".key" appended).
std::string HistoryKeyPath(const std::string& db_path);

// Reads the key at key_path into key, making the file (0600, random bytes) when it does not
// exist and make is true. Returns false and sets error for a file that is missing (and not to
// be made), cannot be read or made, is no regular file, has the wrong size or may be read or
// written by others than its owner.
bool LoadHistoryKey(const std::string& key_path, bool make, std::string& key, std::string& error);
