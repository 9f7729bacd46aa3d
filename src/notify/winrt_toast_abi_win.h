#pragma once
// The few WinRT interfaces the toast path calls, declared from their public
// ABI definitions because mingw-w64 ships no headers for the XML DOM and
// notification namespaces. Vtables list every method in metadata order, so
// the slots we call sit where the system expects them; types we never touch
// are passed as opaque pointers. Only toast_win.cpp includes this.

#include <windows.h>
// After windows.h, which they rely on.
#include <hstring.h>
#include <inspectable.h>

namespace tarnwick::winrt_abi {

// Windows.Data.Xml.Dom.IXmlDocument: only passed on, never called.
inline constexpr IID kIidXmlDocument = {
    0xf7f3a506, 0x1e87, 0x42d6, {0xbc, 0xfb, 0xb8, 0xc8, 0x09, 0xfa, 0x54, 0x94}};
struct IXmlDocument : IInspectable {};

// Windows.Data.Xml.Dom.IXmlDocumentIO
inline constexpr IID kIidXmlDocumentIO = {
    0x6cd0e74e, 0xee65, 0x4489, {0x9e, 0xbf, 0xca, 0x43, 0xe8, 0x7b, 0xa6, 0x37}};
struct IXmlDocumentIO : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE LoadXml(HSTRING xml) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadXmlWithSettings(HSTRING xml, void* load_settings) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveToFileAsync(void* file, void** async_info) = 0;
};

// Windows.UI.Notifications.IToastNotification: only passed on, never called.
struct IToastNotification : IInspectable {};

// Windows.UI.Notifications.IToastNotificationFactory
inline constexpr IID kIidToastNotificationFactory = {
    0x04124b20, 0x82c6, 0x4229, {0xb1, 0x09, 0xfd, 0x9e, 0xd4, 0x66, 0x2b, 0x53}};
struct IToastNotificationFactory : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreateToastNotification(IXmlDocument* content,
                                                            IToastNotification** value) = 0;
};

// Windows.UI.Notifications.IToastNotifier
struct IToastNotifier : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE Show(IToastNotification* notification) = 0;
  virtual HRESULT STDMETHODCALLTYPE Hide(IToastNotification* notification) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Setting(int* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddToSchedule(void* scheduled) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveFromSchedule(void* scheduled) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetScheduledToastNotifications(void** value) = 0;
};

// Windows.UI.Notifications.IToastNotificationManagerStatics
inline constexpr IID kIidToastNotificationManagerStatics = {
    0x50ac103f, 0xd235, 0x4598, {0xbb, 0xef, 0x98, 0xfe, 0x4d, 0x1a, 0x3a, 0xd4}};
struct IToastNotificationManagerStatics : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreateToastNotifier(IToastNotifier** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateToastNotifierWithId(HSTRING application_id,
                                                              IToastNotifier** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTemplateContent(int type, IXmlDocument** value) = 0;
};

inline constexpr wchar_t kXmlDocumentClass[] = L"Windows.Data.Xml.Dom.XmlDocument";
inline constexpr wchar_t kToastNotificationClass[] = L"Windows.UI.Notifications.ToastNotification";
inline constexpr wchar_t kToastNotificationManagerClass[] =
    L"Windows.UI.Notifications.ToastNotificationManager";

}  // namespace tarnwick::winrt_abi
