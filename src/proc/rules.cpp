#include "proc/rules.h"

#include <initializer_list>

#include "text/text.h"

namespace tarnwick {

namespace {

using Patterns = std::initializer_list<std::string_view>;

constexpr std::string_view kTunnelTools[] = {
    "ngrok.exe",  "cloudflared.exe", "frpc.exe",   "frps.exe",
    "chisel.exe", "gost.exe",        "playit.exe", "localtonet.exe",
};
constexpr std::string_view kShellChildren[] = {
    "cmd.exe",   "powershell.exe", "pwsh.exe",     "wscript.exe",  "cscript.exe",
    "mshta.exe", "bitsadmin.exe",  "certutil.exe", "regsvr32.exe", "rundll32.exe",
};
constexpr std::string_view kDocumentParents[] = {
    "winword.exe", "excel.exe",    "powerpnt.exe", "outlook.exe", "onenote.exe",
    "acrobat.exe", "acrord32.exe", "msedge.exe",   "chrome.exe",  "firefox.exe",
};
constexpr std::string_view kAutoElevatingParents[] = {
    "fodhelper.exe", "computerdefaults.exe", "eventvwr.exe", "sdclt.exe", "slui.exe",
};
constexpr std::string_view kDropFolders[] = {
    "\\appdata\\local\\temp\\",
    "\\users\\public\\",
    "\\windows\\temp\\",
};
constexpr std::string_view kScriptHostParents[] = {
    "cmd.exe", "powershell.exe", "pwsh.exe", "wscript.exe", "cscript.exe", "mshta.exe",
};

// A text a rule searches: the command line comes with its byte-pair index,
// which answers most searches without looking at the text.
struct Searched {
  Searched(std::string_view t) : text(t) {}  // names and paths, searched as they are
  Searched(std::string_view t, const BytePairs* p) : text(t), pairs(p) {}
  std::string_view text;
  const BytePairs* pairs = nullptr;
};

Searched cmd(const LaunchFacts& f) { return {f.cmd, f.cmd_pairs}; }

bool has(Searched in, std::string_view pattern) {
  if (in.pairs != nullptr && !in.pairs->may_contain(pattern)) return false;
  return contains(in.text, pattern);
}

template <typename List>
bool has_any(Searched in, const List& patterns) {
  for (std::string_view p : patterns) {
    if (has(in, p)) return true;
  }
  return false;
}

bool has_all(Searched in, Patterns patterns) {
  for (std::string_view p : patterns) {
    if (!has(in, p)) return false;
  }
  return true;
}

template <typename List>
bool is_one_of(std::string_view text, const List& names) {
  for (std::string_view n : names) {
    if (text == n) return true;
  }
  return false;
}

bool ends_with_any(std::string_view text, Patterns endings) {
  for (std::string_view e : endings) {
    if (text.ends_with(e)) return true;
  }
  return false;
}

bool is_shell_child(const LaunchFacts& f) {
  return is_one_of(f.name, kShellChildren);
}

// 1
bool tunnel_tool(const LaunchFacts& f) {
  return is_one_of(f.name, kTunnelTools);
}

// 2
bool child_of_document_reader(const LaunchFacts& f) {
  return is_shell_child(f) && is_one_of(f.parent, kDocumentParents);
}

// 3
bool obfuscated_powershell(const LaunchFacts& f) {
  return (has(f.name, "powershell") || has(f.name, "pwsh")) &&
         has_any(cmd(f), Patterns{"-enc", "-encodedcommand", "frombase64string", "downloadstring",
                                 "iex ", "invoke-expression"});
}

// 4
bool psexec(const LaunchFacts& f) {
  return is_one_of(f.name, Patterns{"psexec.exe", "psexec64.exe", "psexesvc.exe"});
}

// 5
bool wmi_execution(const LaunchFacts& f) {
  return f.parent == "wmiprvse.exe" && is_shell_child(f);
}

// 6
bool rundll32_proxy(const LaunchFacts& f) {
  return f.name == "rundll32.exe" &&
         has_any(cmd(f), Patterns{"javascript:", "mshtml", "url.dll", "shell32.dll,control_rundll",
                                 "\\temp\\", "\\appdata\\", "http://", "https://", "javascript",
                                 ",dllregisterserver"});
}

// 7
bool regsvr32_scriptlet(const LaunchFacts& f) {
  return f.name == "regsvr32.exe" &&
         has_any(cmd(f), Patterns{"/i:", "scrobj", "http://", "https://", ".sct", "/s "}) &&
         has_any(cmd(f), Patterns{"http", ".sct", "scrobj"});
}

// 8
bool mshta_script(const LaunchFacts& f) {
  return f.name == "mshta.exe" &&
         has_any(cmd(f), Patterns{"javascript", "vbscript", "http://", "https://", ".hta"});
}

// 9
bool bits_transfer(const LaunchFacts& f) {
  return f.name == "bitsadmin.exe" && has_any(cmd(f), Patterns{"/transfer", "/addfile"});
}

// 10
bool certutil_staging(const LaunchFacts& f) {
  return f.name == "certutil.exe" &&
         has_any(cmd(f), Patterns{"-urlcache", "-decode", "-encode", "http"});
}

// 11
bool event_log_clearing(const LaunchFacts& f) {
  return (f.name == "wevtutil.exe" && has_any(cmd(f), Patterns{" cl ", "clear-log"})) ||
         has(cmd(f), "clear-eventlog") || has(cmd(f), ".clearlog") ||
         has_all(cmd(f), {"wevtutil", " cl "});
}

// 12
bool recovery_deletion(const LaunchFacts& f) {
  return (f.name == "vssadmin.exe" && has_all(cmd(f), {"delete", "shadow"})) ||
         (f.name == "wmic.exe" && has_all(cmd(f), {"shadowcopy", "delete"})) ||
         has(cmd(f), "delete shadows") || has_all(cmd(f), {"bcdedit", "recoveryenabled no"}) ||
         (f.name == "wbadmin.exe" && has(cmd(f), "delete"));
}

// 13
bool account_added(const LaunchFacts& f) {
  return (f.name == "net.exe" || f.name == "net1.exe") &&
         (has_all(cmd(f), {"user", "/add"}) ||
          has_all(cmd(f), {"localgroup", "administrators", "/add"}));
}

// 14
bool uac_bypass(const LaunchFacts& f) {
  return is_one_of(f.parent, kAutoElevatingParents) && is_shell_child(f);
}

// 15
bool security_disabled(const LaunchFacts& f) {
  return (has(cmd(f), "reg ") || f.name == "reg.exe" || has(f.name, "powershell")) &&
         (has_any(cmd(f), Patterns{"disableantispyware", "disablerealtimemonitoring",
                                  "\\policies\\microsoft\\windows defender", "disabletaskmgr",
                                  "disableregistrytools"}) ||
          has_all(cmd(f), {"enablelua", "/d 0"}));
}

// 16
bool wmi_subscription(const LaunchFacts& f) {
  return has_any(cmd(f), Patterns{"__eventfilter", "commandlineeventconsumer",
                                 "activescripteventconsumer", "__filtertoconsumerbinding"}) ||
         has_all(cmd(f), {"wmic", "create", "consumer"});
}

// 17
bool credential_dumper(const LaunchFacts& f) {
  return f.name == "mimikatz.exe" || has(cmd(f), "sekurlsa") || has(cmd(f), "lsadump");
}

// 18
bool lsass_dump(const LaunchFacts& f) {
  return has(cmd(f), "lsass") &&
         (has(cmd(f), "minidump") || has(cmd(f), "comsvcs") ||
          is_one_of(f.name, Patterns{"procdump.exe", "procdump64.exe"}) || has(cmd(f), "-ma "));
}

// 19. The signature check hashes the whole file, so every other condition
// must hold before it is asked.
bool unsigned_from_drop_folder(const LaunchFacts& f) {
  const bool launcher_ok = f.name.ends_with(".exe")
                               ? is_one_of(f.parent, kScriptHostParents)
                               : ends_with_any(f.name, {".scr", ".com", ".pif"});
  if (!launcher_ok || !has_any(f.image_lc, kDropFolders)) return false;
  return !f.trust->is_file_signed(f.image);
}

constexpr ProcessRule kRules[] = {
    {tunnel_tool, Severity::High, "Tunnel / RAT process launched",
     "{name} started (pid {pid}, parent {parent}).", "proc-tunnel:{name}:{pid}",
     "T1572 (Protocol Tunneling)", 7.5f},
    {child_of_document_reader, Severity::Critical, "Suspicious child process (possible exploit)",
     "{parent} spawned {name} (pid {pid}). Cmdline: {cmd240}", "loltbin:{parent}->{name}:{pid}",
     "T1059 (Command & Scripting Interpreter)", 8.8f},
    {obfuscated_powershell, Severity::High, "Obfuscated / download PowerShell",
     "pid {pid}: {cmd240}", "psenc:{pid}", "T1059.001 (PowerShell)", 7.5f},
    {psexec, Severity::High, "PsExec lateral-movement tool",
     "{name} (pid {pid}, parent {parent}) \u2014 remote execution via PsExec (T1021.002).",
     "psexec:{pid}", "T1021.002 (SMB/Admin Shares)", 8.0f},
    {wmi_execution, Severity::High, "WMI remote execution",
     "WmiPrvSE spawned {name} (pid {pid}) \u2014 remote command execution via WMI (T1047 / "
     "lateral movement).",
     "wmiexec:{pid}", "T1047 (WMI)", 8.0f},
    {rundll32_proxy, Severity::High, "Rundll32 abuse (proxy execution)",
     "rundll32 (pid {pid}) ran a suspicious command line: {cmd220}", "rundll32:{pid}",
     "T1218.011 (Rundll32)", 7.7f},
    {regsvr32_scriptlet, Severity::High, "Regsvr32 scriptlet execution (Squiblydoo)",
     "regsvr32 (pid {pid}): {cmd220}", "regsvr32:{pid}", "T1218.010 (Regsvr32)", 7.7f},
    {mshta_script, Severity::High, "Mshta script execution", "mshta (pid {pid}): {cmd220}",
     "mshta:{pid}", "T1218.005 (Mshta)", 7.5f},
    {bits_transfer, Severity::High, "BITS job abuse (stealth download)",
     "bitsadmin (pid {pid}): {cmd220}", "bits:{pid}", "T1197 (BITS Jobs)", 7.0f},
    {certutil_staging, Severity::High, "Certutil download/decode (payload staging)",
     "certutil (pid {pid}): {cmd220}", "certutil:{pid}", "T1105 (Ingress Tool Transfer)", 7.0f},
    {event_log_clearing, Severity::High, "Event log cleared (anti-forensics)",
     "{name} (pid {pid}) cleared Windows event logs \u2014 attackers do this to erase their "
     "tracks. Cmdline: {cmd200}",
     "logclear:{pid}", "T1070.001 (Clear Windows Event Logs)", 6.5f},
    {recovery_deletion, Severity::Critical, "Backup / shadow-copy deletion (ransomware prep)",
     "{name} (pid {pid}) is deleting recovery data (shadow copies / backups) \u2014 the classic "
     "step ransomware takes before encrypting. Cmdline: {cmd200}",
     "norecovery:{pid}", "T1490 (Inhibit System Recovery)", 8.6f},
    {account_added, Severity::High, "New account / admin added",
     "{name} (pid {pid}) created a user or added one to Administrators \u2014 a common "
     "persistence + privilege move. Cmdline: {cmd200}",
     "acctadd:{pid}", "T1136.001 (Local Account)", 7.0f},
    {uac_bypass, Severity::Critical, "UAC bypass (auto-elevation abuse)",
     "{parent} spawned {name} (pid {pid}) \u2014 a known UAC-bypass chain used to gain admin "
     "without a prompt (T1548.002).",
     "uacbypass:{pid}", "T1548.002 (Bypass UAC)", 8.2f},
    {security_disabled, Severity::Critical, "Security setting disabled via registry",
     "{name} (pid {pid}) is editing the registry to DISABLE a security feature (Defender / UAC "
     "/ admin tools). Cmdline: {cmd200}",
     "disablesec:{pid}", "T1562.001 (Impair Defenses)", 8.4f},
    {wmi_subscription, Severity::High, "WMI event subscription persistence",
     "{name} (pid {pid}) is creating a permanent WMI event subscription \u2014 a fileless "
     "persistence + execution technique. Cmdline: {cmd200}",
     "wmipersist:{pid}", "T1546.003 (WMI Event Subscription)", 7.2f},
    {credential_dumper, Severity::Critical, "Credential dumping tool (Mimikatz)",
     "pid {pid}: {cmd240}", "creddump:{pid}", "T1003 (OS Credential Dumping)", 9.1f},
    {lsass_dump, Severity::Critical, "LSASS memory dump (credential theft)",
     "{name} (pid {pid}) is dumping LSASS memory \u2014 a direct attempt to steal Windows "
     "credentials (T1003.001). Cmdline: {cmd200}",
     "lsassdump:{pid}", "T1003.001 (LSASS Memory)", 9.1f},
    {unsigned_from_drop_folder, Severity::Medium, "Execution from suspicious location",
     "Unsigned {name} ran from a malware-favoured drop folder (parent {parent}).\n{image}",
     "susloc:{image}", "T1204 (User Execution)", 5.3f},
};

// False for a name this table does not know; the caller then keeps the braces.
bool append_placeholder(std::string_view key, const LaunchFacts& f, std::string& out) {
  if (key == "name") {
    out += f.name;
  } else if (key == "parent") {
    out += f.parent;
  } else if (key == "pid") {
    append_decimal(f.pid, out);
  } else if (key == "image") {
    out += f.image;
  } else if (key == "cmd240") {
    append_excerpt(f.command_line, 240, out);
  } else if (key == "cmd220") {
    append_excerpt(f.command_line, 220, out);
  } else if (key == "cmd200") {
    append_excerpt(f.command_line, 200, out);
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::span<const ProcessRule> process_rules() {
  return kRules;
}

void expand_template(std::string_view tmpl, const LaunchFacts& facts, std::string& out) {
  size_t pos = 0;
  while (pos < tmpl.size()) {
    const size_t open = tmpl.find('{', pos);
    const size_t close = open == std::string_view::npos ? open : tmpl.find('}', open);
    if (close == std::string_view::npos) break;
    out += tmpl.substr(pos, open - pos);
    if (!append_placeholder(tmpl.substr(open + 1, close - open - 1), facts, out)) {
      out += tmpl.substr(open, close - open + 1);
    }
    pos = close + 1;
  }
  out += tmpl.substr(pos);
}

void append_excerpt(std::string_view command_line, size_t limit, std::string& out) {
  if (command_line.size() <= limit) {
    out += command_line;
    return;
  }
  out += utf8_prefix(command_line, limit);
  out += "\u2026";
}

}  // namespace tarnwick
