#include "notify/notify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "notify/cmdline_cases.h"
#include "notify/notify_fake.h"
#include "notify/push.h"
#include "notify/toast.h"
#include "sessions/sessions_fake.h"
#include "testsupport/argv_split.h"

namespace tarnwick {
namespace {

std::string repeat(std::string_view unit, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += unit;
  return out;
}

TEST(Shorten, CountsCodePointsAndNeverCutsASequence) {
  const std::string mixed = repeat("a\u00E9\U0001F680\u00B7", 40);  // 160 code points, 400 bytes
  const struct {
    const char* name;
    std::string text;
    size_t n;
    std::string expected;
  } cases[] = {
      {"empty", "", 160, ""},
      {"ASCII at the limit", repeat("x", 160), 160, repeat("x", 160)},
      {"ASCII one over", repeat("x", 161), 160, repeat("x", 160) + "\u2026"},
      {"two-byte at the limit", repeat("\u00E9", 160), 160, repeat("\u00E9", 160)},
      {"two-byte one over", repeat("\u00E9", 161), 160, repeat("\u00E9", 160) + "\u2026"},
      {"mixed widths at the limit", mixed, 160, mixed},
      {"cut right after an emoji", mixed + "\U0001F680", 160, mixed + "\u2026"},
      {"cut before an emoji", "ab\U0001F680c", 2, "ab\u2026"},
      {"push limit whole", repeat("\U0001F680", 240), 240, repeat("\U0001F680", 240)},
      {"push limit one over", repeat("\U0001F680", 241), 240, repeat("\U0001F680", 240) + "\u2026"},
      // Each stray byte is one character, as it is shown as one U+FFFD.
      {"ill-formed bytes count one each", repeat("\xFF", 5), 4, repeat("\xFF", 4) + "\u2026"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(shorten(c.text, c.n), c.expected);
  }
}

Alert critical(std::string title, std::string detail) {
  return make_alert(AlertSource::Process, Severity::Critical, title, std::move(detail));
}

struct Parts {
  testing::RecordingToastPresenter toasts;
  testing::RecordingLauncher launcher;
  testing::FixedSystemVersion version{10};
};

TEST(SystemNotifier, PushStartsCurlWithTheTwelveArguments) {
  Parts p;
  SystemNotifier notifier(p.toasts, p.launcher, p.version);
  Config config;
  config.ntfy_topic = "my-alerts";
  config.ntfy_server = "https://push.example.org//";

  notifier.push(critical("Credential dumping tool (Mimikatz)", "pid 7: @C:\\secret.txt"), config);

  ASSERT_EQ(p.launcher.launched.size(), 1u);
  EXPECT_EQ(
      testing::split_command_line(p.launcher.launched[0]),
      (std::vector<std::string>{"curl", "-s", "--max-time", "8", "-H",
                                "Title: Tarnwick: Credential dumping tool (Mimikatz)", "-H",
                                "Priority: urgent", "-H", "Tags: rotating_light", "--data-raw",
                                "pid 7: @C:\\secret.txt", "https://push.example.org/my-alerts"}));
  EXPECT_TRUE(p.toasts.shown.empty());
}

TEST(SystemNotifier, NoTopicNoPushAndFailuresAreSwallowed) {
  Parts p;
  p.launcher.succeed = false;
  p.toasts.accept = false;
  SystemNotifier notifier(p.toasts, p.launcher, p.version);

  notifier.push(critical("t", "d"), Config{});
  EXPECT_TRUE(p.launcher.launched.empty());

  Config config;
  config.ntfy_topic = "t";
  notifier.push(critical("t", "d"), config);
  notifier.show_toast(critical("t", "d"));
  EXPECT_EQ(p.launcher.launched.size(), 1u);
  EXPECT_EQ(p.toasts.shown.size(), 1u);
}

// curl reads an argument starting with "-" as an option ("-K file" reads a
// configuration of the writer's choice), so such a URL is never passed.
TEST(SystemNotifier, NoPushWhenTheUrlWouldBeAnOption) {
  const struct {
    const char* server;
    bool pushed;
  } cases[] = {
      {"-K C:\\Users\\Public\\evil.cfg", false},
      {"--config=x///", false},
      {"-", false},
      {"https://ntfy.example.org/-", true},
      {"", true},  // "/t": curl's own error, not an option
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    Parts p;
    SystemNotifier notifier(p.toasts, p.launcher, p.version);
    Config config;
    config.ntfy_topic = "t";
    config.ntfy_server = c.server;
    notifier.push(critical("t", "d"), config);
    EXPECT_EQ(p.launcher.launched.size(), c.pushed ? 1u : 0u);
  }
}

TEST(SystemNotifier, ToastGoesToThePresenterUnderThePowerShellIdentity) {
  for (const uint32_t major : {6u, 10u}) {
    SCOPED_TRACE(major);
    Parts p;
    testing::FixedSystemVersion version(major);
    SystemNotifier notifier(p.toasts, p.launcher, version);
    const Alert a = critical("Possible reverse shell", "cmd.exe <-> 203.0.113.9:4444");

    notifier.show_toast(a);

    ASSERT_EQ(p.toasts.shown.size(), 1u);
    EXPECT_EQ(p.toasts.shown[0].app_id,
              "{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}\\WindowsPowerShell\\v1.0\\powershell.exe");
    EXPECT_EQ(p.toasts.shown[0].xml, toast_xml(a, major));
    EXPECT_NE(p.toasts.shown[0].xml.find(toast_template(major)), std::string::npos);
    EXPECT_TRUE(p.launcher.launched.empty());
  }
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

constexpr const char* kExe = "C:\\Program Files\\Tarnwick\\tarnwick.exe";

TEST(ToastCommandLine, HostileTextsComeBackExactly) {
  std::vector<std::string> texts = testing::hostile_arguments();
  texts.push_back("Tarnwick \u00B7 HIGH \u00B7 PERS");
  texts.push_back(
      "New autostart entry\nAdded \"x\\\" /c calc\\\\\" under HKU\\S-1-5-21-1\\...\\Run");
  for (const std::string& heading : texts) {
    for (const std::string& body : texts) {
      const std::string line = toast_command_line(kExe, {heading, body});
      ASSERT_EQ(testing::split_command_line(line),
                (std::vector<std::string>{kExe, "toast", heading, body}))
          << line;
    }
  }
}

TEST(ToastCommandLine, EachTextIsCutAtACharacterBoundary) {
  const std::string two_byte = repeat("\u00E9", 1500);         // 3000 bytes
  const std::string offset = "a" + repeat("\U0001F680", 600);  // 2401 bytes
  const std::string quoted = repeat("\\\"", 1100);             // cut between pairs
  const struct {
    const char* name;
    std::string text;
    std::string kept;
  } cases[] = {
      {"at the bound", repeat("x", kToastArgumentMaxBytes), repeat("x", kToastArgumentMaxBytes)},
      {"one past", repeat("x", kToastArgumentMaxBytes + 1), repeat("x", kToastArgumentMaxBytes)},
      {"two-byte characters", two_byte, repeat("\u00E9", 1024)},
      {"four-byte characters one byte off", offset, "a" + repeat("\U0001F680", 511)},
      {"backslashes before quotes", quoted, repeat("\\\"", 1024)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string line = toast_command_line(kExe, {c.text, c.text});
    EXPECT_EQ(testing::split_command_line(line),
              (std::vector<std::string>{kExe, "toast", c.kept, c.kept}));
    EXPECT_LE(c.kept.size(), kToastArgumentMaxBytes);
  }
}

TEST(SessionToastNotifier, OneChildPerActiveSessionAndPushesUnchanged) {
  Parts p;
  SystemNotifier pushes(p.toasts, p.launcher, p.version);
  testing::FakeUserSessions sessions;
  sessions.active = {1, 2, 3};
  sessions.failing = {1};  // a failed start in one session keeps none of the others from theirs
  SessionToastNotifier notifier(sessions, std::string(kExe), pushes);
  const Alert a = critical("Ransomware \"burst\"", "C:\\Users\\x\\Documents\\ 30 files\n\\\"");

  notifier.show_toast(a);
  const std::string line = toast_command_line(kExe, toast_texts(a));
  EXPECT_EQ(sessions.started,
            (std::vector<std::pair<uint32_t, std::string>>{{1, line}, {2, line}, {3, line}}));
  EXPECT_TRUE(p.toasts.shown.empty()) << "nothing is shown in the service's own session";

  Config config;
  config.ntfy_topic = "alerts";
  notifier.push(a, config);
  EXPECT_EQ(p.launcher.launched.size(), 1u);

  // No one logged on, or no known executable: nothing is started.
  sessions.started.clear();
  sessions.active.clear();
  notifier.show_toast(a);
  sessions.active = {4};
  SessionToastNotifier without_exe(sessions, std::nullopt, pushes);
  without_exe.show_toast(a);
  EXPECT_TRUE(sessions.started.empty());
}

}  // namespace
}  // namespace tarnwick
