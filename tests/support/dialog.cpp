#include "support/dialog.h"

#include <vector>

namespace {

std::wstring windowText(HWND window) {
    wchar_t buffer[4096] = {};
    GetWindowTextW(window, buffer, 4096);
    return buffer;
}

std::vector<HWND> dialogsWithCaption(const std::wstring& caption) {
    struct Search {
        const std::wstring* caption;
        std::vector<HWND> found;
    } search{&caption, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            wchar_t className[64] = {};
            GetClassNameW(window, className, 64);
            if (std::wstring(className) == L"#32770" && windowText(window) == *s->caption)
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

bool waitForMessageBox(const std::wstring& caption, DWORD timeoutMs, MessageBoxSeen& seen) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < deadline) {
        std::vector<HWND> found = dialogsWithCaption(caption);
        if (!found.empty()) {
            seen.window = found.front();
            seen.caption = caption;
            HWND label = GetDlgItem(seen.window, 0xFFFF);
            seen.text = label ? windowText(label) : std::wstring();
            return true;
        }
        Sleep(100);
    }
    return false;
}

bool clickMessageBoxButton(const MessageBoxSeen& seen, int buttonId) {
    HWND button = GetDlgItem(seen.window, buttonId);
    if (!button) return false;
    PostMessageW(button, BM_CLICK, 0, 0);
    return true;
}

int countMessageBoxes(const std::wstring& caption) {
    return static_cast<int>(dialogsWithCaption(caption).size());
}
