// Replay lines, in every form the tool reads: never a crash, errors always
// explained, launches without NUL in the image, and every alert the rules
// raise over them is one valid log line.
#include "fuzz_support.h"
#include "procmeta/procmeta_fake.h"
#include "replay/replay.h"

using namespace tarnwick;

namespace {

class CheckedOut final : public AlertOut {
 public:
  void push(Alert alert) override { fuzz::read_log_line(serialise(alert)); }
};

class VouchedTrust final : public SignatureCheck {
 public:
  explicit VouchedTrust(bool is_signed) : signed_(is_signed) {}
  bool is_file_signed(std::string_view) const override { return signed_; }

 private:
  bool signed_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const ReplayLine parsed = parse_replay_line(line);
  switch (parsed.kind) {
    case ReplayLine::Kind::Error: FUZZ_CHECK(!parsed.error.empty()); return 0;
    case ReplayLine::Kind::Blank:
    case ReplayLine::Kind::Ignored: return 0;
    case ReplayLine::Kind::Launch: break;
  }
  FUZZ_CHECK(!parsed.launch.image.empty() && parsed.launch.image.find('\0') == std::string::npos);
  testing::FakeProcessQuery query;
  VouchedTrust trust(parsed.is_signed);
  LaunchEvaluator evaluator(query, trust);
  CheckedOut out;
  evaluator.evaluate_with_parent(parsed.launch, parsed.parent_name, out);
  return 0;
}
