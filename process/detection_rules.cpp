#include "process/detection_rules.h"

#include "common/text.h"

namespace {

wchar_t lowerAsciiWide(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool equalsIgnoringAsciiCase(const std::wstring& text, const wchar_t* lowerLiteral) {
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        if (lowerLiteral[i] == L'\0' || lowerAsciiWide(text[i]) != lowerLiteral[i]) return false;
    }
    return lowerLiteral[i] == L'\0';
}

}  // namespace

bool isJavaProcessName(const std::wstring& exeName) {
    return equalsIgnoringAsciiCase(exeName, L"java.exe") ||
           equalsIgnoringAsciiCase(exeName, L"javaw.exe");
}

bool isSystemProcessId(std::uint32_t processId) {
    return processId == 0 || processId == 4;
}

bool isReadableCommandLine(std::uint16_t lengthBytes, std::uint64_t bufferAddress) {
    return lengthBytes != 0 && bufferAddress != 0 && lengthBytes < 0x8000;
}

bool commandLineHasKey(const std::string& commandLineUtf8, const std::string& lowerKey) {
    return toLowerAscii(commandLineUtf8).find(lowerKey) != std::string::npos;
}

std::wstring fileNameOfPath(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

bool isRunningCopy(const std::wstring& imagePath, const std::string& commandLineUtf8,
                   const std::string& key) {
    const std::string lowerKey = toLowerAscii(key);
    return !lowerKey.empty() && isJavaProcessName(fileNameOfPath(imagePath)) &&
           commandLineHasKey(commandLineUtf8, lowerKey);
}
