#include "replay/replay.h"

#include <charconv>
#include <istream>
#include <limits>
#include <optional>
#include <ostream>

#include "alert/alert.h"
#include "json/strict_json.h"
#include "text/text.h"

namespace tarnwick {

namespace {

// Where one line form keeps each field.
struct LineForm {
  std::string_view pid;
  std::string_view parent_pid;
  std::string_view image;
  std::string_view command_line;
};

constexpr LineForm kOwnForm{"pid", "parent_pid", "image", "command_line"};
constexpr LineForm kEventForm{"ProcessId", "ParentProcessId", "Image", "CommandLine"};
constexpr uint32_t kProcessCreation = 1;

ReplayLine failure(std::string message) {
  ReplayLine r;
  r.kind = ReplayLine::Kind::Error;
  r.error = std::move(message);
  return r;
}

const Json* member(const Json& doc, std::string_view key) {
  const auto it = doc.find(key);
  if (it == doc.end() || it->is_null()) return nullptr;
  return &*it;
}

// Event exports often write numbers as decimal strings; both are accepted,
// but nothing that would have to be truncated or guessed at.
std::optional<uint32_t> as_u32(const Json& value) {
  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  if (value.is_number()) {
    const auto v = as_unsigned(value, kMax);
    if (!v) return std::nullopt;
    return static_cast<uint32_t>(*v);
  }
  if (!value.is_string()) return std::nullopt;
  const std::string& text = value.get_ref<const std::string&>();
  uint32_t v = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return v;
}

// Absent or null reads as 0; anything else must be a process id.
bool read_id(const Json& doc, std::string_view key, uint32_t& out, std::string& error) {
  const Json* value = member(doc, key);
  if (value == nullptr) return true;
  if (const auto id = as_u32(*value)) {
    out = *id;
    return true;
  }
  error = std::string(key) + " is not a process id (a number from 0 to 4294967295)";
  return false;
}

// Absent or null reads as the empty text.
bool read_text(const Json& doc, std::string_view key, std::string& out, std::string& error) {
  const Json* value = member(doc, key);
  if (value == nullptr) return true;
  if (!value->is_string()) {
    error = std::string(key) + " is not a string";
    return false;
  }
  out = value->get<std::string>();
  return true;
}

bool is_blank(std::string_view line) {
  return line.find_first_not_of(" \t\r\f\v") == std::string_view::npos;
}

}  // namespace

ReplayLine parse_replay_line(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (is_blank(line)) {
    ReplayLine r;
    r.kind = ReplayLine::Kind::Blank;
    return r;
  }
  if (!json_depth_within(line, kMaxJsonDepth)) return failure("nested deeper than 64 levels");
  const Json doc = Json::parse(line.begin(), line.end(), nullptr, false);
  if (doc.is_discarded()) return failure("not valid JSON");
  if (!doc.is_object()) return failure("not a JSON object");

  const auto event_id = doc.find("EventID");
  const bool is_event = event_id != doc.end();
  if (is_event) {
    const auto id = as_u32(*event_id);
    if (!id) return failure("EventID is not a number");
    if (*id != kProcessCreation) {
      ReplayLine r;
      r.kind = ReplayLine::Kind::Ignored;
      return r;
    }
  }
  const LineForm& form = is_event ? kEventForm : kOwnForm;

  ReplayLine r;
  std::string error;
  std::string parent;
  if (!read_id(doc, form.pid, r.launch.pid, error) ||
      !read_id(doc, form.parent_pid, r.launch.parent_pid, error) ||
      !read_text(doc, form.image, r.launch.image, error) ||
      !read_text(doc, form.command_line, r.launch.command_line, error) ||
      !read_text(doc, is_event ? "ParentImage" : "parent_name", parent, error)) {
    return failure(std::move(error));
  }
  if (r.launch.image.empty()) return failure("no " + std::string(form.image));
  // A NUL would cut the path short at the platform boundary, and the
  // signature would then be checked on another file.
  if (r.launch.image.find('\0') != std::string::npos) {
    return failure(std::string(form.image) + " contains a NUL character");
  }
  r.parent_name = is_event ? std::string(file_name(parent)) : std::move(parent);

  if (const Json* vouched = member(doc, "signed")) {
    if (!vouched->is_boolean()) return failure("signed is not true or false");
    r.is_signed = vouched->get<bool>();
  }
  r.kind = ReplayLine::Kind::Launch;
  return r;
}

namespace {

// A line's own "signed": true wins; otherwise the platform decides.
class LineTrust final : public SignatureCheck {
 public:
  explicit LineTrust(const SignatureCheck* platform) : platform_(platform) {}
  void vouch(bool is_signed) { vouched_ = is_signed; }
  bool is_file_signed(std::string_view path) const override {
    return vouched_ || (platform_ != nullptr && platform_->is_file_signed(path));
  }

 private:
  const SignatureCheck* platform_;
  bool vouched_ = false;
};

// Every parent name arrives with its line.
class NoProcessQuery final : public ProcessQuery {
 public:
  std::optional<std::string> query_image_path(uint32_t) const override { return std::nullopt; }
};

class LineWriter final : public AlertOut {
 public:
  explicit LineWriter(std::ostream& out) : out_(out) {}
  void push(Alert alert) override {
    buffer_.clear();
    serialise_into(alert, buffer_);
    buffer_ += '\n';
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  }

 private:
  std::ostream& out_;
  std::string buffer_;
};

}  // namespace

int run_replay(std::istream& in, std::ostream& out, std::ostream& err,
               const SignatureCheck* platform_trust) {
  NoProcessQuery no_query;
  LineTrust trust(platform_trust);
  LaunchEvaluator evaluator(no_query, trust);
  LineWriter writer(out);

  bool skipped = false;
  uint64_t number = 0;
  std::string line;
  while (std::getline(in, line)) {
    ++number;
    const ReplayLine parsed = parse_replay_line(line);
    switch (parsed.kind) {
      case ReplayLine::Kind::Launch:
        trust.vouch(parsed.is_signed);
        evaluator.evaluate_with_parent(parsed.launch, parsed.parent_name, writer);
        break;
      case ReplayLine::Kind::Error:
        err << "line " << number << ": " << parsed.error << '\n';
        skipped = true;
        break;
      case ReplayLine::Kind::Blank:
      case ReplayLine::Kind::Ignored: break;
    }
    if (!out) break;
  }
  if (in.bad()) {
    err << "cannot read the input\n";
    return 2;
  }
  out.flush();
  if (!out) {
    err << "cannot write the alerts\n";
    return 2;
  }
  return skipped ? 1 : 0;
}

}  // namespace tarnwick
