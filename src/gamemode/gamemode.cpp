#include "gamemode/gamemode.h"

#include <algorithm>

#include "text/text.h"

namespace tarnwick {

bool is_shell_window_class(std::string_view class_name) {
  static constexpr std::string_view kShellClasses[] = {"Progman", "WorkerW", "Shell_TrayWnd",
                                                       "Windows.UI.Core.CoreWindow"};
  return std::find(std::begin(kShellClasses), std::end(kShellClasses), class_name) !=
         std::end(kShellClasses);
}

bool covers_monitor(const ScreenRect& window, const ScreenRect& monitor) {
  // 64-bit sums: a rectangle at the edge of the coordinate range cannot overflow.
  const int64_t t = kFullScreenTolerance;
  return window.left <= int64_t{monitor.left} + t && window.top <= int64_t{monitor.top} + t &&
         window.right >= int64_t{monitor.right} - t && window.bottom >= int64_t{monitor.bottom} - t;
}

bool is_full_screen(const ForegroundWindow& w) {
  if (w.class_name &&
      (is_shell_window_class(*w.class_name) || *w.class_name == kDesktopWindowClass)) {
    return false;
  }
  if (!w.window || !w.monitor) return false;
  return covers_monitor(*w.window, *w.monitor) && w.pid != 0;
}

std::vector<std::string> game_names(const std::vector<std::string>& game_processes) {
  std::vector<std::string> names;
  names.reserve(game_processes.size());
  for (const std::string& name : game_processes) names.push_back(ascii_lower(name));
  return names;
}

bool game_running(const ProcessSnapshot& processes, const std::vector<std::string>& names) {
  if (names.empty()) return false;
  std::string lower;
  for (const auto& entry : processes) {
    lower = ascii_lower(entry.second.name);
    if (std::find(names.begin(), names.end(), lower) != names.end()) return true;
  }
  return false;
}

bool GameModeHysteresis::update(bool hit, bool active) {
  const auto bump = [](uint8_t& streak) {
    if (streak < UINT8_MAX) ++streak;
  };
  if (hit) {
    bump(on_streak_);
    off_streak_ = 0;
    return active || on_streak_ >= kHitsToTurnOn;
  }
  bump(off_streak_);
  on_streak_ = 0;
  return active && off_streak_ < kMissesToTurnOff;
}

void run_game_mode(GameModeParts& p) {
  if (!p.config.game_mode_enabled) return;
  const std::vector<std::string> names = game_names(p.config.game_processes);
  GameModeHysteresis hysteresis;
  do {
    const std::optional<ForegroundWindow> front = p.desktop.foreground();
    // The process list is walked only when the cheaper window test found nothing.
    const bool hit = (front && is_full_screen(*front)) ||
                     (!names.empty() && game_running(p.table.snapshot(), names));
    const bool active = p.flags.game_mode();
    const bool next = hysteresis.update(hit, active);
    if (next != active) p.flags.game_mode_active.store(next, std::memory_order_relaxed);
  } while (p.sleep(kGameModePoll));
}

}  // namespace tarnwick
