#include "files/profiles.h"

#include <algorithm>
#include <set>

#include "text/text.h"

namespace tarnwick {

namespace {

bool is_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The form two paths of one folder share.
std::string folder_identity(std::string_view path) {
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.remove_suffix(1);
  return ascii_lower(path);
}

class FolderList {
 public:
  explicit FolderList(const ProfileSources& s) : s_(s) {}

  void offer(const std::string& path) {
    if (folders_.size() == kMaxWatchedFolders || !acceptable_folder_path(path)) return;
    if (seen_.count(folder_identity(path)) != 0) return;
    // A reparse point could send the watch, and the culprit search, anywhere.
    if (s_.kind(path) != FolderKind::Folder) return;
    seen_.insert(folder_identity(path));
    folders_.push_back(path);
  }

  std::vector<std::string> take() { return std::move(folders_); }

 private:
  const ProfileSources& s_;
  std::set<std::string> seen_;
  std::vector<std::string> folders_;
};

}  // namespace

bool acceptable_folder_path(std::string_view path) {
  if (path.empty() || path.size() > kMaxFolderPathBytes) return false;
  if (path.find('\0') != std::string_view::npos) return false;
  const bool drive = path.size() >= 3 && is_letter(path[0]) && path[1] == ':' &&
                     (path[2] == '\\' || path[2] == '/');
  const bool unc = path.size() > 2 && path.starts_with("\\\\") && path[2] != '\\';
  return drive || unc;
}

std::string with_user_profile(std::string_view text, std::string_view profile) {
  constexpr std::string_view kVariable = "%userprofile%";
  const std::string lower = ascii_lower(text);
  std::string out;
  size_t from = 0;
  for (size_t at = lower.find(kVariable); at != std::string::npos;
       at = lower.find(kVariable, from)) {
    out.append(text.substr(from, at - from));
    out.append(profile);
    from = at + kVariable.size();
  }
  out.append(text.substr(from));
  return out;
}

std::vector<std::string> profile_folders(const ProfileSources& s) {
  std::vector<std::string> sids;
  // A listing that failed gives no profiles this round; the next scan retries.
  const NameSet profiles = s.registry.subkey_names(Hive::LocalMachine, kProfileListKey).value_or(NameSet{});
  for (const std::string& name : profiles) {
    if (is_user_hive_name(name)) sids.push_back(name);
  }
  std::sort(sids.begin(), sids.end());

  FolderList list(s);
  for (const std::string& sid : sids) {
    const std::string key = std::string(kProfileListKey) + "\\" + sid;
    const auto image = s.registry.read_text(Hive::LocalMachine, key, "ProfileImagePath");
    if (!image || image->size() > kMaxFolderPathBytes) continue;
    std::string profile = s.expand(*image);
    if (!acceptable_folder_path(profile)) continue;
    while (profile.size() > 3 && (profile.back() == '\\' || profile.back() == '/')) {
      profile.pop_back();
    }
    for (std::string_view name : {"Documents", "Desktop", "Pictures"}) {
      list.offer(profile + "\\" + std::string(name));
    }
    // Only a loaded hive (its user logged on) has these; an unloaded one reads as empty.
    const std::string shell_folders = sid + "\\" + std::string(kUserShellFoldersKey);
    for (std::string_view value : {"Personal", "Desktop", "My Pictures"}) {
      const auto named = s.registry.read_text(Hive::Users, shell_folders, value);
      if (!named || named->size() > kMaxFolderPathBytes) continue;
      list.offer(s.expand(with_user_profile(*named, profile)));
    }
  }
  return list.take();
}

}  // namespace tarnwick
