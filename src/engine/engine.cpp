#include "engine/engine.h"

#include <thread>

#include "alert/log_file.h"
#include "fileio/fileio.h"
#include "syslog/syslog.h"

namespace tarnwick {

void run_engine(EnginePlatform& platform, std::shared_ptr<EngineFlags> flags, RunAs run_as) {
  EngineShared shared;
  shared.run_as = run_as;
  shared.data_dir = platform.resolve_data_dir();
  // Two engines on one folder would tear each other's statistics file and log
  // and respond twice. The lock lasts as long as this call, and only a lock
  // really taken lets the engine run: without one, nothing would keep a
  // second engine out.
  const FileLock lock = FileLock::acquire(shared.data_dir / kLockFileName);
  if (lock.status() == FileLock::Status::Busy) {
    platform.error_stream() << "Another Tarnwick engine is already using "
                            << path_to_utf8(shared.data_dir) << ".\n";
    return;
  }
  if (lock.status() != FileLock::Status::Held) {
    platform.error_stream() << "Tarnwick cannot create its lock file in "
                            << path_to_utf8(shared.data_dir) << ".\n";
    return;
  }
  shared.config_path = shared.data_dir / kConfigFileName;
  shared.config = std::make_shared<const Config>(load_config(shared.config_path));
  shared.log_path = shared.data_dir / kLogFileName;
  shared.conns_path = shared.data_dir / kConnsFileName;
  shared.queue = std::make_shared<AlertQueue>();
  shared.flags = flags ? std::move(flags) : std::make_shared<EngineFlags>();
  shared.stats = StatsCounters::restore(shared.data_dir / kStatsFileName);

  const auto finished = std::make_shared<EngineFinished>();
  if (run_as == RunAs::Console)
    platform.install_console_handler(shared.flags, shared.queue, finished);

  const EngineFlags& engine_flags = *shared.flags;
  const Sleeper sleeper = stop_aware_sleeper(engine_flags);

  std::unique_ptr<Notifier> notifier = platform.make_notifier(shared);
  std::unique_ptr<Responder> responder = platform.make_responder(shared);
  FileAlertLog log(shared.log_path);
  const std::vector<std::unique_ptr<AlertOutput>> outputs = platform.make_outputs(shared);
  std::vector<AlertOutput*> output_list;
  for (const auto& o : outputs) output_list.push_back(o.get());
  const AlertSink::ClockFn clock = [] { return std::chrono::steady_clock::now(); };
  AlertSink sink({*shared.config, *shared.stats, log, *notifier, *responder,
                  [stats = shared.stats] { write_snapshot(*stats); }, output_list},
                 clock, clock());

  std::thread sink_thread =
      spawn_thread("sink", [&] { run_alert_sink(*shared.queue, engine_flags, sink, clock); });
  std::thread stats_thread =
      spawn_thread("stats", [&] { run_stats_writer(engine_flags, *shared.stats, sleeper); });
  std::thread game_thread = spawn_thread("gamemode", platform.make_game_mode(shared));
  std::thread conns_thread = spawn_thread("conns", platform.make_conns_writer(shared));

  std::vector<SupervisedDetector> detectors;
  for (std::string_view name : kDetectorNames) {
    detectors.push_back({std::string(name), platform.make_detector(name, shared)});
  }
  // One thread supervises all detectors; each run of a detector is a thread
  // named after it.
  std::thread supervisor = spawn_thread("supervisor", [&] {
    supervise_detectors(detectors, engine_flags, sleeper, platform.error_stream());
  });

  shared.queue->push(
      make_alert(AlertSource::System, Severity::Info, kStartupTitle, std::string(kStartupDetail)));
  if (auto invalid = syslog_setting_alert(shared.config->syslog_server)) {
    shared.queue->push(std::move(*invalid));
  }

  supervisor.join();

  shared.queue->close();
  game_thread.join();
  conns_thread.join();
  stats_thread.join();
  sink_thread.join();
  // The writer's last snapshot came before the sink finished its last alert;
  // this one makes the file hold every counted alert.
  write_snapshot(*shared.stats);
  finished->set();
}

}  // namespace tarnwick
