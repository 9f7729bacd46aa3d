#pragma once
// The body of the program: sets up the shared records, starts the four service
// threads and one supervisor per detector, announces itself, and on `stop`
// shuts everything down in order. The platform (real on Windows, fakes in
// tests) supplies the data directory, the console handler, the detectors and
// the notification and response back-ends.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "alert/sink.h"
#include "config/config.h"
#include "engine/alert_queue.h"
#include "engine/flags.h"
#include "engine/supervisor.h"
#include "stats/stats.h"

namespace tarnwick {

// Who started the engine: a person at a console, or the service manager
// (through the "service" word). As the service, the engine runs in session 0
// as LocalSystem, so what the people at the machine see and use lies in
// their own sessions, hives and profiles rather than its own.
enum class RunAs { Console, Service };

// The records every detector and service thread may be given.
struct EngineShared {
  RunAs run_as = RunAs::Console;
  std::shared_ptr<AlertQueue> queue;
  std::shared_ptr<EngineFlags> flags;
  std::shared_ptr<const Config> config;
  std::shared_ptr<StatsCounters> stats;
  std::filesystem::path data_dir;
  std::filesystem::path config_path;
  std::filesystem::path log_path;
  std::filesystem::path conns_path;
};

// The detector table's names, in the order their supervisors start.
inline constexpr std::string_view kDetectorNames[] = {
    "network", "process", "persistence", "files", "dns", "selfprotect", "security"};

inline constexpr std::string_view kStartupTitle = "Tarnwick is patrolling";
inline constexpr std::string_view kStartupDetail =
    "All sentinels online: network, process, persistence, files, DNS, self-protection.";

class EnginePlatform {
 public:
  virtual ~EnginePlatform() = default;
  virtual std::filesystem::path resolve_data_dir() = 0;
  // Registers the process-wide console control handler (set `stop`, close the queue).
  virtual void install_console_handler(std::shared_ptr<EngineFlags> flags,
                                       std::shared_ptr<AlertQueue> queue) = 0;
  virtual DetectorFn make_detector(std::string_view name, const EngineShared& shared) = 0;
  virtual std::unique_ptr<Notifier> make_notifier(const EngineShared& shared) = 0;
  virtual std::unique_ptr<Responder> make_responder(const EngineShared& shared) = 0;
  // Where logged alerts go besides the log (Event Log, syslog). Made once per
  // run before the sink starts and destroyed after it has ended.
  virtual std::vector<std::unique_ptr<AlertOutput>> make_outputs(const EngineShared&) {
    return {};
  }
  // Bodies of the game-mode and connection snapshot threads.
  virtual std::function<void()> make_game_mode(const EngineShared& shared) = 0;
  virtual std::function<void()> make_conns_writer(const EngineShared& shared) = 0;
  // Where supervisor lines go.
  virtual std::ostream& error_stream() = 0;
};

// Runs the engine until `stop` is set in `flags` (created here when null) and
// everything has shut down. Returns at once, with a line on the platform's
// error stream, when another engine holds the data directory.
void run_engine(EnginePlatform& platform, std::shared_ptr<EngineFlags> flags = nullptr,
                RunAs run_as = RunAs::Console);

}  // namespace tarnwick
