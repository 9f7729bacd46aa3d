#pragma once
// Ransomware burst detection for one watched folder: counts qualifying file
// changes in a sliding window, keeps a tally of their extensions, and
// when the window holds a burst raises "Possible ransomware activity" (at
// most once every 30 s), naming the fastest writer if a probe finds one.
// Each folder's watcher thread owns its detector; nothing here is shared.

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "alert/alert.h"
#include "config/config.h"

namespace tarnwick {

inline constexpr std::string_view kRansomwareTitle = "Possible ransomware activity";
inline constexpr std::string_view kRansomwareTechnique = "T1486 (Data Encrypted for Impact)";
inline constexpr float kRansomwareScore = 9.4f;
inline constexpr std::chrono::seconds kRansomwarePause{30};
// Distinct extensions tallied per folder; a new one beyond it takes the place
// of the least-counted.
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

  // The end of one batch: the alert to push, if the window holds a burst, the
  // pause since the last one is over and the burst is not one of temporary
  // files. Asks `culprits` only when it is going to alert.
  std::optional<Alert> end_batch(Clock::time_point now, CulpritFinder& culprits);

  size_t event_count() const { return events_.size(); }
  // How many of the window's events have this lower-case extension.
  uint32_t tally(std::string_view lower_extension) const;
  size_t tallied_extensions() const { return by_name_.size(); }

 private:
  static constexpr uint32_t kNoExtension = UINT32_MAX;

  // One change in the window: when it came and the tally slot it counted in,
  // with that slot's generation, so an event whose entry was evicted and whose
  // slot was reused for another extension takes nothing from the newcomer.
  struct Event {
    Clock::time_point at;
    uint32_t slot = kNoExtension;
    uint32_t generation = 0;
  };

  // The events, oldest first, in a ring that is reused rather than
  // reallocated once it has grown.
  class EventRing {
   public:
    void push_back(const Event& e);
    void pop_front();
    const Event& front() const { return slots_[head_]; }
    size_t size() const { return size_; }

   private:
    std::vector<Event> slots_;
    size_t head_ = 0;
    size_t size_ = 0;
  };

  struct Entry {
    std::string extension;
    uint32_t count = 0;
    uint32_t generation = 0;
    uint64_t last_counted = 0;  // the record number that last added to it
  };
  // (count, last counted, slot): least-counted and longest-untouched first.
  using CountKey = std::tuple<uint32_t, uint64_t, uint32_t>;

  // The slot and generation the extension counted in, none when it has none.
  std::pair<uint32_t, uint32_t> count_extension(std::string_view extension);
  void drop_oldest();
  void adjust(uint32_t slot, bool up);
  void release(uint32_t slot);

  BurstSettings settings_;
  std::string folder_;
  Clock::duration window_;
  size_t max_events_;
  EventRing events_;
  // The tally of the window's events: entries live in slots, found by name
  // and kept ordered by count, so the top and the least-counted extension are
  // at the two ends. An entry whose count falls to 0 is released.
  std::vector<Entry> entries_;
  std::vector<uint32_t> free_slots_;
  std::unordered_map<std::string, uint32_t> by_name_;
  std::set<CountKey> by_count_;
  uint64_t records_ = 0;
  uint32_t last_slot_ = kNoExtension;  // the slot the previous record counted in
  std::string lower_;                  // reused for each extension
  std::optional<Clock::time_point> last_alert_;
};

}  // namespace tarnwick
