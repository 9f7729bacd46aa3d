#pragma once
// Real-time trace sessions through the system's event tracing.

#include "etw/trace.h"

namespace tarnwick {

class WindowsTraceFactory final : public TraceFactory {
 public:
  TraceStart start(const std::string& session_name, const TraceProvider& provider,
                   TraceCallback on_event) override;
  TraceStart start_kernel(const std::string& session_name, const KernelTrace& kernel,
                          TraceCallback on_event) override;
};

}  // namespace tarnwick
