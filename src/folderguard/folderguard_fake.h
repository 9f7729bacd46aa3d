#pragma once
// An in-memory file system of named entries standing in for the platform's
// folder security; records what was done and can be told to fail. Tests only.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "folderguard/folderguard.h"

namespace tarnwick::testing {

class FakeFolderSecurity final : public FolderSecurity {
 public:
  bool is_elevated = false;
  bool create_ok = true;
  bool protect_ok = true;
  std::map<std::string, FolderEntry> entries;  // generic path -> what it is
  // Names an attacker turns into a reparse point the moment they are created.
  std::set<std::string> planted_on_create;
  std::set<std::string> unadoptable;
  std::vector<std::string> calls;

  static std::string key(const std::filesystem::path& p) { return p.generic_string(); }

  bool elevated() override { return is_elevated; }
  FolderEntry entry(const std::filesystem::path& p) override {
    auto it = entries.find(key(p));
    return it == entries.end() ? FolderEntry::Missing : it->second;
  }
  bool create_directories(const std::filesystem::path& p) override {
    calls.push_back("create " + key(p));
    if (!create_ok) return false;
    for (auto part = p; !part.empty() && part != part.parent_path(); part = part.parent_path()) {
      entries.emplace(key(part), FolderEntry::Directory);
    }
    if (planted_on_create.count(key(p))) entries[key(p)] = FolderEntry::ReparsePoint;
    return true;
  }
  bool protect_folder(const std::filesystem::path& p) override {
    calls.push_back("protect " + key(p));
    return protect_ok && entry(p) == FolderEntry::Directory;
  }
  std::vector<std::filesystem::path> files_in(const std::filesystem::path& folder) override {
    std::vector<std::filesystem::path> out;
    for (const auto& [name, kind] : entries) {
      const std::filesystem::path p(name);
      if (kind != FolderEntry::Directory && key(p.parent_path()) == key(folder)) out.push_back(p);
    }
    return out;
  }
  bool adopt_file(const std::filesystem::path& p, bool engine_only) override {
    calls.push_back((engine_only ? "adopt engine-only " : "adopt ") + key(p));
    return !unadoptable.count(key(p));
  }
};

}  // namespace tarnwick::testing
