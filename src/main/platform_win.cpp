#include "main/platform_win.h"

#include <iostream>

#include "cmdline/cmdline_win.h"
#include "conns/conns.h"
#include "engine/console_win.h"
#include "engine/supervisor.h"
#include "etw/trace_win.h"
#include "eventlog/eventlog_win.h"
#include "fileio/fileio.h"
#include "files/files_win.h"
#include "folderguard/folderguard_win.h"
#include "gamemode/desktop_win.h"
#include "net/connections.h"
#include "net/dns.h"
#include "notify/notify_win.h"
#include "persist/persist.h"
#include "persist/user_hives.h"
#include "proc/detector.h"
#include "procmeta/procmeta_win.h"
#include "registry/registry_win.h"
#include "response/response_win.h"
#include "selfprotect/detector.h"
#include "selfprotect/drivers_win.h"
#include "selfprotect/memory_win.h"
#include "selfprotect/tamper.h"
#include "sessions/sessions_win.h"
#include "sysenv/sysenv.h"
#include "syslog/connection_win.h"
#include "tcptable/tcptable_win.h"

namespace tarnwick {

std::filesystem::path WindowsPlatform::resolve_data_dir() {
  WindowsFolderSecurity security;
  DataDirInputs inputs = system_data_dir_inputs();
  // The candidate folder is one of the engine's own: never a reparse point,
  // protected (with the files already in it) when running elevated.
  inputs.create_directories = [&security](const std::filesystem::path& dir) {
    const GuardedFolder folder{dir.parent_path(), {path_to_utf8(dir.filename())}};
    return prepare_folder(security, folder, true) == FolderResult::Ready;
  };
  return tarnwick::resolve_data_dir(inputs);
}

void WindowsPlatform::install_console_handler(std::shared_ptr<EngineFlags> flags,
                                              std::shared_ptr<AlertQueue> queue,
                                              std::shared_ptr<EngineFinished> finished) {
  tarnwick::install_console_handler(std::move(flags), std::move(queue), std::move(finished));
}

namespace {

void run_windows_process_detector(AlertQueue& queue, const EngineFlags& flags) {
  WindowsTraceFactory traces;
  WindowsProcessTable table;
  WindowsProcessQuery query;
  WindowsProcessAccess access;
  CommandLineReader command_lines(access);
  WindowsSignatureCheck trust;
  QueueOut out(queue);
  ProcessDetectorParts parts{traces, table, query, command_lines, trust, out, flags,
                             stop_aware_sleeper(flags)};
  run_process_detector(parts);
}

void run_windows_network_detector(AlertQueue& queue, const EngineFlags& flags) {
  WindowsTcpTable table;
  WindowsProcessQuery opened;
  WindowsProcessCreationTimes created;
  CachedProcessQuery query(opened, created, std::chrono::steady_clock::now);
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

void run_windows_persistence_detector(AlertQueue& queue, const EngineFlags& flags, RunAs run_as) {
  WindowsRegistry registry;
  QueueOut out(queue);
  PersistenceParts parts{registry, system_engine_image(), out, flags, stop_aware_sleeper(flags)};
  // As the service, its own HKCU is the service account's: the people's
  // hives are watched beside it.
  UserHiveParts people{parts, account_name, [](const EngineFlags& hive_flags) {
                         return stop_aware_sleeper(hive_flags);
                       }};
  std::thread people_thread;
  if (run_as == RunAs::Service) {
    people_thread = spawn_thread("persist-users", [&people] { run_user_hive_watch(people); });
  }
  run_persistence_detector(parts);
  if (people_thread.joinable()) people_thread.join();
}

void run_windows_selfprotect_detector(AlertQueue& queue, const EngineFlags& flags,
                                      InjectionScanState& scan_state) {
  WindowsRegistry registry;
  WindowsRegistryWriter writer;
  WindowsDriverServices driver_services;
  WindowsFileDigest digest;
  WindowsProcessTable table;
  WindowsProcessMemory memory;
  WindowsProcessQuery query;
  WindowsSignatureCheck trust;
  QueueOut out(queue);
  SelfProtectParts parts{registry,
                         writer,
                         driver_services,
                         digest,
                         known_bad_drivers(),
                         table,
                         memory,
                         query,
                         trust,
                         scan_state,
                         get_env("SystemRoot"),
                         GetCurrentProcessId(),
                         out,
                         flags,
                         stop_aware_sleeper(flags)};
  run_selfprotect_detector(parts);
}

void run_windows_tamper_watch(AlertQueue& queue, const EngineFlags& flags,
                              const std::filesystem::path& config_path) {
  QueueOut out(queue);
  TamperWatchParts parts{
      config_path,
      read_config,
      executable_path().path,
      [](const std::filesystem::path& file) { return tarnwick::file_size(file); },
      out,
      stop_aware_sleeper(flags)};
  run_tamper_watch(parts);
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
  if (name == "files") {
    return
        [queue = shared.queue, flags = shared.flags, config = shared.config,
         run_as = shared.run_as] { run_windows_files_detector(*queue, *flags, *config, run_as); };
  }
  if (name == "persistence") {
    return [queue = shared.queue, flags = shared.flags, run_as = shared.run_as] {
      run_windows_persistence_detector(*queue, *flags, run_as);
    };
  }
  if (name == "selfprotect") {
    // The scan's cursor and reported pids belong to the program run: made
    // once here, they carry over when the supervisor starts the detector again.
    return [queue = shared.queue, flags = shared.flags,
            scan_state = std::make_shared<InjectionScanState>()] {
      run_windows_selfprotect_detector(*queue, *flags, *scan_state);
    };
  }
  if (name == "security") {
    return [queue = shared.queue, flags = shared.flags, path = shared.config_path] {
      run_windows_tamper_watch(*queue, *flags, path);
    };
  }
  // Every name of the detector table is wired above.
  return [] {};
}

namespace {

// As the service: toasts through the people's sessions, pushes as ever.
class WindowsServiceNotifier final : public Notifier {
 public:
  WindowsServiceNotifier() : toasts_(sessions_, own_exe(), pushes_) {}
  void show_toast(const Alert& alert) override { toasts_.show_toast(alert); }
  void push(const Alert& alert, const Config& config) override { toasts_.push(alert, config); }

 private:
  static std::optional<std::string> own_exe() {
    const ExecutablePath exe = executable_path();
    if (!exe.path) return std::nullopt;
    return path_to_utf8(*exe.path);
  }
  WindowsUserSessions sessions_;
  WindowsNotifier pushes_;
  SessionToastNotifier toasts_;  // last: refers to the two above
};

}  // namespace

std::unique_ptr<Notifier> WindowsPlatform::make_notifier(const EngineShared& shared) {
  if (shared.run_as == RunAs::Service) return std::make_unique<WindowsServiceNotifier>();
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
        responder_(processes_, registry_, quarantine_, query_, standing_, trust_,
                   GetCurrentProcessId()) {}

  std::optional<Alert> respond(const Alert& alert, const Config& config) override {
    return responder_.respond(alert, config);
  }

 private:
  WindowsProcessControl processes_;
  WindowsRegistryEditor registry_;
  WindowsQuarantineFiles files_;
  WindowsProcessQuery query_;
  WindowsProcessStanding standing_;
  WindowsSignatureCheck trust_;
  Quarantine quarantine_;
  AutoResponder responder_;
};

}  // namespace

std::unique_ptr<Responder> WindowsPlatform::make_responder(const EngineShared&) {
  return std::make_unique<WindowsResponder>();
}

std::vector<std::unique_ptr<AlertOutput>> WindowsPlatform::make_outputs(const EngineShared& shared) {
  std::vector<std::unique_ptr<AlertOutput>> outputs;
  if (shared.config->event_log) {
    outputs.push_back(std::make_unique<EventLogOutput>(open_windows_event_log()));
  }
  // An unusable setting is reported by the engine at start; nothing is sent.
  if (auto server = parse_syslog_server(shared.config->syslog_server)) {
    outputs.push_back(make_syslog_output(std::move(*server), make_windows_syslog_connection(),
                                         {windows_syslog_hostname(), GetCurrentProcessId()}));
  }
  return outputs;
}

std::function<void()> WindowsPlatform::make_game_mode(const EngineShared& shared) {
  return [config = shared.config, flags = shared.flags] {
    WindowsDesktopQuery desktop;
    WindowsProcessTable table;
    GameModeParts parts{desktop, table, *config, *flags, stop_aware_sleeper(*flags)};
    run_game_mode(parts);
  };
}

std::function<void()> WindowsPlatform::make_conns_writer(const EngineShared& shared) {
  return [path = shared.conns_path, flags = shared.flags] {
    WindowsTcpTable table;
    WindowsProcessQuery opened;
    WindowsProcessCreationTimes created;
    CachedProcessQuery query(opened, created, std::chrono::steady_clock::now);
    ConnsWriterParts parts{path, table, query, *flags, stop_aware_sleeper(*flags), unix_now};
    run_conns_writer(parts);
  };
}

std::ostream& WindowsPlatform::error_stream() { return std::cerr; }

}  // namespace tarnwick
