#include "registry/registry_win.h"
#include "response/response_win.h"

namespace tarnwick {

bool WindowsRegistryEditor::delete_value(std::string_view hive, std::string_view subkey,
                                         std::string_view value) {
  return WindowsRegistryWriter().delete_value(
      hive == "HKLM" ? Hive::LocalMachine : Hive::CurrentUser, subkey, value);
}

}  // namespace tarnwick
