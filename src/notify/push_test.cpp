#include "notify/push.h"

#include <gtest/gtest.h>

#include "notify/cmdline_cases.h"
#include "testsupport/argv_split.h"

namespace tarnwick {
namespace {

TEST(PushUrl, ExactlyOneSlashBetweenServerAndTopic) {
  const struct {
    const char* server;
    const char* url;
  } cases[] = {
      {"https://ntfy.sh", "https://ntfy.sh/alerts"},
      {"https://ntfy.sh/", "https://ntfy.sh/alerts"},
      {"https://ntfy.sh///", "https://ntfy.sh/alerts"},
      {"http://10.0.0.5:8080/ntfy/", "http://10.0.0.5:8080/ntfy/alerts"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    EXPECT_EQ(push_url(c.server, "alerts"), c.url);
  }
}

Config config_with_topic() {
  Config config;
  config.ntfy_topic = "alerts";
  return config;
}

TEST(PushArguments, TheTwelveInOrder) {
  const Alert a = make_alert(AlertSource::Network, Severity::Critical, "Possible reverse shell",
                             std::string("Shell process cmd.exe (pid 9) holds a connection"));
  EXPECT_EQ(push_arguments(a, config_with_topic()),
            (std::vector<std::string>{
                "-s", "--max-time", "8", "-H", "Title: Tarnwick: Possible reverse shell", "-H",
                "Priority: urgent", "-H", "Tags: rotating_light", "--data-raw",
                "Shell process cmd.exe (pid 9) holds a connection", "https://ntfy.sh/alerts"}));
}

TEST(PushArguments, BodyIsShortenedTo240) {
  std::string body;
  for (int i = 0; i < 240; ++i) body += "\u00E9";
  const struct {
    const char* name;
    std::string detail;
    std::string expected;
  } cases[] = {
      {"240 whole", body, body},
      {"241 cut", body + "x", body + "\u2026"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Alert a = make_alert(AlertSource::Dns, Severity::Critical, "t", c.detail);
    EXPECT_EQ(push_arguments(a, config_with_topic())[10], c.expected);
  }
}

// Titles and details carry text an attacker chose (command lines, file and
// domain names); none of it may change which arguments curl receives.
TEST(PushCommandLine, HostileTextStaysInsideItsArgument) {
  const Config config = config_with_topic();
  for (const auto& text : testing::hostile_arguments()) {
    SCOPED_TRACE("[" + text + "]");
    const Alert a = make_alert(AlertSource::Process, Severity::Critical, text, text);
    const auto argv = testing::split_command_line(push_command_line(a, config));
    ASSERT_EQ(argv.size(), 13u);
    EXPECT_EQ(argv[0], "curl");
    EXPECT_EQ(argv[5], "Title: Tarnwick: " + text);
    EXPECT_EQ(argv[10], "--data-raw");
    EXPECT_EQ(argv[11], text);
    EXPECT_EQ(argv[12], "https://ntfy.sh/alerts");
  }
}

}  // namespace
}  // namespace tarnwick
