#pragma once
// How Windows' CommandLineToArgvW splits a command line, written from its
// documented rules (and the long-standing undocumented one for runs of
// quotes), so that quoting can be checked natively against an independent
// parser. Works on UTF-8: every character that matters is ASCII. Tests only.

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::testing {

inline std::vector<std::string> split_command_line(std::string_view line) {
  std::vector<std::string> argv;
  size_t i = 0;
  const size_t n = line.size();
  auto is_blank = [](char c) { return c == ' ' || c == '\t'; };

  // The program name: up to the next quote if it starts with one, else up to
  // the first blank. Backslashes mean nothing here.
  std::string program;
  if (i < n && line[i] == '"') {
    ++i;
    while (i < n && line[i] != '"') program += line[i++];
    if (i < n) ++i;
  } else {
    while (i < n && !is_blank(line[i])) program += line[i++];
  }
  argv.push_back(program);

  std::string current;
  bool in_arg = false;
  bool quoted = false;
  while (i < n) {
    const char c = line[i];
    if (is_blank(c) && !quoted) {
      if (in_arg) argv.push_back(current);
      current.clear();
      in_arg = false;
      ++i;
      continue;
    }
    in_arg = true;
    if (c == '\\') {
      size_t run = 0;
      while (i < n && line[i] == '\\') {
        ++run;
        ++i;
      }
      if (i < n && line[i] == '"') {
        current.append(run / 2, '\\');
        if (run % 2 == 1) {
          current += '"';  // escaped: literal, the quote state stays
          ++i;
        }
      } else {
        current.append(run, '\\');
      }
      continue;
    }
    if (c == '"') {
      ++i;
      if (!quoted) {
        quoted = true;
      } else if (i < n && line[i] == '"') {
        // Two quotes inside a quoted part: one literal quote, and the quoted
        // part ends.
        current += '"';
        quoted = false;
        ++i;
      } else {
        quoted = false;
      }
      continue;
    }
    current += c;
    ++i;
  }
  if (in_arg) argv.push_back(current);
  return argv;
}

}  // namespace tarnwick::testing
