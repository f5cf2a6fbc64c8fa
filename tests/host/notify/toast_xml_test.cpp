#include <gtest/gtest.h>

#include "notify/toast.h"

namespace {

TEST(XmlEscape, ReplacesExactlyTheFiveMarkupCharacters) {
    const struct {
        std::wstring in;
        std::wstring out;
    } cases[] = {
        {L"", L""},
        {L"Kova & <Ascendant>", L"Kova &amp; &lt;Ascendant&gt;"},
        {L"it's \"ready\"", L"it&apos;s &quot;ready&quot;"},
        {L"&amp;", L"&amp;amp;"},
        {L"\u0110ang load d\u1EEF li\u1EC7u", L"\u0110ang load d\u1EEF li\u1EC7u"},
        {std::wstring(L"a\0b\tc\n", 6), std::wstring(L"a\0b\tc\n", 6)},
        {L"\xD83D\xDE00 & \xDC00", L"\xD83D\xDE00 &amp; \xDC00"},  // surrogates as they are
        {L"C:\\Kova & Co's\\resource/game.ico", L"C:\\Kova &amp; Co&apos;s\\resource/game.ico"},
    };
    for (const auto& c : cases) EXPECT_EQ(xmlEscape(c.in), c.out);
}

TEST(ToastXml, TwoTextsAndTheOptionalLogo) {
    EXPECT_EQ(buildToastXml(L"Kova Ascendant", L"Loading", L""),
              L"<toast><visual><binding template=\"ToastGeneric\"><text>Kova Ascendant</text>"
              L"<text>Loading</text></binding></visual></toast>");
    EXPECT_EQ(buildToastXml(L"A & B", L"", L""),
              L"<toast><visual><binding template=\"ToastGeneric\"><text>A &amp; B</text>"
              L"<text></text></binding></visual></toast>");
    EXPECT_EQ(buildToastXml(L"<t>", L"'m'", L"C:\\Games\\Kova\\resource/game.ico"),
              L"<toast><visual><binding template=\"ToastGeneric\"><text>&lt;t&gt;</text>"
              L"<text>&apos;m&apos;</text><image placement=\"appLogoOverride\" "
              L"src=\"C:\\Games\\Kova\\resource/game.ico\" hint-crop=\"circle\"/>"
              L"</binding></visual></toast>");
    EXPECT_EQ(buildToastXml(L"t", L"m", L"\\\\srv\\R&D \"x\"\\game.ico"),
              L"<toast><visual><binding template=\"ToastGeneric\"><text>t</text><text>m</text>"
              L"<image placement=\"appLogoOverride\" src=\"\\\\srv\\R&amp;D &quot;x&quot;\\game.ico\" "
              L"hint-crop=\"circle\"/></binding></visual></toast>");
}

TEST(RuntimeEntry, SuccessOrTheOtherApartmentLetsDeliveryGoOn) {
    const struct {
        std::uint32_t hresult;
        bool goesOn;
    } cases[] = {
        {0x00000000u, true},   // S_OK
        {0x00000001u, true},   // S_FALSE: already initialised
        {0x80010106u, true},   // RPC_E_CHANGED_MODE
        {0x8007000Eu, false},  // E_OUTOFMEMORY
        {0x80070057u, false},  // E_INVALIDARG
        {0x80004005u, false},  // E_FAIL
        {0x800401F0u, false},  // CO_E_NOTINITIALIZED
    };
    for (const auto& c : cases)
        EXPECT_EQ(runtimeEntryLetsDeliveryGoOn(static_cast<std::int32_t>(c.hresult)), c.goesOn) << std::hex << c.hresult;
}

}  // namespace
