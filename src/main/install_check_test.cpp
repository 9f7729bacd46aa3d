#include "main/install_check.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

constexpr const char* kUsers = "S-1-5-32-545";
constexpr const char* kAdmins = "S-1-5-32-544";
constexpr const char* kSystem = "S-1-5-18";

std::vector<AccessEntry> admin_only() {
  return {{kSystem, 0x1F01FF, false}, {kAdmins, 0x1F01FF, false}, {kUsers, 0x1200A9, false}};
}

TEST(InstallCheck, AccessListsAndDriveKinds) {
  using List = std::optional<std::vector<AccessEntry>>;
  const auto with = [](AccessEntry extra) {
    auto list = admin_only();
    list.push_back(std::move(extra));
    return list;
  };
  struct Case {
    const char* name;
    DriveKind drive;
    List folder;
    List file;
    std::optional<std::string> reason;
  } cases[] = {
      {"Program Files-like: read and execute for Users", DriveKind::Local, admin_only(),
       admin_only(), std::nullopt},
      {"Users may add files (a build tree)", DriveKind::Local, with({kUsers, 0x2, false}),
       admin_only(), "Users can change the folder"},
      {"Authenticated Users modify (the default on a new drive root folder)", DriveKind::Local,
       with({"S-1-5-11", 0x1301BF, false}), admin_only(), "Authenticated Users can change the folder"},
      {"Everyone generic write", DriveKind::Local, with({"S-1-1-0", 0x40000000, false}),
       admin_only(), "Everyone can change the folder"},
      {"INTERACTIVE may append (add subfolders)", DriveKind::Local, with({"S-1-5-4", 0x4, false}),
       admin_only(), "INTERACTIVE can change the folder"},
      {"Users may delete children", DriveKind::Local, with({kUsers, 0x40, false}), admin_only(),
       "Users can change the folder"},
      {"Users generic all, inherited by children only", DriveKind::Local,
       with({kUsers, 0x10000000, true}), admin_only(), std::nullopt},
      {"a named user's full control is not a broad group", DriveKind::Local,
       with({"S-1-5-21-1-2-3-1001", 0x1F01FF, false}), admin_only(), std::nullopt},
      {"Users may rewrite the list of the file", DriveKind::Local, admin_only(),
       with({kUsers, 0x40000, false}), "Users can change tarnwick.exe"},
      {"Everyone may take ownership of the file", DriveKind::Local, admin_only(),
       with({"S-1-1-0", 0x80000, false}), "Everyone can change tarnwick.exe"},
      {"Users may delete the file", DriveKind::Local, admin_only(), with({kUsers, 0x10000, false}),
       "Users can change tarnwick.exe"},
      {"unreadable folder list", DriveKind::Local, std::nullopt, admin_only(),
       "the folder's access list could not be read"},
      {"unreadable file list", DriveKind::Local, admin_only(), std::nullopt,
       "the access list of tarnwick.exe could not be read"},
      {"network drive, whatever the lists", DriveKind::Network, admin_only(), admin_only(),
       "it is on a network drive"},
      {"substituted drive", DriveKind::Substituted, admin_only(), admin_only(),
       "it is on a substituted drive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(install_refusal({c.drive, c.folder, c.file}), c.reason);
  }
}

}  // namespace
}  // namespace tarnwick
