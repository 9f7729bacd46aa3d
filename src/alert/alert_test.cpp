#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "alert/alert.h"
#include "text/text.h"

namespace tarnwick {
namespace {

Alert fixed(std::string title, std::string detail) {
  Alert a = make_alert(AlertSource::Process, Severity::Critical, title, std::move(detail));
  a.ts_unix = 1700000000;
  return a;
}

TEST(AlertSerialise, CompactLineInKeyOrder) {
  Alert a = fixed("Credential dumping tool (Mimikatz)", "pid 4242: ");
  a.pid = 4242;
  a.dedup_key = "creddump:4242";
  EXPECT_EQ(serialise(a),
            R"j({"ts_unix":1700000000,"source":"Process","severity":"Critical",)j"
            R"j("title":"Credential dumping tool (Mimikatz)","detail":"pid 4242: ","pid":4242,)j"
            R"j("dedup_key":"creddump:4242","remediation":null})j");

  Alert s = make_alert(AlertSource::System, Severity::Info, "Tarnwick is patrolling", std::string("d"));
  s.ts_unix = 5;
  EXPECT_EQ(serialise(s),
            R"j({"ts_unix":5,"source":"System","severity":"Info","title":"Tarnwick is patrolling",)j"
            R"j("detail":"d","pid":null,"dedup_key":"SYS:Tarnwick is patrolling","remediation":null})j");
}

TEST(AlertSerialise, RemediationForms) {
  Alert a = fixed("t", "d");
  a.remediation = SuspendProcess{};
  EXPECT_NE(serialise(a).find(R"j("remediation":"SuspendProcess"})j"), std::string::npos);
  a.remediation = KillProcess{};
  EXPECT_NE(serialise(a).find(R"j("remediation":"KillProcess"})j"), std::string::npos);
  a.remediation = DeleteRegValue{"HKCU", R"j(Software\Microsoft\Windows\CurrentVersion\Run)j", "evil"};
  EXPECT_NE(serialise(a).find(
                R"j("remediation":{"DeleteRegValue":{"hive":"HKCU",)j"
                R"j("subkey":"Software\\Microsoft\\Windows\\CurrentVersion\\Run","value":"evil"}}})j"),
            std::string::npos);
}

TEST(AlertSerialise, EscapesStrings) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"quote and backslash", "say \"hi\" C:\\x", R"j("say \"hi\" C:\\x")j"},
      {"named controls", "\b\t\n\f\r", R"j("\b\t\n\f\r")j"},
      {"other controls", std::string("\x01\x1f\x00", 3), R"j("\u0001\u001f\u0000")j"},
      {"slash and DEL kept", "a/b\x7f", "\"a/b\x7f\""},
      {"non-ascii kept", "\xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80", "\"\xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80\""},
      {"ill-formed replaced", "a\xFFz", "\"a\xEF\xBF\xBDz\""},
      {"literal U+FFFD kept", "\xEF\xBF\xBD", "\"\xEF\xBF\xBD\""},
      {"cut-off 4-byte at the end", "\xF0\x9F\x98", "\"\xEF\xBF\xBD\""},
      {"cut-off 4-byte before text", "\xF0\x9F\x98z", "\"\xEF\xBF\xBDz\""},
      {"cut-off 3-byte before a quote", "\xE2\x80\"", "\"\xEF\xBF\xBD\\\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    append_json_string(c.in, out);
    EXPECT_EQ(out, c.out);
  }
}

TEST(AlertSerialise, AnyTextRoundTripsThroughAJsonParser) {
  Alert a = fixed("line\nbreak \"quoted\"", std::string("tab\tnul\0end", 11));
  a.dedup_key = "k\\ey";
  const std::string line = serialise(a);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const auto parsed = nlohmann::json::parse(line);
  EXPECT_EQ(parsed["title"], a.title);
  EXPECT_EQ(parsed["detail"], a.detail);
  EXPECT_EQ(parsed["dedup_key"], a.dedup_key);
  EXPECT_TRUE(parsed["pid"].is_null());
}

// Every string of up to three bytes drawn from the bytes that matter to a
// UTF-8 decoder (boundaries of each lead and continuation range) and to JSON.
TEST(AlertSerialise, AnyBytesGiveValidUtf8AndJson) {
  const unsigned char interesting[] = {0x00, 0x0A, 0x22, 0x41, 0x5C, 0x7F, 0x80, 0x8F, 0x90,
                                       0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xED,
                                       0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
  std::vector<std::string> texts = {""};
  for (int len = 1; len <= 3; ++len) {
    std::vector<std::string> longer;
    for (const auto& t : texts) {
      if (t.size() != static_cast<size_t>(len - 1)) continue;
      for (unsigned char b : interesting) longer.push_back(t + static_cast<char>(b));
    }
    texts.insert(texts.end(), longer.begin(), longer.end());
  }
  for (const auto& text : texts) {
    for (const std::string& detail : {text, "x" + text + "y", text + text}) {
      const std::string line = serialise(fixed("t", detail));
      ASSERT_TRUE(is_valid_utf8(line)) << ::testing::PrintToString(detail);
      ASSERT_EQ(line.find('\n'), std::string::npos);
      ASSERT_TRUE(nlohmann::json::accept(line)) << ::testing::PrintToString(detail);
    }
  }
}

TEST(Alert, DefaultKeyIsSourceTagAndTitle) {
  EXPECT_EQ(make_alert(AlertSource::Network, Severity::Low, "x", std::string()).dedup_key, "NET:x");
  EXPECT_EQ(make_alert(AlertSource::Dns, Severity::Low, "x", std::string()).dedup_key, "DNS:x");
  EXPECT_EQ(make_alert(AlertSource::Persistence, Severity::Low, "New autostart entry", std::string())
                .dedup_key,
            "PERSIST:New autostart entry");
  const std::string detail = "kept";
  const Alert copied = make_alert(AlertSource::Files, Severity::High, "t", detail);
  EXPECT_EQ(copied.detail, "kept");
  EXPECT_EQ(detail, "kept");
  EXPECT_FALSE(copied.pid);
  EXPECT_FALSE(copied.remediation);
  EXPECT_GT(copied.ts_unix, 1600000000u);
}

TEST(Alert, MitreLineWithRating) {
  struct Case {
    float score;
    const char* suffix;
  };
  const Case cases[] = {
      {0.0f, "CVSS 0.0 (None)"},      {0.1f, "CVSS 0.1 (Low)"},   {4.0f, "CVSS 4.0 (Medium)"},
      {6.99f, "CVSS 7.0 (Medium)"},   {7.0f, "CVSS 7.0 (High)"},  {8.4f, "CVSS 8.4 (High)"},
      {9.0f, "CVSS 9.0 (Critical)"}, {10.0f, "CVSS 10.0 (Critical)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.score);
    const Alert a = with_mitre(fixed("t", "body"), "T1003 (OS Credential Dumping)", c.score);
    EXPECT_EQ(a.detail, std::string("body\n\nMITRE ATT&CK: T1003 (OS Credential Dumping)  \u00B7  ") +
                            c.suffix);
  }
}

TEST(Alert, ActionOutcomeTitleAndSeverityFollowTheResult) {
  const Alert ok = make_action_outcome(true, "Threat blocked: process suspended",
                                       "Auto-response: suspend failed", "d");
  EXPECT_EQ(ok.source, AlertSource::System);
  EXPECT_EQ(ok.severity, Severity::High);
  EXPECT_EQ(ok.title, "Threat blocked: process suspended");
  EXPECT_EQ(ok.dedup_key, "SYS:Threat blocked: process suspended");
  const Alert failed = make_action_outcome(false, "Threat blocked: process suspended",
                                           "Auto-response: suspend failed", "d");
  EXPECT_EQ(failed.severity, Severity::Medium);
  EXPECT_EQ(failed.title, "Auto-response: suspend failed");
  EXPECT_EQ(failed.detail, "d");
  EXPECT_FALSE(failed.pid);
}

TEST(Severity, ParsesExactNamesOnly) {
  EXPECT_EQ(parse_severity("High").severity, Severity::High);
  EXPECT_EQ(parse_severity("Critical").severity, Severity::Critical);
  const auto bad = parse_severity("high");
  EXPECT_FALSE(bad.severity);
  EXPECT_NE(bad.error.find("\"high\""), std::string::npos);
  for (const char* name : {"Info", "Low", "Medium", "High", "Critical"}) {
    EXPECT_NE(bad.error.find(name), std::string::npos) << name;
  }
  EXPECT_LT(Severity::Info, Severity::Low);
  EXPECT_LT(Severity::High, Severity::Critical);
}

}  // namespace
}  // namespace tarnwick
