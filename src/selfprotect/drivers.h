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
#include "persist/services.h"
#include "procmeta/procmeta.h"
#include "registry/registry.h"
#include "selfprotect/known_drivers.h"

namespace tarnwick {

inline constexpr std::string_view kSignedDriverTitle = "Signed kernel driver loaded";
inline constexpr std::string_view kDriverBlockedTitle = "Unsigned kernel driver BLOCKED (BYOVD)";
inline constexpr std::string_view kDriverRegisteredTitle =
    "Unsigned kernel driver registered (BYOVD risk)";
inline constexpr std::string_view kKnownDriverBlockedTitle =
    "Vulnerable kernel driver BLOCKED (BYOVD)";
inline constexpr std::string_view kKnownDriverRegisteredTitle =
    "Vulnerable kernel driver registered (BYOVD risk)";
inline constexpr std::string_view kKnownDriverPresentTitle =
    "Known vulnerable kernel driver present";
inline constexpr std::string_view kDriverUnverifiedTitle = "Kernel driver could not be verified";
inline constexpr uint32_t kServiceDisabled = 4;

// The file an "ImagePath" names, from its text with surrounding white space
// removed: "\??\" dropped, "\SystemRoot\" and a leading "system32" (any case)
// put under `system_root` ("C:\Windows" when unset), anything else unchanged.
std::string resolve_driver_image(std::string_view image_path,
                                 const std::optional<std::string>& system_root);

// The file the system loads a driver service from: its "ImagePath" resolved,
// or, without one, "System32\drivers\{name}.sys" under the system root.
std::string driver_file(std::string_view name, const std::optional<std::string>& image_path,
                        const std::optional<std::string>& system_root);

// What asking the service manager to stop a driver came to. "Start" = 4
// only keeps a driver from loading at the next boot; one already loaded stays
// until it is stopped, if it can be.
enum class DriverStop { Stopped, NotRunning, StillRunning };

// The driver service's state as the service manager knows it.
class DriverServices {
 public:
  virtual ~DriverServices() = default;
  // Stops the running driver service `name`, whose image is `file`.
  // StillRunning whenever it cannot be shown to be stopped: refused, still
  // stopping after a short wait, or unknown to the service manager (as a
  // service written straight into the registry is until the next boot)
  // while a driver loaded from a file of that name is in memory.
  virtual DriverStop stop(std::string_view name, std::string_view file) = 0;
};

// The line a disabled driver's detail ends with.
std::string_view stop_ending(DriverStop stop);

enum class DriverOutcome {
  Disabled,
  NotDisabled,
  // Present when the watch began and seen again after it went away: the
  // machine booted with it, so it is reported but never disabled.
  PresentAtStart,
  // "Start" 0 or 1: loaded by the boot loader or at system start. Windows
  // may need it to boot at all, so it is reported and left enabled.
  BootOrSystemStart,
};

// A driver whose file cannot be opened or read whole: its signature could
// not be checked, so it is reported (High) and left enabled.
Alert unverified_driver_alert(std::string_view name, const std::optional<std::string>& image_path,
                              std::string_view file);

// `image_path` is the raw "ImagePath" text; nothing leaves the image out of the detail.
Alert signed_driver_alert(std::string_view name, const std::optional<std::string>& image_path);
// `stop` is what stopping the disabled driver came to; only a disabled one is stopped.
Alert unsigned_driver_alert(std::string_view name, const std::optional<std::string>& image_path,
                            DriverOutcome outcome, std::optional<DriverStop> stop = std::nullopt);

// A driver whose file is in the known-driver table, signed or not: judged as
// an unsigned one, with its category and file named.
Alert known_driver_alert(std::string_view name, const std::optional<std::string>& image_path,
                         std::string_view file, const KnownDriver& known, DriverOutcome outcome,
                         std::optional<DriverStop> stop = std::nullopt);

// A listed driver present when the watch began: reported, never disabled.
Alert known_driver_present_alert(std::string_view name,
                                 const std::optional<std::string>& image_path,
                                 std::string_view file, const KnownDriver& known);

struct DriverWatchParts {
  const RegistryReader& registry;
  RegistryWriter& writer;
  DriverServices& services;
  const SignatureCheck& trust;
  const FileDigest& digest;
  std::span<const KnownDriver> known;      // sorted by digest
  std::optional<std::string> system_root;  // the "SystemRoot" environment variable
  AlertOut& out;
};

class DriverWatch {
 public:
  // Reads the driver service set as the baseline: drivers present now are
  // never judged, only reported once when their file is a listed one. When
  // it cannot be read, the first set that can becomes it.
  explicit DriverWatch(DriverWatchParts& parts);

  // Judges every driver service not in the previous set, then keeps the
  // current set, so a service removed and registered again is judged again.
  // Each service's Type is read once, when its name first appears.
  // A set that cannot be read skips the check and keeps the previous one.
  void check();

 private:
  void judge(const std::string& name);
  void take_baseline(NameSet drivers);
  // The driver set, each service's Type read once (see ServiceTypes).
  std::optional<NameSet> read_drivers();

  DriverWatchParts& p_;
  ServiceTypes types_;
  std::optional<NameSet> previous_;
  // The drivers present when the watch began. The machine booted with them:
  // one of them is never disabled, whatever a later check makes of it.
  NameSet start_baseline_;
};

}  // namespace tarnwick
