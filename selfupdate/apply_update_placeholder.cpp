#include "selfupdate/apply_update.h"

// Placeholder until the apply-update mode lands: never recognised.
bool parseApplyUpdateArgs(const wchar_t*, std::wstring& newFilePath, std::wstring& targetPath,
                          std::uint32_t& processId) {
    newFilePath.clear();
    targetPath.clear();
    processId = 0;
    return false;
}

int runApplyUpdate(const std::wstring&, const std::wstring&, std::uint32_t) {
    return 0;
}
