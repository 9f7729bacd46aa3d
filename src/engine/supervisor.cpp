#include "engine/supervisor.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
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

void supervise_detector(const std::string& name, const DetectorFn& detector,
                        const EngineFlags& flags, const Sleeper& sleep, std::ostream& err) {
  std::chrono::seconds delay{1};
  for (;;) {
    if (flags.stopping()) return;
    std::thread run = spawn_thread(name, [&] {
      try {
        detector();
      } catch (const std::exception& e) {
        write_line(err, "[supervisor] detector '" + name + "' failed: " + e.what());
      } catch (...) {
        write_line(err, "[supervisor] detector '" + name + "' failed: unknown error");
      }
    });
    run.join();
    if (flags.stopping()) return;
    write_line(err, restart_line(name, delay));
    if (!sleep(delay)) return;
    delay = next_restart_delay(delay);
  }
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
