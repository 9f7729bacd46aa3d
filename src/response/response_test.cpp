#include <gtest/gtest.h>

#include <map>
#include <set>

#include "procmeta/procmeta_fake.h"
#include "response/response.h"

namespace tarnwick {
namespace {

class FakeProcesses final : public ProcessControl {
 public:
  bool kill_ok = true;
  bool suspend_ok = true;
  std::vector<std::string> calls;
  bool kill(uint32_t pid) override {
    calls.push_back("kill " + std::to_string(pid));
    return kill_ok;
  }
  bool suspend(uint32_t pid) override {
    calls.push_back("suspend " + std::to_string(pid));
    return suspend_ok;
  }
};

class FakeRegistry final : public RegistryEditor {
 public:
  bool ok = true;
  std::vector<std::string> calls;
  bool delete_value(std::string_view hive, std::string_view subkey, std::string_view value) override {
    calls.push_back(std::string(hive) + "|" + std::string(subkey) + "|" + std::string(value));
    return ok;
  }
};

// A file system of named files; each operation can be told to fail.
class FakeFiles final : public QuarantineFiles {
 public:
  std::map<std::string, std::string> files;  // generic path -> content
  bool move_ok = true;
  bool copy_ok = true;
  DeleteResult remove_result = DeleteResult::Deleted;
  bool force_ok = true;
  std::vector<std::string> calls;

  static std::string key(const std::filesystem::path& p) { return p.generic_string(); }

  std::optional<uint64_t> size(const std::filesystem::path& f) override {
    auto it = files.find(key(f));
    if (it == files.end()) return std::nullopt;
    return it->second.size();
  }
  bool folder_ok = true;
  bool make_folder(const GuardedFolder& d) override {
    calls.push_back("mkdir " + key(d.path()));
    return folder_ok;
  }
  bool move(const std::filesystem::path& from, const std::filesystem::path& to) override {
    calls.push_back("move");
    if (!move_ok || !files.count(key(from)) || files.count(key(to))) return false;
    files[key(to)] = files[key(from)];
    files.erase(key(from));
    return true;
  }
  bool copy(const std::filesystem::path& from, const std::filesystem::path& to) override {
    calls.push_back("copy");
    if (!copy_ok || !files.count(key(from)) || files.count(key(to))) return false;
    files[key(to)] = files[key(from)];
    return true;
  }
  DeleteResult remove(const std::filesystem::path& f) override {
    calls.push_back("delete");
    if (remove_result == DeleteResult::Deleted) files.erase(key(f));
    return remove_result;
  }
  bool remove_forcibly(const std::filesystem::path& f) override {
    calls.push_back("delete posix");
    if (force_ok) files.erase(key(f));
    return force_ok;
  }
  bool write_ok = true;
  bool write_new(const std::filesystem::path& f, std::string_view text) override {
    return write_ok && files.emplace(key(f), std::string(text)).second;
  }
};

constexpr uint32_t kPid = 4242;
constexpr uint32_t kOwnPid = 1;
const std::string kImage = "C:/Users/bob/Downloads/mimikatz.exe";

struct Rig {
  FakeProcesses processes;
  FakeRegistry registry;
  FakeFiles files;
  testing::FakeProcessQuery query;
  // A fixed wall clock: 1700000000.123456700
  Quarantine quarantine{files, {"", {"Q"}}, [] {
                          return std::chrono::system_clock::time_point(
                              std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                  std::chrono::nanoseconds(1700000000123456700LL)));
                        }};
  AutoResponder responder{processes, registry, quarantine, query, kOwnPid};

  Rig() {
    query.paths[kPid] = kImage;
    files.files[kImage] = "MZ-binary";
  }
};

Alert process_alert(Severity sev, std::optional<uint32_t> pid = kPid) {
  Alert a = make_alert(AlertSource::Process, sev, "Credential dumping tool (Mimikatz)",
                       std::string("pid 4242: "));
  a.pid = pid;
  return a;
}

const std::string kBase =
    "Process: mimikatz.exe (PID 4242)\nPath: C:/Users/bob/Downloads/mimikatz.exe\n"
    "Detection: Credential dumping tool (Mimikatz)\npid 4242: ";
const std::string kSuspended =
    "\nAction: process SUSPENDED (frozen, reversible). Resume or kill it from the dashboard.";
const std::string kTerminated = "\nAction: process TERMINATED (killed). Its network connections are now dead.";

TEST(Respond, ProcessResponseDecisionTable) {
  struct Case {
    const char* name;
    Severity severity;
    bool kill_on_critical, quarantine, suspend;
    bool kill_ok, suspend_ok, move_ok;  // what the fakes answer
    std::vector<std::string> calls;
    std::optional<std::string> title;  // nullopt: no report
    Severity report_severity;
    std::string detail_tail;
  };
  const Case cases[] = {
      {"defaults suspend", Severity::Critical, false, false, true, true, true, true,
       {"suspend 4242"}, "Threat blocked: process suspended", Severity::High, kSuspended},
      {"suspend fails", Severity::High, false, false, true, true, false, true,
       {"suspend 4242"}, "Auto-response: suspend failed", Severity::Medium, kSuspended},
      {"kill on critical", Severity::Critical, true, false, true, true, true, true,
       {"kill 4242"}, "Threat blocked: process terminated", Severity::High, kTerminated},
      {"kill switch ignores non-critical", Severity::High, true, true, true, true, true, true,
       {"suspend 4242"}, "Threat blocked: process suspended", Severity::High, kSuspended},
      {"kill fails, no quarantine attempt", Severity::Critical, true, true, true, false, true, true,
       {"kill 4242"}, "Auto-response: terminate failed", Severity::Medium, kTerminated},
      {"kill and quarantine", Severity::Critical, true, true, true, true, true, true,
       {"kill 4242"}, "Threat blocked: terminated & quarantined", Severity::High,
       "\nAction: process TERMINATED and its file moved to quarantine (id q1700000000_123456700). "
       "It cannot relaunch."},
      {"nothing wanted", Severity::Critical, false, false, false, true, true, true, {}, std::nullopt,
       Severity::Info, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Config config;
    config.auto_kill_on_critical = c.kill_on_critical;
    config.auto_quarantine = c.quarantine;
    config.auto_response_suspend = c.suspend;
    for (auto remediation : {std::optional<Remediation>{}, std::optional<Remediation>{SuspendProcess{}}}) {
      Rig r;
      r.processes.kill_ok = c.kill_ok;
      r.processes.suspend_ok = c.suspend_ok;
      r.files.move_ok = c.move_ok;
      Alert a = process_alert(c.severity);
      a.remediation = remediation;
      const auto report = r.responder.respond(a, config);
      EXPECT_EQ(r.processes.calls, c.calls);
      ASSERT_EQ(report.has_value(), c.title.has_value());
      if (!report) continue;
      EXPECT_EQ(report->title, *c.title);
      EXPECT_EQ(report->severity, c.report_severity);
      EXPECT_EQ(report->source, AlertSource::System);
      EXPECT_EQ(report->dedup_key, "SYS:" + *c.title);
      EXPECT_FALSE(report->pid);
      EXPECT_EQ(report->detail, kBase + c.detail_tail);
    }
  }
}

TEST(Respond, NothingWithoutAPid) {
  Rig rig;
  Config config;
  config.auto_kill_on_critical = true;
  for (auto remediation : {std::optional<Remediation>{}, std::optional<Remediation>{SuspendProcess{}},
                           std::optional<Remediation>{KillProcess{}}}) {
    Alert a = process_alert(Severity::Critical, std::nullopt);
    a.remediation = remediation;
    EXPECT_FALSE(rig.responder.respond(a, config).has_value());
  }
  EXPECT_TRUE(rig.processes.calls.empty());
}

TEST(Respond, KillProcessRemediationIgnoresTheSwitches) {
  for (bool ok : {true, false}) {
    Rig rig;
    rig.processes.kill_ok = ok;
    Alert a = process_alert(Severity::Medium);
    a.remediation = KillProcess{};
    const auto report = rig.responder.respond(a, Config{});  // kill switch off
    ASSERT_TRUE(report);
    EXPECT_EQ(rig.processes.calls, (std::vector<std::string>{"kill 4242"}));
    EXPECT_EQ(report->title, ok ? "Auto-response: process terminated" : "Auto-response: terminate failed");
    EXPECT_EQ(report->severity, ok ? Severity::High : Severity::Medium);
    EXPECT_EQ(report->detail, "Killed pid 4242 for \"Credential dumping tool (Mimikatz)\"");
  }
}

TEST(Respond, DeleteRegValueReport) {
  for (bool ok : {true, false}) {
    Rig rig;
    rig.registry.ok = ok;
    Alert a = make_alert(AlertSource::Persistence, Severity::Critical, "New autostart entry", std::string("d"));
    a.pid = kPid;  // plays no part
    a.remediation = DeleteRegValue{"HKCU", "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "updater"};
    const auto report = rig.responder.respond(a, Config{});
    ASSERT_TRUE(report);
    EXPECT_EQ(rig.registry.calls,
              (std::vector<std::string>{"HKCU|Software\\Microsoft\\Windows\\CurrentVersion\\Run|updater"}));
    EXPECT_TRUE(rig.processes.calls.empty());
    EXPECT_EQ(report->title, ok ? "Threat blocked: persistence removed"
                                : "Auto-response: persistence removal failed");
    EXPECT_EQ(report->detail,
              "Detection: New autostart entry\n"
              "Location: HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\n"
              "Entry: \"updater\"\n"
              "Action: the malicious autostart entry was DELETED. It will no longer run at boot.");
  }
}

// The exact name goes to the deletion, NUL and all; the report shows the NUL
// as "\0". A name that could not be read exactly is never guessed at.
TEST(Respond, DeleteRegValueNamesTheValueExactly) {
  struct Case {
    const char* name;
    std::string value;
    bool deleted;
    const char* shown;
  };
  const Case cases[] = {
      {"NUL inside", std::string("SecurityHealth\0x", 16), true, "SecurityHealth\\0x"},
      {"replacement character", "Evil\uFFFD", false, "Evil\uFFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    Alert a = make_alert(AlertSource::Persistence, Severity::High, "New autostart entry", std::string("d"));
    a.remediation = DeleteRegValue{"HKCU", "Run", c.value};
    const auto report = rig.responder.respond(a, Config{});
    ASSERT_TRUE(report);
    EXPECT_EQ(rig.registry.calls,
              c.deleted ? std::vector<std::string>{"HKCU|Run|" + c.value} : std::vector<std::string>{});
    EXPECT_EQ(report->title, c.deleted ? "Threat blocked: persistence removed"
                                       : "Auto-response: persistence removal failed");
    EXPECT_NE(report->detail.find("\nEntry: \"" + std::string(c.shown) + "\"\n"), std::string::npos);
  }
}

TEST(Respond, UnknownProcessIsDescribedAsSuch) {
  Rig rig;
  rig.query.paths.clear();
  const auto report = rig.responder.respond(process_alert(Severity::Critical), Config{});
  ASSERT_TRUE(report);
  EXPECT_EQ(report->detail.substr(0, 51), "Process: ? (PID 4242)\nPath: <unknown>\nDetection: Cr");
}

TEST(Respond, NeverActsOnTheEngineItself) {
  Rig rig;
  Config config;
  config.auto_kill_on_critical = true;
  const auto report = rig.responder.respond(process_alert(Severity::Critical, kOwnPid), config);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->title, "Auto-response: terminate failed");
  EXPECT_TRUE(rig.processes.calls.empty());
}

TEST(Quarantine, MovesTheFileAndWritesItsRecord) {
  Rig rig;
  const auto entry = rig.quarantine.quarantine_file(kImage, "Credential dumping tool (Mimikatz)");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->id, "q1700000000_123456700");
  EXPECT_TRUE(entry->recorded);
  EXPECT_EQ(rig.files.files.count(kImage), 0u);
  EXPECT_EQ(rig.files.files["Q/q1700000000_123456700.bin"], "MZ-binary");
  EXPECT_EQ(rig.files.files["Q/q1700000000_123456700.json"],
            "{\n"
            "  \"id\": \"q1700000000_123456700\",\n"
            "  \"original_path\": \"C:/Users/bob/Downloads/mimikatz.exe\",\n"
            "  \"reason\": \"Credential dumping tool (Mimikatz)\",\n"
            "  \"ts_unix\": 1700000000,\n"
            "  \"size\": 9\n"
            "}");
}

// The identifier comes from the wall clock, which can be set back: an
// identifier already in use gets a counter, and no earlier entry is replaced.
TEST(Quarantine, NeverReplacesAnEarlierEntry) {
  const struct {
    const char* name;
    std::vector<std::string> taken;
    std::string id;
  } cases[] = {
      {"binary taken", {"q1700000000_123456700.bin"}, "q1700000000_123456700_1"},
      {"record taken", {"q1700000000_123456700.json"}, "q1700000000_123456700_1"},
      {"first counter taken too",
       {"q1700000000_123456700.bin", "q1700000000_123456700_1.json"},
       "q1700000000_123456700_2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    for (const auto& name : c.taken) rig.files.files["Q/" + name] = "earlier " + name;
    const auto entry = rig.quarantine.quarantine_file(kImage, "r");
    ASSERT_TRUE(entry);
    ASSERT_EQ(entry->id, c.id);
    for (const auto& name : c.taken) EXPECT_EQ(rig.files.files["Q/" + name], "earlier " + name);
    EXPECT_EQ(rig.files.files["Q/" + c.id + ".bin"], "MZ-binary");
    EXPECT_NE(rig.files.files["Q/" + c.id + ".json"].find("\"id\": \"" + c.id + "\""),
              std::string::npos);
  }
}

TEST(Quarantine, FallsBackToCopyAndDelete) {
  struct Case {
    const char* name;
    bool copy_ok;
    QuarantineFiles::DeleteResult remove;
    bool force_ok;
    bool succeeds;
    bool copy_left;
    std::vector<std::string> calls;
  };
  using D = QuarantineFiles::DeleteResult;
  const Case cases[] = {
      {"copy and delete", true, D::Deleted, true, true, true, {"mkdir Q", "move", "copy", "delete"}},
      {"delete refused, posix delete", true, D::AccessDenied, true, true, true,
       {"mkdir Q", "move", "copy", "delete", "delete posix"}},
      {"posix delete fails", true, D::AccessDenied, false, false, true,
       {"mkdir Q", "move", "copy", "delete", "delete posix"}},
      {"delete fails otherwise", true, D::Failed, true, false, true, {"mkdir Q", "move", "copy", "delete"}},
      {"copy fails", false, D::Deleted, true, false, false, {"mkdir Q", "move", "copy"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.files.move_ok = false;
    rig.files.copy_ok = c.copy_ok;
    rig.files.remove_result = c.remove;
    rig.files.force_ok = c.force_ok;
    const auto entry = rig.quarantine.quarantine_file(kImage, "r");
    EXPECT_EQ(entry.has_value(), c.succeeds);
    EXPECT_EQ(rig.files.calls, c.calls);
    EXPECT_EQ(rig.files.files.count("Q/q1700000000_123456700.bin"), c.copy_left ? 1u : 0u);
    EXPECT_EQ(rig.files.files.count("Q/q1700000000_123456700.json"), c.succeeds ? 1u : 0u);
  }
}

TEST(Respond, FailedQuarantineFallsBackToTheTerminationReport) {
  Rig rig;
  rig.files.move_ok = false;
  rig.files.copy_ok = false;
  Config config;
  config.auto_kill_on_critical = true;
  config.auto_quarantine = true;
  const auto report = rig.responder.respond(process_alert(Severity::Critical), config);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->title, "Threat blocked: process terminated");
  EXPECT_EQ(report->detail, kBase + kTerminated);

  Rig gone;  // the image is no longer on disk: no attempt at all
  gone.files.files.clear();
  const auto plain = gone.responder.respond(process_alert(Severity::Critical), config);
  EXPECT_EQ(plain->title, "Threat blocked: process terminated");
  EXPECT_TRUE(gone.files.calls.empty());
}

// A record that cannot be written leaves the file in quarantine with nothing
// else naming where it came from: the report says so, names the path, and is
// not a success.
TEST(Respond, QuarantineWithoutItsRecordIsReportedWithTheOriginalPath) {
  Rig rig;
  rig.files.write_ok = false;
  Config config;
  config.auto_kill_on_critical = true;
  config.auto_quarantine = true;
  const auto report = rig.responder.respond(process_alert(Severity::Critical), config);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->title, "Auto-response: quarantine record failed");
  EXPECT_EQ(report->severity, Severity::Medium);
  EXPECT_EQ(report->detail,
            kBase +
                "\nAction: process TERMINATED and its file moved to quarantine (id "
                "q1700000000_123456700), where it is kept, but its record could not be written. "
                "Original path: C:/Users/bob/Downloads/mimikatz.exe. It cannot relaunch.");
  EXPECT_EQ(rig.files.files["Q/q1700000000_123456700.bin"], "MZ-binary");
  EXPECT_EQ(rig.files.files.count(kImage), 0u);
}

// A folder that is a junction (or cannot be made) is never written through:
// the file stays where it is and the report is the plain termination.
TEST(Respond, RefusedQuarantineFolderLeavesTheFileAndReportsTheTermination) {
  Rig rig;
  rig.files.folder_ok = false;
  Config config;
  config.auto_kill_on_critical = true;
  config.auto_quarantine = true;
  const auto report = rig.responder.respond(process_alert(Severity::Critical), config);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->title, "Threat blocked: process terminated");
  EXPECT_EQ(rig.files.calls, (std::vector<std::string>{"mkdir Q"}));
  EXPECT_EQ(rig.files.files.count(kImage), 1u);
  EXPECT_EQ(rig.files.files.size(), 1u);
}

TEST(Quarantine, FolderAndIdentifier) {
  EXPECT_EQ(quarantine_folder(std::string("C:/ProgramData")).path().generic_string(),
            "C:/ProgramData/Tarnwick/quarantine");
  EXPECT_EQ(quarantine_folder(std::string("C:/ProgramData")).below,
            (std::vector<std::string>{"Tarnwick", "quarantine"}));
  EXPECT_EQ(quarantine_folder(std::nullopt).path().generic_string(), "./quarantine");
  EXPECT_EQ(quarantine_id(1700000000, 0), "q1700000000_0");
  EXPECT_EQ(quarantine_id(5, 123400), "q5_123400");
}

}  // namespace
}  // namespace tarnwick
