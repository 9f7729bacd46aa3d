// Replaying a long recording of connections: 1,000,000 connection lines over
// 100,000 destinations, 5 ms apart, so the beaconing table holds about all
// of them at once. Each round visits every destination in another order, so
// the intervals are irregular and few alerts are raised: the figure is the
// cost of reading lines and keeping the table. Counters report lines per
// second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <sstream>
#include <streambuf>
#include <string>

#include "replay/replay.h"

namespace tarnwick {
namespace {

constexpr uint32_t kLines = 1'000'000;
constexpr uint32_t kDestinations = 100'000;

// Takes whatever is written and keeps only its length.
class CountingBuffer final : public std::streambuf {
 public:
  size_t bytes = 0;

 protected:
  int overflow(int c) override {
    ++bytes;
    return c;
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    bytes += static_cast<size_t>(n);
    return n;
  }
};

std::string connection_lines() {
  // Multipliers prime to 100,000: each round is a permutation of the destinations.
  constexpr uint64_t kOrders[] = {1, 3, 7, 9, 11, 13, 17, 19, 21, 23};
  std::string text;
  text.reserve(size_t{kLines} * 110);
  char line[160];
  for (uint32_t i = 0; i < kLines; ++i) {
    const uint64_t round = i / kDestinations, j = i % kDestinations;
    const uint32_t d = static_cast<uint32_t>((kOrders[round % 10] * j + round * 12345) % kDestinations);
    const uint32_t pid = 1000 + d % 300;
    const double ts = 1714500000.0 + i * 0.005;
    // 11.0.0.0/8 is public: every line reaches the beaconing test.
    std::snprintf(line, sizeof line,
                  "{\"pid\":%u,\"image\":\"C:\\\\Apps\\\\app%u.exe\",\"remote_addr\":\"11.%u.%u.%u\","
                  "\"remote_port\":443,\"ts\":%.3f}\n",
                  pid, pid % 20, d >> 16, (d >> 8) & 0xFF, d & 0xFF, ts);
    text += line;
  }
  return text;
}

void BM_ReplayMillionConnectionLines(benchmark::State& state) {
  const std::string input = connection_lines();
  CountingBuffer written;
  for (auto _ : state) {
    std::istringstream in(input);
    std::ostream out(&written);
    std::ostringstream err;
    if (run_replay(in, out, err, nullptr) != 0) state.SkipWithError("replay reported bad lines");
  }
  state.counters["lines_per_s"] = benchmark::Counter(
      static_cast<double>(kLines) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  state.counters["alert_bytes"] = static_cast<double>(written.bytes);
}
BENCHMARK(BM_ReplayMillionConnectionLines)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace tarnwick
