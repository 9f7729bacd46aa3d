#include "registry/registry.h"

#include "text/text.h"

namespace tarnwick {

std::string_view hive_text(Hive hive) {
  return hive == Hive::LocalMachine ? "HKLM" : "HKCU";
}

std::string decode_registry_text(std::string_view bytes) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8));
    if (unit == 0) break;
    units.push_back(unit);
  }
  return utf16_to_utf8(units);
}

}  // namespace tarnwick
