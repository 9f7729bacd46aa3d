#include "selfprotect/drivers.h"

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
  }
  return {};
}

// Whether `text` starts with `prefix`, ignoring ASCII case as the object
// manager does for these names.
bool starts_with_ascii_nocase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && ascii_lower(text.substr(0, prefix.size())) == ascii_lower(prefix);
}

}  // namespace

std::optional<NameSet> driver_service_set(const RegistryReader& registry) {
  const std::optional<NameSet> services = registry.subkey_names(Hive::LocalMachine, kServicesKey);
  if (!services) return std::nullopt;
  NameSet drivers;
  for (const std::string& name : *services) {
    if (is_driver_service(registry, name)) drivers.insert(name);
  }
  return drivers;
}

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

Alert signed_driver_alert(std::string_view name, const std::optional<std::string>& image_path) {
  Alert alert = make_alert(
      AlertSource::System, Severity::Low, kSignedDriverTitle,
      "A signed kernel driver was loaded (likely legitimate, e.g. anti-cheat or hardware). "
      "Service \"" +
          std::string(name) + "\"" + image_part(image_path) + ".");
  alert.dedup_key = "driver:" + std::string(name);
  return alert;
}

Alert unsigned_driver_alert(std::string_view name, const std::optional<std::string>& image_path,
                            DriverOutcome outcome) {
  const bool disabled = outcome == DriverOutcome::Disabled;
  std::string detail =
      "An UNSIGNED kernel driver was registered \u2014 the core BYOVD / rootkit primitive. "
      "Service \"" +
      std::string(name) + "\"" + image_part(image_path) + ". ";
  detail += outcome_text(outcome);
  Alert alert =
      make_alert(AlertSource::System, Severity::Critical,
                 disabled ? kDriverBlockedTitle : kDriverRegisteredTitle, std::move(detail));
  alert.dedup_key = "driver:" + std::string(name);
  return alert;
}

DriverWatch::DriverWatch(DriverWatchParts& parts)
    : p_(parts), previous_(driver_service_set(parts.registry)) {
  if (previous_) start_baseline_ = *previous_;
}

void DriverWatch::check() {
  // A listing that missed a driver would make it look new at the next one,
  // and disabling a storage driver leaves a machine that cannot boot.
  std::optional<NameSet> current = driver_service_set(p_.registry);
  if (!current) return;
  if (!previous_) {
    previous_ = std::move(current);
    start_baseline_ = *previous_;
    return;
  }
  for (const std::string& name : take_new_names(std::move(*current), *previous_)) judge(name);
}

void DriverWatch::judge(const std::string& name) {
  const std::string key = service_key(name);
  const std::optional<std::string> image_path =
      p_.registry.read_text(Hive::LocalMachine, key, "ImagePath");
  const std::string file = driver_file(name, image_path, p_.system_root);
  if (!file.empty() && p_.trust.is_file_signed(file)) {
    p_.out.push(signed_driver_alert(name, image_path));
    return;
  }
  if (start_baseline_.count(name) != 0) {
    p_.out.push(unsigned_driver_alert(name, image_path, DriverOutcome::PresentAtStart));
    return;
  }
  const bool disabled = p_.writer.write_u32(Hive::LocalMachine, key, "Start", kServiceDisabled);
  p_.out.push(unsigned_driver_alert(
      name, image_path, disabled ? DriverOutcome::Disabled : DriverOutcome::NotDisabled));
}

}  // namespace tarnwick
