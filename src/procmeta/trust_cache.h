#pragma once
// Signature trust with a memory: a file's verdict (embedded signature, or
// its hash in a system catalog that verifies) is kept by path, size and
// last-write time, so a busy machine does not verify the same file again and
// again. A changed file is verified afresh. Safe from any thread.

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "procmeta/procmeta.h"

namespace tarnwick {

// What identifies one version of a file.
struct FileStamp {
  uint64_t size = 0;
  uint64_t last_write = 0;  // the platform's own units
  bool operator==(const FileStamp&) const = default;
};

// The platform's trust checks, each asking the system anew.
class FileTrust {
 public:
  virtual ~FileTrust() = default;
  // Nothing when the file's metadata cannot be read (it is missing, for one).
  virtual std::optional<FileStamp> stamp(std::string_view path) const = 0;
  virtual bool embedded_signature(std::string_view path) const = 0;
  // The file's hash is in a system catalog, and that catalog's signature verifies.
  virtual bool catalog_signature(std::string_view path) const = 0;
};

inline constexpr size_t kTrustCacheEntries = 4096;

class CachedSignatureCheck final : public SignatureCheck {
 public:
  explicit CachedSignatureCheck(const FileTrust& trust, size_t capacity = kTrustCacheEntries);

  // True for a valid embedded signature or a verified catalog entry.
  bool is_file_signed(std::string_view path) const override;

  size_t cached() const;

 private:
  struct Verdict {
    FileStamp stamp;
    bool trusted = false;
  };

  const FileTrust& trust_;
  size_t capacity_;
  mutable std::mutex mutex_;
  mutable std::unordered_map<std::string, Verdict> verdicts_;
  // Paths in the order they were added: the oldest goes first when full.
  mutable std::deque<std::string> order_;
};

}  // namespace tarnwick
