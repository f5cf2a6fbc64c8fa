#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "common/handles.h"
#include "common/text.h"
#include "launcher/catalogue.h"
#include "patching/version_record.h"

std::wstring versionRecordPath(const std::string& id) {
    return versionRecordFolder() + fromUtf8(id) + L".txt";
}

std::int32_t readLocalVersion(const std::string& id) {
    UniqueHandle file(CreateFileW(versionRecordPath(id).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;

    // A failed query reports 0xFFFFFFFF and is refused with the over-long records.
    const DWORD size = GetFileSize(file.get(), nullptr);
    if (size == 0 || size > kMaxVersionRecordSize) return 0;

    std::vector<char> buffer(size + 1, '\0');
    DWORD read = 0;
    ReadFile(file.get(), buffer.data(), size, &read, nullptr);
    file.reset();
    return versionNumberFromRecord(std::string(buffer.data(), size));
}

bool writeLocalVersion(const std::string& id, std::int32_t number) {
    const std::wstring folder = versionRecordFolder();
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);

    UniqueHandle file(CreateFileW((folder + fromUtf8(id) + L".txt").c_str(), GENERIC_WRITE, 0,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;

    const std::string text = formatVersionRecord(number);
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    file.reset();
    return written == text.size();
}
