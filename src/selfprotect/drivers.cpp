#include "selfprotect/drivers.h"

#include <algorithm>
#include <vector>

#include "persist/persist.h"
#include "persist/services.h"
#include "text/text.h"

namespace tarnwick {

namespace {

std::string image_part(const std::optional<std::string>& image_path) {
  return image_path ? " (image: " + *image_path + ")" : std::string();
}

std::string_view outcome_text(DriverOutcome outcome) {
  switch (outcome) {
    case DriverOutcome::Disabled: return "Tarnwick DISABLED the service so it cannot load at boot.";
    case DriverOutcome::NotDisabled: return "Could not auto-disable; investigate immediately.";
    case DriverOutcome::PresentAtStart:
      return "It was present when Tarnwick started, so it was not disabled; investigate "
             "immediately.";
    case DriverOutcome::BootOrSystemStart:
      return "It starts at boot or with the system, so it was left enabled: Windows needs such "
             "drivers to start; investigate immediately.";
  }
  return {};
}

// Whether `text` starts with `prefix`, ignoring ASCII case as the object
// manager does for these names.
bool starts_with_ascii_nocase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         ascii_lower(text.substr(0, prefix.size())) == ascii_lower(prefix);
}

}  // namespace

std::string resolve_driver_image(std::string_view image_path,
                                 const std::optional<std::string>& system_root) {
  const std::string_view text = trim_white_space(image_path);
  const std::string root = system_root.value_or("C:\\Windows");
  constexpr std::string_view kNtPrefix = "\\??\\";
  constexpr std::string_view kSystemRoot = "\\SystemRoot\\";
  if (starts_with_ascii_nocase(text, kNtPrefix)) return std::string(text.substr(kNtPrefix.size()));
  if (starts_with_ascii_nocase(text, kSystemRoot))
    return root + "\\" + std::string(text.substr(kSystemRoot.size()));
  if (starts_with_ascii_nocase(text, "system32")) return root + "\\" + std::string(text);
  return std::string(text);
}

std::string driver_file(std::string_view name, const std::optional<std::string>& image_path,
                        const std::optional<std::string>& system_root) {
  if (image_path) return resolve_driver_image(*image_path, system_root);
  // The system's own default for a driver service without an image path;
  // judging the empty path instead would disable a signed driver.
  return resolve_driver_image("\\SystemRoot\\System32\\drivers\\" + std::string(name) + ".sys",
                              system_root);
}

Alert unverified_driver_alert(std::string_view name, const std::optional<std::string>& image_path,
                              std::string_view file) {
  std::string detail = "Service \"" + std::string(name) + "\"" + image_part(image_path) + ": ";
  detail += file.empty() ? std::string("it names no file")
                         : "its file " + std::string(file) + " could not be opened or read";
  detail += ", so its signature could not be checked. It was left enabled; investigate.";
  Alert alert =
      make_alert(AlertSource::System, Severity::High, kDriverUnverifiedTitle, std::move(detail));
  alert.dedup_key = "driver:" + std::string(name);
  return alert;
}

Alert signed_driver_alert(std::string_view name, const std::optional<std::string>& image_path) {
  Alert alert = make_alert(
      AlertSource::System, Severity::Low, kSignedDriverTitle,
      "A signed kernel driver was loaded (likely legitimate, e.g. anti-cheat or hardware). "
      "Service \"" +
          std::string(name) + "\"" + image_part(image_path) + ".");
  alert.dedup_key = "driver:" + std::string(name);
  return alert;
}

std::string_view stop_ending(DriverStop stop) {
  switch (stop) {
    case DriverStop::Stopped: return "\nIt was running and has been stopped.";
    case DriverStop::NotRunning: return "\nIt was not running.";
    case DriverStop::StillRunning:
      return "\nIt is running and could not be stopped: it stays loaded until the next restart.";
  }
  return {};
}

Alert unsigned_driver_alert(std::string_view name, const std::optional<std::string>& image_path,
                            DriverOutcome outcome, std::optional<DriverStop> stop) {
  const bool disabled = outcome == DriverOutcome::Disabled;
  std::string detail =
      "An UNSIGNED kernel driver was registered \u2014 the core BYOVD / rootkit primitive. "
      "Service \"" +
      std::string(name) + "\"" + image_part(image_path) + ". ";
  detail += outcome_text(outcome);
  if (stop) detail += stop_ending(*stop);
  Alert alert =
      make_alert(AlertSource::System, Severity::Critical,
                 disabled ? kDriverBlockedTitle : kDriverRegisteredTitle, std::move(detail));
  alert.dedup_key = "driver:" + std::string(name);
  return alert;
}

Alert known_driver_alert(std::string_view name, const std::optional<std::string>& image_path,
                         std::string_view file, const KnownDriver& known, DriverOutcome outcome,
                         std::optional<DriverStop> stop) {
  const bool disabled = outcome == DriverOutcome::Disabled;
  std::string detail = "A known " + std::string(category_text(known.category)) +
                       " kernel driver was registered \u2014 bring-your-own-vulnerable-driver "
                       "(BYOVD). Service \"" +
                       std::string(name) + "\"" + image_part(image_path) + ", file " +
                       std::string(file) + ". ";
  detail += outcome_text(outcome);
  if (stop) detail += stop_ending(*stop);
  Alert alert = make_alert(AlertSource::System, Severity::Critical,
                           disabled ? kKnownDriverBlockedTitle : kKnownDriverRegisteredTitle,
                           std::move(detail));
  alert.dedup_key = "driver:" + std::string(name);
  return alert;
}

Alert known_driver_present_alert(std::string_view name,
                                 const std::optional<std::string>& image_path,
                                 std::string_view file, const KnownDriver& known) {
  Alert alert = make_alert(AlertSource::System, Severity::High, kKnownDriverPresentTitle,
                           "Service \"" + std::string(name) + "\"" + image_part(image_path) +
                               " is a known " + std::string(category_text(known.category)) +
                               " kernel driver, file " + std::string(file) +
                               ". It was present when Tarnwick started, so it was not disabled.");
  alert.dedup_key = "knowndriver:" + std::string(name);
  return alert;
}

DriverWatch::DriverWatch(DriverWatchParts& parts)
    : p_(parts), types_(service_type_reader(parts.registry)), previous_(read_drivers()) {
  if (previous_) take_baseline(*previous_);
}

void DriverWatch::take_baseline(NameSet drivers) {
  start_baseline_ = std::move(drivers);
  // Sorted, so that the reports come in a stable order.
  std::vector<std::string> names(start_baseline_.begin(), start_baseline_.end());
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::optional<std::string> image_path =
        p_.registry.read_text(Hive::LocalMachine, service_key(name), "ImagePath");
    const std::string file = driver_file(name, image_path, p_.system_root);
    if (file.empty()) continue;
    const std::optional<Sha256> digest = p_.digest.sha256(file);
    if (!digest) continue;
    if (const KnownDriver* known = find_known_driver(p_.known, *digest)) {
      p_.out.push(known_driver_present_alert(name, image_path, file, *known));
    }
  }
}

std::optional<NameSet> DriverWatch::read_drivers() {
  const std::optional<NameSet> services =
      p_.registry.subkey_names(Hive::LocalMachine, kServicesKey);
  // Only a complete listing says which names are gone.
  if (!services) return std::nullopt;
  return types_.drivers_among(*services);
}

void DriverWatch::check() {
  // A listing that missed a driver would make it look new at the next one,
  // and disabling a storage driver leaves a machine that cannot boot.
  std::optional<NameSet> current = read_drivers();
  if (!current) return;
  if (!previous_) {
    previous_ = std::move(current);
    take_baseline(*previous_);
    return;
  }
  for (const std::string& name : take_new_names(std::move(*current), *previous_)) judge(name);
}

void DriverWatch::judge(const std::string& name) {
  const std::string key = service_key(name);
  const std::optional<std::string> image_path =
      p_.registry.read_text(Hive::LocalMachine, key, "ImagePath");
  const std::string file = driver_file(name, image_path, p_.system_root);
  // A listed driver is usually validly signed: that is what makes it useful
  // to an attacker. The list is looked at first and overrides the signature.
  const std::optional<Sha256> digest = file.empty() ? std::nullopt : p_.digest.sha256(file);
  const KnownDriver* known = digest ? find_known_driver(p_.known, *digest) : nullptr;
  if (known == nullptr && !file.empty() && p_.trust.is_file_signed(file)) {
    p_.out.push(signed_driver_alert(name, image_path));
    return;
  }
  // A file that is missing, locked or denied is not shown to be unsigned:
  // disabling it on that ground could take a working driver away.
  if (!digest) {
    p_.out.push(unverified_driver_alert(name, image_path, file));
    return;
  }
  auto report = [&](DriverOutcome outcome, std::optional<DriverStop> stop) {
    p_.out.push(known ? known_driver_alert(name, image_path, file, *known, outcome, stop)
                      : unsigned_driver_alert(name, image_path, outcome, stop));
  };
  if (start_baseline_.count(name) != 0) {
    report(DriverOutcome::PresentAtStart, std::nullopt);
    return;
  }
  if (const auto start = p_.registry.read_u32(Hive::LocalMachine, key, "Start");
      start && *start <= 1) {
    report(DriverOutcome::BootOrSystemStart, std::nullopt);
    return;
  }
  if (!p_.writer.write_u32(Hive::LocalMachine, key, "Start", kServiceDisabled)) {
    report(DriverOutcome::NotDisabled, std::nullopt);
    return;
  }
  report(DriverOutcome::Disabled, p_.services.stop(name, file));
}

}  // namespace tarnwick
