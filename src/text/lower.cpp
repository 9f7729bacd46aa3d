#include <algorithm>
#include <cstdint>
#include <cstring>

#include "text/text.h"

namespace tarnwick {

namespace {

struct LowerPair {
  char32_t from;
  char32_t to;
};
struct SpecialLower {
  char32_t from;
  char32_t to[3];
  int length;
};
struct CodeRange {
  char32_t lo;
  char32_t hi;
};

#include "text/unicode_tables.inc"

constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kFinalSigma = 0x03C2;

template <size_t N>
bool in_ranges(const CodeRange (&ranges)[N], char32_t cp) {
  const auto* it = std::upper_bound(std::begin(ranges), std::end(ranges), cp,
                                    [](char32_t v, const CodeRange& r) { return v < r.lo; });
  return it != std::begin(ranges) && cp <= (it - 1)->hi;
}

bool is_cased(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z');
  return in_ranges(kCased, cp);
}

bool is_case_ignorable(char32_t cp) { return in_ranges(kCaseIgnorable, cp); }

char32_t simple_lower(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
  const auto* it = std::lower_bound(std::begin(kSimpleLower), std::end(kSimpleLower), cp,
                                    [](const LowerPair& p, char32_t v) { return p.from < v; });
  return (it != std::end(kSimpleLower) && it->from == cp) ? it->to : cp;
}

const SpecialLower* special_lower(char32_t cp) {
  for (const auto& s : kSpecialLower) {
    if (s.from == cp) return &s;
  }
  return nullptr;
}

// Final_Sigma, looking ahead: not followed by (Case_Ignorable)* Cased.
bool sigma_is_final_ahead(std::string_view text, size_t pos) {
  while (pos < text.size()) {
    const char32_t cp = decode_utf8(text, pos);
    if (is_cased(cp)) return false;
    if (!is_case_ignorable(cp)) return true;
  }
  return true;
}

constexpr uint64_t kHighBits = 0x8080808080808080ull;
constexpr uint64_t kBytes = 0x0101010101010101ull;

// Lower-cases the leading ASCII run of `text` into `dst` in one pass, eight
// bytes at a time, and returns its length (where the first non-ASCII byte is).
size_t lower_ascii_prefix(std::string_view text, char* dst) {
  const char* src = text.data();
  const size_t n = text.size();
  size_t pos = 0;
  for (; pos + 8 <= n; pos += 8) {
    uint64_t chunk;
    std::memcpy(&chunk, src + pos, 8);
    if (chunk & kHighBits) break;
    // Every byte is below 0x80, so these sums stay within their byte: the high
    // bit says ">= 'A'" and "> 'Z'" respectively.
    const uint64_t at_least_a = chunk + (0x80 - 'A') * kBytes;
    const uint64_t above_z = chunk + (0x7F - 'Z') * kBytes;
    chunk |= (at_least_a & ~above_z & kHighBits) >> 2;  // 0x80 >> 2 is the case bit
    std::memcpy(dst + pos, &chunk, 8);
  }
  for (; pos < n; ++pos) {
    const auto c = static_cast<unsigned char>(src[pos]);
    if (c >= 0x80) break;
    dst[pos] = static_cast<char>(c + (static_cast<unsigned>(c - 'A') < 26u ? 32 : 0));
  }
  return pos;
}

}  // namespace

void append_lower(std::string_view text, std::string& out) {
  const size_t base = out.size();
  // ASCII lower-cases byte for byte; the rest of the buffer is trimmed off at
  // the first byte that is not ASCII.
  out.resize(base + text.size());
  const size_t first_non_ascii = lower_ascii_prefix(text, out.data() + base);
  if (first_non_ascii == text.size()) return;
  out.resize(base + first_non_ascii);

  // Final_Sigma looks behind: preceded by Cased (Case_Ignorable)*.
  bool after_cased = false;
  for (size_t i = first_non_ascii; i > 0; --i) {
    const char32_t c = static_cast<unsigned char>(text[i - 1]);
    if (is_cased(c)) {
      after_cased = true;
      break;
    }
    if (!is_case_ignorable(c)) break;
  }

  size_t pos = first_non_ascii;
  while (pos < text.size()) {
    const char32_t cp = decode_utf8(text, pos);
    if (cp == kCapitalSigma) {
      append_utf8(after_cased && sigma_is_final_ahead(text, pos) ? kFinalSigma : kSmallSigma, out);
    } else if (const SpecialLower* s = cp >= 0x80 ? special_lower(cp) : nullptr) {
      for (int k = 0; k < s->length; ++k) append_utf8(s->to[k], out);
    } else {
      append_utf8(simple_lower(cp), out);
    }
    if (is_cased(cp)) {
      after_cased = true;
    } else if (!is_case_ignorable(cp)) {
      after_cased = false;
    }
  }
}

std::string to_lower(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_lower(text, out);
  return out;
}

}  // namespace tarnwick
