// show_message_box.exe --caption-file F --text-file F [--flags N]
//                      (or --caption TEXT / --text TEXT)
// Shows MessageBoxW(nullptr, text, caption, flags) and exits with its answer (IDOK 1,
// IDYES 6, IDNO 7, ...; 0 when the box could not be shown, 2 on bad arguments). The
// files are UTF-8, taken byte for byte apart from a leading BOM.
#include <windows.h>

#include <string>

#include "tests/support/helper_text.h"

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
