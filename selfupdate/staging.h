// Hand-off of a new launcher build found in a patch to a temporary updater copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zip/zip_reader.h"

// Largest launcher image that is compared or staged.
inline constexpr std::uint64_t kMaxLauncherImageSize = 104857600;

#ifdef _WIN32
// True when the file on disk already equals the entry, or when the new build was
// written and the updater copy started.
bool stageLauncherUpdate(const ZipArchive& archive, std::uint32_t entryIndex,
                         const std::wstring& targetPath);
bool writeNewLauncherFile(const unsigned char* image, std::size_t size, std::wstring& outPath);
bool startUpdaterCopy(const std::wstring& newFilePath, const std::wstring& targetPath);
#endif
