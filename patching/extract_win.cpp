#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "common/handles.h"
#include "common/text.h"
#include "launcher/catalogue.h"
#include "patching/entry_path.h"
#include "patching/extract.h"
#include "selfupdate/staging.h"
#include "zip/zip_reader.h"

namespace {

// Best effort, like any stamp: a bad DOS date leaves the write time as it is.
void stampModificationTime(HANDLE file, std::uint16_t dosDate, std::uint16_t dosTime) {
    FILETIME local = {};
    FILETIME utc = {};
    if (!DosDateTimeToFileTime(dosDate, dosTime, &local)) return;
    if (!LocalFileTimeToFileTime(&local, &utc)) return;
    SetFileTime(file, nullptr, &utc, &utc);
}

// Writes the entry to path; a write that fails its size or CRC check is removed.
bool writeEntryFile(const ZipArchive& zip, std::uint32_t index, const ZipEntryInfo& info,
                    const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;

    const bool complete = zipExtractToSink(zip, index, [&](const unsigned char* bytes,
                                                           std::size_t count) {
        while (count > 0) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
            DWORD written = 0;
            if (!WriteFile(file.get(), bytes, chunk, &written, nullptr) || written != chunk)
                return false;
            bytes += chunk;
            count -= chunk;
        }
        return true;
    });
    if (complete) stampModificationTime(file.get(), info.dosDate, info.dosTime);
    file.reset();
    if (!complete) DeleteFileW(path.c_str());
    return complete;
}

// A file already standing at the target is replaced only by a complete, checked copy.
bool extractFileEntry(const ZipArchive& zip, std::uint32_t index, const ZipEntryInfo& info,
                      const std::wstring& target) {
    if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES)
        return writeEntryFile(zip, index, info, target);

    const std::wstring replacement = replacementPathFor(target);
    if (!writeEntryFile(zip, index, info, replacement)) return false;
    if (MoveFileExW(replacement.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileW(replacement.c_str());
    return false;
}

bool extractEntry(const ZipArchive& zip, std::uint32_t index, const std::wstring& root) {
    ZipEntryInfo info;
    if (!zipEntryStat(zip, index, info)) return false;

    const std::string relative = entryRelativePath(info.name);
    if (!isSafeRelativePath(relative)) return false;
    const std::wstring target = root + fromUtf8(relative);

    if (isDirectoryEntry(info.isDirectory, relative)) {
        SHCreateDirectoryExW(nullptr, target.c_str(), nullptr);
        return true;
    }

    const std::wstring parent = parentFolderOf(target);
    if (!parent.empty()) SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);

    // The running executable cannot be overwritten; the self-update replaces it later.
    if (!g_launcherPath.empty() && equalIgnoringAsciiCase(target, g_launcherPath))
        return stageLauncherUpdate(zip, index, target);

    return extractFileEntry(zip, index, info, target);
}

}  // namespace

bool extractPatchArchive(const std::vector<unsigned char>& archive, const std::wstring& root) {
    std::int32_t extractedCount = 0;
    std::int32_t failedCount = 0;
    if (archive.empty()) return false;

    ZipArchive zip;
    if (!zipOpenMemory(zip, archive.data(), archive.size())) return false;

    const std::uint32_t count = zipEntryCount(zip);
    for (std::uint32_t index = 0; index < count; ++index) {
        if (extractEntry(zip, index, root))
            ++extractedCount;
        else
            ++failedCount;
    }
    zipClose(zip);
    return failedCount == 0 && extractedCount > 0;
}
