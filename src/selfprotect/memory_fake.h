#pragma once
// An in-memory stand-in for other processes' address spaces. Tests only.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "selfprotect/injection.h"

namespace tarnwick::testing {

class FakeProcessMemory final : public ProcessMemory {
 public:
  // Processes that can be opened, with their regions; any other pid cannot.
  std::map<uint32_t, std::vector<MemoryRegion>> regions;
  // Every pid a walk was asked for, in order.
  std::vector<uint32_t> walked;
  // Creation times; a pid not listed has none that can be read.
  std::map<uint32_t, uint64_t> created;

  // Every pid whose creation time was asked for, in order.
  std::vector<uint32_t> asked_created;

  std::optional<uint64_t> creation_time(uint32_t pid) override {
    asked_created.push_back(pid);
    auto it = created.find(pid);
    if (it == created.end()) return std::nullopt;
    return it->second;
  }

  bool walk(uint32_t pid, const RegionVisitor& visit) override {
    walked.push_back(pid);
    auto it = regions.find(pid);
    if (it == regions.end()) return false;
    for (const MemoryRegion& r : it->second) visit(r);
    return true;
  }
};

// One committed private PAGE_EXECUTE_READWRITE region.
inline MemoryRegion rwx_region(uint64_t base, uint64_t size) {
  return {base, size, kMemCommit, kMemPrivate, kPageExecuteReadWrite};
}

}  // namespace tarnwick::testing
