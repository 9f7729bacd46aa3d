#pragma once
// The nineteen process rules as a fixed, ordered table: each row holds a
// predicate over one launch's lower-cased facts and the texts of the alert it
// raises. The table is read-only and the predicates allocate nothing, so any
// number of evaluators may walk it from any thread.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "alert/alert.h"
#include "procmeta/procmeta.h"
#include "text/text.h"

namespace tarnwick {

// One launch as the rules see it. The lower-cased views point into buffers the
// evaluator owns; they are valid for one evaluation only.
struct LaunchFacts {
  uint32_t pid = 0;
  std::string_view image;                 // as received
  std::string_view command_line;          // as received
  std::string_view name;                  // lower-cased file name of `image`
  std::string_view parent;                // lower-cased parent file name; empty when unknown
  std::string_view cmd;                   // lower-cased command line
  const BytePairs* cmd_pairs = nullptr;   // byte pairs of `cmd`, when indexed
  std::string_view image_lc;              // lower-cased image
  const SignatureCheck* trust = nullptr;  // never null; asked only by the drop-folder rule
};

struct ProcessRule {
  bool (*matches)(const LaunchFacts&);
  Severity severity;
  std::string_view title;
  // Templates: {name}, {parent}, {pid}, {image} and the command-line excerpts
  // {cmd240}, {cmd220}, {cmd200} are filled in from the launch.
  std::string_view detail;
  std::string_view key;
  std::string_view mitre;
  float cvss;
};

// In evaluation order.
std::span<const ProcessRule> process_rules();

// Appends `tmpl` with its placeholders filled in. Substituted text is never
// scanned again, so a command line holding "{pid}" stays as it is.
void expand_template(std::string_view tmpl, const LaunchFacts& facts, std::string& out);

// The command line as received, whole when it fits in `limit` bytes, else its
// longest prefix within the limit that ends on a character boundary, then "…".
void append_excerpt(std::string_view command_line, size_t limit, std::string& out);

}  // namespace tarnwick
