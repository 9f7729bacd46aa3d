#include <windows.h>

#include "response/response_win.h"
#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

bool WindowsRegistryEditor::delete_value(std::string_view hive, std::string_view subkey,
                                         std::string_view value) {
  HKEY root = hive == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, win::widen(subkey).c_str(), 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) {
    return false;
  }
  win::RegKey key(opened);
  return RegDeleteValueW(key.get(), win::widen(value).c_str()) == ERROR_SUCCESS;
}

}  // namespace tarnwick
