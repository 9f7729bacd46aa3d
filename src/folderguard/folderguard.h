#pragma once
// The engine's own folders (the data directory, the quarantine folder) are
// made and opened through here: never through a reparse point, and, when the
// engine runs elevated, owned by Administrators with a protected DACL, so that
// no unprivileged user can plant or change what the SYSTEM service reads and
// writes there. Used at start-up and by the alert sink thread.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// Owner Administrators; full control for SYSTEM and Administrators and read
// and execute for Users, passed on to everything inside; nothing inherited
// from the parent.
inline constexpr std::wstring_view kProtectedFolderSddl =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

enum class FolderEntry { Missing, Directory, File, ReparsePoint, Unknown };

// The platform's view of folders and their security.
class FolderSecurity {
 public:
  virtual ~FolderSecurity() = default;
  // True when the process holds an elevated (administrator or SYSTEM) token.
  virtual bool elevated() = 0;
  // What the name is, without following a reparse point at its end.
  virtual FolderEntry entry(const std::filesystem::path& path) = 0;
  // Creates the folder and any missing parents.
  virtual bool create_directories(const std::filesystem::path& folder) = 0;
  // Makes Administrators the owner and sets the protected DACL, on the folder
  // itself: fails without a change when the name is a reparse point.
  virtual bool protect_folder(const std::filesystem::path& folder) = 0;
  // The names of the files (not folders) directly inside `folder`.
  virtual std::vector<std::filesystem::path> files_in(const std::filesystem::path& folder) = 0;
  // Makes Administrators the owner of a plain file and leaves it only what its
  // folder passes on, or with `engine_only` nothing but full control for
  // SYSTEM and Administrators; refuses reparse points and files with other
  // names (hard links), whose change would reach somewhere else.
  virtual bool adopt_file(const std::filesystem::path& file, bool engine_only) = 0;
};

// A folder of the engine's: the levels `below` a trusted `root` are the
// engine's own and are checked and protected one by one.
struct GuardedFolder {
  std::filesystem::path root;
  std::vector<std::string> below;
  std::filesystem::path path() const;
};

enum class FolderResult { Ready, ReparsePoint, Failed };

// Creates what is missing of `folder`, refuses a reparse point at any of the
// engine's levels, and when elevated protects each level. With
// `adopt_files`, the files already in the folder are taken over too, so that
// files planted before the folder was protected stay out of reach of whoever
// planted them; the lock file becomes the engine's alone.
FolderResult prepare_folder(FolderSecurity& security, const GuardedFolder& folder,
                            bool adopt_files);

}  // namespace tarnwick
