#pragma once
// Recording stand-ins for the notification platform pieces. Tests only.

#include <string>
#include <vector>

#include "notify/notify.h"

namespace tarnwick::testing {

class RecordingToastPresenter final : public ToastPresenter {
 public:
  struct Shown {
    std::string app_id;
    std::string xml;
  };
  std::vector<Shown> shown;
  bool accept = true;
  bool show(std::string_view app_id, std::string_view xml) override {
    shown.push_back({std::string(app_id), std::string(xml)});
    return accept;
  }
};

class RecordingLauncher final : public ProcessLauncher {
 public:
  std::vector<std::string> launched;
  bool succeed = true;
  bool launch_detached(std::string_view command_line) override {
    launched.emplace_back(command_line);
    return succeed;
  }
};

class FixedSystemVersion final : public SystemVersion {
 public:
  explicit FixedSystemVersion(uint32_t major) : major_(major) {}
  uint32_t major_version() const override { return major_; }

 private:
  uint32_t major_;
};

}  // namespace tarnwick::testing
