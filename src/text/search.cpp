#include <cstring>

#include "text/text.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick {

namespace {

bool matches_at(const char* at, std::string_view pattern) {
  return std::memcmp(at, pattern.data(), pattern.size()) == 0;
}

}  // namespace

bool contains(std::string_view text, std::string_view pattern) {
  const size_t m = pattern.size();
  const size_t n = text.size();
  if (m == 0) return true;
  if (m > n) return false;
  const char* s = text.data();
  if (m == 1) return std::memchr(s, pattern[0], n) != nullptr;
  const size_t last_start = n - m;
  size_t i = 0;
#if defined(__SSE2__)
  // Sixteen candidate starts at a time: only those whose first and last bytes
  // both match are compared in full. Both loads stay inside the text.
  const __m128i first = _mm_set1_epi8(pattern.front());
  const __m128i last = _mm_set1_epi8(pattern.back());
  for (; i + 15 <= last_start; i += 16) {
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + m - 1));
    auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, first), _mm_cmpeq_epi8(tail, last))));
    while (mask != 0) {
      if (matches_at(s + i + __builtin_ctz(mask), pattern)) return true;
      mask &= mask - 1;
    }
  }
#endif
  for (; i <= last_start; ++i) {
    if (s[i] == pattern.front() && s[i + m - 1] == pattern.back() && matches_at(s + i, pattern)) {
      return true;
    }
  }
  return false;
}

void BytePairs::index(std::string_view text) {
  if (++stamp_ == 0) {
    std::memset(seen_, 0, sizeof seen_);
    stamp_ = 1;
  }
  for (size_t i = 1; i < text.size(); ++i) seen_[slot(text[i - 1], text[i])] = stamp_;
}

}  // namespace tarnwick
