#include "files/detector.h"

#include <list>
#include <set>
#include <thread>

#include "engine/supervisor.h"
#include "files/profiles.h"
#include "files/records.h"

namespace tarnwick {

namespace {

std::string join_path(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  path += name;
  return path;
}

class BurstSink final : public ChangeSink {
 public:
  BurstSink(BurstDetector& burst, MonotonicNow now) : burst_(burst), now_(now) {}
  void on_change(std::string_view name) override { burst_.record(name, now_()); }

 private:
  BurstDetector& burst_;
  MonotonicNow now_;
};

}  // namespace

std::vector<std::string> build_watch_list(const std::vector<std::string>& watch_dirs,
                                          const std::optional<std::string>& user_profile,
                                          const PathExists& exists) {
  std::vector<std::string> list;
  if (!watch_dirs.empty()) {
    for (const auto& dir : watch_dirs) {
      if (exists(dir)) list.push_back(dir);
    }
    return list;
  }
  if (!user_profile) return list;
  for (std::string_view name : {"Documents", "Desktop", "Pictures"}) {
    std::string path = join_path(*user_profile, name);
    if (exists(path)) list.push_back(std::move(path));
  }
  return list;
}

Alert no_watch_dirs_alert() {
  return make_alert(AlertSource::Files, Severity::Low, kNoWatchDirsTitle,
                    "Ransomware watch found no folders to monitor.");
}

void run_folder_watch(FolderWatchParts& p) {
  std::string scratch;
  BurstSink sink(p.burst, p.now);
  bool requested = false;  // a read already outstanding
  for (;;) {
    if (p.flags.stopping()) return;
    if (!requested && !p.watch.request()) {
      if (!p.sleep(kWatchRetryDelay)) return;
      continue;
    }
    requested = false;
    WaitResult result;
    do {
      result = p.watch.wait(kWatchWaitSlice);
      if (p.flags.stopping()) return;
    } while (result.status == WaitStatus::Pending);
    if (result.status == WaitStatus::Failed) {
      // Like a refused request: waiting keeps a broken folder from spinning.
      if (!p.sleep(kWatchRetryDelay)) return;
      continue;
    }
    // Batches are counted whatever game mode says: any full-screen window,
    // one the encrypting program opens itself included, turns it on.
    if (result.bytes == 0) {
      // The changes overflowed the buffer and were lost, never the previous
      // batch's records again: the largest bursts are the ones that overflow.
      p.burst.record_overflow(p.now());
    } else {
      walk_change_records(p.watch.buffer(), result.bytes, scratch, sink);
    }
    // The records are read out of the buffer, so the next read can start
    // now: the culprit probe's 600 ms is not a window without a read.
    requested = p.watch.request();
    if (auto alert = p.burst.end_batch(p.now(), p.culprits)) p.out.push(std::move(*alert));
  }
}

namespace {

// `folder` must outlive the thread.
void watch_folder(FilesDetectorParts& p, const BurstSettings& settings,
                  const std::string& folder) {
  std::unique_ptr<DirectoryWatch> watch = p.watcher.open(folder);
  if (!watch) return;
  BurstDetector burst(settings, folder);
  FolderWatchParts parts{*watch, burst, p.culprits, p.out, p.flags, p.sleep};
  run_folder_watch(parts);
}

// The watcher's thread is "files-{number}".
std::thread start_watcher(FilesDetectorParts& p, const BurstSettings& settings,
                          const std::string& folder, size_t number) {
  return spawn_thread("files-" + std::to_string(number),
                      [&p, &settings, &folder] { watch_folder(p, settings, folder); });
}

void run_rescanning(FilesDetectorParts& p, const FolderRescan& rescan) {
  const BurstSettings settings = burst_settings(p.config);
  std::list<std::string> folders;  // stable: each watcher refers to its own
  std::set<std::string> watched;
  std::vector<std::thread> watchers;
  bool reported_none = false;
  do {
    const std::vector<std::string> found = rescan.scan();
    if (found.empty() && !reported_none) {
      p.out.push(no_watch_dirs_alert());
      reported_none = true;
    }
    for (const std::string& folder : found) {
      if (watched.size() == kMaxWatchedFolders) break;
      if (!watched.insert(folder).second) continue;
      folders.push_back(folder);
      watchers.push_back(start_watcher(p, settings, folders.back(), watchers.size() + 1));
    }
  } while (rescan.sleep(kProfileRescanInterval));
  for (auto& watcher : watchers) watcher.join();
}

}  // namespace

void run_files_detector(FilesDetectorParts& p) {
  if (p.rescan && p.config.watch_dirs.empty()) {
    run_rescanning(p, *p.rescan);
    return;
  }
  const std::vector<std::string> folders =
      build_watch_list(p.config.watch_dirs, p.user_profile, p.exists);
  if (folders.empty()) {
    p.out.push(no_watch_dirs_alert());
    return;
  }
  const BurstSettings settings = burst_settings(p.config);
  std::vector<std::thread> watchers;
  watchers.reserve(folders.size());
  for (size_t i = 0; i + 1 < folders.size(); ++i) {
    watchers.push_back(start_watcher(p, settings, folders[i], i + 1));
  }
  // The detector's own thread would only wait for the others: it watches the
  // last folder itself.
  watch_folder(p, settings, folders.back());
  for (auto& watcher : watchers) watcher.join();
}

}  // namespace tarnwick
