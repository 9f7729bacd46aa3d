#include "selfprotect/drivers.h"

#include "persist/persist.h"
#include "persist/services.h"
#include "text/text.h"

namespace tarnwick {

namespace {

std::string image_part(const std::optional<std::string>& image_path) {
  return image_path ? " (image: " + *image_path + ")" : std::string();
}

}  // namespace

NameSet driver_service_set(const RegistryReader& registry) {
  NameSet drivers;
  for (const std::string& name : registry.subkey_names(Hive::LocalMachine, kServicesKey)) {
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
  if (text.starts_with(kNtPrefix)) return std::string(text.substr(kNtPrefix.size()));
  if (text.starts_with(kSystemRoot))
    return root + "\\" + std::string(text.substr(kSystemRoot.size()));
  if (ascii_lower(text.substr(0, 8)) == "system32") return root + "\\" + std::string(text);
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
                            bool disabled) {
  std::string detail =
      "An UNSIGNED kernel driver was registered \u2014 the core BYOVD / rootkit primitive. "
      "Service \"" +
      std::string(name) + "\"" + image_part(image_path) + ". ";
  detail += disabled ? "Tarnwick DISABLED the service so it cannot load at boot."
                     : "Could not auto-disable; investigate immediately.";
  Alert alert =
      make_alert(AlertSource::System, Severity::Critical,
                 disabled ? kDriverBlockedTitle : kDriverRegisteredTitle, std::move(detail));
  alert.dedup_key = "driver:" + std::string(name);
  return alert;
}

DriverWatch::DriverWatch(DriverWatchParts& parts)
    : p_(parts),
      types_(service_type_reader(parts.registry)),
      previous_(types_.drivers_among(parts.registry.subkey_names(Hive::LocalMachine, kServicesKey))) {}

void DriverWatch::check() {
  const NameSet current =
      types_.drivers_among(p_.registry.subkey_names(Hive::LocalMachine, kServicesKey));
  for (const std::string& name : take_new_names(current, previous_)) {
    judge(name);
  }
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
  const bool disabled = p_.writer.write_u32(Hive::LocalMachine, key, "Start", kServiceDisabled);
  p_.out.push(unsigned_driver_alert(name, image_path, disabled));
}

}  // namespace tarnwick
