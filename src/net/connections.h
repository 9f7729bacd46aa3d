#pragma once
// The connection monitor: polls the IPv4 TCP table and raises alerts about
// outbound connections to public addresses held by tunnelling tools or by
// shells, and about processes that open new connections to one address at
// regular intervals (beaconing). All state lives in one ConnectionMonitor,
// owned by the network detector's thread (or by the replay tool).

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/alert_queue.h"
#include "engine/flags.h"
#include "procmeta/procmeta.h"
#include "tcptable/tcptable.h"

namespace tarnwick {

// Monotonic time as the monitor counts it. Microseconds reach far enough
// for recorded event times as well as the steady clock.
using MonitorClock = std::chrono::steady_clock;
using MonitorTime = std::chrono::time_point<MonitorClock, std::chrono::microseconds>;

// False for 0.0.0.0/8, 10.0.0.0/8, 100.64.0.0/10, 127.0.0.0/8,
// 169.254.0.0/16, 172.16.0.0/12, 192.168.0.0/16 and 255.255.255.255.
bool is_public_ipv4(uint32_t addr);

// Exact matches on a lower-cased process name.
bool is_tunnel_tool(std::string_view lower_name);
bool is_shell(std::string_view lower_name);

inline constexpr double kBeaconMinInterval = 3.0;
inline constexpr double kBeaconMinIntervalGameMode = 18.0;
inline constexpr double kBeaconMaxInterval = 3600.0;
inline constexpr size_t kBeaconWindow = 12;
inline constexpr size_t kBeaconStatsFrom = 3;
inline constexpr size_t kBeaconAlertFrom = 6;
inline constexpr double kBeaconMaxCv = 0.25;
inline constexpr auto kBeaconExpiry = std::chrono::seconds(600);

// One connection as the rules see it.
struct ObservedConnection {
  uint32_t pid = 0;
  uint32_t remote_addr = 0;  // host order
  uint16_t remote_port = 0;
  uint32_t state = 0;
};

class ConnectionMonitor {
 public:
  // `flags` is read for game mode at every beacon step.
  explicit ConnectionMonitor(const EngineFlags& flags) : flags_(flags) {}

  // One poll over the table's rows at `now`.
  void poll(const std::vector<TcpRow>& rows, const ProcessQuery& query, MonitorTime now,
            AlertOut& out);

  // A connection known to be new at `now`, named `name` (as reported), judged
  // as one poll holding only it: the name rules and the beacon step when the
  // address is public, then the removal of stale beacon entries.
  void observe_new_connection(const ObservedConnection& conn, std::string_view name,
                              MonitorTime now, AlertOut& out);

  // Drops the beacon entries whose last new connection lies 600 s or more
  // before `now`; the end of every poll.
  void expire_beacons(MonitorTime now);

  size_t beacon_entries() const { return beacons_.size(); }

 private:
  struct Identity {
    uint32_t pid;
    uint32_t addr;
    uint16_t port;
    auto operator<=>(const Identity&) const = default;
  };
  struct BeaconEntry {
    std::array<double, kBeaconWindow> intervals{};  // oldest first
    size_t count = 0;
    MonitorTime last_new{};
  };

  // The tunnel and reverse-shell rules.
  void check_names(const ObservedConnection& conn, std::string_view name, AlertOut& out);
  void beacon_step(const ObservedConnection& conn, std::string_view name, MonitorTime now,
                   AlertOut& out);

  const EngineFlags& flags_;
  // Sorted identities of the previous poll's examined rows; the current
  // poll's are gathered beside them and take their place at the end.
  std::vector<Identity> previous_;
  std::vector<Identity> current_;
  std::unordered_map<uint64_t, BeaconEntry> beacons_;  // (pid << 32) | address
  // The same keys ordered by their last new connection, so that expiry
  // looks only at the entries it drops, however large the table.
  std::set<std::pair<MonitorTime, uint64_t>> by_last_new_;
  std::string lower_;                                  // reused lower-cased name
};

struct NetworkDetectorParts {
  TcpTable& table;
  const ProcessQuery& query;
  AlertOut& out;
  const EngineFlags& flags;
  Sleeper sleep;
  std::function<MonitorTime()> now;
};

// The detector thread body: polls every 2 s (12 s while game mode is on)
// until `stop` is set; state starts empty on every run.
void run_network_detector(NetworkDetectorParts& parts);

// The monitor's clock reading.
MonitorTime monitor_now();

}  // namespace tarnwick
