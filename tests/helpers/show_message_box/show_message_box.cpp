// show_message_box.exe --caption-file F --text-file F [--flags N]
//                      (or --caption TEXT / --text TEXT)
// Shows MessageBoxW(nullptr, text, caption, flags) and exits with its answer (IDOK 1,
// IDYES 6, IDNO 7, ...; 0 when the box could not be shown, 2 on bad arguments). The
// files are UTF-8, taken byte for byte apart from a leading BOM.
#include <windows.h>

#include <string>

namespace {

bool readUtf8File(const std::wstring& path, std::wstring& text) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    std::string bytes(GetFileSize(f, nullptr), '\0');
    DWORD read = 0;
    const BOOL ok = bytes.empty() || ReadFile(f, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(f);
    if (!ok) return false;
    bytes.resize(read);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    text.clear();
    if (bytes.empty()) return true;
    const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    text.resize(size);
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring caption, text;
    UINT flags = MB_OK;
    if (argc % 2 == 0) return 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring name = argv[i], value = argv[i + 1];
        if (name == L"--caption-file") {
            if (!readUtf8File(value, caption)) return 2;
        } else if (name == L"--text-file") {
            if (!readUtf8File(value, text)) return 2;
        } else if (name == L"--caption") {
            caption = value;
        } else if (name == L"--text") {
            text = value;
        } else if (name == L"--flags") {
            flags = static_cast<UINT>(wcstoul(value.c_str(), nullptr, 0));
        } else {
            return 2;
        }
    }
    return MessageBoxW(nullptr, text.c_str(), caption.c_str(), flags);
}
