#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <set>
#include <utility>

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

// Inflated bytes are gathered into pieces of this size before each WriteFile: every
// call is a round trip to the file system (a server call under Wine), and the reader
// hands over much smaller pieces.
constexpr std::size_t kWriteBatchSize = 4u << 20;

// What one extraction keeps from entry to entry: the folders already made (each entry
// would otherwise ask for its folder again, a file-system call per entry), and the write
// batch, allocated once.
struct ExtractionState {
    std::set<std::wstring> madeFolders;
    std::vector<unsigned char> batch;

    void makeFolder(const std::wstring& folder) {
        if (madeFolders.insert(folder).second)
            SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    }
};

bool writeAll(HANDLE file, const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written != chunk) return false;
        bytes += chunk;
        count -= chunk;
    }
    return true;
}

// Inflates the entry into the open file; a write that fails its size or CRC check is
// removed.
bool fillEntryFile(UniqueHandle file, const ZipArchive& zip, std::uint32_t index,
                   const ZipEntryInfo& info, const std::wstring& path, ExtractionState& state) {
    std::vector<unsigned char>& batch = state.batch;
    batch.clear();
    bool writeFailed = false;
    const bool inflated = zipExtractToSink(zip, index, [&](const unsigned char* bytes,
                                                           std::size_t count) {
        if (batch.size() + count > kWriteBatchSize) {
            if (!writeAll(file.get(), batch.data(), batch.size())) {
                writeFailed = true;
                return false;
            }
            batch.clear();
        }
        batch.insert(batch.end(), bytes, bytes + count);
        return true;
    });
    // Everything before the last piece is already on disk; the rest is written only when
    // the whole entry passed its checks.
    const bool complete = inflated && !writeFailed && writeAll(file.get(), batch.data(), batch.size());
    batch.clear();
    if (complete) stampModificationTime(file.get(), info.dosDate, info.dosTime);
    file.reset();
    if (!complete) DeleteFileW(path.c_str());
    return complete;
}

UniqueHandle createEntryFile(const std::wstring& path, DWORD disposition) {
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A file already standing at the target is replaced only by a complete, checked copy
// written beside it. A target that does not exist yet has nothing to protect: it is
// created in place, and the creation itself tells which case holds.
bool extractFileEntry(const ZipArchive& zip, std::uint32_t index, const ZipEntryInfo& info,
                      const std::wstring& target, ExtractionState& state) {
    UniqueHandle fresh = createEntryFile(target, CREATE_NEW);
    if (fresh) return fillEntryFile(std::move(fresh), zip, index, info, target, state);
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;

    const std::wstring replacement = replacementPathFor(target);
    UniqueHandle aside = createEntryFile(replacement, CREATE_ALWAYS);
    if (!aside || !fillEntryFile(std::move(aside), zip, index, info, replacement, state))
        return false;
    if (MoveFileExW(replacement.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileW(replacement.c_str());
    return false;
}

bool extractEntry(const ZipArchive& zip, std::uint32_t index, const std::wstring& root,
                  ExtractionState& state) {
    ZipEntryInfo info;
    if (!zipEntryStat(zip, index, info)) return false;

    const std::string relative = entryRelativePath(info.name);
    if (!isSafeRelativePath(relative)) return false;
    const std::wstring target = root + fromUtf8(relative);

    if (isDirectoryEntry(info.isDirectory, relative)) {
        std::wstring folder = target;
        if (folder.back() == L'\\') folder.pop_back();
        state.makeFolder(folder);
        return true;
    }

    const std::wstring parent = parentFolderOf(target);
    if (!parent.empty()) state.makeFolder(parent);

    // The running executable cannot be overwritten; the self-update replaces it later.
    if (!g_launcherPath.empty() && equalIgnoringAsciiCase(target, g_launcherPath))
        return stageLauncherUpdate(zip, index, target);

    return extractFileEntry(zip, index, info, target, state);
}

}  // namespace

bool extractPatchArchive(const std::vector<unsigned char>& archive, const std::wstring& root) {
    std::int32_t extractedCount = 0;
    std::int32_t failedCount = 0;
    if (archive.empty()) return false;

    ZipArchive zip;
    if (!zipOpenMemory(zip, archive.data(), archive.size())) return false;

    ExtractionState state;
    const std::uint32_t count = zipEntryCount(zip);
    for (std::uint32_t index = 0; index < count; ++index) {
        if (extractEntry(zip, index, root, state))
            ++extractedCount;
        else
            ++failedCount;
    }
    zipClose(zip);
    return failedCount == 0 && extractedCount > 0;
}
