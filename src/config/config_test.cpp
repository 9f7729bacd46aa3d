#include <gtest/gtest.h>

#include "config/config.h"
#include "fileio/fileio.h"
#include "testsupport/temp_dir.h"

namespace tarnwick {
namespace {

constexpr const char* kDefaultText = R"j({
  "toast_min_severity": "High",
  "auto_response_enabled": false,
  "auto_response_min_severity": "Critical",
  "auto_response_suspend": true,
  "auto_remove_persistence": true,
  "auto_stop_ransomware": true,
  "auto_stop_network_threat": true,
  "auto_kill_on_critical": false,
  "auto_quarantine": false,
  "ntfy_topic": "",
  "ntfy_server": "https://ntfy.sh",
  "game_mode_enabled": true,
  "game_processes": [],
  "watch_dirs": [],
  "ransomware_burst_count": 20,
  "ransomware_window_secs": 10,
  "event_log": true,
  "syslog_server": ""
})j";

TEST(Config, DefaultTextIsExact) { EXPECT_EQ(config_text(Config{}), kDefaultText); }

TEST(Config, AcceptedTexts) {
  Config only_enabled;
  only_enabled.auto_response_enabled = true;
  Config full;
  full.toast_min_severity = Severity::Medium;
  full.game_processes = {"Game.exe", "other.exe"};
  full.watch_dirs = {"D:\\Work"};
  full.ransomware_burst_count = 4294967295u;
  full.ransomware_window_secs = 18446744073709551615ull;
  full.ntfy_topic = "mine";
  full.event_log = false;
  full.syslog_server = "[::1]:6514";

  struct Case {
    const char* name;
    std::string text;
    Config expected;
  };
  const Case cases[] = {
      {"empty object", "{}", Config{}},
      {"one key", R"j({"auto_response_enabled": true})j", only_enabled},
      {"byte-order mark", "\xEF\xBB\xBF{\"auto_response_enabled\": true}", only_enabled},
      {"several byte-order marks", "\xEF\xBB\xBF\xEF\xBB\xBF{}", Config{}},
      {"unknown key of any type skipped",
       R"j({"extra": {"nested": [1, null, {"a": "b"}]}, "auto_response_enabled": true, "x": null})j",
       only_enabled},
      {"trailing white space", "{} \r\n\t ", Config{}},
      {"the default text", kDefaultText, Config{}},
      {"full range values",
       R"j({"toast_min_severity": "Medium", "game_processes": ["Game.exe", "other.exe"],
           "watch_dirs": ["D:\\Work"], "ransomware_burst_count": 4294967295,
           "ransomware_window_secs": 18446744073709551615, "ntfy_topic": "mine",
           "event_log": false, "syslog_server": "[::1]:6514"})j",
       full},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto parsed = parse_config(c.text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, c.expected);
  }
}

TEST(Config, RejectedTexts) {
  using namespace std::string_literals;
  const std::string cases[] = {
      "",
      "   ",
      "[]",
      "\"text\"",
      R"j({"toast_min_severity": "high", "auto_response_enabled": true})j",
      R"j({"toast_min_severity": "HIGH"})j",
      R"j({"ransomware_burst_count": -1})j",
      R"j({"ransomware_burst_count": -0})j",
      R"j({"ransomware_window_secs": -0})j",
      R"j({"ransomware_burst_count": 4294967296})j",
      R"j({"ransomware_burst_count": 2.5})j",
      R"j({"ransomware_burst_count": 20.0})j",
      R"j({"ransomware_window_secs": 18446744073709551616})j",
      R"j({"ransomware_window_secs": "10"})j",
      R"j({"auto_quarantine": null})j",
      R"j({"ntfy_topic": null})j",
      R"j({"event_log": "false"})j",
      R"j({"event_log": 0})j",
      R"j({"syslog_server": null})j",
      R"j({"syslog_server": ["a:1"]})j",
      R"j({"syslog_server": 514})j",
      R"j({"auto_quarantine": 1})j",
      R"j({"game_processes": ["a", 1]})j",
      R"j({"game_processes": "a"})j",
      R"j({"auto_quarantine": true, "auto_quarantine": true})j",
      R"j({"extra": 1, "extra": 2})j",
      R"j({} x)j",
      R"j({}{})j",
      R"j({"auto_quarantine": true)j",
      R"j({"auto_quarantine": true,})j",
      "{} // comment",
      "{\"auto_response_enabled\":true}\0garbage"s,
      "{\"auto_response_enabled\":true}\0"s,
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parse_config(text).has_value());
  }
}

TEST(LoadConfig, MissingFileIsCreatedWithDefaultsAndReadsBack) {
  testing::TempDir dir;
  const auto path = dir / "Tarnwick.config.json";
  EXPECT_EQ(load_config(path), Config{});
  const ReadResult written = read_file(path);
  ASSERT_EQ(written.status, ReadStatus::Ok);
  EXPECT_EQ(written.bytes, kDefaultText);
  EXPECT_EQ(load_config(path), Config{});
  EXPECT_EQ(read_file(path).bytes, kDefaultText);
}

TEST(LoadConfig, UnusableFilesAreNeverRewritten) {
  const std::string cases[] = {
      "{\"ntfy_topic\": \"bad\xFF\"}",  // not UTF-8
      std::string("\xFF\xFE{\x00}\x00", 6),  // UTF-16
      R"j({"toast_min_severity": "high", "ntfy_topic": "kept"})j",
      "",
      "{",
      // An unknown key nesting 8,000 arrays: refused, not a crash.
      "{\"note\":" + std::string(8000, '[') + std::string(8000, ']') + "}",
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    testing::TempDir dir;
    const auto path = dir / "Tarnwick.config.json";
    ASSERT_TRUE(write_file(path, text));
    EXPECT_EQ(load_config(path), Config{});
    EXPECT_EQ(read_file(path).bytes, text);
  }
}

TEST(LoadConfig, FilesOverOneMebibyteAreNotRead) {
  const std::string text = R"j({"auto_response_enabled":true})j";
  const struct {
    const char* name;
    size_t size;
    bool read;
  } cases[] = {{"exactly 1 MiB", 1u << 20, true}, {"one byte more", (1u << 20) + 1, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    const auto path = dir / "Tarnwick.config.json";
    const std::string padded = text + std::string(c.size - text.size(), ' ');
    ASSERT_TRUE(write_file(path, padded));
    EXPECT_EQ(load_config(path).auto_response_enabled, c.read);
    EXPECT_EQ(read_file(path).bytes, padded);
  }
}

TEST(LoadConfig, ValidFileIsReadAndNotRewritten) {
  testing::TempDir dir;
  const auto path = dir / "Tarnwick.config.json";
  const std::string text = R"j({"auto_response_enabled":true,"ntfy_topic":"alerts"})j";
  ASSERT_TRUE(write_file(path, text));
  const Config c = load_config(path);
  EXPECT_TRUE(c.auto_response_enabled);
  EXPECT_EQ(c.ntfy_topic, "alerts");
  EXPECT_EQ(read_file(path).bytes, text);
}

TEST(ReadConfig, TellsMissingFromUnreadableAndNeverWrites) {
  testing::TempDir dir;
  const auto path = dir / "Tarnwick.config.json";
  EXPECT_EQ(read_config(path).status, ConfigReading::Status::Missing);
  EXPECT_FALSE(std::filesystem::exists(path));
  for (const char* text : {"{", "{\"auto_response_enabled\": 1}", "\xFF"}) {
    SCOPED_TRACE(text);
    ASSERT_TRUE(write_file(path, text));
    const ConfigReading r = read_config(path);
    EXPECT_EQ(r.status, ConfigReading::Status::Unreadable);
    EXPECT_EQ(r.config, Config{});
    EXPECT_EQ(read_file(path).bytes, text);
  }
  ASSERT_TRUE(write_file(path, R"({"auto_response_enabled": true})"));
  const ConfigReading ok = read_config(path);
  EXPECT_EQ(ok.status, ConfigReading::Status::Ok);
  EXPECT_TRUE(ok.config.auto_response_enabled);
}

TEST(LoadConfig, UnwritableFolderStillGivesDefaults) {
  testing::TempDir dir;
  EXPECT_EQ(load_config(dir / "missing-folder" / "Tarnwick.config.json"), Config{});
}

}  // namespace
}  // namespace tarnwick
