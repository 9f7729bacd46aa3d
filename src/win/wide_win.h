#pragma once
// UTF-8 <-> UTF-16 at the Win32 boundary, and Win32 error codes as text.

#include <windows.h>

#include <string>
#include <string_view>

#include "text/text.h"

namespace tarnwick::win {

inline std::wstring widen(std::string_view utf8) {
  const std::u16string u = utf8_to_utf16(utf8);
  return std::wstring(u.begin(), u.end());
}

inline std::string narrow(std::wstring_view wide) {
  return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

// The system's message for a Win32 error code without its trailing line break;
// empty when the system has none.
std::string error_message(DWORD code);

}  // namespace tarnwick::win
