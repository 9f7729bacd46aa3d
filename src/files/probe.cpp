#include "files/probe.h"

#include <string>
#include <utility>
#include <vector>

#include "text/text.h"

namespace tarnwick {

std::optional<Culprit> WriteRateProbe::find_culprit() {
  std::vector<std::pair<uint32_t, uint64_t>> first;
  for (const auto& [pid, file] : parts_.table.snapshot()) {
    if (pid <= 4 || pid == parts_.own_pid) continue;
    if (auto written = parts_.counter.bytes_written(pid)) first.emplace_back(pid, *written);
  }

  parts_.pause(kProbeInterval);

  // Among equal deltas the first in pid order stays.
  std::optional<uint32_t> best_pid;
  uint64_t best_delta = 0;
  for (const auto& [pid, before] : first) {
    const std::optional<uint64_t> after = parts_.counter.bytes_written(pid);
    if (!after || *after <= before) continue;
    const uint64_t delta = *after - before;
    if (!best_pid || delta > best_delta) {
      best_pid = pid;
      best_delta = delta;
    }
  }
  if (!best_pid) return std::nullopt;

  const std::chrono::duration<double> interval = kProbeInterval;
  const double rate = static_cast<double>(best_delta) / interval.count() / 1048576.0;
  if (rate < 1.0) return std::nullopt;

  // A fastest writer the responses would spare is trusted (Windows Update
  // servicing the machine outwrites any burst); the next-fastest is not
  // considered.
  const std::optional<std::string> path = parts_.query.query_image_path(*best_pid);
  if (spare_reason(*best_pid, path, parts_.standing, parts_.trust)) return std::nullopt;
  return Culprit{path ? std::string(file_name(*path)) : "?", *best_pid, rate};
}

}  // namespace tarnwick
