// The pipeline under load: many producers, the real queue, sink and file log,
// with a small rotation limit, and snapshot writers racing a reader, as in a
// burst on a busy machine.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include <nlohmann/json.hpp>

#include "alert/file_pipeline_fixture.h"
#include "alert/log_file.h"
#include "fileio/fileio.h"

#ifndef TARNWICK_LOAD_PER_THREAD
#ifdef _WIN32
// Under Wine every file operation is a round trip to its server; a smaller
// load still puts Windows' rename and sharing rules under the same race.
#define TARNWICK_LOAD_PER_THREAD 2000
#else
#define TARNWICK_LOAD_PER_THREAD 50000
#endif
#endif

namespace tarnwick {
namespace {

constexpr int kProducers = 8;
constexpr int kPerProducer = TARNWICK_LOAD_PER_THREAD;

// Distinct keys, and texts that need escaping and multi-byte characters, so a
// torn or interleaved write cannot look like a line of its own.
Alert load_alert(std::string_view id, Severity severity, uint32_t pid) {
  const std::string text(id);
  Alert a = make_alert(AlertSource::Process, severity, "load " + text,
                       "line one \"" + text + "\"\nline two \u00B7 C:\\Temp\\x.exe\t\u2014 end");
  a.ts_unix = 1700000000;
  a.pid = pid;
  return a;
}

std::string load_id(int producer, int i) { return std::to_string(producer) + "/" + std::to_string(i); }
Severity load_severity(int i) { return i % 7 == 0 ? Severity::Critical : Severity::Medium; }
uint32_t load_pid(int producer, int i) { return static_cast<uint32_t>(producer * kPerProducer + i); }

Alert load_alert(int producer, int i) {
  return load_alert(load_id(producer, i), load_severity(i), load_pid(producer, i));
}

void replace_all(std::string& text, std::string_view from, std::string_view to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
}

// The exact line alert (p, i) must have become. Only the id and the pid vary,
// so each line is built from a serialised template rather than a new alert.
class ExpectedLines {
 public:
  ExpectedLines()
      : critical_(serialise(load_alert(kIdMark, Severity::Critical, kPidMark))),
        medium_(serialise(load_alert(kIdMark, Severity::Medium, kPidMark))) {}
  std::string line(int producer, int i) const {
    std::string out = load_severity(i) == Severity::Critical ? critical_ : medium_;
    replace_all(out, kIdMark, load_id(producer, i));
    replace_all(out, std::to_string(kPidMark), std::to_string(load_pid(producer, i)));
    return out;
  }

 private:
  static constexpr std::string_view kIdMark = "@id@";
  static constexpr uint32_t kPidMark = 4294967295u;
  std::string critical_;
  std::string medium_;
};

// Producer and number from a line's title, "load {p}/{i}".
bool parse_title(std::string_view line, int& producer, int& i) {
  constexpr std::string_view kTitle = "\"title\":\"load ";
  const size_t at = line.find(kTitle);
  if (at == std::string_view::npos) return false;
  return std::sscanf(std::string(line.substr(at + kTitle.size(), 24)).c_str(), "%d/%d", &producer, &i) == 2 &&
         producer >= 0 && producer < kProducers && i >= 0 && i < kPerProducer;
}

// The sizes of all lines the load makes, with their line feeds.
uint64_t load_bytes(const ExpectedLines& expected) {
  uint64_t total = 0;
  for (int p = 0; p < kProducers; ++p) {
    for (int i = 0; i < kPerProducer; ++i) total += expected.line(p, i).size() + 1;
  }
  return total;
}

// The log limited to about an eighth and a half of the load, so that it fills
// all eight old files and the current one without dropping any, and every
// alert can be looked for.
LogLimits load_log_limits() { return {load_bytes(ExpectedLines()) * 2 / 17, kLogOldFiles}; }

TEST(PipelineLoad, EveryAlertFromEightProducersIsLoggedExactlyOnceWhileSnapshotsRaceAndTheLogRotates) {
  const LogLimits limits = load_log_limits();
  testing::FilePipeline pipeline(limits);
  auto& stats = pipeline.stats;
  auto& queue = pipeline.queue;
  std::thread consumer = pipeline.start_consumer();

  // Two snapshot writers (the statistics writer and the sink after an action)
  // and a reader that must always find a whole snapshot, never an older one.
  std::atomic<bool> done{false};
  // Paced, so that they race the pipeline without starving it of the cores.
  auto snapshot_writer = [&] {
    while (!done) {
      write_snapshot(stats);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  std::thread writer_a(snapshot_writer), writer_b(snapshot_writer);
  std::atomic<int> bad_reads{0}, stale_reads{0}, reads{0};
  std::thread reader([&] {
    uint64_t last_total = 0;
    while (!done) {
      const ReadResult r = read_file(stats.path());
      if (r.status == ReadStatus::NotFound) continue;
      const auto parsed = r.status == ReadStatus::Ok ? parse_snapshot(r.bytes) : std::nullopt;
      if (!parsed) {
        ++bad_reads;
        continue;
      }
      if (parsed->total_alerts < last_total) ++stale_reads;
      last_total = parsed->total_alerts;
      ++reads;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });

  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kPerProducer; ++i) queue.push(load_alert(p, i));
    });
  }
  for (auto& t : producers) t.join();
  queue.close();
  consumer.join();
  done = true;
  writer_a.join();
  writer_b.join();
  reader.join();

  constexpr size_t kTotal = static_cast<size_t>(kProducers) * kPerProducer;
  EXPECT_EQ(stats.values().total_alerts, kTotal);
  EXPECT_EQ(bad_reads, 0);
  EXPECT_EQ(stale_reads, 0);
  EXPECT_GT(reads, 0);

  // Eight old files and the current one, each within the limit and made of
  // whole lines; nothing beyond the eighth.
  std::vector<std::filesystem::path> files;
  for (int n = kLogOldFiles; n >= 1; --n) files.push_back(old_log_path(pipeline.log_path, n));
  files.push_back(pipeline.log_path);
  EXPECT_FALSE(std::filesystem::exists(old_log_path(pipeline.log_path, kLogOldFiles + 1)));
  std::string text;
  for (const auto& file : files) {
    const ReadResult r = read_file(file);
    ASSERT_EQ(r.status, ReadStatus::Ok) << file;
    EXPECT_LE(r.bytes.size(), limits.max_bytes) << file;
    ASSERT_TRUE(!r.bytes.empty() && r.bytes.back() == '\n') << file;
    text += r.bytes;
  }

  // Read oldest first, every line is exactly the line of one alert, no alert
  // has two, and each producer's alerts come in the order it pushed them: a
  // torn, merged, repeated or misplaced write fails one or the other.
  const ExpectedLines expected;
  std::vector<bool> seen(kTotal, false);
  std::vector<int> next(kProducers, 0);
  size_t lines = 0, unknown = 0, repeated = 0, out_of_order = 0;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    const std::string_view line(text.data() + start, end - start);
    int p = 0, i = 0;
    if (!parse_title(line, p, i) || line != expected.line(p, i)) {
      ++unknown;
    } else if (seen[load_pid(p, i)]) {
      ++repeated;
    } else {
      seen[load_pid(p, i)] = true;
      if (i != next[p]) ++out_of_order;
      next[p] = i + 1;
    }
    // An independent reader accepts the line (a sample keeps this quick).
    if (lines % 1000 == 0) {
      const auto doc = nlohmann::json::parse(line, nullptr, false);
      EXPECT_TRUE(doc.is_object()) << line;
    }
    ++lines;
    start = end + 1;
  }
  EXPECT_EQ(lines, kTotal);
  EXPECT_EQ(unknown, 0u);
  EXPECT_EQ(repeated, 0u);
  EXPECT_EQ(out_of_order, 0u);
}

}  // namespace
}  // namespace tarnwick
