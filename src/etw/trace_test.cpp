#include <gtest/gtest.h>

#include "etw/trace.h"

namespace tarnwick {
namespace {

TEST(Utf16lePropertyText, StopsAtTheFirstNulAndNeverReadsAHalfUnit) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;
  } cases[] = {
      {"empty", ""s, ""},
      {"plain", "c\0m\0d\0"s, "cmd"},
      {"cut at NUL", "a\0\0\0b\0"s, "a"},
      {"NUL high byte alone is no terminator", "a\0\0\x01"s, "a\xC4\x80"},
      {"odd trailing byte dropped", "a\0b"s, "a"},
      {"surrogate pair", "\x3D\xD8\x00\xDE"s, "\xF0\x9F\x98\x80"},
      {"unpaired high surrogate", "\x3D\xD8x\0"s, "\xEF\xBF\xBDx"},
      {"non-ASCII BMP", "\xE4\x00\x1F\x6C"s, "\xC3\xA4\xE6\xB0\x9F"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(utf16le_property_text(c.bytes), c.text);
  }
}

}  // namespace
}  // namespace tarnwick
