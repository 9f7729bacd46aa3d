#include "gamemode/gamemode.h"

#include <gtest/gtest.h>

#include <deque>

#include "procmeta/procmeta_fake.h"

namespace tarnwick {
namespace {

constexpr ScreenRect kPrimary{0, 0, 1920, 1080};
constexpr ScreenRect kSecondary{1920, -200, 4480, 1240};

ForegroundWindow window(std::string cls, ScreenRect rect, ScreenRect monitor = kPrimary,
                        uint32_t pid = 321) {
  return {std::move(cls), rect, monitor, pid};
}

TEST(FullScreenTest, GeometryClassesAndOwner) {
  struct Case {
    const char* name;
    ForegroundWindow w;
    bool full_screen;
  };
  const Case cases[] = {
      {"exactly the monitor", window("GameWnd", kPrimary), true},
      {"larger than the monitor (borders off screen)", window("GameWnd", {-8, -8, 1928, 1088}),
       true},
      {"1 pixel smaller on each side", window("GameWnd", {1, 1, 1919, 1079}), true},
      {"2 pixels smaller on each side", window("GameWnd", {2, 2, 1918, 1078}), true},
      {"3 pixels smaller on the left", window("GameWnd", {3, 0, 1920, 1080}), false},
      {"3 pixels smaller at the bottom", window("GameWnd", {0, 0, 1920, 1077}), false},
      {"a maximised window above the taskbar", window("GameWnd", {0, 0, 1920, 1040}), false},
      {"full screen on a secondary monitor", window("GameWnd", kSecondary, kSecondary), true},
      {"primary-sized window on a secondary monitor", window("GameWnd", kPrimary, kSecondary),
       false},
      {"desktop Progman", window("Progman", kPrimary), false},
      {"desktop WorkerW", window("WorkerW", kPrimary), false},
      {"taskbar", window("Shell_TrayWnd", kPrimary), false},
      {"start menu", window("Windows.UI.Core.CoreWindow", kPrimary), false},
      {"shell classes match case-sensitively", window("progman", kPrimary), true},
      {"no owning process", window("GameWnd", kPrimary, kPrimary, 0), false},
      {"the desktop window itself, owned by the shell's process",
       window("#32769", kPrimary, kPrimary, 64), false},
      {"class name unreadable", {std::nullopt, kPrimary, kPrimary, 321}, true},
      {"window rectangle unreadable", {"GameWnd", std::nullopt, kPrimary, 321}, false},
      {"monitor unreadable", {"GameWnd", kPrimary, std::nullopt, 321}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_full_screen(c.w), c.full_screen);
  }
}

TEST(GameProcessTest, NamesMatchIgnoringAsciiCaseOnly) {
  const auto names = game_names({"Game.EXE", "\u00c9LITE.exe", "noext"});
  EXPECT_EQ(names, (std::vector<std::string>{"game.exe", "\u00c9lite.exe", "noext"}));
  struct Case {
    const char* running;
    bool hit;
  };
  const Case cases[] = {
      {"GAME.exe", true},        {"game.exe", true},
      {"\u00c9LITE.EXE", true},   // the non-ASCII letter as configured
      {"\u00e9lite.exe", false},  // É and é are not folded
      {"noext.exe", false},       // a name without its extension matches nothing
      {"game.exe.bak", false},   {"other.exe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.running);
    EXPECT_EQ(game_running({{8, "explorer.exe"}, {12, c.running}}, names), c.hit);
  }
  EXPECT_FALSE(game_running({{8, "game.exe"}}, {}));
}

// Feeds a sequence of polls ('+' hit, '-' miss) and returns the flag after each.
std::string flag_after(std::string_view polls, bool active = false) {
  GameModeHysteresis h;
  std::string out;
  for (char c : polls) {
    active = h.update(c == '+', active);
    out += active ? '1' : '0';
  }
  return out;
}

TEST(GameModeHysteresis, ThreeHitsTurnItOnFiveMissesTurnItOff) {
  EXPECT_EQ(flag_after("+++"), "001");
  EXPECT_EQ(flag_after("++-++"), "00000");  // the streak restarts after a miss
  EXPECT_EQ(flag_after("+++----+----"), "001111111111");
  EXPECT_EQ(flag_after("+++-----"), "00111110");
  EXPECT_EQ(flag_after("----+----", true), "111111111");
}

TEST(GameModeHysteresis, StreaksStopAt255InsteadOfWrapping) {
  // The flag is passed in unchanged, so only the streaks decide: a streak
  // that wrapped at its 256th poll would start again below its threshold.
  GameModeHysteresis on;
  bool set = false;
  for (int i = 0; i < 256; ++i) set = on.update(true, false);
  EXPECT_TRUE(set);
  GameModeHysteresis off;
  bool still_set = true;
  for (int i = 0; i < 256; ++i) still_set = off.update(false, true);
  EXPECT_FALSE(still_set);
}

class ScriptedDesktop final : public DesktopQuery {
 public:
  std::deque<std::optional<ForegroundWindow>> script;
  int calls = 0;
  std::optional<ForegroundWindow> foreground() override {
    ++calls;
    if (script.empty()) return std::nullopt;
    auto w = script.front();
    script.pop_front();
    return w;
  }
};

struct GameModeRun {
  ScriptedDesktop desktop;
  testing::FakeProcessTable table;
  Config config;
  EngineFlags flags;
  std::string flag_log;  // the flag as each wait begins
  size_t polls = 0;

  void run() {
    GameModeParts parts{desktop, table, config, flags, [this](std::chrono::milliseconds d) {
                          EXPECT_EQ(d, std::chrono::seconds(1));
                          flag_log += flags.game_mode() ? '1' : '0';
                          return flag_log.size() < polls;
                        }};
    run_game_mode(parts);
  }
};

TEST(GameModeThread, AGameProcessTurnsItOnAndItsEndTurnsItOff) {
  GameModeRun r;
  r.config.game_processes = {"Game.exe"};
  for (int i = 0; i < 4; ++i) r.table.script.push_back({{8, "explorer.exe"}, {40, "GAME.EXE"}});
  for (int i = 0; i < 6; ++i) r.table.script.push_back({{8, "explorer.exe"}});
  r.polls = 10;
  r.run();
  EXPECT_EQ(r.flag_log, "0011111100");
}

TEST(GameModeThread, AFullScreenWindowSparesTheProcessWalk) {
  GameModeRun r;
  r.config.game_processes = {"game.exe"};
  for (int i = 0; i < 3; ++i) r.desktop.script.push_back(window("GameWnd", kPrimary));
  r.desktop.script.push_back(window("Progman", kPrimary));
  for (int i = 0; i < 4; ++i) r.table.script.push_back({{8, "explorer.exe"}});
  r.polls = 4;
  r.run();
  EXPECT_EQ(r.flag_log, "0011");
  EXPECT_EQ(r.table.script.size(), 3u) << "only the poll without a full-screen window walks";
}

TEST(GameModeThread, DisabledEndsAtOnceAndNeverSetsTheFlag) {
  GameModeRun r;
  r.config.game_mode_enabled = false;
  r.config.game_processes = {"game.exe"};
  r.table.script = {{{40, "game.exe"}}};
  r.desktop.script = {window("GameWnd", kPrimary)};
  r.polls = 10;
  r.run();
  EXPECT_EQ(r.desktop.calls, 0);
  EXPECT_EQ(r.flag_log, "");
  EXPECT_FALSE(r.flags.game_mode());
}

}  // namespace
}  // namespace tarnwick
