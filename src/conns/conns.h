#pragma once
// The connection snapshot file "Tarnwick.conns.json": every row of the IPv4
// TCP table with its owning process and a flag for tunnelling tools and
// shells holding established connections, rewritten every few seconds for
// viewers outside the program. One writer thread; nothing reads it back.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/flags.h"
#include "procmeta/procmeta.h"
#include "tcptable/tcptable.h"

namespace tarnwick {

// "CLOSED" (1) to "DELETE_TCB" (12); "?" for any other value.
std::string_view tcp_state_name(uint32_t state);

// "tunnel", "shell" or "ok" for a lower-cased image name in a state.
std::string_view connection_flag(std::string_view lower_image, uint32_t state);

struct ConnEntry {
  uint32_t pid = 0;
  std::string image;  // as reported, or "?"
  uint32_t local_addr = 0;
  uint16_t local_port = 0;
  uint32_t remote_addr = 0;
  uint16_t remote_port = 0;
  std::string_view state;
  std::string_view flag;
};

// One entry per row, flagged entries first, each group by image in byte
// order, ties in table order.
std::vector<ConnEntry> snapshot_entries(const std::vector<TcpRow>& rows, const ProcessQuery& query);

// The compact JSON document: {"ts_unix":..,"count":..,"conns":[...]}.
std::string serialise_conns(uint64_t ts_unix, const std::vector<ConnEntry>& entries);

struct ConnsWriterParts {
  std::filesystem::path path;
  TcpTable& table;
  const ProcessQuery& query;
  const EngineFlags& flags;
  Sleeper sleep;
  std::function<uint64_t()> unix_now;
};

// One pass: reads the table and replaces the file. False when the file could
// not be written (the previous one then stays).
bool write_conns_snapshot(ConnsWriterParts& parts, std::vector<TcpRow>& rows);

// The writer thread body: a pass every 3 s (10 s while game mode is on)
// until `stop` is set.
void run_conns_writer(ConnsWriterParts& parts);

}  // namespace tarnwick
