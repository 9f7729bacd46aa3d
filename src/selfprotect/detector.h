#pragma once
// The "selfprotect" detector: every 8 s (30 s while game mode is on) the
// kernel-driver check, then one injected-memory scan. The driver baseline is
// taken when the detector starts; the scan's cursor and reported pids are
// handed in, so they survive restarts of the detector.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/alert_queue.h"
#include "engine/flags.h"
#include "procmeta/procmeta.h"
#include "registry/registry.h"
#include "selfprotect/drivers.h"
#include "selfprotect/injection.h"

namespace tarnwick {

struct SelfProtectParts {
  const RegistryReader& registry;
  RegistryWriter& writer;
  DriverServices& driver_services;
  const FileDigest& digest;
  std::span<const KnownDriver> known_drivers;
  ProcessTable& table;
  ProcessMemory& memory;
  const ProcessQuery& query;
  const SignatureCheck& trust;
  InjectionScanState& scan_state;
  std::optional<std::string> system_root;
  uint32_t own_pid;
  AlertOut& out;
  const EngineFlags& flags;
  Sleeper sleep;
};

// The detector thread body: returns once `stop` is set.
void run_selfprotect_detector(SelfProtectParts& parts);

}  // namespace tarnwick
