#pragma once
// Image paths of other processes, remembered by pid and creation time, for the
// pollers that name the owners of the same connections every few seconds. A
// pid alone does not name a process (the system hands pids out again); with
// its creation time it does, so a remembered answer stays true for as long as
// the list of processes shows the same creation time. A steady connection
// table then costs one read of the process list per poll and no process opens.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

#include "procmeta/procmeta.h"

namespace tarnwick {

// pid -> creation time, in the system's own units.
using CreationTimes = std::unordered_map<uint32_t, uint64_t>;

// When each running process was created, read for all of them at once.
class ProcessCreationTimes {
 public:
  virtual ~ProcessCreationTimes() = default;
  // Empty when the process list cannot be read.
  virtual CreationTimes read() = 0;
};

inline constexpr size_t kNameCacheCapacity = 1024;
// One read of the process list serves every lookup of one poll.
inline constexpr std::chrono::milliseconds kCreationTimesMaxAge{500};

// A ProcessQuery that asks `inner` only for a process it has not answered
// before. Failures are remembered too: a process that cannot be opened now
// will not open on the next poll either. Not shared between threads.
class CachedProcessQuery final : public ProcessQuery {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  CachedProcessQuery(const ProcessQuery& inner, ProcessCreationTimes& times, Clock now,
                     size_t capacity = kNameCacheCapacity);

  std::optional<std::string> query_image_path(uint32_t pid) const override;

  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    uint64_t created = 0;
    std::optional<std::string> path;
  };

  const CreationTimes& current_times() const;
  void make_room() const;

  const ProcessQuery& inner_;
  ProcessCreationTimes& times_;
  Clock now_;
  size_t capacity_;
  mutable CreationTimes list_;
  mutable std::optional<std::chrono::steady_clock::time_point> list_read_at_;
  mutable std::unordered_map<uint32_t, Entry> entries_;
};

}  // namespace tarnwick
