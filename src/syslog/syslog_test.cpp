#include <gtest/gtest.h>

#include "syslog/syslog.h"

namespace tarnwick {
namespace {

TEST(SyslogServerText, Cases) {
  struct Case {
    std::string text;
    std::optional<SyslogServer> expected;
  };
  const auto ok = [](std::string host, uint16_t port, std::string text) {
    return std::optional<SyslogServer>(SyslogServer{std::move(host), port, std::move(text)});
  };
  const std::string long_host(250, 'a');
  const Case cases[] = {
      {"collector.example.org:514", ok("collector.example.org", 514, "collector.example.org:514")},
      {"10.0.0.5:6514", ok("10.0.0.5", 6514, "10.0.0.5:6514")},
      {"[::1]:514", ok("::1", 514, "[::1]:514")},
      {"[fe80::1%eth0]:1", ok("fe80::1%eth0", 1, "[fe80::1%eth0]:1")},
      {"h:65535", ok("h", 65535, "h:65535")},
      {"h:00514", ok("h", 514, "h:00514")},
      {long_host + ":1234", ok(long_host, 1234, long_host + ":1234")},
      {long_host + "a:1234", std::nullopt},  // 256 bytes
      {"collector", std::nullopt},
      {"collector:", std::nullopt},
      {":514", std::nullopt},
      {"[]:514", std::nullopt},
      {"[::1]", std::nullopt},
      {"[::1]514", std::nullopt},
      {"[::1:514", std::nullopt},
      {"::1:514", std::nullopt},
      {"h:0", std::nullopt},
      {"h:65536", std::nullopt},
      {"h:99999999999999999999", std::nullopt},
      {"h:-1", std::nullopt},
      {"h:+514", std::nullopt},
      {"h:514x", std::nullopt},
      {"h:1:2", std::nullopt},
      {"h :514", std::nullopt},
      {"h\n:514", std::nullopt},
      {std::string("h\0:514", 6), std::nullopt},
      {"h\x7f:514", std::nullopt},
      {"[a]b]:514", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_syslog_server(c.text), c.expected);
  }
}

// Splits "LEN MSG" and checks that LEN counts MSG's bytes exactly.
std::string frame_message(const std::string& frame) {
  const size_t blank = frame.find(' ');
  EXPECT_NE(blank, std::string::npos);
  const std::string message = frame.substr(blank + 1);
  EXPECT_EQ(frame.substr(0, blank), std::to_string(message.size()));
  return message;
}

TEST(SyslogFrame, PriorityFollowsSeverity) {
  const SyslogIdentity id{"host.example", 4242};
  const std::pair<Severity, std::string> cases[] = {
      {Severity::Critical, "<34>"}, {Severity::High, "<35>"}, {Severity::Medium, "<36>"},
      {Severity::Low, "<37>"},      {Severity::Info, "<38>"},
  };
  for (const auto& [severity, pri] : cases) {
    SCOPED_TRACE(pri);
    Alert a = make_alert(AlertSource::Dns, severity, "t", std::string("d"));
    a.ts_unix = 1710000342;
    const std::string line = serialise(a);
    std::string frame;
    append_syslog_frame(a, line, id, frame);
    EXPECT_EQ(frame_message(frame),
              pri + "1 2024-03-09T16:05:42.000Z host.example Tarnwick 4242 DNS - " + line);
  }
}

TEST(SyslogFrame, HostileTextsStayOneFrameWithTheLineUnchanged) {
  Alert a = make_alert(AlertSource::Persistence, Severity::High,
                       "title\nwith <34>1 a fake header\r\n",
                       std::string("12 <34>1 2024 x\n\"quoted\" \\ \x01 caf\xC3\xA9 \xE2\x80\xA8 end"));
  a.ts_unix = 0;
  const std::string line = serialise(a);
  ASSERT_EQ(line.find('\n'), std::string::npos);
  std::string frame = "earlier bytes ";
  append_syslog_frame(a, line, SyslogIdentity{"-", 1}, frame);
  ASSERT_EQ(frame.rfind("earlier bytes ", 0), 0u);
  const std::string message = frame_message(frame.substr(14));
  EXPECT_EQ(message, "<35>1 1970-01-01T00:00:00.000Z - Tarnwick 1 PERSIST - " + line);
  EXPECT_EQ(message.find('\n'), std::string::npos);
}

TEST(SyslogFrame, TimestampsAcrossTheCalendar) {
  const std::pair<uint64_t, std::string> cases[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {951782400, "2000-02-29T00:00:00.000Z"},
      {4107542399, "2100-02-28T23:59:59.000Z"},
      {4107542400, "2100-03-01T00:00:00.000Z"},
      {253402300799, "9999-12-31T23:59:59.000Z"},
  };
  for (const auto& [secs, text] : cases) {
    std::string out;
    append_rfc3339_utc(secs, out);
    EXPECT_EQ(out, text) << secs;
  }
}

TEST(SyslogHostname, FirstValidNameElseDash) {
  EXPECT_EQ(syslog_hostname("pc1.corp.example", "PC1"), "pc1.corp.example");
  EXPECT_EQ(syslog_hostname("", "PC1"), "PC1");
  EXPECT_EQ(syslog_hostname("caf\xC3\xA9", "PC 1"), "-");
  EXPECT_EQ(syslog_hostname(std::string(256, 'a'), ""), "-");
}

TEST(SyslogBackoff, DoublesToSixtySecondsAndResets) {
  SyslogBackoff b;
  std::vector<long long> waits;
  for (int i = 0; i < 9; ++i) waits.push_back(std::chrono::duration_cast<std::chrono::seconds>(b.next()).count());
  EXPECT_EQ(waits, (std::vector<long long>{1, 2, 4, 8, 16, 32, 60, 60, 60}));
  b.reset();
  EXPECT_EQ(b.next(), std::chrono::seconds(1));
}

TEST(SyslogAlerts, InvalidSettingQuotesTheTextEscaped) {
  EXPECT_FALSE(syslog_setting_alert(""));
  EXPECT_FALSE(syslog_setting_alert("h:514"));
  const auto alert = syslog_setting_alert("bad\"\nhost");
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->title, "Syslog server setting is invalid");
  EXPECT_EQ(alert->source, AlertSource::System);
  EXPECT_EQ(alert->severity, Severity::Low);
  EXPECT_NE(alert->detail.find(R"("bad\"\nhost")"), std::string::npos) << alert->detail;

  // A huge setting is cut at a character boundary, never mid-sequence.
  std::string huge = "x";
  for (int i = 0; i < 500; ++i) huge += "\xC3\xA9";
  const auto cut = syslog_setting_alert(huge);
  ASSERT_TRUE(cut);
  EXPECT_LT(cut->detail.size(), 500u);
  EXPECT_EQ(cut->detail.find("\\ufffd"), std::string::npos);
  EXPECT_EQ(cut->detail.find("\xEF\xBF\xBD"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick
