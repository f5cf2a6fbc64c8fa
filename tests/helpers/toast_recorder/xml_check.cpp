#include "xml_check.h"

#include <vector>

namespace {

bool isNameChar(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           c == L'-' || c == L'_' || c == L':' || c == L'.';
}

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// At an '&': one of the five named entities or a character reference.
bool skipReference(const std::wstring& xml, std::size_t& i) {
    const std::size_t end = xml.find(L';', i);
    if (end == std::wstring::npos) return false;
    const std::wstring name = xml.substr(i + 1, end - i - 1);
    const bool named = name == L"amp" || name == L"lt" || name == L"gt" || name == L"quot" ||
                       name == L"apos";
    bool numeric = name.size() > 1 && name[0] == L'#';
    for (std::size_t k = 1; numeric && k < name.size(); ++k)
        numeric = (name[k] >= L'0' && name[k] <= L'9') || (k == 1 && name[k] == L'x');
    if (!named && !numeric) return false;
    i = end + 1;
    return true;
}

bool readName(const std::wstring& xml, std::size_t& i, std::wstring& name) {
    const std::size_t start = i;
    while (i < xml.size() && isNameChar(xml[i])) ++i;
    name = xml.substr(start, i - start);
    return !name.empty();
}

// After the element name: attributes, then '>' or "/>".
bool readAttributes(const std::wstring& xml, std::size_t& i, bool& selfClosing) {
    for (;;) {
        while (i < xml.size() && isBlank(xml[i])) ++i;
        if (i >= xml.size()) return false;
        if (xml[i] == L'>') {
            ++i;
            selfClosing = false;
            return true;
        }
        if (xml[i] == L'/') {
            if (i + 1 >= xml.size() || xml[i + 1] != L'>') return false;
            i += 2;
            selfClosing = true;
            return true;
        }
        std::wstring attribute;
        if (!readName(xml, i, attribute)) return false;
        if (i + 1 >= xml.size() || xml[i] != L'=' || (xml[i + 1] != L'"' && xml[i + 1] != L'\''))
            return false;
        const wchar_t quote = xml[i + 1];
        i += 2;
        while (i < xml.size() && xml[i] != quote) {
            if (xml[i] == L'<') return false;
            if (xml[i] == L'&') {
                if (!skipReference(xml, i)) return false;
            } else {
                ++i;
            }
        }
        if (i >= xml.size()) return false;
        ++i;
    }
}

}  // namespace

bool isWellFormedXml(const std::wstring& xml) {
    std::vector<std::wstring> open;
    bool sawRoot = false;
    std::size_t i = 0;
    while (i < xml.size()) {
        const wchar_t c = xml[i];
        if (c == L'&') {
            if (open.empty() || !skipReference(xml, i)) return false;
            continue;
        }
        if (c == L'>') return false;
        if (c != L'<') {
            if (open.empty() && !isBlank(c)) return false;
            ++i;
            continue;
        }
        ++i;
        std::wstring name;
        if (i < xml.size() && xml[i] == L'/') {
            ++i;
            if (!readName(xml, i, name) || i >= xml.size() || xml[i] != L'>') return false;
            if (open.empty() || open.back() != name) return false;
            open.pop_back();
            ++i;
            continue;
        }
        if (!readName(xml, i, name)) return false;
        if (open.empty() && sawRoot) return false;
        sawRoot = true;
        bool selfClosing = false;
        if (!readAttributes(xml, i, selfClosing)) return false;
        if (!selfClosing) open.push_back(name);
    }
    return sawRoot && open.empty();
}
