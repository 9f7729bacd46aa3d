#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "main/commands.h"
#include "main/service_control.h"

namespace tarnwick {
namespace {

class FakeScm final : public ServiceManager {
 public:
  ExecutablePath path{std::filesystem::path("C:\\Program Files\\Tarnwick\\tarnwick.exe"), 0, {}};
  bool manager_opens = true;
  std::optional<uint32_t> create_error;
  std::optional<uint32_t> open_error;
  bool delete_ok = true;
  std::vector<std::string> calls;

  ExecutablePath own_path() override { return path; }
  bool open_manager() override {
    calls.push_back("open_manager");
    return manager_opens;
  }
  std::optional<uint32_t> create_service(std::string_view name, std::string_view display,
                                         std::string_view command_line) override {
    calls.push_back("create " + std::string(name) + " | " + std::string(display) + " | " +
                    std::string(command_line));
    return create_error;
  }
  void start_service() override { calls.push_back("start"); }
  std::optional<uint32_t> open_service(std::string_view name) override {
    calls.push_back("open " + std::string(name));
    return open_error;
  }
  void stop_service() override { calls.push_back("stop"); }
  bool delete_service() override {
    calls.push_back("delete");
    return delete_ok;
  }
  void add_event_source(const std::filesystem::path& exe) override {
    calls.push_back("add source " + exe.string());
  }
  void remove_event_source() override { calls.push_back("remove source"); }
  std::string error_message(uint32_t code) override {
    return code == 1073 ? "The specified service already exists." : "";
  }
};

struct CommandRun {
  std::string out;
  std::string err;
  int code;
  bool foreground = false;
  std::vector<bool> status_shown;  // one entry a call: whether as JSON
};

CommandRun run(std::string_view word, FakeScm& scm, bool dispatch_ok = false,
               std::string_view option = {}) {
  std::ostringstream out, err;
  CommandRun r{};
  CommandEnv env{scm, [&] { r.foreground = true; }, [&] { return dispatch_ok; }, out, err};
  if (!option.empty()) env.arguments.emplace_back(option);
  env.show_status = [&](bool json) { r.status_shown.push_back(json); };
  r.code = run_command(word, env);
  r.out = out.str();
  r.err = err.str();
  return r;
}

TEST(Commands, ToastShowsTheTwoTextsAndSaysWhetherItWorked) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    bool shown;
    int code;
    std::string err;
    std::vector<std::string> asked;
  } cases[] = {
      {"shown",
       {"Tarnwick \u00B7 HIGH \u00B7 PERS", "title\n\"detail\""},
       true,
       0,
       "",
       {"Tarnwick \u00B7 HIGH \u00B7 PERS|title\n\"detail\""}},
      {"refused by the platform", {"h", ""}, false, 1, "", {"h|"}},
      {"body missing", {"h"}, true, 1, "Usage: tarnwick toast HEADING BODY\n", {}},
      {"one too many", {"h", "b", "c"}, true, 1, "Usage: tarnwick toast HEADING BODY\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeScm scm;
    std::ostringstream out, err;
    bool foreground = false;
    std::vector<std::string> asked;
    CommandEnv env{scm,
                   [&] { foreground = true; },
                   [] { return false; },
                   out,
                   err,
                   c.arguments,
                   [&](std::string_view h, std::string_view b) {
                     asked.push_back(std::string(h) + "|" + std::string(b));
                     return c.shown;
                   }};
    EXPECT_EQ(run_command("toast", env), c.code);
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(err.str(), c.err);
    EXPECT_EQ(out.str(), "");
    EXPECT_FALSE(foreground);
    EXPECT_TRUE(scm.calls.empty());
  }
}

TEST(Commands, InstallRegistersQuotedPathAndStarts) {
  FakeScm scm;
  const CommandRun r = run("install", scm);
  EXPECT_EQ(r.out, "Installed and started service 'Tarnwick'. It will start at boot.\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(scm.calls, (std::vector<std::string>{
                           "open_manager",
                           "create Tarnwick | Tarnwick Behavioral Sentinel | "
                           "\"C:\\Program Files\\Tarnwick\\tarnwick.exe\" service",
                           "add source C:\\Program Files\\Tarnwick\\tarnwick.exe", "start"}));
}

TEST(Commands, InstallFailures) {
  {
    FakeScm scm;
    scm.create_error = 1073;
    const CommandRun r = run("install", scm);
    EXPECT_EQ(r.err,
              "CreateService failed: The specified service already exists. (0x80070431). "
              "(Already installed? Run uninstall first.)\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.code, 0);
    // The existing service's source is left as it is.
    EXPECT_EQ(scm.calls.back().rfind("create ", 0), 0u);
  }
  {
    FakeScm scm;
    scm.create_error = 87654;  // no system text: only the code
    EXPECT_EQ(run("install", scm).err,
              "CreateService failed: 0x80075666. (Already installed? Run uninstall first.)\n");
  }
  {
    FakeScm scm;
    scm.path = {std::nullopt, 2, "The system cannot find the file specified."};
    const CommandRun r = run("install", scm);
    EXPECT_EQ(r.err, "Cannot find own path: The system cannot find the file specified. (os error 2)\n");
    EXPECT_TRUE(scm.calls.empty());
  }
  {
    FakeScm scm;
    scm.manager_opens = false;
    EXPECT_EQ(run("install", scm).err,
              "OpenSCManager failed \u2014 run this elevated (Administrator).\n");
    EXPECT_EQ(run("uninstall", scm).err,
              "OpenSCManager failed \u2014 run this elevated (Administrator).\n");
  }
}

TEST(Commands, Uninstall) {
  {
    FakeScm scm;
    const CommandRun r = run("uninstall", scm);
    EXPECT_EQ(r.out, "Service 'Tarnwick' removed.\n");
    EXPECT_EQ(scm.calls, (std::vector<std::string>{"open_manager", "open Tarnwick", "stop", "delete",
                                                   "remove source"}));
  }
  {
    FakeScm scm;
    scm.open_error = 1060;
    const CommandRun r = run("uninstall", scm);
    EXPECT_EQ(r.err, "Service 'Tarnwick' is not installed.\n");
    EXPECT_EQ(r.out, "");
    // A source left behind by an earlier install goes too.
    EXPECT_EQ(scm.calls.back(), "remove source");
  }
  {
    FakeScm scm;
    scm.open_error = 5;
    EXPECT_EQ(run("uninstall", scm).err, "OpenService failed.\n");
  }
  {
    FakeScm scm;
    scm.delete_ok = false;
    EXPECT_EQ(run("uninstall", scm).err, "DeleteService failed.\n");
    EXPECT_EQ(scm.calls.back(), "delete");
  }
}

TEST(Commands, ServiceWordOutsideTheScm) {
  FakeScm scm;
  EXPECT_EQ(run("service", scm, false).err,
            "Not started by the SCM. Use 'tarnwick run' for foreground mode.\n");
  const CommandRun ok = run("service", scm, true);
  EXPECT_EQ(ok.err, "");
  EXPECT_FALSE(ok.foreground);
}

TEST(Commands, StatusOnlyReadsAndTakesJsonAsItsOption) {
  const struct {
    const char* option;
    bool json;
  } cases[] = {{"", false}, {"--json", true}, {"--JSON", false}, {"json", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    FakeScm scm;
    const CommandRun r = run("status", scm, false, c.option);
    EXPECT_EQ(r.status_shown, std::vector<bool>{c.json});
    EXPECT_FALSE(r.foreground);
    EXPECT_TRUE(scm.calls.empty());
    EXPECT_EQ(r.code, 0);
  }
}

TEST(Commands, EveryOtherWordRunsInTheForeground) {
  for (const char* word : {"", "run", "CommandRun", "start", "INSTALL", "Status"}) {
    SCOPED_TRACE(word);
    FakeScm scm;
    const CommandRun r = run(word, scm);
    EXPECT_TRUE(r.foreground);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_TRUE(scm.calls.empty());
  }
}

class RecordingStatus final : public StatusReporter {
 public:
  std::vector<std::pair<ServiceState, uint32_t>> reports;
  void report(ServiceState s, uint32_t accepted) override { reports.emplace_back(s, accepted); }
};

TEST(ServiceControl, StopAndShutdownReportStopPendingAndSetStop) {
  for (uint32_t code : {kControlStop, kControlShutdown}) {
    SCOPED_TRACE(code);
    RecordingStatus status;
    EngineFlags flags;
    EXPECT_TRUE(handle_service_control(code, &status, &flags));
    ASSERT_EQ(status.reports.size(), 1u);
    EXPECT_EQ(status.reports[0].first, ServiceState::StopPending);
    EXPECT_EQ(status.reports[0].second, 0u);
    EXPECT_TRUE(flags.stopping());
  }
}

TEST(ServiceControl, OtherCodesAndUnsetSlots) {
  RecordingStatus status;
  EngineFlags flags;
  EXPECT_FALSE(handle_service_control(4 /* interrogate */, &status, &flags));
  EXPECT_TRUE(status.reports.empty());
  EXPECT_FALSE(flags.stopping());
  EXPECT_TRUE(handle_service_control(kControlStop, nullptr, &flags));
  EXPECT_TRUE(flags.stopping());
  EXPECT_TRUE(handle_service_control(kControlShutdown, &status, nullptr));
  EXPECT_EQ(status.reports.size(), 1u);
}

}  // namespace
}  // namespace tarnwick
