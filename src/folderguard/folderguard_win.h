#pragma once
// The real folder security: token elevation, attributes read without
// following reparse points, and owner and DACL set through handles opened on
// the object itself.

#include "folderguard/folderguard.h"

namespace tarnwick {

// protect_folder with a list of the caller's: Administrators the owner, and
// the owner and protected DACL of `sddl`, set through a handle on the folder
// itself (a reparse point is refused).
bool protect_folder_with(const std::filesystem::path& folder, std::wstring_view sddl);

class WindowsFolderSecurity final : public FolderSecurity {
 public:
  bool elevated() override;
  FolderEntry entry(const std::filesystem::path& path) override;
  bool create_directories(const std::filesystem::path& folder) override;
  bool protect_folder(const std::filesystem::path& folder) override;
  std::vector<std::filesystem::path> files_in(const std::filesystem::path& folder) override;
  bool adopt_file(const std::filesystem::path& file, bool engine_only) override;
};

}  // namespace tarnwick
