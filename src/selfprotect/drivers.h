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
#include "persist/services.h"
#include "registry/registry.h"

namespace tarnwick {

inline constexpr std::string_view kSignedDriverTitle = "Signed kernel driver loaded";
inline constexpr std::string_view kDriverBlockedTitle = "Unsigned kernel driver BLOCKED (BYOVD)";
inline constexpr std::string_view kDriverRegisteredTitle =
    "Unsigned kernel driver registered (BYOVD risk)";
inline constexpr uint32_t kServiceDisabled = 4;

// Names of the services whose "Type" is exactly 1 (kernel driver) or 2
// (file-system driver). Empty when the services key cannot be listed.
NameSet driver_service_set(const RegistryReader& registry);

// The file an "ImagePath" names, from its text with surrounding white space
// removed: "\??\" dropped, "\SystemRoot\" and a leading "system32" (any case)
// put under `system_root` ("C:\Windows" when unset), anything else unchanged.
std::string resolve_driver_image(std::string_view image_path,
                                 const std::optional<std::string>& system_root);

// The file the system loads a driver service from: its "ImagePath" resolved,
// or, without one, "System32\drivers\{name}.sys" under the system root.
std::string driver_file(std::string_view name, const std::optional<std::string>& image_path,
                        const std::optional<std::string>& system_root);

// `image_path` is the raw "ImagePath" text; nothing leaves the image out of the detail.
Alert signed_driver_alert(std::string_view name, const std::optional<std::string>& image_path);
Alert unsigned_driver_alert(std::string_view name, const std::optional<std::string>& image_path,
                            bool disabled);

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
  // never judged.
  explicit DriverWatch(DriverWatchParts& parts);

  // Judges every driver service not in the previous set, then keeps the
  // current set, so a service removed and registered again is judged again.
  // Each service's Type is read once, when its name first appears.
  void check();

 private:
  void judge(const std::string& name);

  DriverWatchParts& p_;
  ServiceTypes types_;
  NameSet previous_;
};

}  // namespace tarnwick
