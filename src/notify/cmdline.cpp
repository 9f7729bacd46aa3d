#include "notify/cmdline.h"

namespace tarnwick {

namespace {

void append_escaped(std::string_view arg, std::string& out) {
  size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      // 2n+1 backslashes and a quote read back as n backslashes and a quote.
      out.append(2 * backslashes + 1, '\\');
    } else {
      // Backslashes not followed by a quote are taken literally.
      out.append(backslashes, '\\');
    }
    out += c;
    backslashes = 0;
  }
  // They precede the closing quote, so they must be doubled.
  out.append(2 * backslashes, '\\');
}

}  // namespace

void append_quoted_argument(std::string_view arg, std::string& out) {
  std::string without_nul;
  if (arg.find('\0') != std::string_view::npos) {
    for (const char c : arg) {
      if (c == '\0') {
        without_nul += "\uFFFD";
      } else {
        without_nul += c;
      }
    }
    arg = without_nul;
  }
  // Newline and vertical tab are not separators for every parser, but are
  // for some; quoting them costs nothing.
  const bool bare = !arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos;
  if (bare) {
    out += arg;
    return;
  }
  out += '"';
  append_escaped(arg, out);
  out += '"';
}

std::string command_line(std::string_view program, const std::vector<std::string>& args) {
  std::string out;
  const bool quote_program = program.find_first_of(" \t") != std::string_view::npos;
  if (quote_program) out += '"';
  out += program;
  if (quote_program) out += '"';
  for (const auto& arg : args) {
    out += ' ';
    append_quoted_argument(arg, out);
  }
  return out;
}

}  // namespace tarnwick
