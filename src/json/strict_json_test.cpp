#include "json/strict_json.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

// {"note": [[…]]} with `depth` levels in all, the outer object included.
std::string nested(size_t depth) {
  return "{\"note\":" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
}

TEST(StrictJson, NestingIsBoundedAtSixtyFourLevels) {
  EXPECT_TRUE(parse_strict_object(nested(kMaxJsonDepth)).has_value());
  EXPECT_FALSE(parse_strict_object(nested(kMaxJsonDepth + 1)).has_value());
  // Objects count like arrays.
  std::string objects = "{";
  for (size_t i = 1; i < kMaxJsonDepth + 1; ++i) objects += "\"a\":{";
  objects += std::string(kMaxJsonDepth + 1, '}');
  EXPECT_FALSE(parse_strict_object(objects).has_value());
  // 16 KB of brackets is refused without exhausting the stack.
  EXPECT_FALSE(parse_strict_object(nested(8192)).has_value());
  EXPECT_FALSE(parse_strict_object(nested(200000)).has_value());
}

TEST(StrictJson, DepthLookIgnoresBracketsInStrings) {
  const struct {
    std::string text;
    bool within;
  } cases[] = {
      {nested(3), true},
      {nested(4), false},
      {R"({"a":"[[[[{{{{"})", true},
      {R"({"a":"\"[[[[","b":[1]})", true},
      {R"({"a":"\\","b":[[[1]]]})", false},
      {"]]]]{[", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(json_depth_within(c.text, 3), c.within);
  }
}

}  // namespace
}  // namespace tarnwick
