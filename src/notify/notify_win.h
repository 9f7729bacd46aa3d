#pragma once
// The real notification pieces: toasts through the WinRT notification
// platform, curl started as a detached child, and the system's major version
// from ntdll; WindowsNotifier owns one of each and composes them.

#include "notify/notify.h"

namespace tarnwick {

class WindowsToastPresenter final : public ToastPresenter {
 public:
  // Enters the multithreaded apartment for the call (or uses the apartment
  // the thread already has) and leaves it as it found it.
  bool show(std::string_view app_id, std::string_view xml) override;
};

class WindowsProcessLauncher final : public ProcessLauncher {
 public:
  bool launch_detached(std::string_view command_line) override;
};

class WindowsSystemVersion final : public SystemVersion {
 public:
  // 10 when ntdll does not export RtlGetNtVersionNumbers.
  uint32_t major_version() const override;
};

// The system folder's curl.exe ("C:\Windows\System32\curl.exe"); empty
// when the system folder is unknown.
std::string system_curl_path();

class WindowsNotifier final : public Notifier {
 public:
  WindowsNotifier() : notifier_(toasts_, launcher_, version_, system_curl_path()) {}
  void show_toast(const Alert& alert) override { notifier_.show_toast(alert); }
  void push(const Alert& alert, const Config& config) override { notifier_.push(alert, config); }

 private:
  WindowsToastPresenter toasts_;
  WindowsProcessLauncher launcher_;
  WindowsSystemVersion version_;
  SystemNotifier notifier_;  // last: refers to the three above
};

}  // namespace tarnwick
