#include "main/platform_win.h"

#include <iostream>

#include "conns/conns.h"
#include "engine/console_win.h"
#include "etw/trace_win.h"
#include "files/files_win.h"
#include "net/connections.h"
#include "net/dns.h"
#include "notify/notify_win.h"
#include "persist/persist.h"
#include "proc/detector.h"
#include "procmeta/procmeta_win.h"
#include "registry/registry_win.h"
#include "response/response_win.h"
#include "sysenv/sysenv.h"
#include "tcptable/tcptable_win.h"

namespace tarnwick {

std::filesystem::path WindowsPlatform::resolve_data_dir() { return tarnwick::resolve_data_dir(); }

void WindowsPlatform::install_console_handler(std::shared_ptr<EngineFlags> flags,
                                              std::shared_ptr<AlertQueue> queue) {
  tarnwick::install_console_handler(std::move(flags), std::move(queue));
}

namespace {

void run_windows_process_detector(AlertQueue& queue, const EngineFlags& flags) {
  WindowsTraceFactory traces;
  WindowsProcessTable table;
  WindowsProcessQuery query;
  WindowsSignatureCheck trust;
  QueueOut out(queue);
  ProcessDetectorParts parts{traces, table, query, trust, out, flags, stop_aware_sleeper(flags)};
  run_process_detector(parts);
}

void run_windows_network_detector(AlertQueue& queue, const EngineFlags& flags) {
  WindowsTcpTable table;
  WindowsProcessQuery query;
  QueueOut out(queue);
  NetworkDetectorParts parts{table, query, out, flags, stop_aware_sleeper(flags), monitor_now};
  run_network_detector(parts);
}

void run_windows_dns_detector(AlertQueue& queue, const EngineFlags& flags) {
  WindowsTraceFactory traces;
  QueueOut out(queue);
  DnsDetectorParts parts{traces, out, flags, stop_aware_sleeper(flags)};
  run_dns_detector(parts);
}

void run_windows_persistence_detector(AlertQueue& queue, const EngineFlags& flags) {
  WindowsRegistry registry;
  QueueOut out(queue);
  PersistenceParts parts{registry, system_engine_image(), out, flags, stop_aware_sleeper(flags)};
  run_persistence_detector(parts);
}

}  // namespace

DetectorFn WindowsPlatform::make_detector(std::string_view name, const EngineShared& shared) {
  if (name == "process") {
    return [queue = shared.queue, flags = shared.flags] {
      run_windows_process_detector(*queue, *flags);
    };
  }
  if (name == "network") {
    return [queue = shared.queue, flags = shared.flags] {
      run_windows_network_detector(*queue, *flags);
    };
  }
  if (name == "dns") {
    return [queue = shared.queue, flags = shared.flags] { run_windows_dns_detector(*queue, *flags); };
  }
  if (name == "persistence") {
    return [queue = shared.queue, flags = shared.flags] {
      run_windows_persistence_detector(*queue, *flags);
    };
  }
  if (name == "files") {
    return [queue = shared.queue, flags = shared.flags, config = shared.config] {
      run_windows_files_detector(*queue, *flags, *config);
    };
  }
  // Placeholder until the detector is built: it waits for `stop`, so its
  // supervisor neither restarts it nor prints anything.
  return [flags = shared.flags] { placeholder_until_stop(*flags); };
}

std::unique_ptr<Notifier> WindowsPlatform::make_notifier(const EngineShared&) {
  return std::make_unique<WindowsNotifier>();
}

namespace {

// The automatic response with the real process, registry and file operations
// it acts through, all owned here.
class WindowsResponder final : public Responder {
 public:
  WindowsResponder()
      : quarantine_(files_, quarantine_folder(get_env("ProgramData")),
                    [] { return std::chrono::system_clock::now(); }),
        responder_(processes_, registry_, quarantine_, query_, GetCurrentProcessId()) {}

  std::optional<Alert> respond(const Alert& alert, const Config& config) override {
    return responder_.respond(alert, config);
  }

 private:
  WindowsProcessControl processes_;
  WindowsRegistryEditor registry_;
  WindowsQuarantineFiles files_;
  WindowsProcessQuery query_;
  Quarantine quarantine_;
  AutoResponder responder_;
};

}  // namespace

std::unique_ptr<Responder> WindowsPlatform::make_responder(const EngineShared&) {
  return std::make_unique<WindowsResponder>();
}

std::function<void()> WindowsPlatform::make_game_mode(const EngineShared& shared) {
  // Placeholder for the game-mode thread: waits for `stop`.
  return [flags = shared.flags] { placeholder_until_stop(*flags); };
}

std::function<void()> WindowsPlatform::make_conns_writer(const EngineShared& shared) {
  return [path = shared.conns_path, flags = shared.flags] {
    WindowsTcpTable table;
    WindowsProcessQuery query;
    ConnsWriterParts parts{path, table, query, *flags, stop_aware_sleeper(*flags), unix_now};
    run_conns_writer(parts);
  };
}

std::ostream& WindowsPlatform::error_stream() { return std::cerr; }

}  // namespace tarnwick
