// The text helpers: conversions never produce ill-formed output, round-trip
// well-formed input, and lower-casing is well-formed, stable and agrees with
// the ASCII rule on ASCII text.
#include "fuzz_support.h"
#include "etw/trace.h"
#include "text/text.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const bool valid = fuzz::nlohmann_valid_utf8(text);
  FUZZ_CHECK(is_valid_utf8(text) == valid, text);

  // UTF-8 -> UTF-16 -> UTF-8.
  const std::u16string units = utf8_to_utf16(text);
  FUZZ_CHECK(is_valid_utf16(units));
  const std::string back = utf16_to_utf8(units);
  FUZZ_CHECK(fuzz::nlohmann_valid_utf8(back), back);
  fuzz::check_same_text(back, text);

  // The same bytes as UTF-16 units, as a platform call would hand them over.
  std::u16string raw(size / 2, u'\0');
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  const std::string from_raw = utf16_to_utf8(raw);
  FUZZ_CHECK(fuzz::nlohmann_valid_utf8(from_raw), from_raw);
  if (is_valid_utf16(raw)) FUZZ_CHECK(utf8_to_utf16(from_raw) == raw);
  const std::string property = utf16le_text(text);
  FUZZ_CHECK(fuzz::nlohmann_valid_utf8(property) && property.find('\0') == std::string::npos, property);
  FUZZ_CHECK(from_raw.compare(0, property.size(), property) == 0, property);

  // Lower-casing.
  const std::string lower = to_lower(text);
  FUZZ_CHECK(fuzz::nlohmann_valid_utf8(lower), lower);
  FUZZ_CHECK(to_lower(lower) == lower, lower);
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;
  if (ascii) FUZZ_CHECK(lower == ascii_lower(text), lower);
  std::string appended = "Pre\xCE\xA3";
  append_lower(text, appended);
  FUZZ_CHECK(appended == "Pre\xCE\xA3" + lower, appended);

  // Cutting and naming.
  const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  const std::string_view prefix = utf8_prefix(text, cut);
  FUZZ_CHECK(prefix.size() <= cut && text.substr(0, prefix.size()) == prefix);
  if (valid) {
    FUZZ_CHECK(fuzz::nlohmann_valid_utf8(prefix), prefix);
    FUZZ_CHECK(cut - prefix.size() < 4);
  }
  const std::string_view name = file_name(text);
  FUZZ_CHECK(text.ends_with(name) && name.find_first_of("\\/") == std::string_view::npos, name);
  // The process rules take the name from the lower-cased path.
  FUZZ_CHECK(file_name(lower) == to_lower(name), name);

  // Substring search against the standard one, the pattern taken from the
  // text itself (so that it often occurs) or from its first bytes.
  const size_t from = size == 0 ? 0 : data[size - 1] % size;
  const size_t length = size < 2 ? 0 : data[size - 2] % 24;
  for (std::string_view pattern : {text.substr(from, length), text.substr(0, length % 5)}) {
    FUZZ_CHECK(contains(lower, pattern) == (lower.find(pattern) != std::string::npos), pattern);
    FUZZ_CHECK(contains(text, pattern), pattern);
    BytePairs pairs;
    pairs.index(lower);
    if (contains(lower, pattern)) FUZZ_CHECK(pairs.may_contain(pattern), pattern);
  }
  return 0;
}
