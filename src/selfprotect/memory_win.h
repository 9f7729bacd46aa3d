#pragma once
// Other processes' address spaces through VirtualQueryEx.

#include "selfprotect/injection.h"

namespace tarnwick {

class WindowsProcessMemory final : public ProcessMemory {
 public:
  bool walk(uint32_t pid, const RegionVisitor& visit) override;
  std::optional<uint64_t> creation_time(uint32_t pid) override;
};

}  // namespace tarnwick
