#include "procmeta/name_cache.h"

#include <utility>

namespace tarnwick {

CachedProcessQuery::CachedProcessQuery(const ProcessQuery& inner, ProcessCreationTimes& times,
                                       Clock now, size_t capacity)
    : inner_(inner), times_(times), now_(std::move(now)), capacity_(capacity == 0 ? 1 : capacity) {}

const CreationTimes& CachedProcessQuery::current_times() const {
  const auto now = now_();
  if (!list_read_at_ || now - *list_read_at_ >= kCreationTimesMaxAge || now < *list_read_at_) {
    list_ = times_.read();
    list_read_at_ = now;
  }
  return list_;
}

void CachedProcessQuery::make_room() const {
  // Processes that ended (or whose pid now names another) go first; a cache
  // full of live processes starts over rather than grow.
  std::erase_if(entries_, [&](const auto& kv) {
    const auto it = list_.find(kv.first);
    return it == list_.end() || it->second != kv.second.created;
  });
  if (entries_.size() >= capacity_) entries_.clear();
}

std::optional<std::string> CachedProcessQuery::query_image_path(uint32_t pid) const {
  const CreationTimes& times = current_times();
  const auto listed = times.find(pid);
  // Without a creation time nothing says which process the pid names now.
  if (listed == times.end()) return inner_.query_image_path(pid);

  const auto found = entries_.find(pid);
  if (found != entries_.end() && found->second.created == listed->second) return found->second.path;

  std::optional<std::string> path = inner_.query_image_path(pid);
  if (found != entries_.end()) {
    found->second = Entry{listed->second, path};
  } else {
    if (entries_.size() >= capacity_) make_room();
    entries_.emplace(pid, Entry{listed->second, path});
  }
  return path;
}

}  // namespace tarnwick
