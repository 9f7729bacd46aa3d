#pragma once
// The real process list, process and signature queries.

#include <vector>

#include "procmeta/name_cache.h"
#include "procmeta/procmeta.h"
#include "procmeta/trust_cache.h"

namespace tarnwick {

class WindowsProcessQuery final : public ProcessQuery {
 public:
  std::optional<std::string> query_image_path(uint32_t pid) const override;
};

// The process list from a Toolhelp snapshot.
class WindowsProcessTable final : public ProcessTable {
 public:
  ProcessSnapshot snapshot() override;
};

// Critical flag and token user of a live process.
class WindowsProcessStanding final : public ProcessStanding {
 public:
  std::optional<bool> is_critical(uint32_t pid) const override;
  std::optional<std::string> user_sid(uint32_t pid) const override;
};

// Creation times of every process from one read of the system's process list.
class WindowsProcessCreationTimes final : public ProcessCreationTimes {
 public:
  CreationTimes read() override;

 private:
  // Kept between reads: a steady process list fits it the first time.
  std::vector<unsigned char> buffer_;
};

// The system's trust checks, uncached.
class WindowsFileTrust final : public FileTrust {
 public:
  std::optional<FileStamp> stamp(std::string_view path) const override;
  bool embedded_signature(std::string_view path) const override;
  bool catalog_signature(std::string_view path) const override;
};

// Embedded or catalog signature, with the verdicts kept per file version.
class WindowsSignatureCheck final : public SignatureCheck {
 public:
  bool is_file_signed(std::string_view path) const override { return cached_.is_file_signed(path); }

 private:
  WindowsFileTrust trust_;
  CachedSignatureCheck cached_{trust_};
};

}  // namespace tarnwick
