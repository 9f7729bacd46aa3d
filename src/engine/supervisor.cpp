#include "engine/supervisor.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>

#include "sysenv/sysenv.h"

namespace tarnwick {

namespace {

// Seven supervisors share the stream: one write per line keeps lines whole.
void write_line(std::ostream& err, std::string line) {
  line += '\n';
  err.write(line.data(), static_cast<std::streamsize>(line.size()));
  err.flush();
}

}  // namespace

std::chrono::seconds next_restart_delay(std::chrono::seconds current) {
  return std::min(current * 2, std::chrono::seconds(30));
}

std::string restart_line(const std::string& name, std::chrono::seconds delay) {
  return "[supervisor] detector '" + name + "' exited; restarting in " +
         std::to_string(delay.count()) + "s";
}

namespace {

// One detector's place in the supervisor: its current run, or the back-off
// time still to wait before the next one.
struct DetectorSlot {
  const SupervisedDetector* detector = nullptr;
  std::thread run;
  bool running = false;
  bool ended = false;  // guarded by the supervisor's mutex
  std::chrono::seconds delay{1};
  std::chrono::milliseconds wait_left{0};
};

constexpr std::chrono::milliseconds kSupervisorSlice{250};

}  // namespace

void supervise_detectors(const std::vector<SupervisedDetector>& detectors,
                         const EngineFlags& flags, const Sleeper& sleep, std::ostream& err) {
  using std::chrono::milliseconds;
  std::mutex mutex;
  std::condition_variable run_ended;
  std::vector<DetectorSlot> slots(detectors.size());

  const auto start = [&](DetectorSlot& slot) {
    slot.ended = false;
    slot.running = true;
    const SupervisedDetector& d = *slot.detector;
    slot.run = spawn_thread(d.name, [&, &d = d, &slot = slot] {
      try {
        d.run();
      } catch (const std::exception& e) {
        write_line(err, "[supervisor] detector '" + d.name + "' failed: " + e.what());
      } catch (...) {
        write_line(err, "[supervisor] detector '" + d.name + "' failed: unknown error");
      }
      std::lock_guard lock(mutex);
      slot.ended = true;
      run_ended.notify_all();
    });
  };

  for (size_t i = 0; i < detectors.size(); ++i) slots[i].detector = &detectors[i];
  if (!flags.stopping()) {
    for (DetectorSlot& slot : slots) start(slot);
  }

  for (;;) {
    if (flags.stopping()) break;
    // Runs that ended go into their back-off wait.
    for (DetectorSlot& slot : slots) {
      bool ended = false;
      {
        std::lock_guard lock(mutex);
        ended = slot.running && slot.ended;
      }
      if (!ended) continue;
      slot.run.join();
      slot.running = false;
      if (flags.stopping()) break;
      write_line(err, restart_line(slot.detector->name, slot.delay));
      slot.wait_left = slot.delay;
      slot.delay = next_restart_delay(slot.delay);
    }
    if (flags.stopping()) break;

    bool any_running = false;
    std::optional<milliseconds> shortest_wait;
    for (const DetectorSlot& slot : slots) {
      if (slot.running) {
        any_running = true;
      } else if (!shortest_wait || slot.wait_left < *shortest_wait) {
        shortest_wait = slot.wait_left;
      }
    }
    if (shortest_wait) {
      // While other detectors run, their exits are looked for every slice.
      const milliseconds step = any_running ? std::min(*shortest_wait, kSupervisorSlice) : *shortest_wait;
      if (!sleep(step)) break;
      for (DetectorSlot& slot : slots) {
        if (slot.running) continue;
        slot.wait_left -= std::min(step, slot.wait_left);
        if (slot.wait_left == milliseconds(0) && !flags.stopping()) start(slot);
      }
    } else {
      std::unique_lock lock(mutex);
      run_ended.wait_for(lock, kSupervisorSlice, [&] {
        return std::any_of(slots.begin(), slots.end(),
                           [](const DetectorSlot& s) { return s.running && s.ended; });
      });
    }
  }
  // Every run notices `stop` on its own.
  for (DetectorSlot& slot : slots) {
    if (slot.running) slot.run.join();
  }
}

void supervise_detector(const std::string& name, const DetectorFn& detector,
                        const EngineFlags& flags, const Sleeper& sleep, std::ostream& err) {
  supervise_detectors({SupervisedDetector{name, detector}}, flags, sleep, err);
}

std::thread spawn_thread(std::string name, std::function<void()> body) {
  try {
    return std::thread([name = std::move(name), body = std::move(body)] {
      name_current_thread(name);
      body();
    });
  } catch (const std::system_error&) {
    fatal("failed to spawn thread");
  }
}

void fatal(const char* message) {
  std::fprintf(stderr, "%s\n", message);
  std::fflush(stderr);
  std::abort();
}

}  // namespace tarnwick
