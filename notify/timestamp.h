// The spacing of notifications: within one process on the tick counter, and across
// the user's launcher processes through a small file holding the Unix time in
// milliseconds of the last granted notification.
#pragma once

#include <cstdint>
#include <string>

inline constexpr std::uint64_t kNotificationSpacingMs = 5000;

// True when the in-process limit refuses a request at `tick`.
bool refusedInProcess(bool shownOnce, std::uint64_t lastTick, std::uint64_t tick);

// Reads the bytes of the timestamp file. False when they are not a valid record:
// 1 to 31 bytes, digits first, then nothing but CR/LF, the number within int64.
bool parseNotificationTimestamp(const std::string& bytes, std::uint64_t& stored);

// True when a claim at nowMs must be refused given the file's content.
bool claimRefused(bool contentValid, std::uint64_t stored, std::uint64_t nowMs);

// Plain decimal digits, no sign, no leading zeros, no line end.
std::string formatNotificationTimestamp(std::uint64_t ms);

// Unix milliseconds from a count of 100-ns intervals since 1601-01-01 (UTC).
std::uint64_t unixMillisFromFileTime(std::uint64_t intervalsSince1601);

#ifdef _WIN32
// <profile>\Quolva\toast_last_timestamp.txt, creating the Quolva folder; empty when
// the profile folder cannot be determined.
std::wstring notificationTimestampPath();

// The cross-process limit: true grants the request and records nowMs in the file.
bool claimNotificationSlot(std::uint64_t nowMs);
#endif
