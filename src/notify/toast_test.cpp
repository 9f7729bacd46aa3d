#include "notify/toast.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

Alert alert(AlertSource source, Severity severity, std::string title, std::string detail) {
  return make_alert(source, severity, title, std::move(detail));
}

TEST(ToastXml, CriticalProcessAlertByteForByte) {
  const Alert a = with_mitre(
      alert(AlertSource::Process, Severity::Critical, "Suspicious child process (possible exploit)",
            "WINWORD.EXE spawned powershell.exe (pid 4242). Cmdline: powershell -enc SQBFAFgA"),
      "T1059 (Command & Scripting Interpreter)", 8.8f);
  const std::string expected =
      "<toast duration=\"long\" >\n"
      "                    <visual>\n"
      "                        <binding template=\"ToastGeneric\">\n"
      "                        \n"
      "                        "
      "<text id=\"1\">Tarnwick \u00B7 CRITICAL \u00B7 PROC</text>"
      "<text id=\"2\">Suspicious child process (possible exploit)</text>"
      "<text id=\"3\">WINWORD.EXE spawned powershell.exe (pid 4242). Cmdline: powershell -enc "
      "SQBFAFgA&#xA;&#xA;MITRE ATT&amp;CK: T1059 (Command &amp; Scripting Interpreter)  \u00B7  "
      "CVSS 8.8 (High)</text>\n"
      "                        </binding>\n"
      "                    </visual>\n"
      "                    \n"
      "                </toast>";
  EXPECT_EQ(toast_xml(a, 10), expected);
}

TEST(ToastXml, MediumAlertIsShortAndEscaped) {
  const Alert a = alert(AlertSource::Dns, Severity::Medium, "a<b & \"c\" 'd'>",
                        "line one\r\nline two\ttabbed & <done>");
  const std::string expected =
      "<toast duration=\"short\" >\n"
      "                    <visual>\n"
      "                        <binding template=\"ToastGeneric\">\n"
      "                        \n"
      "                        "
      "<text id=\"1\">Tarnwick \u00B7 MEDIUM \u00B7 DNS</text>"
      "<text id=\"2\">a&lt;b &amp; &quot;c&quot; &apos;d&apos;&gt;</text>"
      "<text id=\"3\">line one&#xD;&#xA;line two\ttabbed &amp; &lt;done&gt;</text>\n"
      "                        </binding>\n"
      "                    </visual>\n"
      "                    \n"
      "                </toast>";
  EXPECT_EQ(toast_xml(a, 10), expected);
}

TEST(ToastXml, OlderSystemsGetTheText04Template) {
  const Alert a = alert(AlertSource::System, Severity::Info, "t", "d");
  const std::string xml = toast_xml(a, 6);
  EXPECT_NE(xml.find("\n                        <binding template=\"ToastText04\">\n"),
            std::string::npos)
      << xml;
  EXPECT_EQ(xml.find("ToastGeneric"), std::string::npos);

  const struct {
    uint32_t major;
    std::string_view expected;
  } cases[] = {{0, "ToastText04"}, {6, "ToastText04"}, {7, "ToastGeneric"}, {10, "ToastGeneric"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.major);
    EXPECT_EQ(toast_template(c.major), c.expected);
  }
}

TEST(ToastXml, DurationIsLongFromHighOn) {
  const struct {
    Severity severity;
    bool long_duration;
  } cases[] = {{Severity::Info, false},
               {Severity::Low, false},
               {Severity::Medium, false},
               {Severity::High, true},
               {Severity::Critical, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(severity_name(c.severity));
    const std::string xml = toast_xml(alert(AlertSource::Files, c.severity, "t", "d"), 10);
    const std::string first_line = xml.substr(0, xml.find('\n'));
    EXPECT_EQ(first_line,
              c.long_duration ? "<toast duration=\"long\" >" : "<toast duration=\"short\" >");
  }
}

TEST(ToastXml, DetailIsShortenedBeforeItIsEscaped) {
  // Shortening must count the detail's own characters, not its entities,
  // and must never cut an entity in two.
  const std::string exactly(160, '<');
  std::string escaped;
  for (int i = 0; i < 160; ++i) escaped += "&lt;";
  const struct {
    const char* name;
    std::string detail;
    std::string shown;
  } cases[] = {
      {"160 characters whole", exactly, escaped},
      {"161 characters cut", exactly + "<", escaped + "\u2026"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string xml = toast_xml(alert(AlertSource::Files, Severity::High, "t", c.detail), 10);
    EXPECT_NE(xml.find("<text id=\"3\">" + c.shown + "</text>\n"), std::string::npos);
  }
}

TEST(XmlEscape, EntitiesAndCharactersXmlCannotHold) {
  const struct {
    const char* name;
    std::string in;
    std::string out;
  } cases[] = {
      {"plain and non-ASCII pass", "caf\u00E9 \U0001F680 \u00B7", "caf\u00E9 \U0001F680 \u00B7"},
      {"the seven escapes", "&<>\"'\r\n", "&amp;&lt;&gt;&quot;&apos;&#xD;&#xA;"},
      {"tab passes", "a\tb", "a\tb"},
      {"entity text is escaped again", "&amp;", "&amp;amp;"},
      {"C0 controls",
       std::string("a\x01"
                   "b\x1b[31m",
                   8) +
           std::string(1, '\0'),
       "a\uFFFDb\uFFFD[31m\uFFFD"},
      {"noncharacters", "\xEF\xBF\xBE\xEF\xBF\xBF", "\uFFFD\uFFFD"},
      {"ill-formed UTF-8", "a\xFF\xC3", "a\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(xml_escape(c.in), c.out);
  }
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

TEST(ToastDocument, TheTwoTextsOfAnAlertGiveItsOwnDocument) {
  const std::string long_detail(400, 'd');
  const Alert alerts[] = {
      make_alert(AlertSource::Process, Severity::Critical, "Suspicious child process",
                 "WINWORD.EXE spawned powershell.exe\n\nMITRE ATT&CK: T1059"),
      make_alert(AlertSource::Network, Severity::High, "Connection to a known bad port",
                 "line\r\nbreaks & <tags> \"quotes\""),
      make_alert(AlertSource::Dns, Severity::Medium, "Odd lookup", long_detail),
      make_alert(AlertSource::Files, Severity::Low, "No watch directories", ""),
      make_alert(AlertSource::System, Severity::Info, "Tarnwick is patrolling",
                 "caf\u00E9 \U0001F680 \xFF stray"),
  };
  for (const Alert& a : alerts) {
    SCOPED_TRACE(a.title);
    const ToastTexts texts = toast_texts(a);
    EXPECT_EQ(texts.heading, toast_heading(a));
    EXPECT_EQ(texts.body, a.title + "\n" + a.detail);
    for (const uint32_t major : {10u, 6u}) {
      EXPECT_EQ(toast_document(texts.heading, texts.body, major), toast_xml(a, major));
    }
  }
}

TEST(ToastDocument, TextsTypedByHand) {
  const std::string doc = toast_document("Hello", "World", 10);
  EXPECT_TRUE(doc.starts_with("<toast duration=\"short\" >\n")) << doc;
  EXPECT_NE(
      doc.find("<text id=\"1\">Hello</text><text id=\"2\">World</text><text id=\"3\"></text>"),
      std::string::npos)
      << doc;
  // Only the first line feed separates the title from the detail.
  const std::string lines = toast_document("Tarnwick \u00B7 HIGH \u00B7 X", "t\nd1\nd2", 10);
  EXPECT_TRUE(lines.starts_with("<toast duration=\"long\" >\n")) << lines;
  EXPECT_NE(lines.find("<text id=\"2\">t</text><text id=\"3\">d1&#xA;d2</text>"), std::string::npos)
      << lines;
  // A severity word elsewhere in the heading does not make it long.
  EXPECT_TRUE(
      toast_document("HIGH \u00B7 CRITICAL", "x", 10).starts_with("<toast duration=\"short\""));
}

}  // namespace
}  // namespace tarnwick
