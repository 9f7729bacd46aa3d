#include "selfprotect/tamper.h"

namespace tarnwick {

ProtectionSummary summarise(const Config& config) {
  ProtectionSummary s;
  s.min_response_severity = config.auto_response_min_severity;
  s.watch_dir_count = config.watch_dirs.size();
  s.auto_response = config.auto_response_enabled;
  s.network_blocking = config.auto_stop_network_threat;
  s.ransomware_blocking = config.auto_stop_ransomware;
  s.persistence_removal = config.auto_remove_persistence;
  return s;
}

std::optional<std::string_view> weakening_reason(const ProtectionSummary& before,
                                                 const ProtectionSummary& after) {
  const auto switched_off = [](bool was, bool is) { return was && !is; };
  if (switched_off(before.auto_response, after.auto_response))
    return "auto-response was turned OFF";
  if (switched_off(before.network_blocking, after.network_blocking))
    return "network-threat blocking was turned OFF";
  if (switched_off(before.ransomware_blocking, after.ransomware_blocking))
    return "ransomware blocking was turned OFF";
  if (switched_off(before.persistence_removal, after.persistence_removal))
    return "persistence removal was turned OFF";
  if (after.watch_dir_count < before.watch_dir_count)
    return "a watched folder was removed (possible exclusion abuse)";
  return std::nullopt;
}

Alert weakened_alert(std::string_view reason) {
  Alert alert = make_alert(AlertSource::System, Severity::Critical, kWeakenedTitle,
                           "Tarnwick protection was changed: " + std::string(reason) +
                               ". If this wasn't you, an attacker may be trying to disable the "
                               "agent.");
  alert.dedup_key = "selfdefense:weakened";
  return alert;
}

Alert binary_changed_alert() {
  Alert alert = make_alert(AlertSource::System, Severity::Critical, kBinaryChangedTitle,
                           std::string("The Tarnwick engine executable was modified while running. "
                                       "This can indicate tampering or a corrupted update."));
  alert.dedup_key = "selfdefense:binary";
  return alert;
}

TamperWatch::TamperWatch(TamperWatchParts& parts) : p_(parts) {
  const ConfigReading reading = p_.read(p_.config_path);
  if (reading.status != ConfigReading::Status::Unreadable) baseline_ = summarise(reading.config);
  if (p_.executable) size_baseline_ = p_.size(*p_.executable);
}

std::optional<ProtectionSummary> TamperWatch::read_summary() {
  const ConfigReading reading = p_.read(p_.config_path);
  if (reading.status != ConfigReading::Status::Unreadable) {
    unreadable_polls_ = 0;
    return summarise(reading.config);  // a missing file is the defaults
  }
  if (unreadable_polls_ < kUnreadablePollsSkipped) {
    ++unreadable_polls_;
    return std::nullopt;
  }
  return summarise(Config{});
}

void TamperWatch::poll() {
  if (const std::optional<ProtectionSummary> current = read_summary()) {
    // Without a baseline yet (the file was unreadable at start) the first
    // reading becomes it, as a start-up reading would have.
    if (baseline_ && *current != *baseline_) {
      if (auto reason = weakening_reason(*baseline_, *current)) p_.out.push(weakened_alert(*reason));
    }
    // Every change becomes the new baseline, so a strengthening or a severity
    // change is absorbed and only the next weakening is reported.
    baseline_ = *current;
  }

  if (!p_.executable) return;
  const std::optional<uint64_t> size = p_.size(*p_.executable);
  if (!size) return;  // this check is skipped; the baseline stays
  if (size_baseline_ && *size != *size_baseline_) p_.out.push(binary_changed_alert());
  size_baseline_ = size;
}

void run_tamper_watch(TamperWatchParts& parts) {
  TamperWatch watch(parts);
  while (parts.sleep(kTamperInterval)) watch.poll();
}

}  // namespace tarnwick
