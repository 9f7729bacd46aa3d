#pragma once
// Security descriptors written as SDDL text.

#include <windows.h>

#include <sddl.h>

#include <string>
#include <string_view>

#include "win/handle_win.h"

namespace tarnwick::win {

// The descriptor `sddl` describes; empty when the text cannot be converted.
inline LocalMemory security_descriptor(std::wstring_view sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  const std::wstring text(sddl);
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &sd,
                                                            nullptr)) {
    return {};
  }
  return LocalMemory(sd);
}

}  // namespace tarnwick::win
