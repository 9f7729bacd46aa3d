#pragma once
// The kernel-driver half of the "selfprotect" detector: notices driver
// services (Type 1 or 2) registered while the engine runs, reports a signed
// one for information, and disables an unsigned one at once ("Start" = 4)
// before reporting it as Critical. One detector thread owns a watch.

#include <optional>
#include <string>
#include <string_view>

#include "alert/alert.h"
#include "engine/alert_queue.h"
#include "procmeta/procmeta.h"
#include "registry/registry.h"

namespace tarnwick {

inline constexpr std::string_view kSignedDriverTitle = "Signed kernel driver loaded";
inline constexpr std::string_view kDriverBlockedTitle = "Unsigned kernel driver BLOCKED (BYOVD)";
inline constexpr std::string_view kDriverRegisteredTitle =
    "Unsigned kernel driver registered (BYOVD risk)";
inline constexpr uint32_t kServiceDisabled = 4;

// Names of the services whose "Type" is exactly 1 (kernel driver) or 2
// (file-system driver). Nothing when the services key cannot be listed
// completely.
std::optional<NameSet> driver_service_set(const RegistryReader& registry);

// The file an "ImagePath" names, from its text with surrounding white space
// removed: "\??\" dropped, "\SystemRoot\" and a leading "system32" (any case)
// put under `system_root` ("C:\Windows" when unset), anything else unchanged.
std::string resolve_driver_image(std::string_view image_path,
                                 const std::optional<std::string>& system_root);

// The file the system loads a driver service from: its "ImagePath" resolved,
// or, without one, "System32\drivers\{name}.sys" under the system root.
std::string driver_file(std::string_view name, const std::optional<std::string>& image_path,
                        const std::optional<std::string>& system_root);

enum class DriverOutcome {
  Disabled,
  NotDisabled,
  // Present when the watch began and seen again after it went away: the
  // machine booted with it, so it is reported but never disabled.
  PresentAtStart,
};

// `image_path` is the raw "ImagePath" text; nothing leaves the image out of the detail.
Alert signed_driver_alert(std::string_view name, const std::optional<std::string>& image_path);
Alert unsigned_driver_alert(std::string_view name, const std::optional<std::string>& image_path,
                            DriverOutcome outcome);

struct DriverWatchParts {
  const RegistryReader& registry;
  RegistryWriter& writer;
  const SignatureCheck& trust;
  std::optional<std::string> system_root;  // the "SystemRoot" environment variable
  AlertOut& out;
};

class DriverWatch {
 public:
  // Reads the driver service set as the baseline: drivers present now are
  // never judged. When it cannot be read, the first set that can becomes it.
  explicit DriverWatch(DriverWatchParts& parts);

  // Judges every driver service not in the previous set, then keeps the
  // current set, so a service removed and registered again is judged again.
  // A set that cannot be read skips the check and keeps the previous one.
  void check();

 private:
  void judge(const std::string& name);

  DriverWatchParts& p_;
  std::optional<NameSet> previous_;
  // The drivers present when the watch began. The machine booted with them:
  // one of them is never disabled, whatever a later check makes of it.
  NameSet start_baseline_;
};

}  // namespace tarnwick
