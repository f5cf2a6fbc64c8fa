// Per-user record of the last patch installed for each game: a file named after the
// game's id holding the number in decimal.
#pragma once

#include <cstdint>
#include <string>

// Records longer than this are not read.
inline constexpr std::size_t kMaxVersionRecordSize = 256;

// The number a record's bytes stand for; 0 when empty, too long or not a number.
std::int32_t versionNumberFromRecord(const std::string& content);
// Decimal digits with a leading '-' when negative; no line end.
std::string formatVersionRecord(std::int32_t number);

#ifdef _WIN32
std::wstring versionRecordPath(const std::string& id);
std::int32_t readLocalVersion(const std::string& id);
bool writeLocalVersion(const std::string& id, std::int32_t number);
#endif
