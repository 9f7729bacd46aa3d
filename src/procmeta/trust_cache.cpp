#include "procmeta/trust_cache.h"

namespace tarnwick {

CachedSignatureCheck::CachedSignatureCheck(const FileTrust& trust, size_t capacity)
    : trust_(trust), capacity_(capacity == 0 ? 1 : capacity) {}

bool CachedSignatureCheck::is_file_signed(std::string_view path) const {
  if (path.empty()) return false;
  const std::optional<FileStamp> stamp = trust_.stamp(path);
  if (!stamp) return false;
  const std::string key(path);
  {
    std::lock_guard lock(mutex_);
    auto it = verdicts_.find(key);
    if (it != verdicts_.end() && it->second.stamp == *stamp) return it->second.trusted;
  }
  // Verified outside the lock: hashing a large file must not hold up other threads.
  const bool trusted = trust_.embedded_signature(path) || trust_.catalog_signature(path);
  std::lock_guard lock(mutex_);
  auto [it, added] = verdicts_.insert_or_assign(key, Verdict{*stamp, trusted});
  if (added) {
    order_.push_back(key);
    while (verdicts_.size() > capacity_) {
      verdicts_.erase(order_.front());
      order_.pop_front();
    }
  }
  return trusted;
}

size_t CachedSignatureCheck::cached() const {
  std::lock_guard lock(mutex_);
  return verdicts_.size();
}

}  // namespace tarnwick
