#include "eventlog/eventlog_win.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "eventlog/messages.h"
#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

// The message table's identifiers as windmc wrote them; ReportEventW needs
// them in full or Event Viewer cannot find the description.
static_assert(TARNWICK_EVENT_NET == 1001 && TARNWICK_EVENT_PROC == 1002 &&
              TARNWICK_EVENT_PERSIST == 1003 && TARNWICK_EVENT_FILE == 1004 &&
              TARNWICK_EVENT_DNS == 1005 && TARNWICK_EVENT_SYS == 1006);

namespace {

// ReportEventW takes at most 31,839 characters per insertion string
// (Microsoft Learn, ReportEventW, lpStrings).
constexpr size_t kMaxInsertionChars = 31839;

struct EventSourceTraits {
  using Value = HANDLE;
  static Value invalid() { return nullptr; }
  static bool is_valid(Value v) { return v != nullptr; }
  static void close(Value v) { DeregisterEventSource(v); }
};
using EventSource = win::UniqueHandle<EventSourceTraits>;

std::wstring insertion_string(std::string_view utf8) {
  std::wstring wide = win::widen(utf8);
  if (wide.size() > kMaxInsertionChars) {
    size_t cut = kMaxInsertionChars;
    // Never leave half of a surrogate pair behind.
    if (cut > 0 && wide[cut - 1] >= 0xD800 && wide[cut - 1] <= 0xDBFF) --cut;
    wide.resize(cut);
  }
  return wide;
}

class WindowsEventLogWriter final : public EventLogWriter {
 public:
  WindowsEventLogWriter() {
    const std::wstring name = win::widen(kEventSourceName);
    source_.reset(RegisterEventSourceW(nullptr, name.c_str()));
  }
  void report(EventType type, uint32_t id, const std::array<std::string_view, 3>& strings) override {
    if (!source_) return;
    const std::wstring title = insertion_string(strings[0]);
    const std::wstring detail = insertion_string(strings[1]);
    const std::wstring line = insertion_string(strings[2]);
    LPCWSTR list[] = {title.c_str(), detail.c_str(), line.c_str()};
    ReportEventW(source_.get(), static_cast<WORD>(type), 0, id, nullptr, 3, 0, list, nullptr);
  }

 private:
  EventSource source_;
};

}  // namespace

std::unique_ptr<EventLogWriter> open_windows_event_log() {
  return std::make_unique<WindowsEventLogWriter>();
}

bool register_event_source(const std::filesystem::path& exe) {
  const std::wstring subkey = win::widen(kEventSourceKey);
  HKEY raw = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const win::RegKey key(raw);
  const std::wstring file = exe.wstring();
  const DWORD types = kEventTypesSupported;
  const auto file_bytes = static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                        reinterpret_cast<const BYTE*>(file.c_str()), file_bytes) == ERROR_SUCCESS &&
         RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&types), sizeof types) == ERROR_SUCCESS;
}

bool remove_event_source() {
  const std::wstring subkey = win::widen(kEventSourceKey);
  const LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, subkey.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace tarnwick
