// The cost of one connection-monitor poll over a 2,000-row table, the size of
// a busy workstation's: most rows to public addresses (browsers, sync
// clients), the rest local or listening. Names come from an in-memory lookup,
// so the figure is the monitor's own work, not the system's.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "net/connections.h"
#include "procmeta/procmeta_fake.h"
#include "tcptable/tcptable_fake.h"
#include "testsupport/counting_out.h"

namespace tarnwick {
namespace {

using testing::CountingOut;
using testing::ipv4;

struct Machine {
  testing::FakeProcessQuery query;
  std::vector<TcpRow> rows;

  Machine() {
    const char* images[] = {
        "C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe",
        "C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe",
        "C:\\Users\\bob\\AppData\\Local\\Microsoft\\OneDrive\\OneDrive.exe",
        "C:\\Users\\bob\\AppData\\Local\\Discord\\app-1.0.9030\\Discord.exe",
        "C:\\Windows\\System32\\svchost.exe",
        "C:\\Program Files\\Microsoft Office\\root\\Office16\\OUTLOOK.EXE",
        "C:\\Users\\bob\\AppData\\Roaming\\Spotify\\Spotify.exe",
        "C:\\Users\\bob\\AppData\\Local\\Microsoft\\Teams\\current\\Teams.exe",
    };
    for (uint32_t pid = 1000; pid < 1040; ++pid) query.paths[pid] = images[pid % std::size(images)];
    for (uint32_t i = 0; i < 2000; ++i) {
      TcpRow r;
      r.pid = 1000 + i % 40;
      r.local_addr = ipv4(192, 168, 1, 20);
      r.local_port = static_cast<uint16_t>(49152 + i);
      if (i % 10 == 0) {  // listeners and local traffic
        r.state = i % 20 == 0 ? 2 : 5;
        r.remote_addr = i % 20 == 0 ? 0 : ipv4(127, 0, 0, 1);
      } else {
        r.state = i % 7 == 0 ? 11 : 5;
        r.remote_addr = ipv4(static_cast<uint8_t>(13 + i % 180), static_cast<uint8_t>(i / 7 % 250),
                             static_cast<uint8_t>(i % 250), static_cast<uint8_t>(1 + i % 200));
        r.remote_port = i % 3 == 0 ? 80 : 443;
      }
      rows.push_back(r);
    }
  }
};

// The same table poll after poll: the steady state, no new connections.
void BM_PollSteadyTable(benchmark::State& state) {
  Machine m;
  EngineFlags flags;
  ConnectionMonitor monitor(flags);
  CountingOut out;
  double t = 0;
  for (auto _ : state) {
    monitor.poll(m.rows, m.query,
                 MonitorTime(std::chrono::microseconds(static_cast<int64_t>(t * 1e6))), out);
    t += 2;
  }
  state.counters["alerts_per_poll"] =
      static_cast<double>(out.count) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PollSteadyTable)->Unit(benchmark::kMicrosecond);

// A tenth of the connections replaced every poll, so beacon steps run too.
void BM_PollChurningTable(benchmark::State& state) {
  Machine m;
  EngineFlags flags;
  ConnectionMonitor monitor(flags);
  CountingOut out;
  double t = 0;
  uint16_t shift = 0;
  for (auto _ : state) {
    for (size_t i = shift % 10; i < m.rows.size(); i += 10) m.rows[i].remote_port ^= 1;
    ++shift;
    monitor.poll(m.rows, m.query,
                 MonitorTime(std::chrono::microseconds(static_cast<int64_t>(t * 1e6))), out);
    t += 2;
  }
}
BENCHMARK(BM_PollChurningTable)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarnwick
