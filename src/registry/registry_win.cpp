#include "registry/registry_win.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "text/text.h"
#include "win/handle_win.h"
#include "win/ntdll_win.h"
#include "win/wide_win.h"

namespace tarnwick {

namespace {

// KEY_WOW64_64KEY keeps the native view should this ever be built as 32-bit.
constexpr REGSAM kReadAccess = KEY_READ | KEY_WOW64_64KEY;
constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_WOW64_64KEY;

// The native counted string (UNICODE_STRING), declared here to keep the
// native headers out.
struct CountedName {
  USHORT length;
  USHORT maximum_length;
  PWSTR buffer;
};
using NtDeleteValueKeyFn = LONG(NTAPI*)(HANDLE, CountedName*);

HKEY root_of(Hive hive) {
  switch (hive) {
    case Hive::LocalMachine: return HKEY_LOCAL_MACHINE;
    case Hive::Users: return HKEY_USERS;
    case Hive::CurrentUser: break;
  }
  return HKEY_CURRENT_USER;
}

win::RegKey open_key(HKEY root, const std::wstring& subkey, REGSAM access = kReadAccess) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, access, &raw) != ERROR_SUCCESS) return win::RegKey();
  return win::RegKey(raw);
}

win::RegKey open_key(Hive hive, std::string_view subkey, REGSAM access = kReadAccess) {
  return open_key(root_of(hive), win::widen(subkey), access);
}

enum class Names { Values, Subkeys };

// The key's own count of its values or subkeys, and its last-write time.
void count_names(HKEY key, Names kind, std::optional<uint32_t>& count,
                 std::optional<uint64_t>& written) {
  DWORD subkeys = 0;
  DWORD values = 0;
  FILETIME last_write{};
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, &last_write) != ERROR_SUCCESS) {
    return;
  }
  count = kind == Names::Values ? values : subkeys;
  written = uint64_t(last_write.dwHighDateTime) << 32 | last_write.dwLowDateTime;
}

// Calls `next(key, index, buffer, &length)` for index 0, 1, 2, ... until it
// fails, between two counts of the key's names.
template <typename Next>
NameWalk walk_names(HKEY key, Names kind, Next next) {
  NameWalk walk;
  count_names(key, kind, walk.count_before, walk.written_before);
  wchar_t name[kNameBufferUnits];
  std::vector<wchar_t> long_name;
  for (DWORD index = 0;; ++index) {
    const wchar_t* text = name;
    DWORD capacity = static_cast<DWORD>(std::size(name));
    DWORD length = capacity;
    LSTATUS status = next(key, index, name, &length);
    if (status == ERROR_MORE_DATA) {
      // Only a value name can be this long; a registry value name of up to
      // 16,383 units still runs at boot, so it must not go unseen.
      long_name.resize(kLongestValueNameUnits + 1);
      text = long_name.data();
      capacity = static_cast<DWORD>(long_name.size());
      length = capacity;
      status = next(key, index, long_name.data(), &length);
    }
    if (status != ERROR_SUCCESS) {
      walk.ended = status == ERROR_NO_MORE_ITEMS;
      break;
    }
    // The counted length, not the first 0: a value name may hold a NUL.
    walk.names.insert(win::narrow(std::wstring_view(text, std::min<DWORD>(length, capacity - 1))));
    ++walk.names_read;
  }
  count_names(key, kind, walk.count_after, walk.written_after);
  return walk;
}

template <typename Next>
std::optional<NameSet> list_names(Hive hive, std::string_view subkey, Names kind, Next next) {
  HKEY raw = nullptr;
  const LSTATUS opened =
      RegOpenKeyExW(root_of(hive), win::widen(subkey).c_str(), 0, kReadAccess, &raw);
  // A key that is not there has no names; any other refusal says nothing.
  if (opened == ERROR_FILE_NOT_FOUND) return NameSet{};
  if (opened != ERROR_SUCCESS) return std::nullopt;
  const win::RegKey key(raw);
  return complete_listing([&] { return walk_names(key.get(), kind, next); });
}

class WindowsValueChangeWatch final : public ValueChangeWatch {
 public:
  WindowsValueChangeWatch(HKEY root, std::wstring subkey, win::KernelHandle event)
      : root_(root), subkey_(std::move(subkey)), event_(std::move(event)) {}

  bool arm() override {
    key_ = open_key(root_, subkey_);
    if (!key_) return false;
    // A signal left over from an earlier key must not pass for a change of this one.
    ResetEvent(event_.get());
    if (RegNotifyChangeKeyValue(key_.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET, event_.get(),
                                TRUE) != ERROR_SUCCESS) {
      key_.reset();
      return false;
    }
    return true;
  }

  Wait wait(const EngineFlags& flags) override {
    for (;;) {
      const DWORD result = WaitForSingleObject(event_.get(), 2000);
      if (flags.stopping()) {
        key_.reset();
        return Wait::Stopped;
      }
      if (result == WAIT_OBJECT_0) return Wait::Changed;
      if (result != WAIT_TIMEOUT) return Wait::Failed;
    }
  }

  void close() override { key_.reset(); }

 private:
  HKEY root_;
  std::wstring subkey_;
  win::KernelHandle event_;
  win::RegKey key_;
};

}  // namespace

std::optional<NameSet> WindowsRegistry::value_names(Hive hive, std::string_view subkey) const {
  return list_names(
      hive, subkey, Names::Values, [](HKEY key, DWORD index, wchar_t* name, DWORD* length) {
        return RegEnumValueW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
      });
}

std::optional<NameSet> WindowsRegistry::subkey_names(Hive hive, std::string_view subkey) const {
  return list_names(
      hive, subkey, Names::Subkeys, [](HKEY key, DWORD index, wchar_t* name, DWORD* length) {
        return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
      });
}

std::optional<std::string> WindowsRegistry::read_text(Hive hive, std::string_view subkey,
                                                      std::string_view value) const {
  win::RegKey key = open_key(hive, subkey);
  if (!key) return std::nullopt;
  const std::wstring name = win::widen(value);
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, &size) !=
          ERROR_SUCCESS ||
      size == 0 || size > kMaxTextValueBytes) {
    return std::nullopt;
  }
  std::string bytes(size, '\0');
  // A value that grew since the size query fails here (ERROR_MORE_DATA).
  DWORD got = size;
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(bytes.data()), &got) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  bytes.resize(std::min(got, size));
  return utf16le_text(bytes);
}

std::optional<uint32_t> WindowsRegistry::read_u32(Hive hive, std::string_view subkey,
                                                  std::string_view value) const {
  win::RegKey key = open_key(hive, subkey);
  if (!key) return std::nullopt;
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExW(key.get(), win::widen(value).c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
      size != sizeof data) {
    return std::nullopt;
  }
  return data;
}

std::unique_ptr<ValueChangeWatch> WindowsRegistry::watch_values(Hive hive,
                                                                std::string_view subkey) {
  win::KernelHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!event) return nullptr;
  return std::make_unique<WindowsValueChangeWatch>(root_of(hive), win::widen(subkey),
                                                   std::move(event));
}

bool WindowsRegistryWriter::write_u32(Hive hive, std::string_view subkey, std::string_view value,
                                      uint32_t data) {
  const win::RegKey key = open_key(hive, subkey, kWriteAccess);
  if (!key) return false;
  const DWORD dword = data;
  return RegSetValueExW(key.get(), win::widen(value).c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&dword), sizeof dword) == ERROR_SUCCESS;
}

bool WindowsRegistryWriter::delete_value(Hive hive, std::string_view subkey,
                                         std::string_view value) {
  const win::RegKey key = open_key(hive, subkey, kWriteAccess);
  if (!key) return false;
  // RegDeleteValueW stops at the first NUL, so "SecurityHealth\0x" would
  // delete "SecurityHealth". The native call takes the counted name.
  const auto delete_value_key = win::ntdll_function<NtDeleteValueKeyFn>("NtDeleteValueKey");
  if (delete_value_key == nullptr) return false;
  std::wstring name = win::widen(value);
  // UNICODE_STRING lengths are 16-bit byte counts; no value name comes near.
  if (name.size() > kLongestValueNameUnits) return false;
  CountedName counted{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                      static_cast<USHORT>(name.size() * sizeof(wchar_t)), name.data()};
  return delete_value_key(key.get(), &counted) >= 0;
}

}  // namespace tarnwick
