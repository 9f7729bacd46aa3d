#pragma once
// In-memory stand-ins for the driver watch's service manager and file
// digests. Tests only.

#include <map>
#include <string>
#include <vector>

#include "selfprotect/drivers.h"

namespace tarnwick::testing {

// Every stop asked for is recorded; its answer is scripted per service
// (NotRunning unless told otherwise).
class FakeDriverServices final : public DriverServices {
 public:
  std::map<std::string, DriverStop> answers;
  std::vector<std::string> stopped;
  DriverStop stop(std::string_view name, std::string_view) override {
    stopped.emplace_back(name);
    auto it = answers.find(std::string(name));
    return it == answers.end() ? DriverStop::NotRunning : it->second;
  }
};

// Digests by path; a path not listed cannot be read.
class FakeFileDigest final : public FileDigest {
 public:
  std::map<std::string, Sha256> digests;
  std::optional<Sha256> sha256(std::string_view path) const override {
    auto it = digests.find(std::string(path));
    if (it == digests.end()) return std::nullopt;
    return it->second;
  }
};

}  // namespace tarnwick::testing
