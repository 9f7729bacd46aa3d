#include <windows.h>

#include <vector>

#include "files/files_win.h"
#include "files/records.h"
#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

namespace {

constexpr DWORD kChangeFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;

class WindowsDirectoryWatch final : public DirectoryWatch {
 public:
  WindowsDirectoryWatch(win::FileHandle folder, win::KernelHandle event)
      : buffer_(kChangeBufferSize), folder_(std::move(folder)), event_(std::move(event)) {}

  // The system writes into the buffer and the overlapped record until an
  // outstanding read has really ended, so it is cancelled and waited for
  // before either is released.
  ~WindowsDirectoryWatch() override { cancel(); }

  bool request() override {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.get();
    if (!ReadDirectoryChangesW(folder_.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()),
                               TRUE, kChangeFilter, nullptr, &overlapped_, nullptr)) {
      return false;
    }
    pending_ = true;
    return true;
  }

  WaitResult wait(std::chrono::milliseconds slice) override {
    const DWORD waited = WaitForSingleObject(event_.get(), static_cast<DWORD>(slice.count()));
    if (waited == WAIT_TIMEOUT) return {WaitStatus::Pending, 0};
    if (waited != WAIT_OBJECT_0) {
      cancel();
      return {WaitStatus::Failed, 0};
    }
    DWORD bytes = 0;
    if (GetOverlappedResult(folder_.get(), &overlapped_, &bytes, FALSE)) {
      pending_ = false;
      return {WaitStatus::Completed, bytes};
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) return {WaitStatus::Pending, 0};
    pending_ = false;
    // The system's own buffer overflowed: the changes are lost, the watch goes on.
    if (error == ERROR_NOTIFY_ENUM_DIR) return {WaitStatus::Completed, 0};
    return {WaitStatus::Failed, 0};
  }

  std::span<const unsigned char> buffer() const override { return buffer_; }

 private:
  void cancel() {
    if (!pending_) return;
    CancelIoEx(folder_.get(), &overlapped_);
    DWORD bytes = 0;
    GetOverlappedResult(folder_.get(), &overlapped_, &bytes, TRUE);
    pending_ = false;
  }

  // Allocated once; new[] alignment covers the records' 4-byte alignment.
  std::vector<unsigned char> buffer_;
  win::FileHandle folder_;
  win::KernelHandle event_;
  OVERLAPPED overlapped_{};
  bool pending_ = false;
};

}  // namespace

std::unique_ptr<DirectoryWatch> WindowsDirectoryWatcher::open(const std::string& folder) {
  // A NUL would end the path early and watch another folder.
  if (folder.find('\0') != std::string::npos) return nullptr;
  win::FileHandle handle(CreateFileW(win::widen(folder).c_str(), FILE_LIST_DIRECTORY,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
  if (!handle) return nullptr;
  // Auto-reset, not signalled: each read's completion wakes one wait.
  win::KernelHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!event) return nullptr;
  return std::make_unique<WindowsDirectoryWatch>(std::move(handle), std::move(event));
}

}  // namespace tarnwick
