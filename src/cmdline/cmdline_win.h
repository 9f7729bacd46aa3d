#pragma once
// The command line of another process through the system's process queries
// and, where those refuse, a read of the process's memory.

#include "cmdline/cmdline.h"

namespace tarnwick {

class WindowsProcessAccess final : public ProcessAccess {
 public:
  std::optional<CommandLineInfo> query_command_line_info(uint32_t pid) override;
  std::unique_ptr<RemoteMemory> open_memory(uint32_t pid) override;
};

}  // namespace tarnwick
