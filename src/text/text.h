#pragma once
// Text helpers shared by every module: UTF-8 <-> UTF-16 conversion that never
// fails (invalid sequences become U+FFFD), full Unicode lower-casing with an
// ASCII fast path, and the file-name component of a path. Pure functions, safe
// from any thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// Each maximal ill-formed subsequence becomes one U+FFFD.
std::u16string utf8_to_utf16(std::string_view utf8);
// Every unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view utf16);
// Same for `units` UTF-16 code units stored little-endian at `bytes` (as the
// system lays them out in its records), appending to `out`; callers on hot
// paths reuse one buffer.
void append_utf16le(const unsigned char* bytes, size_t units, std::string& out);
// Text stored as little-endian UTF-16 (registry values, trace properties):
// the units up to, not including, the first 0 unit, as UTF-8. A trailing odd
// byte is no unit and is ignored; unpaired surrogates become U+FFFD.
std::string utf16le_text(std::string_view bytes);

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates).
bool is_valid_utf8(std::string_view bytes);
// True when every surrogate is part of a pair.
bool is_valid_utf16(std::u16string_view units);

// Full default lower-casing: simple mappings, the unconditional special
// mappings (U+0130 becomes "i" + U+0307) and the Final_Sigma rule. Invalid
// UTF-8 in the input comes out as U+FFFD.
std::string to_lower(std::string_view utf8);
// Same, appending to `out`; callers on hot paths reuse one buffer.
void append_lower(std::string_view utf8, std::string& out);

// Lower-cases A-Z only; every other byte is kept.
std::string ascii_lower(std::string_view text);

// Appends the decimal digits of `value`, without a temporary string.
void append_decimal(uint64_t value, std::string& out);

// The part after the last '\' or '/'; the whole text when there is none.
std::string_view file_name(std::string_view path);

// White_Space as Unicode defines it (tab to carriage return, space, U+0085,
// U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
bool is_white_space(char32_t cp);

// `utf8` without leading and trailing white space.
std::string_view trim_white_space(std::string_view utf8);

// Whether `pattern` occurs in `text` (an empty pattern always does). The
// rules ask this dozens of times per event over long command lines, so it
// filters 16 positions at a time on their first and last byte.
bool contains(std::string_view text, std::string_view pattern);

// Which pairs of adjacent bytes occur in one text, for a cheap "certainly
// absent" answer before a substring search: a pattern with a pair the text
// lacks cannot occur in it. Pairs share slots (six bits of each byte), so a
// "maybe" still needs the search. Entries carry the number of the text they
// were seen in, so nothing is cleared between texts. One owner at a time.
class BytePairs {
 public:
  void index(std::string_view text);
  bool may_contain(std::string_view pattern) const {
    for (size_t i = 1; i < pattern.size(); ++i) {
      if (seen_[slot(pattern[i - 1], pattern[i])] != stamp_) return false;
    }
    return true;
  }

 private:
  static size_t slot(char a, char b) {
    return (static_cast<size_t>(static_cast<unsigned char>(a) & 0x3F) << 6) |
           (static_cast<unsigned char>(b) & 0x3F);
  }
  uint32_t seen_[4096] = {};
  uint32_t stamp_ = 0;
};

// Appends the UTF-8 encoding of `cp` (which must be a scalar value).
void append_utf8(char32_t cp, std::string& out);

// Decodes one code point at `pos`, advancing it; ill-formed input yields
// U+FFFD and skips its maximal ill-formed subpart. `pos` must be < size.
char32_t decode_utf8(std::string_view text, size_t& pos);

// The longest prefix of at most `max_bytes` bytes that does not end inside a
// multi-byte character.
std::string_view utf8_prefix(std::string_view text, size_t max_bytes);

}  // namespace tarnwick
