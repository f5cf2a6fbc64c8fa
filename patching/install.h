// Turns a due patch into files under the install root and a new version record.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/catalogue.h"

extern const wchar_t* const kNotWritableMessage;
extern const wchar_t* const kDownloadFailedMessage;

// The game's patch archive: its base URL with "patch.zip" appended.
std::string patchUrlFor(const GameEntry& entry);
// The probe file ".writetest.tmp" in folder, with a backslash between when needed.
std::wstring writeProbePath(const std::wstring& folder);

#ifdef _WIN32
// True when the archive was downloaded and extracted with success; the number is
// recorded only then.
bool installPatch(const GameEntry& entry, std::int32_t number);
// True when a file could be created in folder (created first, with its parents).
bool isFolderWritable(const std::wstring& folder);
#endif
