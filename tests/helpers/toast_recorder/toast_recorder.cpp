// Test stand-in for the toast classes of the Windows Runtime, which Wine lacks. The
// Windows Runtime of a test prefix loads this DLL for the three activatable classes
// the launcher uses (see tests/support/README_notify.md for the registration). Every
// toast shown is appended as one JSON line (UTF-8) to the file named by
// QUOLVA_TOAST_LOG, by default %TEMP%\quolva_toasts.jsonl:
//   {"appId":"...","xml":"...","processAppId":"...","pid":1234}
// Test controls, read at every call:
//   QUOLVA_TOAST_RECORDER_FAIL: comma-separated steps that fail: manager, notifier,
//     document, xmldocument, documentio, loadxml, toastfactory, create, show
//   QUOLVA_TOAST_RECORDER_SHOW_DELAY_MS: time Show takes before it records.
#include <windows.h>
#include <activation.h>
#include <shobjidl.h>
#include <winstring.h>

#include <atomic>
#include <string>

#include "notify/winrt_toast.h"
#include "xml_check.h"

#include "tests/support/helper_text.h"

namespace {

// Lets the recorder's own objects be recognised when the launcher hands them back.
const IID kIidRecorderObject = {0x3B0F6C52, 0x7A41, 0x4E0B, {0x9D, 0x21, 0x5C, 0x8E, 0x17, 0x42, 0xA6, 0x90}};

// Documented identifiers of the two base interfaces (the import libraries lack them).
const IID kIidInspectable = {0xAF86E2E0, 0xB12D, 0x4C6A, {0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90}};
const IID kIidActivationFactory = {0x00000035, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

std::atomic<long> g_liveObjects{0};

std::wstring environmentValue(const wchar_t* name) {
    wchar_t buffer[4096] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
    if (length == 0 || length >= 4096) return std::wstring();
    return buffer;
}

bool stepFails(const wchar_t* step) {
    const std::wstring list = L"," + environmentValue(L"QUOLVA_TOAST_RECORDER_FAIL") + L",";
    return list.find(L"," + std::wstring(step) + L",") != std::wstring::npos;
}

std::wstring fromHString(HSTRING value) {
    UINT32 length = 0;
    const wchar_t* text = WindowsGetStringRawBuffer(value, &length);
    return text ? std::wstring(text, length) : std::wstring();
}

std::wstring logPath() {
    std::wstring path = environmentValue(L"QUOLVA_TOAST_LOG");
    if (!path.empty()) return path;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"quolva_toasts.jsonl";
}

std::wstring processAppId() {
    PWSTR id = nullptr;
    if (FAILED(GetCurrentProcessExplicitAppUserModelID(&id)) || !id) return std::wstring();
    std::wstring out = id;
    CoTaskMemFree(id);
    return out;
}

HRESULT appendRecord(const std::wstring& appId, const std::wstring& xml) {
    const std::string line = "{\"appId\":" + jsonString(appId) + ",\"xml\":" + jsonString(xml) +
                             ",\"processAppId\":" + jsonString(processAppId()) +
                             ",\"pid\":" + std::to_string(GetCurrentProcessId()) + "}\n";
    HANDLE file = CreateFileW(logPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    DWORD written = 0;
    const BOOL ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == line.size() ? S_OK : E_FAIL;
}

// Reference counting and the IInspectable members shared by every recorder object.
// Interfaces lists the platform interfaces the object answers for; the first one also
// stands for IUnknown and IInspectable.
template <typename Derived, typename First, typename... Others>
class RuntimeObject : public First, public Others... {
public:
    RuntimeObject() { ++g_liveObjects; }
    virtual ~RuntimeObject() { --g_liveObjects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == kIidInspectable) {
            *out = static_cast<First*>(this);
        } else if (iid == kIidRecorderObject) {
            *out = static_cast<Derived*>(this);
        } else {
            *out = static_cast<Derived*>(this)->findInterface(iid);
        }
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --references_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {
        if (!count || !iids) return E_POINTER;
        *count = 0;
        *iids = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override {
        const wchar_t* className = static_cast<Derived*>(this)->className();
        return WindowsCreateString(className, static_cast<UINT32>(wcslen(className)), name);
    }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {
        if (!level) return E_POINTER;
        *level = BaseTrust;
        return S_OK;
    }

private:
    std::atomic<long> references_{1};
};

template <typename T>
T* recorderObject(IUnknown* object) {
    void* found = nullptr;
    if (!object || FAILED(object->QueryInterface(kIidRecorderObject, &found))) return nullptr;
    return static_cast<T*>(found);  // holds a reference the caller releases
}

class XmlDocument final : public RuntimeObject<XmlDocument, IXmlDocument, IXmlDocumentIO> {
public:
    void* findInterface(REFIID iid) {
        if (iid == kIidXmlDocument) return stepFails(L"xmldocument") ? nullptr : static_cast<IXmlDocument*>(this);
        if (iid == kIidXmlDocumentIO) return stepFails(L"documentio") ? nullptr : static_cast<IXmlDocumentIO*>(this);
        return nullptr;
    }
    const wchar_t* className() const { return kXmlDocumentClass; }

    HRESULT STDMETHODCALLTYPE LoadXml(HSTRING xml) override {
        if (stepFails(L"loadxml")) return E_FAIL;
        const std::wstring text = fromHString(xml);
        if (!isWellFormedXml(text)) return E_INVALIDARG;
        xml_ = text;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LoadXmlWithSettings(HSTRING, IInspectable*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SaveToFileAsync(IInspectable*, IInspectable**) override { return E_NOTIMPL; }

    const std::wstring& xml() const { return xml_; }

private:
    std::wstring xml_;
};

class ToastNotification final : public RuntimeObject<ToastNotification, IToastNotification> {
public:
    explicit ToastNotification(XmlDocument* document) : document_(document) { document_->AddRef(); }
    ~ToastNotification() override { document_->Release(); }

    void* findInterface(REFIID iid) {
        return iid == kIidToastNotification ? static_cast<IToastNotification*>(this) : nullptr;
    }
    const wchar_t* className() const { return kToastNotificationClass; }

    HRESULT STDMETHODCALLTYPE get_Content(IXmlDocument** value) override {
        if (!value) return E_POINTER;
        document_->AddRef();
        *value = static_cast<IXmlDocument*>(document_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_ExpirationTime(IInspectable*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ExpirationTime(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_Dismissed(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE remove_Dismissed(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_Activated(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE remove_Activated(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_Failed(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE remove_Failed(EventRegistrationToken) override { return E_NOTIMPL; }

    const std::wstring& xml() const { return document_->xml(); }

private:
    XmlDocument* document_;
};

class ToastNotifier final : public RuntimeObject<ToastNotifier, IToastNotifier> {
public:
    explicit ToastNotifier(std::wstring appId) : appId_(std::move(appId)) {}

    void* findInterface(REFIID iid) {
        return iid == kIidToastNotifier ? static_cast<IToastNotifier*>(this) : nullptr;
    }
    const wchar_t* className() const { return L"Windows.UI.Notifications.ToastNotifier"; }

    HRESULT STDMETHODCALLTYPE Show(IToastNotification* notification) override {
        ToastNotification* toast = recorderObject<ToastNotification>(notification);
        if (!toast) return E_INVALIDARG;
        const std::wstring delay = environmentValue(L"QUOLVA_TOAST_RECORDER_SHOW_DELAY_MS");
        if (!delay.empty()) Sleep(static_cast<DWORD>(_wtoi(delay.c_str())));
        HRESULT result = stepFails(L"show") ? E_FAIL : appendRecord(appId_, toast->xml());
        toast->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE Hide(IToastNotification*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Setting(INT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddToSchedule(IInspectable*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveFromSchedule(IInspectable*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetScheduledToastNotifications(IInspectable**) override { return E_NOTIMPL; }

private:
    std::wstring appId_;
};

class ToastNotificationManager final
    : public RuntimeObject<ToastNotificationManager, IActivationFactory, IToastNotificationManagerStatics> {
public:
    void* findInterface(REFIID iid) {
        if (iid == kIidActivationFactory) return static_cast<IActivationFactory*>(this);
        if (iid == kIidToastNotificationManagerStatics)
            return static_cast<IToastNotificationManagerStatics*>(this);
        return nullptr;
    }
    const wchar_t* className() const { return kToastNotificationManagerClass; }

    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateToastNotifier(IToastNotifier**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateToastNotifierWithId(HSTRING applicationId,
                                                       IToastNotifier** notifier) override {
        if (!notifier) return E_POINTER;
        *notifier = nullptr;
        if (stepFails(L"notifier")) return E_FAIL;
        *notifier = new ToastNotifier(fromHString(applicationId));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTemplateContent(INT32, IXmlDocument**) override { return E_NOTIMPL; }
};

class XmlDocumentFactory final : public RuntimeObject<XmlDocumentFactory, IActivationFactory> {
public:
    void* findInterface(REFIID iid) {
        return iid == kIidActivationFactory ? static_cast<IActivationFactory*>(this) : nullptr;
    }
    const wchar_t* className() const { return kXmlDocumentClass; }

    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
        if (!instance) return E_POINTER;
        *instance = nullptr;
        if (stepFails(L"document")) return E_FAIL;
        *instance = static_cast<IXmlDocument*>(new XmlDocument());
        return S_OK;
    }
};

class ToastNotificationFactory final
    : public RuntimeObject<ToastNotificationFactory, IActivationFactory, IToastNotificationFactory> {
public:
    void* findInterface(REFIID iid) {
        if (iid == kIidActivationFactory) return static_cast<IActivationFactory*>(this);
        if (iid == kIidToastNotificationFactory) return static_cast<IToastNotificationFactory*>(this);
        return nullptr;
    }
    const wchar_t* className() const { return kToastNotificationClass; }

    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateToastNotification(IXmlDocument* content,
                                                     IToastNotification** notification) override {
        if (!notification) return E_POINTER;
        *notification = nullptr;
        if (stepFails(L"create")) return E_FAIL;
        XmlDocument* document = recorderObject<XmlDocument>(content);
        if (!document) return E_INVALIDARG;
        *notification = new ToastNotification(document);
        document->Release();
        return S_OK;
    }
};

}  // namespace

extern "C" HRESULT WINAPI DllGetActivationFactory(HSTRING classId, IActivationFactory** factory) {
    if (!factory) return E_POINTER;
    *factory = nullptr;
    const std::wstring name = fromHString(classId);
    if (name == kToastNotificationManagerClass) {
        if (stepFails(L"manager")) return E_FAIL;
        *factory = new ToastNotificationManager();
    } else if (name == kXmlDocumentClass) {
        *factory = new XmlDocumentFactory();
    } else if (name == kToastNotificationClass) {
        if (stepFails(L"toastfactory")) return E_FAIL;
        *factory = new ToastNotificationFactory();
    } else {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return S_OK;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_liveObjects == 0 ? S_OK : S_FALSE; }
