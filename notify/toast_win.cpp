#include <windows.h>
#include <objbase.h>
#include <roapi.h>
#include <winstring.h>

#include <cwchar>

#include "common/handles.h"
#include "launcher/display_names.h"
#include "notify/identity.h"
#include "notify/toast.h"
#include "notify/winrt_toast.h"

namespace {

// A Windows Runtime string over the caller's own zero-terminated buffer; nothing is
// copied, so the buffer must outlive every call the reference is passed to.
bool stringReference(const wchar_t* text, HSTRING_HEADER& header, HSTRING& value) {
    value = nullptr;
    return SUCCEEDED(WindowsCreateStringReference(text, static_cast<UINT32>(std::wcslen(text)),
                                                  &header, &value));
}

std::wstring existingOrEmpty(const std::wstring& path) {
    if (path.empty() || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return std::wstring();
    return path;
}

}  // namespace

bool deliverToast(const std::wstring& title, const std::wstring& message,
                  const std::wstring& appName, const std::wstring& logoPath,
                  const std::wstring& iconPath, const std::wstring& gameName) {
    CoInitialize(nullptr);
    // After CoInitialize the thread is in the single-threaded apartment, so entering
    // the multithreaded one answers RPC_E_CHANGED_MODE: the runtime is usable anyway.
    if (!runtimeEntryLetsDeliveryGoOn(RoInitialize(RO_INIT_MULTITHREADED))) return false;

    const std::wstring logo = existingOrEmpty(resolveBesideLauncher(logoPath));
    const std::wstring icon = existingOrEmpty(resolveBesideLauncher(iconPath));
    const std::wstring identityIcon = chooseIdentityIcon(icon);
    const std::wstring appId = chooseAppUserModelId(appName, gameName);
    const std::wstring displayName = appName.empty() ? std::wstring(kDefaultDisplayName) : appName;
    registerAppIdentity(appId, displayName, gameName, identityIcon);

    HSTRING_HEADER managerHeader;
    HSTRING managerClass;
    if (!stringReference(kToastNotificationManagerClass, managerHeader, managerClass)) return false;
    ComPtr<IToastNotificationManagerStatics> manager;
    if (FAILED(RoGetActivationFactory(managerClass, kIidToastNotificationManagerStatics,
                                      manager.receiveVoid())))
        return false;

    HSTRING_HEADER appIdHeader;
    HSTRING appIdString;
    if (!stringReference(appId.c_str(), appIdHeader, appIdString)) return false;
    ComPtr<IToastNotifier> notifier;
    if (FAILED(manager->CreateToastNotifierWithId(appIdString, notifier.receive()))) return false;

    HSTRING_HEADER documentHeader;
    HSTRING documentClass;
    if (!stringReference(kXmlDocumentClass, documentHeader, documentClass)) return false;
    ComPtr<IInspectable> documentObject;
    if (FAILED(RoActivateInstance(documentClass, documentObject.receive()))) return false;
    ComPtr<IXmlDocument> document;
    if (FAILED(documentObject.queryInterface(kIidXmlDocument, document))) return false;
    ComPtr<IXmlDocumentIO> documentIO;
    if (FAILED(document.queryInterface(kIidXmlDocumentIO, documentIO))) return false;

    // The logo is looked for again: it may have gone while the identity was written.
    const std::wstring xml = buildToastXml(title, message, existingOrEmpty(logo));
    HSTRING_HEADER xmlHeader;
    HSTRING xmlString;
    if (!stringReference(xml.c_str(), xmlHeader, xmlString)) return false;
    if (FAILED(documentIO->LoadXml(xmlString))) return false;

    HSTRING_HEADER toastHeader;
    HSTRING toastClass;
    if (!stringReference(kToastNotificationClass, toastHeader, toastClass)) return false;
    ComPtr<IToastNotificationFactory> factory;
    if (FAILED(RoGetActivationFactory(toastClass, kIidToastNotificationFactory, factory.receiveVoid())))
        return false;
    ComPtr<IToastNotification> toast;
    if (FAILED(factory->CreateToastNotification(document.get(), toast.receive()))) return false;

    return SUCCEEDED(notifier->Show(toast.get()));
}
