#include "files/burst.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

#include "text/text.h"

namespace tarnwick {

namespace {

constexpr std::array<std::string_view, 19> kIgnoredExtensions = {
    "log",    "tmp",  "temp",       "dmp",      "cache", "etl",     "bak",
    "old",    "part", "crdownload", "download", "ldb",   "journal", "db-wal",
    "db-shm", "pak",  "dat",        "manifest", "lock"};

// The window as a clock duration; a window longer than the clock can express
// keeps every event.
std::chrono::steady_clock::duration window_duration(uint64_t secs) {
  using Duration = std::chrono::steady_clock::duration;
  constexpr uint64_t max_secs = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::seconds>(Duration::max()).count());
  if (secs >= max_secs) return Duration::max();
  return std::chrono::seconds(static_cast<int64_t>(secs));
}

std::string whole_rate(double rate) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f", rate);
  return text;
}

}  // namespace

BurstSettings burst_settings(const Config& config) {
  BurstSettings s;
  s.window_secs = std::max<uint64_t>(config.ransomware_window_secs, 1);
  s.burst_threshold = std::max<uint32_t>(config.ransomware_burst_count, 5);
  s.note_threshold = s.burst_threshold / 2;
  return s;
}

std::optional<std::string_view> file_extension(std::string_view name) {
  const std::string_view last = file_name(name);
  if (last == "..") return std::nullopt;
  const size_t dot = last.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  return last.substr(dot + 1);
}

bool is_ignored_extension(std::string_view lower_extension) {
  return std::find(kIgnoredExtensions.begin(), kIgnoredExtensions.end(), lower_extension) !=
         kIgnoredExtensions.end();
}

void BurstDetector::EventRing::push_back(const Event& e) {
  if (size_ == slots_.size()) {
    // Capacities are powers of two, so a mask finds a slot.
    std::vector<Event> grown(std::max<size_t>(64, slots_.size() * 2));
    for (size_t i = 0; i < size_; ++i) grown[i] = slots_[(head_ + i) & (slots_.size() - 1)];
    slots_ = std::move(grown);
    head_ = 0;
  }
  slots_[(head_ + size_) & (slots_.size() - 1)] = e;
  ++size_;
}

void BurstDetector::EventRing::pop_front() {
  head_ = (head_ + 1) & (slots_.size() - 1);
  --size_;
}

BurstDetector::BurstDetector(const BurstSettings& settings, std::string folder)
    : settings_(settings),
      folder_(std::move(folder)),
      window_(window_duration(settings.window_secs)),
      // A tally count never exceeds the events held, so it cannot overflow.
      max_events_(std::min<size_t>(size_t{settings.burst_threshold} + kEventSlack,
                                   std::numeric_limits<uint32_t>::max())) {}

void BurstDetector::record(std::string_view relative_name, Clock::time_point now) {
  // An instant later than `now` has age zero and stays.
  while (events_.size() > 0 && now > events_.front().at && now - events_.front().at > window_) {
    drop_oldest();
  }
  Event event{now};
  if (auto extension = file_extension(relative_name)) {
    std::tie(event.slot, event.generation) = count_extension(*extension);
  }
  events_.push_back(event);
  // A flood inside a long window would otherwise grow the list without limit;
  // anything past the threshold only changes the count the alert shows.
  if (events_.size() > max_events_) drop_oldest();
}

void BurstDetector::drop_oldest() {
  const Event event = events_.front();
  events_.pop_front();
  if (event.slot == kNoExtension) return;
  Entry& entry = entries_[event.slot];
  if (entry.generation != event.generation) return;  // evicted since
  adjust(event.slot, false);
  if (entry.count == 0) release(event.slot);
}

std::pair<uint32_t, uint32_t> BurstDetector::count_extension(std::string_view extension) {
  lower_.clear();
  append_lower(extension, lower_);
  uint32_t slot = last_slot_;
  if (slot == kNoExtension || entries_[slot].count == 0 || entries_[slot].extension != lower_) {
    auto it = by_name_.find(lower_);
    if (it != by_name_.end()) {
      slot = it->second;
    } else {
      // Every distinct extension an attacker creates would be a new entry.
      // A new one still gets in: the burst being written now must be able to
      // become the top, whatever filled the tally before.
      if (by_name_.size() >= kMaxTalliedExtensions) release(std::get<2>(*by_count_.begin()));
      if (free_slots_.empty()) {
        slot = static_cast<uint32_t>(entries_.size());
        entries_.emplace_back();
      } else {
        slot = free_slots_.back();
        free_slots_.pop_back();
      }
      Entry& entry = entries_[slot];
      entry.extension = lower_;
      entry.last_counted = records_;
      by_name_.emplace(lower_, slot);
      by_count_.insert({0, entry.last_counted, slot});
    }
    last_slot_ = slot;
  }
  adjust(slot, true);
  return {slot, entries_[slot].generation};
}

void BurstDetector::adjust(uint32_t slot, bool up) {
  Entry& entry = entries_[slot];
  auto node = by_count_.extract(CountKey{entry.count, entry.last_counted, slot});
  if (up) {
    ++entry.count;
    entry.last_counted = ++records_;
  } else {
    --entry.count;
  }
  node.value() = CountKey{entry.count, entry.last_counted, slot};
  by_count_.insert(std::move(node));
}

void BurstDetector::release(uint32_t slot) {
  Entry& entry = entries_[slot];
  by_count_.erase(CountKey{entry.count, entry.last_counted, slot});
  by_name_.erase(entry.extension);
  entry.extension.clear();
  entry.count = 0;
  ++entry.generation;  // events still pointing here no longer count against it
  free_slots_.push_back(slot);
  if (last_slot_ == slot) last_slot_ = kNoExtension;
}

uint32_t BurstDetector::tally(std::string_view lower_extension) const {
  auto it = by_name_.find(std::string(lower_extension));
  return it == by_name_.end() ? 0 : entries_[it->second].count;
}

std::optional<Alert> BurstDetector::end_batch(Clock::time_point now, CulpritFinder& culprits) {
  const size_t events = events_.size();
  if (events < settings_.burst_threshold) return std::nullopt;
  if (last_alert_ && (now <= *last_alert_ || now - *last_alert_ < kRansomwarePause)) {
    return std::nullopt;
  }
  // The pause starts here, so a burst of temporary files also holds off the next alert.
  last_alert_ = now;
  // The top extension of the window's events; among equal counts the one
  // counted last.
  const Entry* top = by_count_.empty() ? nullptr : &entries_[std::get<2>(*by_count_.rbegin())];
  if (top != nullptr && top->count >= events / 2 && is_ignored_extension(top->extension)) {
    return std::nullopt;
  }

  std::string detail = std::to_string(events) + " file changes in " +
                       std::to_string(settings_.window_secs) + "s under " + folder_ + ".";
  if (top != nullptr && top->count >= settings_.note_threshold) {
    detail += " Many files now end in ." + top->extension + " (" + std::to_string(top->count) +
              ") \u2014 likely encryption.";
  }
  const std::optional<Culprit> culprit = culprits.find_culprit();
  if (culprit) {
    detail += " Likely culprit: " + culprit->name + " (pid " + std::to_string(culprit->pid) +
              ", ~" + whole_rate(culprit->rate_mb_s) + " MB/s writes).";
  }
  Alert alert =
      make_alert(AlertSource::Files, Severity::Critical, kRansomwareTitle, std::move(detail));
  alert.dedup_key = "ransom:" + folder_;
  if (culprit) {
    alert.pid = culprit->pid;
    alert.remediation = SuspendProcess{};
  }
  return with_mitre(std::move(alert), kRansomwareTechnique, kRansomwareScore);
}

}  // namespace tarnwick
