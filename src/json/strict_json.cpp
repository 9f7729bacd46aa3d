#include "json/strict_json.h"

#include <set>

namespace tarnwick {

namespace {

// Sees every event of the document before any value is built: records the
// member names of the top-level object and refuses the second occurrence of
// one, and refuses nesting past kMaxJsonDepth. nlohmann's event parser keeps
// its own stack on the heap; building, copying and printing values recurse,
// so the depth must be bounded here, before any of that happens.
class StrictCheck : public nlohmann::json_sax<nlohmann::json> {
 public:
  bool null() override { return value(); }
  bool boolean(bool) override { return value(); }
  bool number_integer(number_integer_t) override { return value(); }
  bool number_unsigned(number_unsigned_t) override { return value(); }
  bool number_float(number_float_t, const string_t&) override { return value(); }
  bool string(string_t&) override { return value(); }
  bool binary(binary_t&) override { return value(); }
  bool start_object(std::size_t) override {
    if (depth_ == 0) top_is_object_ = true;
    return enter();
  }
  bool key(string_t& name) override {
    if (depth_ == 1) return names_.insert(name).second;
    return true;
  }
  bool end_object() override {
    --depth_;
    return true;
  }
  bool start_array(std::size_t) override { return enter(); }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }
  bool top_is_object() const { return top_is_object_; }

 private:
  bool value() { return true; }
  bool enter() { return ++depth_ <= kMaxJsonDepth; }
  size_t depth_ = 0;
  bool top_is_object_ = false;
  std::set<std::string> names_;
};

}  // namespace

std::optional<JsonMembers> parse_strict_object(std::string_view text) {
  // nlohmann's lexer takes a NUL byte for the end of input and would ignore
  // whatever follows it. JSON has no place for a raw NUL anywhere.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  // The lexer also skips a leading byte-order mark on its own; a reader that
  // allows one removes it before calling.
  if (text.starts_with("\xEF\xBB\xBF")) return std::nullopt;
  StrictCheck check;
  if (!nlohmann::json::sax_parse(text.begin(), text.end(), &check,
                                 nlohmann::json::input_format_t::json, true) ||
      !check.top_is_object()) {
    return std::nullopt;
  }
  // The text is known to be well-formed; nlohmann's object keeps its own order,
  // so the members are walked from an ordered parse.
  Json doc = Json::parse(text.begin(), text.end(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return std::nullopt;
  JsonMembers members;
  members.reserve(doc.size());
  for (auto& [name, value] : doc.items()) {
    members.emplace_back(name, value);
  }
  return members;
}

bool json_depth_within(std::string_view text, size_t max_depth) {
  size_t depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > max_depth) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

std::optional<uint64_t> as_unsigned(const Json& value, uint64_t max) {
  // Only a number written without a sign parses as unsigned: "-0" is signed
  // and refused like every other negative value.
  if (!value.is_number_unsigned()) return std::nullopt;
  const auto v = value.get<uint64_t>();
  if (v > max) return std::nullopt;
  return v;
}

std::string pretty_json(const Json& value) {
  return value.dump(2, ' ', false, Json::error_handler_t::replace);
}

}  // namespace tarnwick
