// Another process's command line read out of memory the fuzzer lays out: the
// environment block, the process parameters and the text, each with fuzzed
// bytes, lengths and pointers, some of them cut short. Whatever the memory
// holds, the reader never reads outside it, and what it returns is
// well-formed text without NUL and no longer than the longest command line.
#include "cmdline/cmdline.h"
#include "cmdline/cmdline_fake.h"
#include "fuzz_support.h"

using namespace tarnwick;

namespace {

constexpr uint64_t kPeb = 0x7ff600000000;
constexpr uint64_t kParams = 0x20000000;
constexpr uint64_t kText = 0x30000000;

void put_le(std::vector<unsigned char>& bytes, size_t at, uint64_t value, int width) {
  for (int i = 0; i < width && at + i < bytes.size(); ++i) {
    bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

// An address near one of the regions, or anywhere.
uint64_t pick_address(FuzzedDataProvider& in, uint64_t region) {
  if (in.ConsumeBool()) return in.ConsumeIntegral<uint64_t>();
  return region + in.ConsumeIntegralInRange<int64_t>(-16, 64);
}

void check(const std::optional<std::string>& line) {
  if (!line) return;
  FUZZ_CHECK(fuzz::nlohmann_valid_utf8(*line), *line);
  FUZZ_CHECK(line->find('\0') == std::string::npos, *line);
  FUZZ_CHECK(line->size() <= 3 * kMaxCommandLineUnits, *line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  testing::FakeRemoteMemory memory;
  if (in.ConsumeBool()) memory.peb = in.ConsumeBool() ? kPeb : in.ConsumeIntegral<uint64_t>();

  std::vector<unsigned char> peb(in.ConsumeIntegralInRange<size_t>(0, 0x40), 0);
  put_le(peb, 0x20, pick_address(in, kParams), 8);
  std::vector<unsigned char> params(in.ConsumeIntegralInRange<size_t>(0, 0x90), 0);
  put_le(params, 0x70, in.ConsumeIntegral<uint16_t>(), 2);
  put_le(params, 0x78, pick_address(in, kText), 8);
  memory.regions[kPeb] = std::move(peb);
  memory.regions[kParams] = std::move(params);
  const std::string text = in.ConsumeRandomLengthString(70000);
  memory.regions[kText] = std::vector<unsigned char>(text.begin(), text.end());
  check(read_command_line_from_peb(memory));

  // The system's answer, with a header pointing anywhere near its buffer.
  CommandLineInfo info;
  info.address = in.ConsumeIntegral<uint64_t>();
  const std::string answer = in.ConsumeRemainingBytesAsString();
  info.bytes.assign(answer.begin(), answer.end());
  if (info.bytes.size() >= 16 && info.address < UINT64_MAX - 64) {
    put_le(info.bytes, 8, info.address + (info.bytes[8] % 64), 8);
  }
  check(decode_command_line_info(info));
  return 0;
}
