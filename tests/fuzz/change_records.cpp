// The directory-change record walk and the burst detector's record step: any
// bytes and any claimed byte count give only non-empty, well-formed names
// that lie inside the returned bytes, and the detector takes every one of
// them (extension rule, tally, window) without fault.
#include "files/burst.h"
#include "files/records.h"
#include "fuzz_support.h"

using namespace tarnwick;

namespace {

class Names final : public ChangeSink {
 public:
  explicit Names(BurstDetector& burst) : burst_(burst) {}
  void on_change(std::string_view name) override {
    FUZZ_CHECK(!name.empty() && fuzz::nlohmann_valid_utf8(name), name);
    // Each name is one record's: at most one UTF-8 sequence of 3 bytes per
    // UTF-16 unit, and a record never holds more than the buffer.
    FUZZ_CHECK(name.size() <= 3 * (kChangeBufferSize / 2), name);
    burst_.record(name, now_);
    now_ += std::chrono::milliseconds(7);
    ++count;
  }
  size_t count = 0;

 private:
  BurstDetector& burst_;
  BurstDetector::Clock::time_point now_{};
};

class NoCulprit final : public CulpritFinder {
 public:
  std::optional<Culprit> find_culprit() override { return std::nullopt; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes pick the count the read reports, which may claim more
  // than was returned; the rest is the buffer, copied so that ASan sees any
  // read past its end.
  const size_t claimed = data[0] | data[1] << 8;
  const std::vector<unsigned char> buffer(data + 2, data + std::min(size, kChangeBufferSize + 2));
  BurstSettings settings;
  settings.burst_threshold = 5;
  settings.note_threshold = 2;
  BurstDetector burst(settings, "C:\\Users\\Public\\Documents");
  Names names(burst);
  std::string scratch;
  const size_t qualified = walk_change_records(buffer, claimed, scratch, names);
  FUZZ_CHECK(qualified == names.count);
  FUZZ_CHECK(burst.event_count() == qualified);
  NoCulprit none;
  if (auto alert = burst.end_batch(BurstDetector::Clock::time_point{} + std::chrono::hours(1), none)) {
    fuzz::read_log_line(serialise(*alert));
  }
  return 0;
}
