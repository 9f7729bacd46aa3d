#pragma once
// The folders of the people who use the machine, for an engine run as the
// service with no folders configured: its own profile is the system's. Each
// profile listed in the registry gives its Documents, Desktop and Pictures,
// and a loaded hive also the folders its shell settings name (redirected or
// synced ones). Everything read here is treated as hostile text. Called on
// the files detector's thread.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry.h"

namespace tarnwick {

inline constexpr size_t kMaxWatchedFolders = 192;
inline constexpr std::chrono::seconds kProfileRescanInterval{60};
// Longer profile or folder paths are refused.
inline constexpr size_t kMaxFolderPathBytes = 1024;

inline constexpr std::string_view kProfileListKey =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
inline constexpr std::string_view kUserShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

enum class FolderKind { Missing, Folder, ReparsePoint, Other };

struct ProfileSources {
  const RegistryReader& registry;
  // The text with the system's environment variables expanded.
  std::function<std::string(const std::string&)> expand;
  std::function<FolderKind(const std::string&)> kind;
};

// Whether a path from the registry may name a watched folder: at most
// kMaxFolderPathBytes, no NUL, and absolute ("X:\..." or "\\server\share...").
bool acceptable_folder_path(std::string_view path);

// `text` with every "%USERPROFILE%" (in any ASCII case) replaced by `profile`.
std::string with_user_profile(std::string_view text, std::string_view profile);

// The folders that exist and are no reparse points, each once (paths compared
// without regard to ASCII case or a final separator), profiles in SID order,
// at most kMaxWatchedFolders.
std::vector<std::string> profile_folders(const ProfileSources& sources);

}  // namespace tarnwick
