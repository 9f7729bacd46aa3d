#pragma once
// Ransomware burst detection for one watched folder: counts qualifying file
// changes in a sliding window, keeps a running tally of their extensions, and
// when the window holds a burst raises "Possible ransomware activity" (at
// most once every 30 s), naming the fastest writer if a probe finds one.
// Each folder's watcher thread owns its detector; nothing here is shared.

#include <chrono>
#include <deque>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "alert/alert.h"
#include "config/config.h"

namespace tarnwick {

inline constexpr std::string_view kRansomwareTitle = "Possible ransomware activity";
inline constexpr std::string_view kRansomwareTechnique = "T1486 (Data Encrypted for Impact)";
inline constexpr float kRansomwareScore = 9.4f;
inline constexpr std::chrono::seconds kRansomwarePause{30};
// Distinct extensions kept per folder; later new ones still count as events.
inline constexpr size_t kMaxTalliedExtensions = 65536;
// Events kept beyond the burst threshold before the oldest are dropped.
inline constexpr size_t kEventSlack = 1'000'000;

// The process the write-rate probe found writing fastest.
struct Culprit {
  std::string name;  // image file name, "?" when its path could not be read
  uint32_t pid = 0;
  double rate_mb_s = 0;  // MB = 2^20 bytes
};

class CulpritFinder {
 public:
  virtual ~CulpritFinder() = default;
  // May block for the length of its probe.
  virtual std::optional<Culprit> find_culprit() = 0;
};

struct BurstSettings {
  uint64_t window_secs = 10;
  uint32_t burst_threshold = 20;
  uint32_t note_threshold = 10;
};
// The window raised to at least 1 s, the threshold to at least 5, the note
// threshold half the threshold.
BurstSettings burst_settings(const Config& config);

// The extension of the last component of `name` as written (not lower-cased):
// none for "..", a name without a dot or with only a leading one; empty for a
// name ending in a dot.
std::optional<std::string_view> file_extension(std::string_view name);

// One of the temporary and cache extensions whose bursts are not reported.
bool is_ignored_extension(std::string_view lower_extension);

class BurstDetector {
 public:
  using Clock = std::chrono::steady_clock;

  BurstDetector(const BurstSettings& settings, std::string folder);

  // One qualifying change, named relative to the folder, seen at `now`.
  void record(std::string_view relative_name, Clock::time_point now);

  // A read whose changes overflowed the buffer and were lost: at least as
  // many as fit, so it counts as `burst_threshold` changes without an
  // extension. The burst that overflows the buffer is the largest one.
  void record_overflow(Clock::time_point now);

  // The end of one batch: the alert to push, if the window holds a burst, the
  // pause since the last one is over and the burst is not one of temporary
  // files. Asks `culprits` only when it is going to alert.
  std::optional<Alert> end_batch(Clock::time_point now, CulpritFinder& culprits);

  size_t event_count() const { return events_.size(); }
  // How many of event_count() stand for lost changes.
  size_t overflow_count() const;
  // The tally of a lower-case extension; 0 when it has none.
  uint32_t tally(std::string_view lower_extension) const;
  size_t tallied_extensions() const { return tally_.size(); }

 private:
  // The event instants, oldest first, in a ring that is reused rather than
  // reallocated once it has grown.
  class EventRing {
   public:
    void push_back(Clock::time_point t);
    void pop_front();
    const Clock::time_point& front() const { return slots_[head_]; }
    size_t size() const { return size_; }

   private:
    std::vector<Clock::time_point> slots_;
    size_t head_ = 0;
    size_t size_ = 0;
  };

  using Tally = std::unordered_map<std::string, uint32_t>;

  void count_extension(std::string_view extension);

  BurstSettings settings_;
  std::string folder_;
  Clock::duration window_;
  size_t max_events_;
  EventRing events_;
  Tally tally_;
  // Entries of a node-based map keep their address, so these stay valid.
  const Tally::value_type* top_ = nullptr;
  Tally::value_type* last_ = nullptr;  // the entry the previous record counted
  std::string lower_;                  // reused for each extension
  std::optional<Clock::time_point> last_alert_;
  // The instants of the overflows still in the window, oldest first; each
  // stands for burst_threshold events.
  std::deque<Clock::time_point> overflows_;
};

}  // namespace tarnwick
