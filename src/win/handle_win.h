#pragma once
// Owners for Win32 handles: one move-only template, a traits type per kind
// saying what "invalid" is and how to close. Closing keeps the thread's last
// error, so a failure code read after a wrapper goes out of scope is the one
// the failing call set.

#include <windows.h>

#include <utility>

namespace tarnwick::win {

template <typename Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;

  UniqueHandle() = default;
  explicit UniqueHandle(Value v) : value_(v) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Value get() const { return value_; }
  bool valid() const { return Traits::is_valid(value_); }
  explicit operator bool() const { return valid(); }

  Value release() { return std::exchange(value_, Traits::invalid()); }
  void reset(Value v = Traits::invalid()) {
    Value old = std::exchange(value_, v);
    if (Traits::is_valid(old)) {
      const DWORD saved = GetLastError();
      Traits::close(old);
      SetLastError(saved);
    }
  }

 private:
  Value value_ = Traits::invalid();
};

// Kernel objects whose failure value is null (processes, threads, events).
struct KernelHandleTraits {
  using Value = HANDLE;
  static Value invalid() { return nullptr; }
  static bool is_valid(Value v) { return v != nullptr && v != INVALID_HANDLE_VALUE; }
  static void close(Value v) { CloseHandle(v); }
};

// Files and Toolhelp snapshots, whose failure value is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Value = HANDLE;
  static Value invalid() { return INVALID_HANDLE_VALUE; }
  static bool is_valid(Value v) { return v != nullptr && v != INVALID_HANDLE_VALUE; }
  static void close(Value v) { CloseHandle(v); }
};

struct RegKeyTraits {
  using Value = HKEY;
  static Value invalid() { return nullptr; }
  static bool is_valid(Value v) { return v != nullptr; }
  static void close(Value v) { RegCloseKey(v); }
};

struct ServiceHandleTraits {
  using Value = SC_HANDLE;
  static Value invalid() { return nullptr; }
  static bool is_valid(Value v) { return v != nullptr; }
  static void close(Value v) { CloseServiceHandle(v); }
};

// Directory searches (FindFirstFileExW).
struct FindHandleTraits {
  using Value = HANDLE;
  static Value invalid() { return INVALID_HANDLE_VALUE; }
  static bool is_valid(Value v) { return v != INVALID_HANDLE_VALUE; }
  static void close(Value v) { FindClose(v); }
};

// Memory the system allocated for the caller with LocalAlloc.
struct LocalMemoryTraits {
  using Value = HLOCAL;
  static Value invalid() { return nullptr; }
  static bool is_valid(Value v) { return v != nullptr; }
  static void close(Value v) { LocalFree(v); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using SnapshotHandle = UniqueHandle<FileHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using ServiceHandle = UniqueHandle<ServiceHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using LocalMemory = UniqueHandle<LocalMemoryTraits>;

}  // namespace tarnwick::win
