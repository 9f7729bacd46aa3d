#include "status/status.h"

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "alert/alert.h"
#include "fileio/fileio.h"
#include "testsupport/temp_dir.h"

namespace tarnwick {
namespace {

// UTC stands in for the local zone, so the expected texts are fixed.
std::optional<std::tm> utc(uint64_t ts) {
  using namespace std::chrono;
  const sys_seconds t{seconds{static_cast<int64_t>(ts)}};
  const auto day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss hms{t - day};
  std::tm tm{};
  tm.tm_year = static_cast<int>(ymd.year()) - 1900;
  tm.tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
  tm.tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
  tm.tm_hour = static_cast<int>(hms.hours().count());
  tm.tm_min = static_cast<int>(hms.minutes().count());
  tm.tm_sec = static_cast<int>(hms.seconds().count());
  return tm;
}

std::string log_line(uint64_t ts, AlertSource source, Severity severity, std::string title) {
  Alert a = make_alert(source, severity, title, "detail");
  a.ts_unix = ts;
  return serialise(a) + "\n";
}

constexpr std::string_view kStats = R"({
  "total_alerts": 41,
  "threats": 7,
  "actions": 2,
  "quarantined": 1,
  "uptime_secs": 3600,
  "peak_risk": 88,
  "ts_unix": 1765383907
})";

// A data directory with the engine's files, read through the real file
// functions; the log's tail reads are recorded.
class StatusFixture : public ::testing::Test {
 protected:
  void put(const std::string& name, std::string_view bytes) {
    ASSERT_TRUE(write_file(dir_ / name, bytes));
  }
  void put_healthy_files() {
    put("Tarnwick.config.json", "{}");
    put("Tarnwick.stats.json", kStats);
  }
  StatusReport gather() {
    StatusSources sources = system_status_sources([this] { return service_; });
    sources.read_tail = [this](const std::filesystem::path& p, uint64_t max) {
      TailResult r = read_file_tail(p, max);
      tail_reads_.push_back({p.filename().string(), max, r.bytes.size()});
      return r;
    };
    return gather_status({dir_.path(), true}, sources);
  }
  std::string text() { return status_text(gather(), utc); }
  nlohmann::json json() { return nlohmann::json::parse(status_json(gather(), utc)); }
  std::string dir_text(const std::string& name = "") const {
    return path_to_utf8(name.empty() ? dir_.path() : dir_ / name);
  }

  struct TailRead {
    std::string file;
    uint64_t asked;
    size_t got;
  };
  testing::TempDir dir_;
  ServiceStatus service_ = ServiceStatus::Running;
  std::vector<TailRead> tail_reads_;
};

// The line of `text` that starts with `label`.
std::string line_of(const std::string& text, std::string_view label) {
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    if (line.rfind(label, 0) == 0) return line;
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return "(no " + std::string(label) + " line)";
}

TEST_F(StatusFixture, TextAndJsonOfAHealthyDirectoryShowTheLastTenAlertsNewestLast) {
  put_healthy_files();
  std::string log;
  for (int i = 0; i < 10; ++i) {
    log +=
        log_line(1765380000 + i, AlertSource::Files, Severity::Medium, "old " + std::to_string(i));
  }
  log += log_line(1765383000, AlertSource::Persistence, Severity::High, "New autostart entry");
  // A title that would move the cursor or break the line is defused.
  log += log_line(1765383907, AlertSource::System, Severity::Info, "evil\x1b[2J\ntitle\xC2\x9B");
  put("Tarnwick.log.jsonl", log);

  // clang-format off
  const std::string expected =
      "Service: running\n"
      "Data directory: " + dir_text() + "\n"
      "Engine lock: free\n"
      "Configuration: " + dir_text("Tarnwick.config.json") + " (ok)\n"
      "Counters: total_alerts 41, threats 7, actions 2, quarantined 1, peak_risk 88, "
      "uptime_secs 3600 (written 2025-12-10 16:25:07)\n"
      "Last alerts:\n"
      "  2025-12-10 15:20:02  MEDIUM    FILE     old 2\n"
      "  2025-12-10 15:20:03  MEDIUM    FILE     old 3\n"
      "  2025-12-10 15:20:04  MEDIUM    FILE     old 4\n"
      "  2025-12-10 15:20:05  MEDIUM    FILE     old 5\n"
      "  2025-12-10 15:20:06  MEDIUM    FILE     old 6\n"
      "  2025-12-10 15:20:07  MEDIUM    FILE     old 7\n"
      "  2025-12-10 15:20:08  MEDIUM    FILE     old 8\n"
      "  2025-12-10 15:20:09  MEDIUM    FILE     old 9\n"
      "  2025-12-10 16:10:00  HIGH      PERSIST  New autostart entry\n"
      "  2025-12-10 16:25:07  INFO      SYS      evil\uFFFD[2J\uFFFDtitle\uFFFD\n";
  // clang-format on
  EXPECT_EQ(text(), expected);

  const nlohmann::json j = json();
  EXPECT_EQ(j["service"], "running");
  EXPECT_EQ(j["data_dir"], dir_text());
  EXPECT_EQ(j["data_dir_exists"], true);
  EXPECT_EQ(j["lock"], "free");
  EXPECT_EQ(j["config"],
            (nlohmann::json{{"path", dir_text("Tarnwick.config.json")}, {"state", "ok"}}));
  EXPECT_EQ(j["stats"]["state"], "ok");
  EXPECT_EQ(j["stats"]["total_alerts"], 41);
  EXPECT_EQ(j["stats"]["peak_risk"], 88);
  EXPECT_EQ(j["stats"]["time"], "2025-12-10 16:25:07");
  ASSERT_EQ(j["alerts"].size(), 10u);
  EXPECT_EQ(j["alerts"][0]["title"], "old 2");
  EXPECT_EQ(j["alerts"][8], (nlohmann::json{{"time", "2025-12-10 16:10:00"},
                                            {"ts_unix", 1765383000},
                                            {"severity", "High"},
                                            {"source", "Persistence"},
                                            {"source_tag", "PERSIST"},
                                            {"title", "New autostart entry"}}));
  // JSON carries the title as it was; only the console text is defused.
  EXPECT_EQ(j["alerts"][9]["title"], "evil\x1b[2J\ntitle\xC2\x9B");
}

TEST_F(StatusFixture, FilesThatAreMissingOrMalformedAreNamedAsSuch) {
  const struct {
    const char* name;
    const char* config;  // nullptr: no file
    const char* stats;
    const char* config_line;
    const char* counters_line;
    const char* json_config;
    const char* json_stats;
  } cases[] = {
      {"no files", nullptr, nullptr, " (missing: defaults)",
       "Counters: none (Tarnwick.stats.json missing)", "missing: defaults", "missing"},
      {"misspelt severity", R"({"toast_min_severity": "high"})", "{}", " (malformed: defaults)",
       "Counters: none (Tarnwick.stats.json malformed)", "malformed: defaults", "malformed"},
      {"trailing text", "{} x", R"({"total_alerts": 1})", " (malformed: defaults)",
       "Counters: none (Tarnwick.stats.json malformed)", "malformed: defaults", "malformed"},
      {"byte-order mark, extra key", "\xEF\xBB\xBF{\"colour\": 1}", nullptr, " (ok)",
       "Counters: none (Tarnwick.stats.json missing)", "ok", "missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir_ / "Tarnwick.config.json");
    std::filesystem::remove(dir_ / "Tarnwick.stats.json");
    if (c.config) put("Tarnwick.config.json", c.config);
    if (c.stats) put("Tarnwick.stats.json", c.stats);
    const std::string t = text();
    EXPECT_EQ(line_of(t, "Configuration:"),
              "Configuration: " + dir_text("Tarnwick.config.json") + c.config_line);
    EXPECT_EQ(line_of(t, "Counters:"), c.counters_line);
    EXPECT_EQ(line_of(t, "Last alerts:"), "Last alerts: none");
    const nlohmann::json j = json();
    EXPECT_EQ(j["config"]["state"], c.json_config);
    EXPECT_EQ(j["stats"], (nlohmann::json{{"state", c.json_stats}}));
    EXPECT_EQ(j["alerts"], nlohmann::json::array());
    // Reading never wrote the defaults, as the engine's loader would.
    EXPECT_EQ(std::filesystem::exists(dir_ / "Tarnwick.config.json"), c.config != nullptr);
  }
}

TEST_F(StatusFixture, LinesThatDoNotParseAreShownAsUnreadableAndTheRestStillShow) {
  put_healthy_files();
  // clang-format off
  put("Tarnwick.log.jsonl",
      log_line(1765383900, AlertSource::Dns, Severity::Low, "first") + "not json at all\n" +
          R"({"ts_unix":1,"source":"Dns","severity":"high","title":"lower-case severity"})" "\n" +
          R"({"ts_unix":-1,"source":"Dns","severity":"High","title":"negative time"})" "\n" +
          R"({"ts_unix":1,"source":"Disk","severity":"High","title":"unknown source"})" "\n" +
          R"({"ts_unix":1,"source":"Dns","severity":"High"})" "\n" + std::string(100, '[') + "\n" +
          "\n" + log_line(1765383907, AlertSource::Network, Severity::Critical, "last") +
          R"({"ts_unix":1765383908,"source":"Net)");
  // clang-format on
  const std::string t = text();
  EXPECT_EQ(t.substr(t.find("Last alerts:")),
            "Last alerts:\n"
            "  2025-12-10 16:25:00  LOW       DNS      first\n"
            "  (unreadable line)\n"
            "  (unreadable line)\n"
            "  (unreadable line)\n"
            "  (unreadable line)\n"
            "  (unreadable line)\n"
            "  (unreadable line)\n"
            "  2025-12-10 16:25:07  CRITICAL  NET      last\n"
            "  (unreadable line)\n");
  const nlohmann::json alerts = json()["alerts"];
  ASSERT_EQ(alerts.size(), 9u);
  EXPECT_EQ(alerts[1], (nlohmann::json{{"unreadable", true}}));
  EXPECT_EQ(alerts[7]["title"], "last");
}

TEST_F(StatusFixture, OnlyTheLastMebibyteOfALargeLogIsRead) {
  put_healthy_files();
  std::string log;
  int n = 0;
  while (log.size() < 5 * 1000 * 1000) {
    log += log_line(1765380000 + n, AlertSource::Process, Severity::Medium,
                    "alert " + std::to_string(n));
    ++n;
  }
  put("Tarnwick.log.jsonl", log);
  const StatusReport report = gather();
  ASSERT_EQ(tail_reads_.size(), 1u);
  EXPECT_EQ(tail_reads_[0].asked, kStatusLogTailBytes);
  EXPECT_EQ(tail_reads_[0].got, kStatusLogTailBytes);
  ASSERT_EQ(report.alerts.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(report.alerts[i]);
    EXPECT_EQ(report.alerts[i]->title, "alert " + std::to_string(n - 10 + i));
  }
}

// Lines so long that the tail holds only a few: the one cut by the start of
// the tail is left out, not shown as unreadable.
TEST_F(StatusFixture, ALineCutByTheStartOfTheTailIsLeftOut) {
  put_healthy_files();
  std::string log;
  for (int i = 0; i < 5; ++i) {
    // About 300 KiB a line: the title and the key that repeats it.
    log += log_line(1765380000, AlertSource::Files, Severity::High,
                    "big " + std::to_string(i) + " " + std::string(150 * 1024, 'x'));
  }
  put("Tarnwick.log.jsonl", log);
  const StatusReport report = gather();
  ASSERT_EQ(report.alerts.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(report.alerts[i]);
    EXPECT_EQ(report.alerts[i]->title.substr(0, 5), "big " + std::to_string(2 + i));
  }
}

TEST_F(StatusFixture, AfterARotationTheNewestOldFileMakesUpTheTen) {
  put_healthy_files();
  std::string old, current;
  for (int i = 0; i < 20; ++i)
    old += log_line(1765380000 + i, AlertSource::Files, Severity::Low, "o" + std::to_string(i));
  for (int i = 0; i < 3; ++i)
    current += log_line(1765390000 + i, AlertSource::Files, Severity::Low, "c" + std::to_string(i));
  put("Tarnwick.log.jsonl.1", old);
  put("Tarnwick.log.jsonl", current);
  put("Tarnwick.log.jsonl.2", "not read\n");
  std::vector<std::string> titles;
  for (const auto& a : gather().alerts) titles.push_back(a ? a->title : "?");
  EXPECT_EQ(titles, (std::vector<std::string>{"o13", "o14", "o15", "o16", "o17", "o18", "o19", "c0",
                                              "c1", "c2"}));
  ASSERT_EQ(tail_reads_.size(), 2u);
  EXPECT_EQ(tail_reads_[1].file, "Tarnwick.log.jsonl.1");
  EXPECT_EQ(tail_reads_[1].asked, kStatusLogTailBytes - current.size());
}

TEST_F(StatusFixture, TheLockIsProbedWithoutBeingTakenOrCreated) {
  put_healthy_files();
  EXPECT_EQ(gather().lock, LockProbe::Free);
  EXPECT_FALSE(std::filesystem::exists(dir_ / std::string(kLockFileName)));
  {
    const FileLock held = FileLock::acquire(dir_ / std::string(kLockFileName));
    ASSERT_EQ(held.status(), FileLock::Status::Held);
    EXPECT_EQ(line_of(text(), "Engine lock:"), "Engine lock: held");
    EXPECT_EQ(json()["lock"], "held");
  }
  EXPECT_EQ(gather().lock, LockProbe::Free);
  // The probe let go: an engine can take the lock again.
  EXPECT_EQ(FileLock::acquire(dir_ / std::string(kLockFileName)).status(), FileLock::Status::Held);
}

TEST(Status, AMissingDataDirectoryIsReportedAndNotCreated) {
  testing::TempDir root;
  const auto missing = root / "Tarnwick";
  const StatusReport report = gather_status(
      {missing, false}, system_status_sources([] { return ServiceStatus::NotInstalled; }));
  const std::string t = status_text(report, utc);
  // clang-format off
  EXPECT_EQ(t, "Service: not installed\n"
               "Data directory: " + path_to_utf8(missing) + " (does not exist)\n"
               "Engine lock: free\n"
               "Configuration: " + path_to_utf8(missing / "Tarnwick.config.json") +
               " (missing: defaults)\n"
               "Counters: none (Tarnwick.stats.json missing)\n"
               "Last alerts: none\n");
  // clang-format on
  EXPECT_FALSE(std::filesystem::exists(missing));
  const nlohmann::json j = nlohmann::json::parse(status_json(report, utc));
  EXPECT_EQ(j["service"], "not installed");
  EXPECT_EQ(j["data_dir_exists"], false);
}

TEST(Status, DataDirectoryIsFoundWithoutCreatingIt) {
  const std::filesystem::path program_data = path_from_utf8("C:/ProgramData");
  const std::filesystem::path exe_dir = path_from_utf8("C:/Tools");
  const struct {
    const char* name;
    bool program_data_set;
    std::vector<std::filesystem::path> present;
    std::filesystem::path expected;
    bool exists;
  } cases[] = {
      {"the engine's folder exists",
       true,
       {program_data / "Tarnwick"},
       program_data / "Tarnwick",
       true},
      {"not created yet", true, {}, program_data / "Tarnwick", false},
      {"the engine fell back to its own folder",
       true,
       {exe_dir / "Tarnwick.log.jsonl"},
       exe_dir,
       true},
      {"no variable set", false, {exe_dir}, exe_dir, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DataDirInputs inputs{
        .get_env = [&](std::string_view name) -> std::optional<std::string> {
          if (name == "ProgramData" && c.program_data_set) return path_to_utf8(program_data);
          return std::nullopt;
        },
        .create_directories = [](const std::filesystem::path&) -> bool {
          ADD_FAILURE();
          return false;
        },
        .executable_dir = [&] { return std::optional<std::filesystem::path>(exe_dir); },
    };
    const auto exists = [&](const std::filesystem::path& p) {
      return std::find(c.present.begin(), c.present.end(), p) != c.present.end();
    };
    const StatusDataDir dir = status_data_dir(inputs, exists);
    EXPECT_EQ(dir.path, c.expected);
    EXPECT_EQ(dir.exists, c.exists);
  }
}

}  // namespace
}  // namespace tarnwick
