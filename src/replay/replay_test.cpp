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
      {R"({"EventID":3,"Image":"a.exe","DestinationIp":"10.0.0.1"})", Kind::Ignored, ""},
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
