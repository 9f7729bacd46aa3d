#include "win/wide_win.h"

namespace tarnwick::win {

std::string error_message(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD len = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (len == 0 || buffer == nullptr) return {};
  std::wstring text(buffer, len);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  return narrow(text);
}

}  // namespace tarnwick::win
