#include "net/connections.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "alert/alert.h"
#include "text/text.h"

namespace tarnwick {

namespace {

constexpr std::string_view kTunnelTools[] = {
    "ngrok.exe",  "cloudflared.exe", "frpc.exe", "frps.exe",     "localtonet.exe", "playit.exe",
    "tunnel.exe", "chisel.exe",      "gost.exe", "wstunnel.exe", "nps.exe",        "ssh.exe"};

constexpr std::string_view kShells[] = {"cmd.exe",      "powershell.exe", "pwsh.exe",
                                        "wscript.exe",  "cscript.exe",    "mshta.exe",
                                        "rundll32.exe", "regsvr32.exe"};

template <size_t N>
bool listed(const std::string_view (&names)[N], std::string_view name) {
  return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

// A whole number, rounded to nearest, as the alert texts print it.
std::string whole(double value) {
  char buffer[32];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0);
  if (result.ec != std::errc()) return "?";
  return std::string(buffer, result.ptr);
}

void append_endpoint(const ObservedConnection& conn, std::string& out) {
  append_ipv4(conn.remote_addr, out);
  out += ':';
  out += std::to_string(conn.remote_port);
}

}  // namespace

bool is_public_ipv4(uint32_t a) {
  const uint32_t first = a >> 24;
  if (first == 0 || first == 10 || first == 127) return false;
  if ((a & 0xFFC00000u) == 0x64400000u) return false;  // 100.64.0.0/10
  if ((a >> 16) == 0xA9FEu) return false;              // 169.254.0.0/16
  if ((a & 0xFFF00000u) == 0xAC100000u) return false;  // 172.16.0.0/12
  if ((a >> 16) == 0xC0A8u) return false;              // 192.168.0.0/16
  return a != 0xFFFFFFFFu;
}

bool is_tunnel_tool(std::string_view lower_name) {
  return listed(kTunnelTools, lower_name);
}

bool is_shell(std::string_view lower_name) {
  return listed(kShells, lower_name);
}

void ConnectionMonitor::check_names(const ObservedConnection& conn, std::string_view name,
                                    AlertOut& out) {
  lower_.clear();
  append_lower(name, lower_);
  if (is_tunnel_tool(lower_)) {
    const std::string pid = std::to_string(conn.pid);
    std::string detail(name);
    detail += " (pid " + pid + ") has an outbound connection to ";
    append_endpoint(conn, detail);
    Alert a = make_alert(AlertSource::Network, Severity::High, "Tunnel / remote-access tool active",
                         std::move(detail));
    a.pid = conn.pid;
    a.dedup_key = "tunnel:" + pid + ":" + std::string(name);
    out.push(with_mitre(std::move(a), "T1572 (Protocol Tunneling)", 7.5f));
  }
  if (conn.state == kTcpStateEstablished && is_shell(lower_)) {
    const std::string pid = std::to_string(conn.pid);
    std::string detail = "Shell process ";
    detail += name;
    detail += " (pid " + pid + ") holds an outbound connection to ";
    append_endpoint(conn, detail);
    Alert a = make_alert(AlertSource::Network, Severity::Critical, "Possible reverse shell",
                         std::move(detail));
    a.pid = conn.pid;
    a.dedup_key = "revshell:" + pid + ":" + format_ipv4(conn.remote_addr);
    out.push(with_mitre(std::move(a), "T1059 (Reverse Shell / C2)", 9.0f));
  }
}

void ConnectionMonitor::beacon_step(const ObservedConnection& conn, std::string_view name,
                                    MonitorTime now, AlertOut& out) {
  const uint64_t key = static_cast<uint64_t>(conn.pid) << 32 | conn.remote_addr;
  const auto [it, created] = beacons_.try_emplace(key);
  BeaconEntry& e = it->second;
  if (created) {
    e.last_new = now;
    by_last_new_.emplace(now, key);
    return;
  }
  const double elapsed = std::chrono::duration<double>(now - e.last_new).count();
  auto node = by_last_new_.extract({e.last_new, key});
  node.value().first = now;
  by_last_new_.insert(std::move(node));
  e.last_new = now;
  const double min = flags_.game_mode() ? kBeaconMinIntervalGameMode : kBeaconMinInterval;
  if (min < elapsed && elapsed < kBeaconMaxInterval) {
    if (e.count == kBeaconWindow) {
      std::copy(e.intervals.begin() + 1, e.intervals.end(), e.intervals.begin());
      --e.count;
    }
    e.intervals[e.count++] = elapsed;
  }
  const size_t n = e.count;
  if (n < kBeaconStatsFrom) return;
  double sum = 0;
  for (size_t i = 0; i < n; ++i) sum += e.intervals[i];
  const double mean = sum / static_cast<double>(n);
  if (mean <= 0) return;
  if (mean <= min || n < kBeaconAlertFrom) return;
  double squares = 0;
  for (size_t i = 0; i < n; ++i) squares += (e.intervals[i] - mean) * (e.intervals[i] - mean);
  const double cv = std::sqrt(squares / static_cast<double>(n)) / mean;
  if (!(cv < kBeaconMaxCv)) return;

  const std::string pid = std::to_string(conn.pid);
  const std::string ip = format_ipv4(conn.remote_addr);
  std::string detail(name);
  detail += " (pid " + pid + ") opens a new connection to " + ip + " every ~" + whole(mean) +
            "s (jitter " + whole(cv * 100) +
            "%) \u2014 regular-interval traffic resembles command-and-control.";
  Alert a =
      make_alert(AlertSource::Network, Severity::High, "C2 beaconing pattern", std::move(detail));
  a.pid = conn.pid;
  a.dedup_key = "beacon:" + pid + ":" + ip;
  out.push(with_mitre(std::move(a), "T1071 (C2 Beaconing)", 7.0f));
  e.count = 0;
}

void ConnectionMonitor::expire_beacons(MonitorTime now) {
  while (!by_last_new_.empty() && now - by_last_new_.begin()->first >= kBeaconExpiry) {
    beacons_.erase(by_last_new_.begin()->second);
    by_last_new_.erase(by_last_new_.begin());
  }
}

void ConnectionMonitor::poll(const std::vector<TcpRow>& rows, const ProcessQuery& query,
                             MonitorTime now, AlertOut& out) {
  current_.clear();
  for (const TcpRow& row : rows) {
    if (!is_public_ipv4(row.remote_addr)) continue;
    const ObservedConnection conn{row.pid, row.remote_addr, row.remote_port, row.state};
    const std::string name = process_name(query, row.pid).value_or(std::string());
    check_names(conn, name, out);
    const Identity id{row.pid, row.remote_addr, row.remote_port};
    current_.push_back(id);
    if (std::binary_search(previous_.begin(), previous_.end(), id)) continue;
    // Pid 0 owns the TIME_WAIT rows of every process: pooled under one key
    // they would look like one process reconnecting.
    if (row.pid == 0) continue;
    beacon_step(conn, name, now, out);
  }
  std::sort(current_.begin(), current_.end());
  previous_.swap(current_);
  expire_beacons(now);
}

void ConnectionMonitor::observe_new_connection(const ObservedConnection& conn,
                                               std::string_view name, MonitorTime now,
                                               AlertOut& out) {
  if (is_public_ipv4(conn.remote_addr)) {
    check_names(conn, name, out);
    beacon_step(conn, name, now, out);
  }
  expire_beacons(now);
}

MonitorTime monitor_now() {
  return std::chrono::time_point_cast<std::chrono::microseconds>(MonitorClock::now());
}

void run_network_detector(NetworkDetectorParts& p) {
  ConnectionMonitor monitor(p.flags);
  std::vector<TcpRow> rows;
  while (!p.flags.stopping()) {
    // A read that failed says nothing about the connections: judged as an
    // empty table, every lasting one would be new again at the next poll
    // and feed the beaconing test a false interval.
    if (p.table.read(rows)) monitor.poll(rows, p.query, p.now(), p.out);
    if (!p.sleep(p.flags.game_mode() ? std::chrono::seconds(12) : std::chrono::seconds(2))) return;
  }
}

}  // namespace tarnwick
