// answer_dialog.exe --caption TEXT | --caption-file UTF8FILE | --caption-utf8-hex HEX
//                   --button yes|no|ok|cancel [--timeout-ms N] [--out FILE] [--screenshot-hint]
// Waits for a top-level dialog whose caption is exactly TEXT, writes {caption, text,
// buttons} as UTF-8 JSON to FILE, then presses the button through window messages, so
// the answer never depends on where the box sits on the screen. --screenshot-hint adds
// the box's screen rectangle to the JSON and waits half a second before pressing, so a
// test that sees FILE appear can photograph the box.
// Exit codes: 0 answered, 1 no such dialog before the timeout, 2 bad arguments,
// 3 the dialog has no such button, 4 the dialog stayed open after the click.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/helper_text.h"

namespace {

// Hex digits of UTF-8 bytes ("4ce1bb97" is "Lỗ"): a caption that no command-line
// conversion can change on its way in.
bool fromUtf8Hex(const std::wstring& hex, std::wstring& text) {
    if (hex.size() % 2 != 0) return false;
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        wchar_t pair[3] = {hex[i], hex[i + 1], 0};
        wchar_t* end = nullptr;
        const unsigned long value = wcstoul(pair, &end, 16);
        if (end != pair + 2) return false;
        bytes += static_cast<char>(value);
    }
    text.clear();
    if (bytes.empty()) return true;
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                         static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) return false;
    text.resize(size);
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
    return true;
}

// Written aside and moved into place: a test polling for the file never reads half of it.
bool writeUtf8File(const std::wstring& path, const std::string& text) {
    const std::wstring staged = path + L".tmp";
    HANDLE f = CreateFileW(staged.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == text.size() &&
           MoveFileExW(staged.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::wstring windowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(length + 1, L'\0');
    text.resize(GetWindowTextW(window, &text[0], length + 1));
    return text;
}

HWND findDialog(const std::wstring& caption) {
    struct Search {
        const std::wstring* caption;
        HWND found;
    } search{&caption, nullptr};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            wchar_t className[16] = {};
            GetClassNameW(window, className, 16);
            if (std::wstring(className) == L"#32770" && IsWindowVisible(window) &&
                windowText(window) == *s->caption) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int buttonId(const std::wstring& name) {
    if (name == L"yes") return IDYES;
    if (name == L"no") return IDNO;
    if (name == L"ok") return IDOK;
    if (name == L"cancel") return IDCANCEL;
    return 0;
}

std::string buttonsJson(HWND dialog) {
    static const struct {
        int id;
        const char* name;
    } known[] = {{IDOK, "ok"}, {IDCANCEL, "cancel"}, {IDABORT, "abort"}, {IDRETRY, "retry"},
                 {IDIGNORE, "ignore"}, {IDYES, "yes"}, {IDNO, "no"}};
    std::string out = "[";
    for (const auto& button : known) {
        HWND window = GetDlgItem(dialog, button.id);
        if (!window || !IsWindowVisible(window)) continue;
        if (out.size() > 1) out += ", ";
        out += std::string("{\"id\": \"") + button.name + "\", \"label\": " + jsonString(windowText(window)) + "}";
    }
    return out + "]";
}

bool waitClosed(HWND dialog, DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (GetTickCount64() < deadline) {
        if (!IsWindow(dialog) || !IsWindowVisible(dialog)) return true;
        Sleep(50);
    }
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring caption, button, out;
    bool haveCaption = false;
    bool screenshotHint = false;
    DWORD timeoutMs = 30000;
    for (int i = 1; i < argc; ++i) {
        const std::wstring name = argv[i];
        if (name == L"--screenshot-hint") {
            screenshotHint = true;
            continue;
        }
        if (i + 1 >= argc) return 2;
        const std::wstring value = argv[++i];
        if (name == L"--caption") {
            caption = value;
            haveCaption = true;
        } else if (name == L"--caption-utf8-hex") {
            if (!fromUtf8Hex(value, caption)) return 2;
            haveCaption = true;
        } else if (name == L"--caption-file") {
            if (!readUtf8File(value, caption)) return 2;
            haveCaption = true;
        } else if (name == L"--button") {
            button = value;
        } else if (name == L"--timeout-ms") {
            timeoutMs = static_cast<DWORD>(_wtoi(value.c_str()));
        } else if (name == L"--out") {
            out = value;
        } else {
            return 2;
        }
    }
    const int id = buttonId(button);
    if (!haveCaption || id == 0) return 2;

    HWND dialog = nullptr;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        dialog = findDialog(caption);
        // The text and buttons are children created with the dialog; wait until the
        // button is there so the read and the click see the finished box.
        if (dialog && GetDlgItem(dialog, id)) break;
        if (dialog && GetTickCount64() >= deadline) break;
        if (!dialog && GetTickCount64() >= deadline) return 1;
        Sleep(50);
    }

    HWND label = GetDlgItem(dialog, 0xFFFF);
    std::string json = "{\"caption\": " + jsonString(windowText(dialog)) +
                       ", \"text\": " + jsonString(label ? windowText(label) : std::wstring()) +
                       ", \"buttons\": " + buttonsJson(dialog);
    if (screenshotHint) {
        RECT rect = {};
        GetWindowRect(dialog, &rect);
        json += ", \"rect\": [" + std::to_string(rect.left) + ", " + std::to_string(rect.top) + ", " +
                std::to_string(rect.right) + ", " + std::to_string(rect.bottom) + "]";
    }
    json += "}\n";
    if (!out.empty() && !writeUtf8File(out, json)) return 2;
    if (screenshotHint) Sleep(500);

    HWND target = GetDlgItem(dialog, id);
    if (!target) return 3;
    SendMessageW(target, BM_CLICK, 0, 0);
    if (waitClosed(dialog, 2000)) {
        fwprintf(stderr, L"answer_dialog: answered by BM_CLICK\n");
        return 0;
    }
    // BM_CLICK is ignored while the box is not yet the active window; the dialog's own
    // command message answers it regardless.
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(target));
    const bool closed = waitClosed(dialog, 3000);
    fwprintf(stderr, closed ? L"answer_dialog: answered by WM_COMMAND\n" : L"answer_dialog: the dialog stayed open\n");
    return closed ? 0 : 4;
}
