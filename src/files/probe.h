#pragma once
// The write-rate probe that names a burst's likely culprit: every process's
// total bytes written, sampled twice 600 ms apart; the fastest writer above
// 1 MB/s, unless the responses would spare it (critical, a service account,
// a validly signed image). Stateless: the folder watchers
// may share one probe when its parts are safe from several threads (the
// Windows ones are).

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "files/burst.h"
#include "procmeta/procmeta.h"

namespace tarnwick {

inline constexpr std::chrono::milliseconds kProbeInterval{600};

// Total bytes a process has written since it started.
class WriteCounter {
 public:
  virtual ~WriteCounter() = default;
  // Nothing when the process cannot be opened or its counters read.
  virtual std::optional<uint64_t> bytes_written(uint32_t pid) const = 0;
};

// A plain wait between the samples; the real one does not look at `stop`.
using Pause = std::function<void(std::chrono::milliseconds)>;

struct WriteRateProbeParts {
  ProcessTable& table;
  const WriteCounter& counter;
  const ProcessQuery& query;
  const SignatureCheck& trust;
  const ProcessStanding& standing;
  uint32_t own_pid;  // never a culprit, nor are pids 0 to 4
  Pause pause;
};

class WriteRateProbe final : public CulpritFinder {
 public:
  explicit WriteRateProbe(WriteRateProbeParts parts) : parts_(std::move(parts)) {}
  std::optional<Culprit> find_culprit() override;

 private:
  WriteRateProbeParts parts_;
};

}  // namespace tarnwick
