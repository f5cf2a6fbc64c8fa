#include <windows.h>

#include <vector>

#include "common/handles.h"
#include "launcher/catalogue.h"
#include "selfupdate/apply_update.h"
#include "selfupdate/staging.h"

namespace {

const wchar_t kNewLauncherFileName[] = L"Quolva_game.new.exe";
const wchar_t kUpdaterFileName[] = L"Quolva_updater.exe";

bool isStageableSize(std::uint64_t size) {
    return size >= 1 && size <= kMaxLauncherImageSize;
}

// The user's temporary folder, ending with a backslash. A result that does not fit the
// buffer leaves it unfilled, and the names appended to it would become relative paths
// into whatever the current folder is, so that counts as a failure too.
bool temporaryFolder(std::wstring& folder) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) return false;
    folder = buffer;
    return true;
}

bool fileEquals(const std::wstring& path, const std::vector<unsigned char>& image) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size)) return false;
    const std::uint64_t fileSize = static_cast<std::uint64_t>(size.QuadPart);
    if (fileSize != image.size() || !isStageableSize(fileSize)) return false;

    std::vector<unsigned char> onDisk(static_cast<std::size_t>(fileSize), 0);
    DWORD read = 0;
    if (!ReadFile(file.get(), onDisk.data(), static_cast<DWORD>(fileSize), &read, nullptr))
        return false;
    return read == fileSize && onDisk == image;
}

}  // namespace

bool stageLauncherUpdate(const ZipArchive& archive, std::uint32_t entryIndex,
                         const std::wstring& targetPath) {
    // The declared size decides before anything is inflated, so an archive cannot make
    // the launcher allocate more than the limit.
    ZipEntryInfo info;
    if (!zipEntryStat(archive, entryIndex, info)) return false;
    if (!isStageableSize(info.uncompressedSize)) return false;

    std::vector<unsigned char> image;
    if (!zipExtractToHeap(archive, entryIndex, image, kMaxLauncherImageSize)) return false;
    if (!isStageableSize(image.size())) return false;

    if (fileEquals(targetPath, image)) return true;

    std::wstring stagedPath;
    bool staged = writeNewLauncherFile(image.data(), image.size(), stagedPath) &&
                  startUpdaterCopy(stagedPath, targetPath);
    if (!staged && !stagedPath.empty()) DeleteFileW(stagedPath.c_str());
    return staged;
}

bool writeNewLauncherFile(const unsigned char* image, std::size_t size, std::wstring& outPath) {
    outPath.clear();
    if (image == nullptr || !isStageableSize(size)) return false;
    std::wstring folder;
    if (!temporaryFolder(folder)) return false;
    outPath = folder + kNewLauncherFileName;

    UniqueHandle file(CreateFileW(outPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const bool complete = WriteFile(file.get(), image, static_cast<DWORD>(size), &written, nullptr) &&
                          written == size;
    file.reset();
    if (complete) return true;
    DeleteFileW(outPath.c_str());
    outPath.clear();
    return false;
}

bool startUpdaterCopy(const std::wstring& newFilePath, const std::wstring& targetPath) {
    if (g_launcherPath.empty()) return false;
    std::wstring folder;
    if (!temporaryFolder(folder)) return false;

    // The updater is the old build: it only has to know the apply-update mode, and the
    // new build must not run before it is in place.
    const std::wstring updaterPath = folder + kUpdaterFileName;
    if (!CopyFileW(g_launcherPath.c_str(), updaterPath.c_str(), FALSE)) return false;

    const std::wstring commandLine =
        buildApplyUpdateCommandLine(updaterPath, newFilePath, targetPath, GetCurrentProcessId());
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | DETACHED_PROCESS, nullptr, nullptr, &startup, &info))
        return false;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    return true;
}
