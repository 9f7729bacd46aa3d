#include "selfprotect/known_drivers.h"

#include <algorithm>

namespace tarnwick {

const KnownDriver* find_known_driver(std::span<const KnownDriver> table, const Sha256& digest) {
  const auto it = std::lower_bound(
      table.begin(), table.end(), digest,
      [](const KnownDriver& row, const Sha256& d) { return row.sha256 < d; });
  return it != table.end() && it->sha256 == digest ? &*it : nullptr;
}

std::string_view category_text(DriverCategory category) {
  return category == DriverCategory::Malicious ? "malicious" : "vulnerable";
}

std::optional<Sha256> parse_sha256(std::string_view hex) {
  if (hex.size() != 64) return std::nullopt;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  Sha256 digest{};
  for (size_t i = 0; i < digest.size(); ++i) {
    const int high = nibble(hex[2 * i]);
    const int low = nibble(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return digest;
}

}  // namespace tarnwick
