#pragma once
// Kernel drivers known to be vulnerable or malicious, by the SHA-256 of the
// driver file: a table generated at build time from data/known-bad-drivers.tsv,
// sorted by digest, and the lookup into it. Read-only: safe from any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarnwick {

using Sha256 = std::array<uint8_t, 32>;

enum class DriverCategory : uint8_t { Vulnerable, Malicious };

struct KnownDriver {
  Sha256 sha256;
  DriverCategory category;
  const char* original_filename;  // as the list names it; may be empty
};

// The shipped table, sorted by digest.
std::span<const KnownDriver> known_bad_drivers();

// The row for `digest` in a table sorted by digest; null when not listed.
const KnownDriver* find_known_driver(std::span<const KnownDriver> table, const Sha256& digest);

// "vulnerable" or "malicious".
std::string_view category_text(DriverCategory category);

// 64 hexadecimal digits, either case.
std::optional<Sha256> parse_sha256(std::string_view hex);

// The SHA-256 of a file's contents.
class FileDigest {
 public:
  virtual ~FileDigest() = default;
  // Nothing when the file cannot be read whole, or is larger than any driver.
  virtual std::optional<Sha256> sha256(std::string_view path) const = 0;
};

// No driver file comes near this; a larger file is not hashed.
inline constexpr uint64_t kMaxDriverFileBytes = 64u << 20;

}  // namespace tarnwick
