#include "selfprotect/injection.h"

#include <algorithm>
#include <vector>

#include "text/text.h"

namespace tarnwick {

void walk_address_space(const RegionQuery& query, const RegionVisitor& visit) {
  uint64_t address = 0;
  for (;;) {
    const std::optional<MemoryRegion> region = query(address);
    if (!region) return;
    visit(*region);
    // Unsigned arithmetic: a region reaching the top of the address space
    // wraps to an address below, which ends the walk like an empty region.
    const uint64_t next = region->base + region->size;
    if (next <= address) return;
    address = next;
  }
}

bool counts_as_rwx(const MemoryRegion& region) {
  return region.state == kMemCommit && region.type == kMemPrivate &&
         (region.protect & kPageExecuteReadWrite) != 0;
}

bool in_drop_folder(std::string_view lower_path) {
  static constexpr std::string_view kDropFolders[] = {"\\appdata\\local\\temp\\",
                                                      "\\windows\\temp\\", "\\users\\public\\",
                                                      "\\downloads\\", "\\$recycle.bin\\"};
  return std::any_of(
      std::begin(kDropFolders), std::end(kDropFolders),
      [&](std::string_view folder) { return lower_path.find(folder) != std::string_view::npos; });
}

Alert injection_alert(uint32_t pid, std::string_view name, uint64_t total, std::string_view path) {
  Alert alert = make_alert(
      AlertSource::Process, Severity::High, kInjectionTitle,
      std::string(name) + " (pid " + std::to_string(pid) +
          ") \u2014 an UNSIGNED binary running from a malware drop folder \u2014 holds " +
          std::to_string(total / 1024) +
          " KB of private executable-writable memory, the hallmark of code injection / hollowing "
          "/ fileless malware.\nPath: " +
          std::string(path));
  alert.pid = pid;
  alert.dedup_key = "inject:" + std::to_string(pid);
  return with_mitre(std::move(alert), "T1055 (Process Injection)", 8.4f);
}

bool InjectionScanState::reported(uint32_t pid, std::optional<uint64_t> created) const {
  std::lock_guard lock(mutex_);
  auto it = reported_.find(pid);
  return it != reported_.end() && it->second == created;
}

void InjectionScanState::mark_reported(uint32_t pid, std::optional<uint64_t> created) {
  std::lock_guard lock(mutex_);
  reported_[pid] = created;
}

void InjectionScanState::forget_ended(const std::vector<uint32_t>& running) {
  std::lock_guard lock(mutex_);
  std::erase_if(reported_, [&](const auto& entry) {
    return !std::binary_search(running.begin(), running.end(), entry.first);
  });
}

namespace {

// Pids 0 to 4 belong to the system itself and are never examined.
std::vector<uint32_t> scannable_pids(const ProcessSnapshot& snapshot) {
  std::vector<uint32_t> pids;
  pids.reserve(snapshot.size());
  for (const auto& entry : snapshot) {
    if (entry.first > 4) pids.push_back(entry.first);
  }
  return pids;  // ascending: the snapshot is ordered by pid
}

void examine(InjectionScanParts& p, uint32_t pid) {
  // Cheapest first: the folder test needs one path query, a walk queries
  // every region of the address space, and only the rare program running
  // from a drop folder is worth that.
  const std::optional<std::string> path = p.query.query_image_path(pid);
  if (!path || !in_drop_folder(to_lower(*path))) return;
  // A process is its pid and creation time: asked only now, as reading it
  // opens the process too.
  const std::optional<uint64_t> created = p.memory.creation_time(pid);
  if (p.state.reported(pid, created)) return;

  uint64_t total = 0;
  const bool opened = p.memory.walk(pid, [&](const MemoryRegion& region) {
    if (counts_as_rwx(region)) total += region.size;
  });
  if (!opened || total < kRwxThreshold) return;
  // The costly check last, once everything cheaper has held.
  if (p.trust.is_file_signed(*path)) return;

  // The name is that of the path just read, as process_name would give it,
  // so a process ending in between cannot leave a known path with a "?" name.
  p.out.push(injection_alert(pid, file_name(*path), total, *path));
  p.state.mark_reported(pid, created);
}

}  // namespace

void scan_for_injection(InjectionScanParts& p) {
  const std::vector<uint32_t> pids = scannable_pids(p.table.snapshot());
  if (pids.empty()) return;
  p.state.forget_ended(pids);
  const size_t start = static_cast<size_t>(p.state.advance() % pids.size());
  const size_t n = std::min(kProcessesPerScan, pids.size());
  for (size_t i = 0; i < n; ++i) {
    const uint32_t pid = pids[(start + i) % pids.size()];
    if (pid == p.own_pid) continue;
    examine(p, pid);
  }
}

}  // namespace tarnwick
