#pragma once
// The process list from a Toolhelp snapshot.

#include "proc/detector.h"

namespace tarnwick {

class WindowsProcessTable final : public ProcessTable {
 public:
  ProcessSnapshot snapshot() override;
};

}  // namespace tarnwick
