#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "common/handles.h"
#include "launcher/catalogue.h"
#include "notify/gate.h"
#include "patching/extract.h"
#include "patching/http_request.h"
#include "patching/install.h"
#include "patching/version_record.h"

namespace {

void notifyInstallProblem(const wchar_t* message) {
    showNotification(g_appDisplayName, message, g_appDisplayName, L"resource/game.ico", L"",
                     g_appDisplayName);
}

}  // namespace

bool isFolderWritable(const std::wstring& folder) {
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    UniqueHandle probe(CreateFileW(writeProbePath(folder).c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return probe.valid();
}

bool installPatch(const GameEntry& entry, std::int32_t number) {
    const std::string url = patchUrlFor(entry);
    if (!isFolderWritable(g_installRoot)) {
        notifyInstallProblem(kNotWritableMessage);
        return false;
    }

    std::vector<unsigned char> archive;
    if (!httpGet(url, archive, 4)) {
        notifyInstallProblem(kDownloadFailedMessage);
        return false;
    }

    // A failed extraction leaves the record alone, so the next start tries again.
    if (!extractPatchArchive(archive, g_installRoot)) return false;

    writeLocalVersion(entry.id, number);
    return true;
}
