// Toast delivery through the toast recorder, the test stand-in for the Windows toast
// platform: the document handed over, the identity it is shown under, and every way
// the delivery can fail.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <roapi.h>

#include <thread>

#include "launcher/display_names.h"
#include "notify/identity.h"
#include "notify/toast.h"
#include "import_patch.h"
#include "notify_support.h"
#include "shortcut_support.h"
#include "support/child.h"

namespace {

const std::wstring kIdentityRoot = L"Software\\Classes\\AppUserModelId\\";

std::wstring expectedXml(const std::wstring& titleXml, const std::wstring& messageXml,
                         const std::wstring& srcXml) {
    std::wstring xml = L"<toast><visual><binding template=\"ToastGeneric\"><text>" + titleXml +
                       L"</text><text>" + messageXml + L"</text>";
    if (!srcXml.empty())
        xml += L"<image placement=\"appLogoOverride\" src=\"" + srcXml + L"\" hint-crop=\"circle\"/>";
    return xml + L"</binding></visual></toast>";
}

bool deliverKovaNotice(const std::wstring& title, const std::wstring& message, const std::wstring& logoPath) {
    return deliverToast(title, message, kDefaultDisplayName, logoPath, L"", kDisplayNameKova);
}

using RoInitializeFunction = HRESULT(WINAPI*)(RO_INIT_TYPE);
RoInitializeFunction g_realRoInitialize = nullptr;
HRESULT g_roInitializeResult = S_OK;
int g_roInitializeCalls = 0;

HRESULT WINAPI failingRoInitialize(RO_INIT_TYPE) {
    ++g_roInitializeCalls;
    return E_OUTOFMEMORY;
}

HRESULT WINAPI observedRoInitialize(RO_INIT_TYPE type) {
    ++g_roInitializeCalls;
    g_roInitializeResult = g_realRoInitialize(type);
    return g_roInitializeResult;
}

}  // namespace

// args[0]: "fail" (RoInitialize answers E_OUTOFMEMORY) or "observe" (the real answer).
QUOLVA_CHILD(deliver_with_runtime_entry) {
    void* replacement = reinterpret_cast<void*>(args.at(0) == L"fail" ? failingRoInitialize : observedRoInitialize);
    void* original = nullptr;
    if (!replaceImport("RoInitialize", replacement, &original)) return 100;
    g_realRoInitialize = reinterpret_cast<RoInitializeFunction>(original);
    const bool delivered =
        deliverToast(L"Probe", L"runtime entry", L"Notify Runtime Probe", L"", L"", L"Notify Runtime Probe");
    int code = delivered ? 1 : 0;
    if (g_roInitializeCalls == 1) code |= 2;
    if (g_roInitializeResult == RPC_E_CHANGED_MODE) code |= 4;
    return code;
}

QUOLVA_CHILD(deliver_loading_notice) {
    return deliverKovaNotice(kDisplayNameKova, L"loading", L"resource/game.ico") ? 1 : 0;
}

namespace {

class ToastDeliveryTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(toastRecorderRegistered()) << "register_toast_recorder.exe first";
        CoInitialize(nullptr);
    }
    void TearDown() override {
        removeTree(logoFolder);
        for (const std::wstring& name : {std::wstring(L"Notify Runtime Probe")}) {
            deleteUserKey(kIdentityRoot + name);
            DeleteFileW((programsFolder() + L"\\" + name + L".lnk").c_str());
        }
    }
    std::vector<RecordedToast> toasts() const { return readRecordedToasts(logs / L"toasts.jsonl"); }
    void placeLogo() {
        CreateDirectoryW(logoFolder.c_str(), nullptr);
        ASSERT_TRUE(writeBytes(logoFolder + L"\\game.ico", "icon"));
    }

    ScratchFolder logs;
    ScratchFolder temp;
    ScopedEnvironment logVariable{L"QUOLVA_TOAST_LOG", logs / L"toasts.jsonl"};
    ScopedEnvironment tempVariable{L"TMP", temp.path()};
    const std::wstring logoFolder = launcherDirectory() + L"resource";
};

TEST_F(ToastDeliveryTest, ShowsTheDocumentUnderTheGameIdentityWithTheLogoBesideTheLauncher) {
    placeLogo();
    EXPECT_TRUE(deliverKovaNotice(kDisplayNameKova, L"\u0110ang load", L"resource/game.ico"));
    const std::vector<RecordedToast> shown = toasts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].appId, L"VORNELLAB.KOVA");
    // The recorder reports the process identity where the platform can tell it.
    if (!shown[0].processAppId.empty()) EXPECT_EQ(shown[0].processAppId, L"VORNELLAB.KOVA");
    EXPECT_EQ(shown[0].xml,
              expectedXml(L"Kova Ascendant", L"\u0110ang load", launcherDirectory() + L"resource/game.ico"));
}

TEST_F(ToastDeliveryTest, EscapesTheTextsAndKeepsAnEmptyMessage) {
    EXPECT_TRUE(deliverKovaNotice(L"Kova & <Ascendant>", L"it's \"ready\"", L""));
    EXPECT_TRUE(deliverToast(L"Belu", L"", L"Belu Ascendant", L"", L"", kDisplayNameBelu));
    const std::vector<RecordedToast> shown = toasts();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].xml, expectedXml(L"Kova &amp; &lt;Ascendant&gt;", L"it&apos;s &quot;ready&quot;", L""));
    EXPECT_EQ(shown[1].xml, expectedXml(L"Belu", L"", L""));
    EXPECT_EQ(shown[1].appId, L"VORNELLAB.BELU");
}

TEST_F(ToastDeliveryTest, MissingLogoLeavesTheImageOut) {
    EXPECT_TRUE(deliverKovaNotice(L"t", L"m", L"resource/game.ico"));
    EXPECT_TRUE(deliverKovaNotice(L"t", L"m", L"C:\\nowhere\\game.ico"));
    const std::vector<RecordedToast> shown = toasts();
    ASSERT_EQ(shown.size(), 2u);
    for (const RecordedToast& toast : shown) EXPECT_EQ(toast.xml, expectedXml(L"t", L"m", L""));
}

TEST_F(ToastDeliveryTest, WithoutACatalogueGameTheDisplayNameIsTheIdentity) {
    deleteUserKey(kIdentityRoot + L"VORNEL LAB");
    EXPECT_TRUE(deliverToast(kDefaultDisplayName, L"update failed", L"", L"", L"", kDefaultDisplayName));
    const std::vector<RecordedToast> shown = toasts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].appId, L"VORNEL LAB");
    EXPECT_EQ(readUserValue(kIdentityRoot + L"VORNEL LAB", L"DisplayName").text(), L"VORNEL LAB");
}

TEST_F(ToastDeliveryTest, EveryFailingStepEndsWithFalseAndNothingShown) {
    const wchar_t* steps[] = {L"manager", L"notifier", L"document",     L"xmldocument", L"documentio",
                              L"loadxml", L"toastfactory", L"create", L"show"};
    for (const wchar_t* step : steps) {
        ScopedEnvironment failing(L"QUOLVA_TOAST_RECORDER_FAIL", step);
        deleteUserKey(kIdentityRoot + L"VORNELLAB.KOVA");
        EXPECT_FALSE(deliverKovaNotice(L"t", L"m", L"")) << step;
        // The identity is registered before the first Windows Runtime call.
        EXPECT_TRUE(userKeyExists(kIdentityRoot + L"VORNELLAB.KOVA")) << step;
    }
    EXPECT_TRUE(toasts().empty());
    EXPECT_TRUE(deliverKovaNotice(L"t", L"m", L"")) << "the recorder works once nothing fails";
}

TEST_F(ToastDeliveryTest, ThreadInEitherApartmentDelivers) {
    bool singleThreaded = false;
    HRESULT laterEntry = S_OK;
    std::thread fresh([&] {
        singleThreaded = deliverKovaNotice(L"fresh", L"m", L"");
        // deliverToast left the thread in the single-threaded apartment for good.
        laterEntry = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    });
    fresh.join();
    EXPECT_TRUE(singleThreaded);
    EXPECT_EQ(laterEntry, RPC_E_CHANGED_MODE);

    bool multiThreaded = false;
    std::thread mta([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        multiThreaded = deliverKovaNotice(L"mta", L"m", L"");
        CoUninitialize();
    });
    mta.join();
    EXPECT_TRUE(multiThreaded);
    EXPECT_EQ(toasts().size(), 2u);
}

TEST_F(ToastDeliveryTest, RuntimeEntryInTheWrongApartmentGoesOn) {
    EXPECT_EQ(runChild(L"deliver_with_runtime_entry", {L"observe"}), 1 | 2 | 4);
    EXPECT_EQ(toasts().size(), 1u);
    EXPECT_TRUE(userKeyExists(kIdentityRoot + L"Notify Runtime Probe"));
}

TEST_F(ToastDeliveryTest, RuntimeEntryFailingOtherwiseStopsBeforeAnythingIsRegistered) {
    deleteUserKey(kIdentityRoot + L"Notify Runtime Probe");
    EXPECT_EQ(runChild(L"deliver_with_runtime_entry", {L"fail"}), 2);
    EXPECT_TRUE(toasts().empty());
    EXPECT_FALSE(userKeyExists(kIdentityRoot + L"Notify Runtime Probe"));
    EXPECT_FALSE(pathExists(programsFolder() + L"\\Notify Runtime Probe.lnk"));
    EXPECT_FALSE(pathExists(temp / L"QuolvaToast")) << "no blank icon written";
}

TEST_F(ToastDeliveryTest, LauncherFolderNameIsEscapedInsideTheLogoSource) {
    ScratchFolder games;
    const std::wstring folder = games / L"Kova & Co's";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\resource").c_str(), nullptr));
    ASSERT_TRUE(writeBytes(folder + L"\\resource\\game.ico", "icon"));
    const std::wstring copy = folder + L"\\game.exe";
    ASSERT_TRUE(CopyFileW(modulePathForTest().c_str(), copy.c_str(), FALSE));

    std::wstring commandLine = L"\"" + copy + L"\" --quolva-child=deliver_loading_notice";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
    CloseHandle(info.hThread);
    ChildProcess child;
    child.process = info.hProcess;
    EXPECT_EQ(child.wait(60000), 1);

    const std::vector<RecordedToast> shown = toasts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].xml, expectedXml(L"Kova Ascendant", L"loading",
                                        xmlEscape(folder) + L"\\resource/game.ico"));
    EXPECT_NE(shown[0].xml.find(L"Kova &amp; Co&apos;s\\resource/game.ico"), std::wstring::npos);
}

}  // namespace
