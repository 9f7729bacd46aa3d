#include "selfprotect/detector.h"

#include <chrono>

namespace tarnwick {

void run_selfprotect_detector(SelfProtectParts& p) {
  using std::chrono::seconds;
  DriverWatchParts driver_parts{p.registry, p.writer,        p.driver_services, p.trust,
                                p.digest,   p.known_drivers, p.system_root,     p.out};
  DriverWatch drivers(driver_parts);
  InjectionScanParts scan_parts{p.table,      p.memory,  p.query, p.trust,
                                p.scan_state, p.own_pid, p.out};
  while (p.sleep(p.flags.game_mode() ? seconds(30) : seconds(8))) {
    drivers.check();
    scan_for_injection(scan_parts);
  }
}

}  // namespace tarnwick
