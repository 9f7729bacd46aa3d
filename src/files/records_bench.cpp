// The per-record path of a folder watcher: walking one full 65,536-byte read
// of change records with names like a user's folders produce, and handing
// each qualifying one to the burst detector, with the clock read per record
// as the watcher does. Counters report records walked per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "files/burst.h"
#include "files/files_fake.h"
#include "files/records.h"

namespace tarnwick {
namespace {

using testing::RawRecord;

class NoCulprit final : public CulpritFinder {
 public:
  std::optional<Culprit> find_culprit() override { return std::nullopt; }
};

const std::u16string kNames[] = {
    u"Projects\\2024\\Q3 budget (final).xlsx",
    u"Projects\\2024\\~$Q3 budget (final).xlsx",
    u"Photos\\Holiday 2023\\IMG_20230714_183012.jpg",
    u"Photos\\Holiday 2023\\IMG_20230714_183012.jpg.locked",
    u"thesis\\chapters\\03-method.docx",
    u"thesis\\chapters\\03-method.docx.locked",
    u"node_modules\\.cache\\babel-loader\\4f1c2e9a7b.json",
    u"Downloads\\setup-1.4.2-x64.exe.crdownload",
    u"R\u00E9sum\u00E9 \u2014 Jos\u00E9 Garc\u00EDa.PDF",
    u"notes.txt",
    u"README",
    u"code\\tarnwick\\build\\native\\CMakeFiles\\tarnwick_core.dir\\src\\files\\burst.cpp.o",
    u"AppData-like\\Cache\\index-dir\\the-real-index",
    u"Invoices\\2024\\INV-000123.PDF.LOCKED",
};

// One buffer as full as a read can fill it, mostly writes, some removals.
std::string full_read(size_t& count) {
  std::vector<RawRecord> records;
  size_t bytes = 0;
  for (size_t i = 0;; ++i) {
    const std::u16string& name = kNames[i % std::size(kNames)];
    const size_t size = (kChangeRecordHeaderSize + name.size() * 2 + 3) / 4 * 4;
    if (bytes + size > kChangeBufferSize) break;
    const uint32_t action = i % 7 == 6 ? kActionRemoved : (i % 2 ? kActionModified : kActionAdded);
    records.push_back({action, name});
    bytes += size;
  }
  count = records.size();
  return testing::change_records(records);
}

class ToBurst final : public ChangeSink {
 public:
  explicit ToBurst(BurstDetector& burst) : burst_(burst) {}
  void on_change(std::string_view name) override {
    burst_.record(name, std::chrono::steady_clock::now());
  }

 private:
  BurstDetector& burst_;
};

void BM_WalkAndRecordFullRead(benchmark::State& state) {
  size_t per_read = 0;
  const std::string read = full_read(per_read);
  BurstDetector burst(burst_settings(Config{}), "C:\\Users\\bob\\Documents");
  ToBurst sink(burst);
  NoCulprit culprits;
  std::string scratch;
  size_t qualifying = 0;
  for (auto _ : state) {
    qualifying += walk_change_records(testing::as_bytes(read), read.size(), scratch, sink);
    benchmark::DoNotOptimize(burst.end_batch(std::chrono::steady_clock::now(), culprits));
  }
  state.counters["records_per_s"] = benchmark::Counter(
      static_cast<double>(per_read * state.iterations()), benchmark::Counter::kIsRate);
  state.counters["qualifying_per_s"] =
      benchmark::Counter(static_cast<double>(qualifying), benchmark::Counter::kIsRate);
  state.counters["records_per_read"] = static_cast<double>(per_read);
}
BENCHMARK(BM_WalkAndRecordFullRead);

}  // namespace
}  // namespace tarnwick
