#include "notify/toast.h"

namespace {

// RPC_E_CHANGED_MODE, spelled out so this file needs no platform header.
const std::int32_t kChangedMode = static_cast<std::int32_t>(0x80010106u);

}  // namespace

std::wstring xmlEscape(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
            case L'&': out += L"&amp;"; break;
            case L'<': out += L"&lt;"; break;
            case L'>': out += L"&gt;"; break;
            case L'"': out += L"&quot;"; break;
            case L'\'': out += L"&apos;"; break;
            default: out += c; break;
        }
    }
    return out;
}

std::wstring buildToastXml(const std::wstring& title, const std::wstring& message,
                           const std::wstring& logo) {
    std::wstring xml = L"<toast><visual><binding template=\"ToastGeneric\"><text>";
    xml += xmlEscape(title);
    xml += L"</text><text>";
    xml += xmlEscape(message);
    xml += L"</text>";
    if (!logo.empty()) {
        xml += L"<image placement=\"appLogoOverride\" src=\"";
        xml += xmlEscape(logo);
        xml += L"\" hint-crop=\"circle\"/>";
    }
    xml += L"</binding></visual></toast>";
    return xml;
}

bool runtimeEntryLetsDeliveryGoOn(std::int32_t hresult) {
    return hresult >= 0 || hresult == kChangedMode;
}
