#include "main/install_check.h"

#include <string_view>

namespace tarnwick {

namespace {

struct Group {
  std::string_view sid;
  std::string_view name;
};

constexpr Group kEveryoneGroups[] = {
    {"S-1-5-32-545", "Users"},
    {"S-1-5-11", "Authenticated Users"},
    {"S-1-1-0", "Everyone"},
    {"S-1-5-4", "INTERACTIVE"},
};

// The first broad group the list lets change the object, if any.
std::optional<std::string_view> changing_group(const std::vector<AccessEntry>& entries) {
  for (const AccessEntry& entry : entries) {
    if (entry.inherit_only || (entry.mask & kChangingRights) == 0) continue;
    for (const Group& group : kEveryoneGroups) {
      if (entry.sid == group.sid) return group.name;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> install_refusal(const InstallFacts& facts) {
  if (facts.drive == DriveKind::Network) return "it is on a network drive";
  if (facts.drive == DriveKind::Substituted) return "it is on a substituted drive";
  if (!facts.folder_access) return "the folder's access list could not be read";
  if (auto group = changing_group(*facts.folder_access)) {
    return std::string(*group) + " can change the folder";
  }
  if (!facts.file_access) return "the access list of tarnwick.exe could not be read";
  if (auto group = changing_group(*facts.file_access)) {
    return std::string(*group) + " can change tarnwick.exe";
  }
  return std::nullopt;
}

std::string install_refusal_message(const std::string& folder, const std::string& reason) {
  return "Refusing to install from " + folder + ": " + reason +
         ". Copy tarnwick.exe to a folder under Program Files first.";
}

}  // namespace tarnwick
