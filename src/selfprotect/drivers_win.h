#pragma once
// Stopping a driver service through the service manager, and the SHA-256 of
// a driver file through the system's cryptography library.

#include "selfprotect/drivers.h"

namespace tarnwick {

class WindowsDriverServices final : public DriverServices {
 public:
  DriverStop stop(std::string_view name, std::string_view file) override;
};

class WindowsFileDigest final : public FileDigest {
 public:
  std::optional<Sha256> sha256(std::string_view path) const override;
};

}  // namespace tarnwick
