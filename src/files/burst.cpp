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

void BurstDetector::EventRing::push_back(Clock::time_point t) {
  if (size_ == slots_.size()) {
    // Capacities are powers of two, so a mask finds a slot.
    std::vector<Clock::time_point> grown(std::max<size_t>(64, slots_.size() * 2));
    for (size_t i = 0; i < size_; ++i) grown[i] = slots_[(head_ + i) & (slots_.size() - 1)];
    slots_ = std::move(grown);
    head_ = 0;
  }
  slots_[(head_ + size_) & (slots_.size() - 1)] = t;
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
      max_events_(size_t{settings.burst_threshold} + kEventSlack) {}

void BurstDetector::record(std::string_view relative_name, Clock::time_point now) {
  events_.push_back(now);
  // An instant later than `now` has age zero and stays.
  while (events_.size() > 0 && now > events_.front() && now - events_.front() > window_) {
    events_.pop_front();
  }
  // A flood inside a long window would otherwise grow the list without limit;
  // anything past the threshold only changes the count the alert shows.
  if (events_.size() > max_events_) events_.pop_front();

  if (auto extension = file_extension(relative_name)) count_extension(*extension);
}

void BurstDetector::record_overflow(Clock::time_point now) {
  for (uint32_t i = 0; i < settings_.burst_threshold; ++i) record({}, now);
  overflows_.push_back(now);
}

size_t BurstDetector::overflow_count() const {
  size_t count = 0;
  const Clock::time_point oldest = events_.size() > 0 ? events_.front() : Clock::time_point::max();
  for (const Clock::time_point t : overflows_) {
    if (t >= oldest) count += settings_.burst_threshold;
  }
  return std::min(count, events_.size());
}

void BurstDetector::count_extension(std::string_view extension) {
  lower_.clear();
  append_lower(extension, lower_);
  Tally::value_type* entry = last_;
  if (entry == nullptr || entry->first != lower_) {
    auto it = tally_.find(lower_);
    if (it == tally_.end()) {
      // Every distinct extension an attacker creates would be a new entry.
      if (tally_.size() >= kMaxTalliedExtensions) return;
      it = tally_.emplace(lower_, 0).first;
    }
    entry = &*it;
    last_ = entry;
  }
  if (entry->second != std::numeric_limits<uint32_t>::max()) ++entry->second;
  if (top_ == nullptr || entry->second > top_->second) top_ = entry;
}

uint32_t BurstDetector::tally(std::string_view lower_extension) const {
  auto it = tally_.find(std::string(lower_extension));
  return it == tally_.end() ? 0 : it->second;
}

std::optional<Alert> BurstDetector::end_batch(Clock::time_point now, CulpritFinder& culprits) {
  const size_t events = events_.size();
  if (events < settings_.burst_threshold) return std::nullopt;
  if (last_alert_ && (now <= *last_alert_ || now - *last_alert_ < kRansomwarePause)) {
    return std::nullopt;
  }
  // The pause starts here, so a burst of temporary files also holds off the next alert.
  last_alert_ = now;
  // Lost changes have no extension: the temporary-file test weighs only the
  // names that were seen.
  while (!overflows_.empty() && (events_.size() == 0 || overflows_.front() < events_.front())) {
    overflows_.pop_front();
  }
  const size_t seen = events - overflow_count();
  if (top_ != nullptr && seen > 0 && top_->second >= seen / 2 && is_ignored_extension(top_->first)) {
    return std::nullopt;
  }

  std::string detail = std::to_string(events) + " file changes in " +
                       std::to_string(settings_.window_secs) + "s under " + folder_ + ".";
  if (top_ != nullptr && top_->second >= settings_.note_threshold) {
    detail += " Many files now end in ." + top_->first + " (" + std::to_string(top_->second) +
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
