#pragma once
// Argument texts that break naive command-line quoting, shared by the native
// tests (checked with the portable splitter) and the Windows tests (checked
// with the system's own parser and a real child process). Tests only.

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::testing {

inline std::vector<std::string> hostile_arguments() {
  return {
      "",
      "plain",
      "two words",
      " leading and trailing ",
      "trailing backslash\\",
      "C:\\Program Files\\Tarnwick\\",
      "\\\\server\\share\\",
      "say \"hi\"",
      "\\\"",
      "\\\\\"",
      "ends with quote\"",
      "\"\"",
      "a\"\"b",
      "\" -o x",
      "x\" -o C:\\evil.exe \"y",
      "x\\\" -o C:\\evil.exe \\\\\"y\\\\",
      "@/etc/passwd",
      "@C:\\Windows\\win.ini",
      "-o",
      "--data-binary",
      "tab\there",
      "new\nline\r\n",
      "vertical\vtab",
      "caf\u00E9 \U0001F680 \u00B7",
      "%PATH% ^& | < >",
  };
}

// Every text of up to `max_length` characters drawn from `alphabet`.
inline std::vector<std::string> all_strings(const std::vector<std::string>& alphabet,
                                            size_t max_length) {
  std::vector<std::string> out{""};
  std::vector<std::string> layer{""};
  for (size_t len = 1; len <= max_length; ++len) {
    std::vector<std::string> next;
    for (const auto& prefix : layer) {
      for (const auto& unit : alphabet) next.push_back(prefix + unit);
    }
    out.insert(out.end(), next.begin(), next.end());
    layer = std::move(next);
  }
  return out;
}

// The characters the quoting rules care about, plus one ordinary ASCII and
// one non-ASCII character.
inline const std::vector<std::string> kQuotingAlphabet = {"a", " ", "\t", "\\", "\"", "\u00E9"};

}  // namespace tarnwick::testing
