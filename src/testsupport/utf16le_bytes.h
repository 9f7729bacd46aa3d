#pragma once
// UTF-16 code units as the system stores them: little-endian bytes, no
// terminator added. Tests only.

#include <string>
#include <string_view>

namespace tarnwick::testing {

inline std::string utf16le_bytes(std::u16string_view units) {
  std::string bytes;
  for (char16_t u : units) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes;
}

}  // namespace tarnwick::testing
