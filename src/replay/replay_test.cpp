#include "replay/replay.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "procmeta/procmeta_fake.h"

namespace tarnwick {
namespace {

using Kind = ReplayLine::Kind;

TEST(ReplayLine, ReadsBothLineForms) {
  struct Case {
    const char* name;
    std::string line;
    uint32_t pid;
    uint32_t parent_pid;
    std::string image;
    std::string command_line;
    std::string parent_name;
    bool is_signed;
  };
  const Case cases[] = {
      {"own form",
       R"({"pid":4242,"parent_pid":900,"parent_name":"WINWORD.EXE","image":"C:\\Windows\\System32\\cmd.exe","command_line":"cmd /c calc","signed":true})",
       4242, 900, R"(C:\Windows\System32\cmd.exe)", "cmd /c calc", "WINWORD.EXE", true},
      {"own form, only the image, unknown fields ignored",
       R"({"image":"x.scr","host":"pc1","tags":[1,2],"pid":null})", 0, 0, "x.scr", "", "", false},
      {"own form, numbers as strings", R"({"pid":"17","parent_pid":"4294967295","image":"a.exe"})",
       17, 4294967295u, "a.exe", "", "", false},
      {"event export, numbers as strings",
       R"({"EventID":1,"UtcTime":"2024-05-01 10:00:00.000","ProcessId":"4100","ParentProcessId":"4000","Image":"C:\\Windows\\System32\\vssadmin.exe","ParentImage":"C:\\Windows\\System32\\cmd.exe","CommandLine":"vssadmin delete shadows /all","User":"PC1\\bob"})",
       4100, 4000, R"(C:\Windows\System32\vssadmin.exe)", "vssadmin delete shadows /all", "cmd.exe",
       false},
      {"event export, numbers, EventID as a string, no parent",
       R"({"EventID":"1","ProcessId":12,"Image":"C:\\Tools\\NGROK.EXE","signed":false})", 12, 0,
       R"(C:\Tools\NGROK.EXE)", "", "", false},
      {"event form ignores the own form's keys",
       R"({"EventID":1,"Image":"b.exe","pid":5,"parent_name":"cmd.exe"})", 0, 0, "b.exe", "", "",
       false},
      {"carriage return at the end", "{\"image\":\"c.exe\",\"pid\":3}\r", 3, 0, "c.exe", "", "",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReplayLine r = parse_replay_line(c.line);
    ASSERT_EQ(r.kind, Kind::Launch) << r.error;
    EXPECT_EQ(r.launch.pid, c.pid);
    EXPECT_EQ(r.launch.parent_pid, c.parent_pid);
    EXPECT_EQ(r.launch.image, c.image);
    EXPECT_EQ(r.launch.command_line, c.command_line);
    EXPECT_EQ(r.parent_name, c.parent_name);
    EXPECT_EQ(r.is_signed, c.is_signed);
  }
}

TEST(ReplayLine, RejectsWhatCannotBeALaunch) {
  struct Case {
    std::string line;
    Kind kind;
    std::string error;
  };
  const Case cases[] = {
      {"", Kind::Blank, ""},
      {" \t\r", Kind::Blank, ""},
      {R"({"EventID":5,"ProcessId":9,"Image":"a.exe"})", Kind::Ignored, ""},
      {"not json", Kind::Error, "not valid JSON"},
      {R"({"image":"a.exe"} trailing)", Kind::Error, "not valid JSON"},
      {"{\"image\":\"a\xFF.exe\"}", Kind::Error, "not valid JSON"},
      {R"(["image","a.exe"])", Kind::Error, "not a JSON object"},
      {"42", Kind::Error, "not a JSON object"},
      {R"({"pid":1})", Kind::Error, "no image"},
      {R"({"image":""})", Kind::Error, "no image"},
      {R"({"EventID":1,"ProcessId":1,"image":"a.exe"})", Kind::Error, "no Image"},
      {R"({"image":7})", Kind::Error, "image is not a string"},
      {R"({"image":"a.exe","command_line":["x"]})", Kind::Error, "command_line is not a string"},
      {R"({"image":"a.exe\u0000.scr"})", Kind::Error, "image contains a NUL character"},
      {R"({"image":"a.exe","pid":-1})", Kind::Error,
       "pid is not a process id (a number from 0 to 4294967295)"},
      {R"({"image":"a.exe","pid":4294967296})", Kind::Error,
       "pid is not a process id (a number from 0 to 4294967295)"},
      {R"({"image":"a.exe","parent_pid":1.5})", Kind::Error,
       "parent_pid is not a process id (a number from 0 to 4294967295)"},
      {R"({"EventID":1,"Image":"a.exe","ProcessId":"12a"})", Kind::Error,
       "ProcessId is not a process id (a number from 0 to 4294967295)"},
      {R"({"EventID":1,"Image":"a.exe","ProcessId":"-12"})", Kind::Error,
       "ProcessId is not a process id (a number from 0 to 4294967295)"},
      {R"({"EventID":1,"Image":"a.exe","ProcessId":""})", Kind::Error,
       "ProcessId is not a process id (a number from 0 to 4294967295)"},
      {R"({"EventID":"one","Image":"a.exe"})", Kind::Error, "EventID is not a number"},
      {R"({"image":"a.exe","signed":"yes"})", Kind::Error, "signed is not true or false"},
      {"{\"x\":" + std::string(100000, '[') + std::string(100000, ']') + ",\"image\":\"a.exe\"}",
       Kind::Error, "nested deeper than 64 levels"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const ReplayLine r = parse_replay_line(c.line);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.error, c.error);
  }
}

TEST(ReplayLine, ReadsConnectionsAndQueries) {
  using std::chrono::microseconds;
  // 2024-05-01 10:00:00 UTC
  constexpr int64_t kMay1 = 1714557600;
  struct Case {
    const char* name;
    std::string line;
    ReplayConnection expected;
  };
  const Case cases[] = {
      {"event export",
       R"({"EventID":3,"UtcTime":"2024-05-01 10:00:00.250","ProcessId":"4100","Image":"C:\\Tools\\agent.exe","Protocol":"tcp","Initiated":"true","DestinationIp":"203.0.113.7","DestinationPort":"443"})",
       {4100, R"(C:\Tools\agent.exe)", 0xCB007107u, 443, MonitorTime(microseconds(kMay1 * 1000000 + 250000))}},
      {"event export, numbers, whole seconds, leap day",
       R"({"EventID":"3","UtcTime":"2024-02-29 23:59:59","ProcessId":7,"DestinationIp":"8.8.8.8","DestinationPort":53})",
       {7, "", 0x08080808u, 53, MonitorTime(microseconds(int64_t{1709251199} * 1000000))}},
      {"event export, nine fraction digits",
       R"({"EventID":3,"UtcTime":"1970-01-01 00:00:01.123456789","DestinationIp":"1.2.3.4","DestinationPort":1})",
       {0, "", 0x01020304u, 1, MonitorTime(microseconds(1123456))}},
      {"event export, IPv6",
       R"({"EventID":3,"UtcTime":"2024-05-01 10:00:00.000","ProcessId":1,"DestinationIp":"2001:db8::7%12","DestinationPort":443})",
       {1, "", std::nullopt, 443, MonitorTime(microseconds(kMay1 * 1000000))}},
      {"own form, fraction",
       R"({"pid":4100,"image":"C:\\Tools\\agent.exe","remote_addr":"203.0.113.7","remote_port":443,"ts":1714557600.25})",
       {4100, R"(C:\Tools\agent.exe)", 0xCB007107u, 443, MonitorTime(microseconds(kMay1 * 1000000 + 250000))}},
      {"own form, private address and a process start's keys",
       R"({"remote_addr":"10.0.0.5","remote_port":0,"ts":0,"parent_name":"x.exe","command_line":"y"})",
       {0, "", 0x0A000005u, 0, MonitorTime(microseconds(0))}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReplayLine r = parse_replay_line(c.line);
    ASSERT_EQ(r.kind, Kind::Connection) << r.error;
    EXPECT_EQ(r.connection.pid, c.expected.pid);
    EXPECT_EQ(r.connection.image, c.expected.image);
    EXPECT_EQ(r.connection.remote_addr, c.expected.remote_addr);
    EXPECT_EQ(r.connection.remote_port, c.expected.remote_port);
    EXPECT_EQ(r.connection.time.time_since_epoch().count(), c.expected.time.time_since_epoch().count());
  }

  const ReplayLine own = parse_replay_line(R"({"query_name":"X.NGROK.IO.","pid":4})");
  ASSERT_EQ(own.kind, Kind::Query) << own.error;
  EXPECT_EQ(own.query_name, "X.NGROK.IO.");
  const ReplayLine event =
      parse_replay_line(R"({"EventID":22,"QueryName":"example.com","QueryStatus":"0"})");
  ASSERT_EQ(event.kind, Kind::Query) << event.error;
  EXPECT_EQ(event.query_name, "example.com");
}

TEST(ReplayLine, RejectsBadConnectionsAndQueries) {
  const std::string port_error = "remote_port is not a port number (0 to 65535)";
  const std::string ts_error = "ts is not a time (seconds since 1970, up to the year 9999)";
  const std::string utc_error = "UtcTime is not a time of the form YYYY-MM-DD hh:mm:ss.fff";
  auto own = [](std::string fields) { return "{\"pid\":1," + fields + "}"; };
  auto event = [](std::string time, std::string ip = "\"1.2.3.4\"") {
    return R"({"EventID":3,"DestinationPort":80,"DestinationIp":)" + ip + R"(,"UtcTime":")" + time +
           "\"}";
  };
  struct Case {
    std::string line;
    std::string error;
  };
  const Case cases[] = {
      {own(R"("remote_port":1,"ts":1)"), "no image"},  // without remote_addr: a process start
      {own(R"("remote_addr":"","remote_port":1,"ts":1)"), "no remote_addr"},
      {own(R"("remote_addr":null,"remote_port":1,"ts":1)"), "no remote_addr"},
      {own(R"("remote_addr":16909060,"remote_port":1,"ts":1)"), "remote_addr is not a string"},
      {own(R"("remote_addr":"1.2.3","remote_port":1,"ts":1)"), "remote_addr is not an IP address"},
      {own(R"("remote_addr":"1.2.3.4.5","remote_port":1,"ts":1)"), "remote_addr is not an IP address"},
      {own(R"("remote_addr":"1.2.3.256","remote_port":1,"ts":1)"), "remote_addr is not an IP address"},
      {own(R"("remote_addr":"01.2.3.4","remote_port":1,"ts":1)"), "remote_addr is not an IP address"},
      {own(R"("remote_addr":"1.2.3.4:80","remote_port":1,"ts":1)"), "remote_addr is not an IP address"},
      {own(R"("remote_addr":"example.com","remote_port":1,"ts":1)"), "remote_addr is not an IP address"},
      {own(R"("remote_addr":"1.2.3.4","ts":1)"), "no remote_port"},
      {own(R"("remote_addr":"1.2.3.4","remote_port":65536,"ts":1)"), port_error},
      {own(R"("remote_addr":"1.2.3.4","remote_port":-1,"ts":1)"), port_error},
      {own(R"("remote_addr":"1.2.3.4","remote_port":"http","ts":1)"), port_error},
      {own(R"("remote_addr":"1.2.3.4","remote_port":1)"), "no ts"},
      {own(R"("remote_addr":"1.2.3.4","remote_port":1,"ts":-0.5)"), ts_error},
      {own(R"("remote_addr":"1.2.3.4","remote_port":1,"ts":"1714557600")"), ts_error},
      {own(R"("remote_addr":"1.2.3.4","remote_port":1,"ts":1e300)"), ts_error},
      {own(R"("remote_addr":"1.2.3.4","remote_port":1,"ts":1,"pid":-3)"),
       "pid is not a process id (a number from 0 to 4294967295)"},
      {own(R"("remote_addr":"1.2.3.4","remote_port":1,"ts":1,"image":[])"), "image is not a string"},
      {own(R"("remote_addr":"1.2.3.4","query_name":"a.b")"),
       "both remote_addr and query_name: one line is one event"},
      {R"({"EventID":3,"DestinationIp":"1.2.3.4","UtcTime":"2024-05-01 10:00:00"})",
       "no DestinationPort"},
      {R"({"EventID":3,"DestinationPort":1,"UtcTime":"2024-05-01 10:00:00"})", "no DestinationIp"},
      {R"({"EventID":3,"DestinationPort":1,"DestinationIp":"1.2.3.4"})", "no UtcTime"},
      {event("2024-05-01 10:00:00", "\"fe80::1::zz\""), "DestinationIp is not an IP address"},
      {event("2024-05-01T10:00:00"), utc_error},
      {event("2024-5-01 10:00:00.000"), utc_error},
      {event("2023-02-29 10:00:00"), utc_error},
      {event("2024-13-01 10:00:00"), utc_error},
      {event("2024-05-01 24:00:00"), utc_error},
      {event("2024-05-01 10:00:60"), utc_error},
      {event("1969-12-31 23:59:59"), utc_error},
      {event("2024-05-01 10:00:00."), utc_error},
      {event("2024-05-01 10:00:00.1234567890"), utc_error},
      {event("2024-05-01 10:00:00.12a"), utc_error},
      {event("2024-05-01 10:00:00 "), utc_error},
      {R"({"EventID":3,"DestinationPort":1,"DestinationIp":"1.2.3.4","UtcTime":1714557600})", utc_error},
      {R"({"query_name":7})", "query_name is not a string"},
      {R"({"query_name":null})", "no query_name"},
      {R"({"EventID":22,"QueryResults":"1.2.3.4"})", "no QueryName"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const ReplayLine r = parse_replay_line(c.line);
    EXPECT_EQ(r.kind, Kind::Error);
    EXPECT_EQ(r.error, c.error);
  }
}

std::string mask_time(const std::string& text) {
  return std::regex_replace(text, std::regex(R"("ts_unix":\d+)"), R"("ts_unix":0)");
}

TEST(RunReplay, WritesAlertLinesAndNamesBadLines) {
  std::istringstream in(
      R"({"pid":7,"parent_name":"cmd.exe","image":"C:\\Users\\Public\\drop.exe"})"
      "\n\n"
      "{oops\n"
      R"({"pid":8,"parent_name":"cmd.exe","image":"C:\\Users\\Public\\drop.exe","signed":true})"
      "\n"
      R"({"EventID":1,"ProcessId":9,"Image":"C:\\Users\\Public\\signed.exe","ParentImage":"C:\\Windows\\System32\\cmd.exe"})"
      "\n"
      R"({"EventID":1,"ProcessId":10,"Image":"C:\\Users\\Public\\other.exe","ParentImage":"C:\\Windows\\System32\\cmd.exe"})");
  std::ostringstream out;
  std::ostringstream err;
  testing::FakeSignatureCheck platform;
  platform.signed_paths.insert(R"(C:\Users\Public\signed.exe)");

  EXPECT_EQ(run_replay(in, out, err, &platform), 1);
  EXPECT_EQ(
      mask_time(out.str()),
      R"j({"ts_unix":0,"source":"Process","severity":"Medium","title":"Execution from suspicious location","detail":"Unsigned drop.exe ran from a malware-favoured drop folder (parent cmd.exe).\nC:\\Users\\Public\\drop.exe\n\nMITRE ATT&CK: T1204 (User Execution)  ·  CVSS 5.3 (Medium)","pid":7,"dedup_key":"susloc:C:\\Users\\Public\\drop.exe","remediation":null})j"
      "\n"
      R"j({"ts_unix":0,"source":"Process","severity":"Medium","title":"Execution from suspicious location","detail":"Unsigned other.exe ran from a malware-favoured drop folder (parent cmd.exe).\nC:\\Users\\Public\\other.exe\n\nMITRE ATT&CK: T1204 (User Execution)  ·  CVSS 5.3 (Medium)","pid":10,"dedup_key":"susloc:C:\\Users\\Public\\other.exe","remediation":null})j"
      "\n");
  EXPECT_EQ(err.str(), "line 3: not valid JSON\n");
}

TEST(RunReplay, CleanInputExitsZeroAndUnknownSignaturesCountAsUnsigned) {
  std::istringstream in(R"({"pid":1,"image":"C:\\Users\\Public\\a.scr"})"
                        "\n");
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(run_replay(in, out, err, nullptr), 0);
  EXPECT_NE(out.str().find(R"("dedup_key":"susloc:C:\\Users\\Public\\a.scr")"), std::string::npos);
  EXPECT_EQ(err.str(), "");
}

// Connection and query lines go through the same rules as the live monitors,
// on the events' own time, in line order.
TEST(RunReplay, NetworkLinesInEventOrder) {
  std::ostringstream lines;
  for (int i = 0; i < 7; ++i) {
    lines << R"({"pid":31,"image":"C:\\Windows\\System32\\cmd.exe","remote_addr":"198.51.100.4","remote_port":)"
          << 4000 + i << R"(,"ts":)" << 1000 + 45 * i << "}\n";
    if (i == 3) lines << R"({"EventID":22,"QueryName":"bcdfghjk12345678.net."})" << "\n";
  }
  // Skipped as the live monitor skips them, without a complaint.
  lines << R"({"EventID":3,"UtcTime":"2024-05-01 10:00:00.000","DestinationIp":"::1","DestinationPort":1})"
        << "\n"
        << R"({"pid":31,"image":"cmd.exe","remote_addr":"10.1.2.3","remote_port":1,"ts":1714557601})"
        << "\n";
  std::istringstream in(lines.str());
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(run_replay(in, out, err, nullptr), 0);
  EXPECT_EQ(err.str(), "");
  std::vector<std::string> keys;
  std::istringstream written(out.str());
  for (std::string line; std::getline(written, line);) {
    const auto at = line.find(R"("dedup_key":")");
    ASSERT_NE(at, std::string::npos);
    keys.push_back(line.substr(at + 13, line.find('"', at + 13) - at - 13));
  }
  std::vector<std::string> expected(4, "revshell:31:198.51.100.4");
  expected.push_back("dns-dga:bcdfghjk12345678.net");
  expected.insert(expected.end(), 3, "revshell:31:198.51.100.4");
  expected.push_back("beacon:31:198.51.100.4");
  EXPECT_EQ(keys, expected);
  EXPECT_NE(out.str().find("cmd.exe (pid 31) opens a new connection to 198.51.100.4 every ~45s (jitter 0%)"),
            std::string::npos);
}

std::vector<std::string> titles_of(const std::string& out) {
  std::vector<std::string> titles;
  std::istringstream written(out);
  for (std::string line; std::getline(written, line);) {
    const auto at = line.find(R"("title":")");
    titles.push_back(line.substr(at + 9, line.find('"', at + 9) - at - 9));
  }
  return titles;
}

// Only outbound TCP connections are judged; NTP every 64 s, or a server
// answering a client every 64 s, is not beaconing.
TEST(RunReplay, OnlyOutboundTcpNetworkEventsCount) {
  struct Case {
    const char* name;
    const char* fields;  // Protocol and Initiated as the export writes them
    bool beacon;
  };
  const Case cases[] = {
      {"udp", R"("Protocol":"udp","Initiated":"true",)", false},
      {"inbound", R"("Protocol":"tcp","Initiated":"false",)", false},
      {"inbound, boolean", R"("Protocol":"tcp","Initiated":false,)", false},
      {"outbound", R"("Protocol":"tcp","Initiated":"true",)", true},
      {"any case", R"("Protocol":"TCP","Initiated":"True",)", true},
      {"fields absent", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream lines;
    for (int i = 0; i < 8; ++i) {
      lines << R"({"EventID":3,"UtcTime":"2024-05-01 10:)" << (10 + i) << R"(:04.000",)"
            << c.fields
            << R"("ProcessId":"800","Image":"C:\\Windows\\System32\\svchost.exe","DestinationIp":"162.159.200.1","DestinationPort":"123"})"
            << "\n";
    }
    std::istringstream in(lines.str());
    std::ostringstream out, err;
    EXPECT_EQ(run_replay(in, out, err, nullptr), 0);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(titles_of(out.str()),
              c.beacon ? std::vector<std::string>{"C2 beaconing pattern"} : std::vector<std::string>{});
  }

  // Passed over before anything else is read, like events of other ids.
  std::istringstream udp(
      R"({"EventID":3,"Protocol":"udp","DestinationIp":"ff02::fb%12","DestinationPort":"5353"})" "\n");
  std::ostringstream udp_out, udp_err;
  EXPECT_EQ(run_replay(udp, udp_out, udp_err, nullptr), 0);
  EXPECT_EQ(udp_err.str(), "");

  std::istringstream bad(
      R"({"EventID":3,"UtcTime":"2024-05-01 10:00:00","Protocol":6,"DestinationIp":"1.1.1.1","DestinationPort":1})"
      "\n"
      R"({"EventID":3,"UtcTime":"2024-05-01 10:00:00","Initiated":"yes","DestinationIp":"1.1.1.1","DestinationPort":1})"
      "\n");
  std::ostringstream out, err;
  EXPECT_EQ(run_replay(bad, out, err, nullptr), 1);
  EXPECT_EQ(err.str(), "line 1: Protocol is not a string\nline 2: Initiated is not true or false\n");
}

// Newest-first input (how event exports come) would lose every beacon in
// silence: each line that goes back more than a second is named and skipped.
TEST(RunReplay, TimeGoingBackwardsIsReportedAndSkipped) {
  std::ostringstream lines;
  for (int i = 6; i >= 0; --i) {
    lines << R"({"pid":31,"image":"updater.exe","remote_addr":"198.51.100.4","remote_port":443,"ts":)"
          << 1000 + 60 * i << "}\n";
  }
  std::istringstream newest_first(lines.str());
  std::ostringstream out, err;
  EXPECT_EQ(run_replay(newest_first, out, err, nullptr), 1);
  std::string expected;
  for (int n = 2; n <= 7; ++n) {
    expected += "line " + std::to_string(n) + ": time goes backwards (sort the input by time)\n";
  }
  EXPECT_EQ(err.str(), expected);

  // A second of disorder passes; the test is against the latest time seen,
  // so small steps back cannot add up. Lines of other kinds do not count.
  std::istringstream nearly(
      R"({"pid":1,"image":"a.exe","remote_addr":"198.51.100.4","remote_port":1,"ts":100.0})" "\n"
      R"({"pid":1,"image":"a.exe","remote_addr":"198.51.100.4","remote_port":2,"ts":99.2})" "\n"
      R"({"query_name":"example.com","ts":5})" "\n"
      R"({"pid":1,"image":"a.exe","remote_addr":"198.51.100.4","remote_port":3,"ts":99.5})" "\n"
      R"({"pid":1,"image":"a.exe","remote_addr":"198.51.100.4","remote_port":4,"ts":98.9})" "\n");
  std::ostringstream out2, err2;
  EXPECT_EQ(run_replay(nearly, out2, err2, nullptr), 1);
  EXPECT_EQ(err2.str(), "line 5: time goes backwards (sort the input by time)\n");
}

// An alert carries the time of the line that raised it, in whole seconds;
// a line without a time gives the time of the run.
TEST(RunReplay, AlertsCarryTheTimeOfTheirLine) {
  std::istringstream in(
      R"({"EventID":1,"UtcTime":"2024-05-01 10:00:00.750","ProcessId":9,"Image":"C:\\Users\\Public\\a.exe","ParentImage":"C:\\Windows\\System32\\cmd.exe"})" "\n"
      R"({"EventID":22,"UtcTime":"2024-05-01 10:00:01.000","QueryName":"x.ngrok.io"})" "\n"
      R"({"pid":31,"image":"cmd.exe","remote_addr":"198.51.100.4","remote_port":4444,"ts":1714557610.9})" "\n"
      R"({"query_name":"y.ngrok.io","ts":1714557620})" "\n"
      R"({"query_name":"z.ngrok.io"})" "\n"
      R"({"query_name":"w.ngrok.io","ts":"soon"})" "\n");
  std::ostringstream out, err;
  const uint64_t before = unix_now();
  EXPECT_EQ(run_replay(in, out, err, nullptr), 1);
  EXPECT_EQ(err.str(), "line 6: ts is not a time (seconds since 1970, up to the year 9999)\n");
  std::vector<uint64_t> times;
  std::istringstream written(out.str());
  for (std::string line; std::getline(written, line);) {
    times.push_back(std::stoull(line.substr(line.find(':') + 1)));
  }
  ASSERT_EQ(times.size(), 5u);
  EXPECT_EQ(std::vector<uint64_t>(times.begin(), times.begin() + 4),
            (std::vector<uint64_t>{1714557600, 1714557601, 1714557610, 1714557620}));
  EXPECT_GE(times[4], before);
}

TEST(RunReplay, OutputFailureIsReported) {
  std::istringstream in(R"({"pid":1,"image":"C:\\Users\\Public\\a.scr"})"
                        "\n");
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  std::ostringstream err;
  EXPECT_EQ(run_replay(in, out, err, nullptr), 2);
  EXPECT_EQ(err.str(), "cannot write the alerts\n");
}

}  // namespace
}  // namespace tarnwick
