#pragma once
// The injected-memory half of the "selfprotect" detector: each scan examines
// the next 25 processes of the sorted pid list and reports an unsigned program
// running from a malware drop folder that holds at least 256 KB of private
// memory that is writable and executable at once. The scan cursor and the set
// of reported pids belong to the program run, not to one detector run.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "alert/alert.h"
#include "engine/alert_queue.h"
#include "procmeta/procmeta.h"

namespace tarnwick {

inline constexpr std::string_view kInjectionTitle = "Possible code injection (RWX memory)";
inline constexpr uint64_t kRwxThreshold = 0x40000;
inline constexpr size_t kProcessesPerScan = 25;
inline constexpr uint32_t kMemCommit = 0x1000;
inline constexpr uint32_t kMemPrivate = 0x20000;
inline constexpr uint32_t kPageExecuteReadWrite = 0x40;

// One region of an address space as the system describes it.
struct MemoryRegion {
  uint64_t base = 0;
  uint64_t size = 0;
  uint32_t state = 0;
  uint32_t type = 0;
  uint32_t protect = 0;
};

using RegionVisitor = std::function<void(const MemoryRegion&)>;

// Another process's address space, region by region.
class ProcessMemory {
 public:
  virtual ~ProcessMemory() = default;
  // Visits the regions of `pid` from address 0 upwards; false when the
  // process cannot be opened (nothing is visited).
  virtual bool walk(uint32_t pid, const RegionVisitor& visit) = 0;
  // When `pid`'s process was created, in the system's own units; with the
  // pid it names one process, as pids are reused. Nothing when unreadable.
  virtual std::optional<uint64_t> creation_time(uint32_t pid) = 0;
};

// The region holding an address; nothing when the query fails.
using RegionQuery = std::function<std::optional<MemoryRegion>(uint64_t address)>;

// Queries from address 0, each time at the end of the region before, until a
// query fails or the next address does not lie above the one just queried
// (an empty region, or the end of the address space).
void walk_address_space(const RegionQuery& query, const RegionVisitor& visit);

// Committed private regions whose protection has PAGE_EXECUTE_READWRITE set.
bool counts_as_rwx(const MemoryRegion& region);

// True when the lower-cased path lies in one of the usual drop folders.
bool in_drop_folder(std::string_view lower_path);

// "Possible code injection (RWX memory)" for `pid`, `total` bytes of RWX memory.
Alert injection_alert(uint32_t pid, std::string_view name, uint64_t total, std::string_view path);

// What outlives restarts of the detector: the cursor into the pid list and
// the processes already reported. Any thread.
class InjectionScanState {
 public:
  // The cursor's value before it moves on by one scan's worth of processes.
  uint64_t advance() { return cursor_.fetch_add(kProcessesPerScan, std::memory_order_relaxed); }
  // A process is its pid and creation time: a pid the system hands out again
  // names a new process, which is examined again.
  bool reported(uint32_t pid, std::optional<uint64_t> created) const;
  void mark_reported(uint32_t pid, std::optional<uint64_t> created);
  // Forgets the reported processes whose pid is not in `running` (sorted),
  // so the set never outgrows the process list.
  void forget_ended(const std::vector<uint32_t>& running);

 private:
  std::atomic<uint64_t> cursor_{0};
  mutable std::mutex mutex_;
  std::unordered_map<uint32_t, std::optional<uint64_t>> reported_;
};

struct InjectionScanParts {
  ProcessTable& table;
  ProcessMemory& memory;
  const ProcessQuery& query;
  const SignatureCheck& trust;
  InjectionScanState& state;
  uint32_t own_pid;
  AlertOut& out;
};

// One scan of the next 25 processes (pids above 4, ascending).
void scan_for_injection(InjectionScanParts& parts);

}  // namespace tarnwick
