#pragma once
// Game mode: once a second, is a full-screen window in front or a configured
// game running? Three hits in a row set `game_mode_active`, five misses in a
// row clear it; the polling detectors and the file watchers read the flag.
// One thread, started by the engine, is the flag's only writer.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "engine/flags.h"
#include "procmeta/procmeta.h"

namespace tarnwick {

inline constexpr int32_t kFullScreenTolerance = 2;  // pixels on each side
inline constexpr uint8_t kHitsToTurnOn = 3;
inline constexpr uint8_t kMissesToTurnOff = 5;
inline constexpr std::chrono::seconds kGameModePoll{1};

struct ScreenRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

// What the system says about the foreground window; each part is missing when
// its query failed.
struct ForegroundWindow {
  std::optional<std::string> class_name;
  std::optional<ScreenRect> window;
  std::optional<ScreenRect> monitor;  // the whole monitor the window is on, not its work area
  uint32_t pid = 0;
};

// The foreground window and its monitor.
class DesktopQuery {
 public:
  virtual ~DesktopQuery() = default;
  // Nothing when no window is in front. Called from the game-mode thread only.
  virtual std::optional<ForegroundWindow> foreground() = 0;
};

// The desktop and taskbar windows, which cover the screen without being a game.
bool is_shell_window_class(std::string_view class_name);

// The class of the system's own desktop window (the one GetDesktopWindow
// returns). Wine puts it in front when no application window is, with the
// monitor's rectangle and the shell's process as its owner.
inline constexpr std::string_view kDesktopWindowClass = "#32769";

// True when `window` covers `monitor` to within the tolerance on every side.
bool covers_monitor(const ScreenRect& window, const ScreenRect& monitor);

// A window other than the desktop and the shell's that covers its monitor and
// belongs to a process.
bool is_full_screen(const ForegroundWindow& window);

// The configured game names, lower-cased in ASCII letters only.
std::vector<std::string> game_names(const std::vector<std::string>& game_processes);

// True when a process's executable name equals a game name, ignoring ASCII case only.
bool game_running(const ProcessSnapshot& processes, const std::vector<std::string>& names);

// The streaks behind the flag; both stop at 255.
class GameModeHysteresis {
 public:
  // Counts one poll and returns the flag's new value.
  bool update(bool hit, bool active);

 private:
  uint8_t on_streak_ = 0;
  uint8_t off_streak_ = 0;
};

struct GameModeParts {
  DesktopQuery& desktop;
  ProcessTable& table;
  const Config& config;
  EngineFlags& flags;
  Sleeper sleep;
};

// The game-mode thread body: returns at once when game mode is disabled in
// the configuration, else once `stop` is set.
void run_game_mode(GameModeParts& parts);

}  // namespace tarnwick
