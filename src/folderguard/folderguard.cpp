#include "folderguard/folderguard.h"

#include "fileio/fileio.h"

namespace tarnwick {

std::filesystem::path GuardedFolder::path() const {
  std::filesystem::path p = root;
  for (const auto& level : below) p /= path_from_utf8(level);
  return p;
}

FolderResult prepare_folder(FolderSecurity& security, const GuardedFolder& folder,
                            bool adopt_files) {
  // The root (ProgramData, the current folder) is the system's; only a
  // missing one is made, as any parent would be.
  if (security.entry(folder.root) == FolderEntry::Missing &&
      !security.create_directories(folder.root)) {
    return FolderResult::Failed;
  }
  const bool elevated = security.elevated();
  std::filesystem::path level = folder.root;
  for (const auto& name : folder.below) {
    level /= path_from_utf8(name);
    FolderEntry found = security.entry(level);
    if (found == FolderEntry::Missing) {
      if (!security.create_directories(level)) return FolderResult::Failed;
      // Looked at again: someone may have put a junction there first.
      found = security.entry(level);
    }
    if (found == FolderEntry::ReparsePoint) return FolderResult::ReparsePoint;
    if (found != FolderEntry::Directory) return FolderResult::Failed;
    if (elevated && !security.protect_folder(level)) return FolderResult::Failed;
  }
  if (elevated && adopt_files) {
    // Best effort: one file that cannot be taken over (a link, a file in use)
    // does not make the folder unusable.
    for (const auto& file : security.files_in(level)) {
      security.adopt_file(file, file.filename() == path_from_utf8(kLockFileName));
    }
  }
  return FolderResult::Ready;
}

}  // namespace tarnwick
