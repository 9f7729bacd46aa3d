#pragma once
// Runs the detectors for the life of the engine: each run on a fresh thread,
// restarted after 1, 2, 4, 8, 16 and then 30 s whenever it returns while the
// engine is still running. The delay is never reset. One supervising thread
// serves every detector.

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "engine/flags.h"

namespace tarnwick {

using DetectorFn = std::function<void()>;

// The next back-off delay after `current`: doubled, capped at 30 s.
std::chrono::seconds next_restart_delay(std::chrono::seconds current);

// "[supervisor] detector '{name}' exited; restarting in {delay}s"
std::string restart_line(const std::string& name, std::chrono::seconds delay);

struct SupervisedDetector {
  std::string name;
  DetectorFn run;
};

// Supervises every detector from the calling thread: each run is on a fresh
// thread named after its detector, and each detector keeps its own delay. An
// exit is noticed at once; the back-off waits go through `sleep`, in slices
// of at most 250 ms while other detectors run. Returns once `stop` is set and
// every run has ended. A detector function that throws is contained here: its
// message goes to `err` and the run counts as an exit, so the restart rule
// applies.
void supervise_detectors(const std::vector<SupervisedDetector>& detectors,
                         const EngineFlags& flags, const Sleeper& sleep, std::ostream& err);

// The same for one detector.
void supervise_detector(const std::string& name, const DetectorFn& detector,
                        const EngineFlags& flags, const Sleeper& sleep, std::ostream& err);

// Starts a thread named `name` (what process viewers show); when the system
// cannot create one, the process ends with "failed to spawn thread".
std::thread spawn_thread(std::string name, std::function<void()> body);

// Writes `message` to standard error and ends the process.
[[noreturn]] void fatal(const char* message);

}  // namespace tarnwick
