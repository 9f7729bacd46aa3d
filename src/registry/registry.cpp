#include "registry/registry.h"

#include "text/text.h"

namespace tarnwick {

std::string_view hive_text(Hive hive) {
  return hive == Hive::LocalMachine ? "HKLM" : "HKCU";
}

}  // namespace tarnwick
