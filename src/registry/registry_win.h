#pragma once
// The registry operations on the real Windows registry, in the native
// registry view. Hold no state: safe from any thread.

#include "registry/registry.h"

namespace tarnwick {

class WindowsRegistry final : public RegistryReader {
 public:
  std::optional<NameSet> value_names(Hive hive, std::string_view subkey) const override;
  std::optional<NameSet> subkey_names(Hive hive, std::string_view subkey) const override;
  std::optional<std::string> read_text(Hive hive, std::string_view subkey,
                                       std::string_view value) const override;
  std::optional<uint32_t> read_u32(Hive hive, std::string_view subkey,
                                   std::string_view value) const override;
  std::unique_ptr<ValueChangeWatch> watch_values(Hive hive, std::string_view subkey) override;
};

class WindowsRegistryWriter final : public RegistryWriter {
 public:
  bool write_u32(Hive hive, std::string_view subkey, std::string_view value,
                 uint32_t data) override;
  // Removes one value; false when the key cannot be opened for writing or the
  // value is not there.
  bool delete_value(Hive hive, std::string_view subkey, std::string_view value);
};

}  // namespace tarnwick
