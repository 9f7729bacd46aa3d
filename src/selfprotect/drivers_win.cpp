#include "selfprotect/drivers_win.h"

#include <windows.h>
#include <bcrypt.h>

#include <psapi.h>

#include <optional>
#include <string>
#include <vector>

#include "text/text.h"

#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

namespace {

// A driver that supports unloading stops at once or within moments; the
// detector thread does not wait longer than this for one.
constexpr int kStopPolls = 20;
constexpr DWORD kStopPollMs = 100;

using OpenAlgorithmFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
using HashFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, PUCHAR, ULONG, PUCHAR, ULONG);
using CloseAlgorithmFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);

template <typename Fn>
Fn lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::optional<Sha256> WindowsFileDigest::sha256(std::string_view path) const {
  if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  const win::FileHandle file(CreateFileW(win::widen(path).c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<uint64_t>(size.QuadPart) > kMaxDriverFileBytes) {
    return std::nullopt;
  }
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  for (size_t done = 0; done < bytes.size();) {
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got,
                  nullptr) ||
        got == 0) {
      return std::nullopt;
    }
    done += got;
  }
  // Loaded from System32 only, at the first use: a DLL of that name beside
  // the executable is never picked up, and nothing is imported at start.
  static const HMODULE bcrypt = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (bcrypt == nullptr) return std::nullopt;
  const auto open_algorithm = lookup<OpenAlgorithmFn>(bcrypt, "BCryptOpenAlgorithmProvider");
  const auto hash = lookup<HashFn>(bcrypt, "BCryptHash");
  const auto close_algorithm = lookup<CloseAlgorithmFn>(bcrypt, "BCryptCloseAlgorithmProvider");
  if (open_algorithm == nullptr || hash == nullptr || close_algorithm == nullptr) return std::nullopt;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (open_algorithm(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) return std::nullopt;
  Sha256 digest{};
  const NTSTATUS status =
      hash(algorithm, nullptr, 0, reinterpret_cast<PUCHAR>(bytes.data()),
           static_cast<ULONG>(bytes.size()), digest.data(), static_cast<ULONG>(digest.size()));
  close_algorithm(algorithm, 0);
  if (status < 0) return std::nullopt;
  return digest;
}

namespace {

// Whether a loaded kernel driver has the file name of `file`; nothing when
// the list of loaded drivers cannot be read.
std::optional<bool> driver_file_loaded(std::string_view file) {
  std::vector<LPVOID> bases(1024);
  DWORD needed = 0;
  if (!K32EnumDeviceDrivers(bases.data(), static_cast<DWORD>(bases.size() * sizeof(LPVOID)),
                            &needed)) {
    return std::nullopt;
  }
  if (needed > bases.size() * sizeof(LPVOID)) {
    bases.resize(needed / sizeof(LPVOID) + 64);
    if (!K32EnumDeviceDrivers(bases.data(), static_cast<DWORD>(bases.size() * sizeof(LPVOID)),
                              &needed)) {
      return std::nullopt;
    }
  }
  const std::string wanted = ascii_lower(file_name(file));
  if (wanted.empty()) return std::nullopt;
  for (size_t i = 0; i < needed / sizeof(LPVOID) && i < bases.size(); ++i) {
    wchar_t base[MAX_PATH];
    const DWORD length = K32GetDeviceDriverBaseNameW(bases[i], base, MAX_PATH);
    if (length != 0 && ascii_lower(win::narrow(std::wstring_view(base, length))) == wanted) {
      return true;
    }
  }
  return false;
}

}  // namespace

DriverStop WindowsDriverServices::stop(std::string_view name, std::string_view file) {
  const win::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return DriverStop::StillRunning;
  const win::ServiceHandle service(OpenServiceW(manager.get(), win::widen(name).c_str(),
                                                SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) {
    // A driver service written straight into the registry is unknown to the
    // service manager until the next boot, yet may have been loaded directly
    // from its key: the loaded-driver list tells. What cannot be told counts
    // as still running.
    if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) return DriverStop::StillRunning;
    const std::optional<bool> loaded = driver_file_loaded(file);
    return loaded && !*loaded ? DriverStop::NotRunning : DriverStop::StillRunning;
  }
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service.get(), &status)) return DriverStop::StillRunning;
  if (status.dwCurrentState == SERVICE_STOPPED) return DriverStop::NotRunning;
  if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    if (GetLastError() == ERROR_SERVICE_NOT_ACTIVE) return DriverStop::NotRunning;
    return DriverStop::StillRunning;
  }
  for (int poll = 0; status.dwCurrentState != SERVICE_STOPPED && poll < kStopPolls; ++poll) {
    Sleep(kStopPollMs);
    if (!QueryServiceStatus(service.get(), &status)) return DriverStop::StillRunning;
  }
  return status.dwCurrentState == SERVICE_STOPPED ? DriverStop::Stopped : DriverStop::StillRunning;
}

}  // namespace tarnwick
