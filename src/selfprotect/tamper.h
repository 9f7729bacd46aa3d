#pragma once
// The "security" detector: every 5 s it loads the configuration file again and
// raises a Critical alert when a save weakened the protection (an automatic
// response switched off, a watched folder removed), and it watches the size of
// the engine's own executable. It only compares: the configuration it loads is
// never applied. One thread owns a watch and its baselines.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "alert/alert.h"
#include "config/config.h"
#include "engine/alert_queue.h"
#include "engine/flags.h"

namespace tarnwick {

inline constexpr std::string_view kWeakenedTitle = "Protection weakened (possible tampering)";
inline constexpr std::string_view kBinaryChangedTitle = "Tarnwick binary changed on disk";
inline constexpr std::chrono::seconds kTamperInterval{5};

// What of a configuration decides how strongly the engine protects.
struct ProtectionSummary {
  Severity min_response_severity = Severity::Critical;
  uint64_t watch_dir_count = 0;  // entries in the list, whether they exist or not
  bool auto_response = false;
  bool network_blocking = false;
  bool ransomware_blocking = false;
  bool persistence_removal = false;

  bool operator==(const ProtectionSummary&) const = default;
};

ProtectionSummary summarise(const Config& config);

// The reason of the first weakening rule that applies going from `before` to
// `after`; nothing when none does (equal, stronger, or a severity change alone).
std::optional<std::string_view> weakening_reason(const ProtectionSummary& before,
                                                 const ProtectionSummary& after);

Alert weakened_alert(std::string_view reason);
Alert binary_changed_alert();

struct TamperWatchParts {
  std::filesystem::path config_path;
  // read_config in the engine: it never creates or writes the file.
  std::function<ConfigReading(const std::filesystem::path&)> read;
  // The running executable; nothing turns the executable check off.
  std::optional<std::filesystem::path> executable;
  // The file's size in bytes; nothing when it cannot be read.
  std::function<std::optional<uint64_t>(const std::filesystem::path&)> size;
  AlertOut& out;
  // Every 5 s, game mode or not; it ends when this reports `stop`.
  Sleeper sleep;
};

// Polls in a row a configuration file that cannot be read or parsed is
// passed over (an editor's save caught halfway, a file locked for a moment)
// before it counts as what the next start would use: the defaults.
inline constexpr int kUnreadablePollsSkipped = 3;

class TamperWatch {
 public:
  // Takes the baselines: the configuration's summary (a missing file is the
  // defaults; an unreadable one gives none yet) and, when it can be read,
  // the executable's size.
  explicit TamperWatch(TamperWatchParts& parts);

  // One comparison: the configuration, then the executable.
  void poll();

 private:
  // The summary to compare, or nothing while an unreadable file is skipped.
  std::optional<ProtectionSummary> read_summary();

  TamperWatchParts& p_;
  std::optional<ProtectionSummary> baseline_;
  int unreadable_polls_ = 0;
  std::optional<uint64_t> size_baseline_;
};

// The detector thread body: a poll every 5 s (game mode does not change it)
// until `stop` is set.
void run_tamper_watch(TamperWatchParts& parts);

}  // namespace tarnwick
