// The configuration reader: never crashes, and every text it accepts writes
// back to a text that reads to the same record.
#include "config/config.h"
#include "fuzz_support.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto config = parse_config(text);
  if (!config) return 0;
  const std::string written = config_text(*config);
  FUZZ_CHECK(fuzz::nlohmann_valid_utf8(written), written);
  const auto again = parse_config(written);
  FUZZ_CHECK(again && *again == *config, written);
  return 0;
}
