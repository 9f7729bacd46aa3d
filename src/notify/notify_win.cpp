#include "notify/notify_win.h"

#include <windows.h>
// After windows.h, which they rely on.
#include <roapi.h>
#include <winstring.h>

#include "notify/winrt_toast_abi_win.h"
#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

namespace {

template <typename T>
struct ComTraits {
  using Value = T*;
  static Value invalid() { return nullptr; }
  static bool is_valid(Value v) { return v != nullptr; }
  static void close(Value v) { v->Release(); }
};
template <typename T>
using ComPtr = win::UniqueHandle<ComTraits<T>>;

struct HStringTraits {
  using Value = HSTRING;
  static Value invalid() { return nullptr; }
  static bool is_valid(Value v) { return v != nullptr; }
  static void close(Value v) { WindowsDeleteString(v); }
};
using HString = win::UniqueHandle<HStringTraits>;

// An empty text is the null HSTRING, which is valid; only a failed creation
// reports false.
bool make_hstring(std::wstring_view text, HString& out) {
  HSTRING raw = nullptr;
  if (FAILED(WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), &raw))) {
    return false;
  }
  out.reset(raw);
  return true;
}

template <typename T>
bool query(IInspectable* object, const IID& iid, ComPtr<T>& out) {
  void* raw = nullptr;
  if (FAILED(object->QueryInterface(iid, &raw))) return false;
  out.reset(static_cast<T*>(raw));
  return true;
}

template <typename T>
bool activation_factory(const wchar_t* class_name, const IID& iid, ComPtr<T>& out) {
  HString name;
  if (!make_hstring(class_name, name)) return false;
  void* raw = nullptr;
  if (FAILED(RoGetActivationFactory(name.get(), iid, &raw))) return false;
  out.reset(static_cast<T*>(raw));
  return true;
}

// Joins the multithreaded apartment for one call. A thread that already has
// a single-threaded apartment gets RPC_E_CHANGED_MODE and keeps using it;
// only a successful initialisation (S_OK or S_FALSE) is balanced.
class Apartment {
 public:
  Apartment() : hr_(RoInitialize(RO_INIT_MULTITHREADED)) {}
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  ~Apartment() {
    if (SUCCEEDED(hr_)) RoUninitialize();
  }
  bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

}  // namespace

bool WindowsToastPresenter::show(std::string_view app_id, std::string_view xml) {
  using namespace winrt_abi;
  // Declared first so that every object below is released before it ends.
  const Apartment apartment;
  if (!apartment.usable()) return false;

  HString document_class;
  if (!make_hstring(kXmlDocumentClass, document_class)) return false;
  ComPtr<IInspectable> document;
  {
    IInspectable* raw = nullptr;
    if (FAILED(RoActivateInstance(document_class.get(), &raw))) return false;
    document.reset(raw);
  }
  ComPtr<IXmlDocumentIO> loader;
  HString text;
  if (!query(document.get(), kIidXmlDocumentIO, loader) || !make_hstring(win::widen(xml), text) ||
      FAILED(loader.get()->LoadXml(text.get()))) {
    return false;
  }
  ComPtr<IXmlDocument> content;
  if (!query(document.get(), kIidXmlDocument, content)) return false;

  ComPtr<IToastNotificationFactory> factory;
  if (!activation_factory(kToastNotificationClass, kIidToastNotificationFactory, factory)) {
    return false;
  }
  ComPtr<IToastNotification> toast;
  {
    IToastNotification* raw = nullptr;
    if (FAILED(factory.get()->CreateToastNotification(content.get(), &raw))) return false;
    toast.reset(raw);
  }

  ComPtr<IToastNotificationManagerStatics> manager;
  if (!activation_factory(kToastNotificationManagerClass, kIidToastNotificationManagerStatics,
                          manager)) {
    return false;
  }
  HString sender;
  ComPtr<IToastNotifier> notifier;
  if (!make_hstring(win::widen(app_id), sender)) return false;
  {
    IToastNotifier* raw = nullptr;
    if (FAILED(manager.get()->CreateToastNotifierWithId(sender.get(), &raw))) return false;
    notifier.reset(raw);
  }
  return SUCCEEDED(notifier.get()->Show(toast.get()));
}

std::string system_curl_path() {
  wchar_t folder[MAX_PATH + 1] = {};
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n > MAX_PATH) return {};
  return win::narrow(std::wstring(folder, n) + L"\\curl.exe");
}

bool WindowsProcessLauncher::launch_detached(std::string_view command_line) {
  // The child's output is thrown away; the handle must be inheritable for
  // the child to receive it through STARTF_USESTDHANDLES.
  SECURITY_ATTRIBUTES inheritable{};
  inheritable.nLength = sizeof inheritable;
  inheritable.bInheritHandle = TRUE;
  const win::FileHandle null_device(CreateFileW(L"NUL", GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                                OPEN_EXISTING, 0, nullptr));

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = null_device.get();
  startup.hStdError = null_device.get();

  // CreateProcessW may write into the command line, so it gets its own copy.
  std::wstring line = win::widen(command_line);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return false;
  }
  // Never waited for: the handles go at once and the child runs on its own.
  win::KernelHandle process(info.hProcess);
  win::KernelHandle thread(info.hThread);
  return true;
}

uint32_t WindowsSystemVersion::major_version() const {
  // GetVersionEx lies to programs without a compatibility manifest;
  // RtlGetNtVersionNumbers gives the real numbers.
  using GetNumbers = void(WINAPI*)(DWORD*, DWORD*, DWORD*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const FARPROC proc = ntdll ? GetProcAddress(ntdll, "RtlGetNtVersionNumbers") : nullptr;
  if (proc == nullptr) return 10;
  DWORD major = 0;
  DWORD minor = 0;
  DWORD build = 0;
  reinterpret_cast<GetNumbers>(reinterpret_cast<void (*)()>(proc))(&major, &minor, &build);
  return major;
}

}  // namespace tarnwick
