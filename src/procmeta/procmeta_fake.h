#pragma once
// In-memory stand-ins for the process list, process and signature queries.
// Tests only.

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "procmeta/procmeta.h"

namespace tarnwick::testing {

class FakeProcessQuery final : public ProcessQuery {
 public:
  std::map<uint32_t, std::string> paths;
  std::optional<std::string> query_image_path(uint32_t pid) const override {
    auto it = paths.find(pid);
    if (pid == 0 || it == paths.end()) return std::nullopt;
    return it->second;
  }
};

// Hands out scripted snapshots in order, then empty ones.
class FakeProcessTable final : public ProcessTable {
 public:
  std::deque<ProcessSnapshot> script;
  ProcessSnapshot snapshot() override {
    if (script.empty()) return {};
    ProcessSnapshot s = std::move(script.front());
    script.pop_front();
    return s;
  }
};

// Critical pids and accounts by pid; every other process is an ordinary
// user's ("S-1-5-21-1-2-3-1001").
class FakeProcessStanding final : public ProcessStanding {
 public:
  std::set<uint32_t> critical;
  std::map<uint32_t, std::string> sids;
  std::optional<bool> is_critical(uint32_t pid) const override { return critical.count(pid) != 0; }
  std::optional<std::string> user_sid(uint32_t pid) const override {
    auto it = sids.find(pid);
    return it == sids.end() ? std::string("S-1-5-21-1-2-3-1001") : it->second;
  }
};

class FakeSignatureCheck final : public SignatureCheck {
 public:
  std::set<std::string> signed_paths;
  mutable std::vector<std::string> checked;
  bool is_file_signed(std::string_view path) const override {
    checked.emplace_back(path);
    return !path.empty() && signed_paths.count(std::string(path)) != 0;
  }
};

}  // namespace tarnwick::testing
