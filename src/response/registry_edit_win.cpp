#include "registry/registry_win.h"
#include "response/response_win.h"

namespace tarnwick {

bool WindowsRegistryEditor::delete_value(std::string_view hive, std::string_view subkey,
                                         std::string_view value) {
  const std::optional<RegistryPlace> place = registry_place(hive, subkey);
  return place && WindowsRegistryWriter().delete_value(place->hive, place->subkey, value);
}

}  // namespace tarnwick
