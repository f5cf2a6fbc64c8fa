// The Windows Runtime interfaces of toast notifications, declared from their documented
// interface identifiers and method order (the toolchain ships no header for the
// Windows.UI.Notifications and Windows.Data.Xml.Dom namespaces). Only the members the
// launcher calls are given real parameter types; the others keep their slot in the
// virtual table so the layout matches the platform's.
#pragma once

#include <windows.h>
#include <eventtoken.h>
#include <inspectable.h>
#include <winstring.h>

// Windows.Data.Xml.Dom.IXmlDocument: passed around, never called into.
struct IXmlDocument : public IInspectable {};

// Windows.Data.Xml.Dom.IXmlDocumentIO
struct IXmlDocumentIO : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE LoadXml(HSTRING xml) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadXmlWithSettings(HSTRING xml, IInspectable* loadSettings) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveToFileAsync(IInspectable* file, IInspectable** asyncInfo) = 0;
};

// Windows.UI.Notifications.IToastNotification
struct IToastNotification : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Content(IXmlDocument** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ExpirationTime(IInspectable* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ExpirationTime(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Dismissed(IUnknown* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Dismissed(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Activated(IUnknown* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Activated(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Failed(IUnknown* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Failed(EventRegistrationToken token) = 0;
};

// Windows.UI.Notifications.IToastNotifier
struct IToastNotifier : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Show(IToastNotification* notification) = 0;
    virtual HRESULT STDMETHODCALLTYPE Hide(IToastNotification* notification) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Setting(INT32* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddToSchedule(IInspectable* scheduledToast) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFromSchedule(IInspectable* scheduledToast) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetScheduledToastNotifications(IInspectable** value) = 0;
};

// Windows.UI.Notifications.IToastNotificationManagerStatics
struct IToastNotificationManagerStatics : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateToastNotifier(IToastNotifier** notifier) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateToastNotifierWithId(HSTRING applicationId,
                                                               IToastNotifier** notifier) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTemplateContent(INT32 templateType, IXmlDocument** content) = 0;
};

// Windows.UI.Notifications.IToastNotificationFactory
struct IToastNotificationFactory : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateToastNotification(IXmlDocument* content,
                                                             IToastNotification** notification) = 0;
};

inline constexpr IID kIidToastNotificationManagerStatics = {
    0x50AC103F, 0xD235, 0x4598, {0xBB, 0xEF, 0x98, 0xFE, 0x4D, 0x1A, 0x3A, 0xD4}};
inline constexpr IID kIidXmlDocument = {
    0xF7F3A506, 0x1E87, 0x42D6, {0xBC, 0xFB, 0xB8, 0xC8, 0x09, 0xFA, 0x54, 0x94}};
inline constexpr IID kIidXmlDocumentIO = {
    0x6CD0E74E, 0xEE65, 0x4489, {0x9E, 0xBF, 0xCA, 0x43, 0xE8, 0x7B, 0xA6, 0x37}};
inline constexpr IID kIidToastNotificationFactory = {
    0x04124B20, 0x82C6, 0x4229, {0xB1, 0x09, 0xFD, 0x9E, 0xD4, 0x66, 0x2B, 0x53}};
inline constexpr IID kIidToastNotifier = {
    0x75927B93, 0x03F3, 0x41EC, {0x91, 0xD3, 0x6E, 0x5B, 0xAC, 0x1B, 0x38, 0xE7}};
inline constexpr IID kIidToastNotification = {
    0x997E2675, 0x059E, 0x4E60, {0x8B, 0x06, 0x17, 0x60, 0x91, 0x7C, 0x8B, 0x80}};

inline constexpr const wchar_t* kToastNotificationManagerClass =
    L"Windows.UI.Notifications.ToastNotificationManager";
inline constexpr const wchar_t* kXmlDocumentClass = L"Windows.Data.Xml.Dom.XmlDocument";
inline constexpr const wchar_t* kToastNotificationClass = L"Windows.UI.Notifications.ToastNotification";
