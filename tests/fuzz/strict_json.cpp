// The strict object reader under the configuration and statistics files:
// never crashes; what it accepts is JSON to an independent reader, has unique
// member names, and survives writing and reading back unchanged.
#include "fuzz_support.h"
#include "json/strict_json.h"

#include <set>

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto members = parse_strict_object(text);
  if (!members) return 0;
  FUZZ_CHECK(nlohmann::json::accept(text), text);

  std::set<std::string> names;
  Json object = Json::object();
  for (const auto& [name, value] : *members) {
    FUZZ_CHECK(names.insert(name).second, name);
    object[name] = value;
    if (const auto n = as_unsigned(value, 1000)) FUZZ_CHECK(*n <= 1000 && value.is_number());
  }
  // Writing back is recursive in the library, so only shallow documents are
  // written: the check must not overflow the stack where the reader does not.
  if (size > 2048) return 0;
  const std::string written = pretty_json(object);
  const auto again = parse_strict_object(written);
  FUZZ_CHECK(again && again->size() == members->size(), written);
  for (size_t i = 0; i < members->size(); ++i) {
    // Out-of-range numbers read as infinity and are written as null, on
    // both sides alike: compare as written.
    FUZZ_CHECK((*again)[i].first == (*members)[i].first, written);
    FUZZ_CHECK((*again)[i].second.dump() == (*members)[i].second.dump(), written);
  }
  return 0;
}
