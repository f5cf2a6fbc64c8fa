#include "patching/install.h"

const wchar_t* const kNotWritableMessage =
    L"Không ghi được vào C:\\Quolva (thiếu quyền). Hãy chạy bằng Run as administrator rồi mở lại.";
const wchar_t* const kDownloadFailedMessage =
    L"Không tải được bản cập nhật, đang mở phiên bản cũ...";

std::string patchUrlFor(const GameEntry& entry) {
    return entry.baseUrl + "patch.zip";
}

std::wstring writeProbePath(const std::wstring& folder) {
    if (folder.empty() || folder.back() == L'\\') return folder + L".writetest.tmp";
    return folder + L"\\.writetest.tmp";
}
