#include "conns/conns.h"

#include <algorithm>

#include "alert/alert.h"
#include "fileio/fileio.h"
#include "net/connections.h"
#include "text/text.h"

namespace tarnwick {

namespace {

constexpr std::string_view kStateNames[] = {"CLOSED",      "LISTEN",    "SYN_SENT",  "SYN_RCVD",
                                            "ESTABLISHED", "FIN_WAIT1", "FIN_WAIT2", "CLOSE_WAIT",
                                            "CLOSING",     "LAST_ACK",  "TIME_WAIT", "DELETE_TCB"};

// Unlike the connection monitor's list, neither "tunnel.exe" nor "ssh.exe".
constexpr std::string_view kSnapshotTunnels[] = {
    "ngrok.exe",  "cloudflared.exe", "frpc.exe", "frps.exe",     "localtonet.exe",
    "playit.exe", "chisel.exe",      "gost.exe", "wstunnel.exe", "nps.exe"};

}  // namespace

std::string_view tcp_state_name(uint32_t state) {
  if (state < 1 || state > std::size(kStateNames)) return "?";
  return kStateNames[state - 1];
}

std::string_view connection_flag(std::string_view lower_image, uint32_t state) {
  if (std::find(std::begin(kSnapshotTunnels), std::end(kSnapshotTunnels), lower_image) !=
      std::end(kSnapshotTunnels)) {
    return "tunnel";
  }
  if (state == kTcpStateEstablished && is_shell(lower_image)) return "shell";
  return "ok";
}

std::vector<ConnEntry> snapshot_entries(const std::vector<TcpRow>& rows,
                                        const ProcessQuery& query) {
  std::vector<ConnEntry> entries;
  entries.reserve(rows.size());
  std::string lower;
  for (const TcpRow& row : rows) {
    ConnEntry e;
    e.pid = row.pid;
    e.image = process_name(query, row.pid).value_or("?");
    e.local_addr = row.local_addr;
    e.local_port = row.local_port;
    e.remote_addr = row.remote_addr;
    e.remote_port = row.remote_port;
    e.state = tcp_state_name(row.state);
    lower.clear();
    append_lower(e.image, lower);
    e.flag = connection_flag(lower, row.state);
    entries.push_back(std::move(e));
  }
  std::stable_sort(entries.begin(), entries.end(), [](const ConnEntry& a, const ConnEntry& b) {
    const bool a_ok = a.flag == "ok";
    const bool b_ok = b.flag == "ok";
    if (a_ok != b_ok) return b_ok;
    return a.image < b.image;  // std::string compares bytes as unsigned
  });
  return entries;
}

std::string serialise_conns(uint64_t ts_unix, const std::vector<ConnEntry>& entries) {
  std::string out = "{\"ts_unix\":";
  append_decimal(ts_unix, out);
  out += ",\"count\":";
  append_decimal(entries.size(), out);
  out += ",\"conns\":[";
  for (size_t i = 0; i < entries.size(); ++i) {
    const ConnEntry& e = entries[i];
    if (i != 0) out += ',';
    out += "{\"pid\":";
    append_decimal(e.pid, out);
    out += ",\"image\":";
    append_json_string(e.image, out);
    out += ",\"local_addr\":\"";
    append_ipv4(e.local_addr, out);
    out += "\",\"local_port\":";
    append_decimal(e.local_port, out);
    out += ",\"remote_addr\":\"";
    append_ipv4(e.remote_addr, out);
    out += "\",\"remote_port\":";
    append_decimal(e.remote_port, out);
    out += ",\"state\":\"";
    out += e.state;
    out += "\",\"flag\":\"";
    out += e.flag;
    out += "\"}";
  }
  out += "]}";
  return out;
}

bool write_conns_snapshot(ConnsWriterParts& p, std::vector<TcpRow>& rows) {
  p.table.read(rows);
  const std::vector<ConnEntry> entries = snapshot_entries(rows, p.query);
  return write_file_replacing(p.path, serialise_conns(p.unix_now(), entries));
}

void run_conns_writer(ConnsWriterParts& p) {
  std::vector<TcpRow> rows;
  while (!p.flags.stopping()) {
    write_conns_snapshot(p, rows);
    if (!p.sleep(p.flags.game_mode() ? std::chrono::seconds(10) : std::chrono::seconds(3))) return;
  }
}

}  // namespace tarnwick
