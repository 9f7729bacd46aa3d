#pragma once
// Strict reading of the small JSON objects the engine stores (configuration,
// statistics): one object, no duplicate member names, nothing but white space
// after it. Never throws.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace tarnwick {

using Json = nlohmann::ordered_json;

// Deepest nesting accepted, the outer object counting as one level. The files
// read here need two; the bound keeps hostile files from exhausting the stack.
inline constexpr size_t kMaxJsonDepth = 64;

// Largest configuration or statistics file read at all; a bigger one is
// malformed, so a planted multi-gigabyte file costs no memory.
inline constexpr uint64_t kMaxJsonFileBytes = 1u << 20;
using JsonMembers = std::vector<std::pair<std::string, Json>>;

// The members of the top-level object in file order, or nullopt when the text
// is not exactly one object, names a member twice, nests deeper than
// kMaxJsonDepth or starts with a byte-order mark.
std::optional<JsonMembers> parse_strict_object(std::string_view text);

// False when brackets outside strings nest deeper than `max_depth`: a cheap
// look before handing a hostile text to nlohmann's parser, whose values are
// built and destroyed recursively.
bool json_depth_within(std::string_view text, size_t max_depth);

// An integer written without a sign that fits `max` ("-0" is refused).
std::optional<uint64_t> as_unsigned(const Json& value, uint64_t max);

// Pretty JSON indented by two blanks, no trailing line feed. Ill-formed UTF-8
// in strings is replaced rather than rejected.
std::string pretty_json(const Json& value);

}  // namespace tarnwick
