#include "files/profiles.h"

#include <gtest/gtest.h>

#include <map>

#include "registry/registry_fake.h"

namespace tarnwick {
namespace {

using testing::FakeRegistry;

const std::string kAlice = "S-1-5-21-1-2-3-1001";
const std::string kBob = "S-1-5-21-1-2-3-1002";
const std::string kCloud = "S-1-12-1-9-8-7-6";

struct Machine {
  FakeRegistry registry;
  std::map<std::string, FolderKind> disk;  // by exact path

  void profile(const std::string& sid, const std::string& image_path) {
    registry.set_text(Hive::LocalMachine, std::string(kProfileListKey) + "\\" + sid,
                      "ProfileImagePath", image_path);
  }
  void shell_folder(const std::string& sid, const std::string& value, const std::string& path) {
    registry.set_text(Hive::Users, sid + "\\" + std::string(kUserShellFoldersKey), value, path);
  }
  void folders(std::initializer_list<std::string> paths, FolderKind kind = FolderKind::Folder) {
    for (const auto& p : paths) disk[p] = kind;
  }
  std::vector<std::string> scan() {
    const ProfileSources sources{registry,
                                 [](const std::string& text) {
                                   // The service's own environment.
                                   std::string out = text;
                                   const std::string var = "%SystemDrive%";
                                   for (size_t at; (at = out.find(var)) != std::string::npos;)
                                     out.replace(at, var.size(), "C:");
                                   return out;
                                 },
                                 [this](const std::string& path) {
                                   auto it = disk.find(path);
                                   return it == disk.end() ? FolderKind::Missing : it->second;
                                 }};
    return profile_folders(sources);
  }
};

TEST(ProfileFolders, EveryProfileAndItsShellFoldersOnceEach) {
  Machine m;
  m.profile(kAlice, "%SystemDrive%\\Users\\alice");
  m.profile(kBob, "C:\\Users\\bob\\");
  m.profile(kCloud, "C:\\Users\\carol");
  m.profile("S-1-5-18", "%systemroot%\\system32\\config\\systemprofile");
  m.profile("S-1-5-20", "C:\\Windows\\ServiceProfiles\\NetworkService");
  m.folders({"C:\\Users\\alice\\Documents", "C:\\Users\\alice\\Desktop",
             "C:\\Users\\alice\\Pictures", "D:\\Sync\\alice\\Documents", "C:\\Users\\bob\\Desktop",
             "C:\\Users\\carol\\Pictures",
             "C:\\Windows\\ServiceProfiles\\NetworkService\\Documents"});
  // Alice is logged on: her documents are redirected to a synced folder,
  // her desktop named through the profile variable (the same folder again),
  // her pictures where they always were, spelled in another case.
  m.shell_folder(kAlice, "Personal", "D:\\Sync\\alice\\Documents");
  m.shell_folder(kAlice, "Desktop", "%USERPROFILE%\\Desktop");
  m.shell_folder(kAlice, "My Pictures", "%userprofile%\\PICTURES\\");
  m.shell_folder(kAlice, "Favorites", "C:\\Users\\alice\\Favorites");
  // Bob's hive is loaded too, with a desktop the disk does not hold.
  m.shell_folder(kBob, "Desktop", "%USERPROFILE%\\OneDrive\\Desktop");

  EXPECT_EQ(m.scan(), (std::vector<std::string>{
                          "C:\\Users\\carol\\Pictures",  // "S-1-12-..." sorts first
                          "C:\\Users\\alice\\Documents",
                          "C:\\Users\\alice\\Desktop",
                          "C:\\Users\\alice\\Pictures",
                          "D:\\Sync\\alice\\Documents",
                          "C:\\Users\\bob\\Desktop",
                      }));
}

TEST(ProfileFolders, HostileTextIsRefused) {
  Machine m;
  const std::string long_dir = "C:\\" + std::string(kMaxFolderPathBytes, 'x');
  m.profile(kAlice, "Users\\alice");                     // not absolute
  m.profile(kBob, std::string("C:\\Users\\b\0ob", 13));  // NUL inside
  m.profile("S-1-5-21-1-2-3-1003", long_dir);            // too long
  m.profile("S-1-5-21-1-2-3-1004", "C:\\Users\\dave");
  m.profile("S-1-5-21-1-2-3-1005\\..", "C:\\Users\\eve");  // no SID
  m.folders({"Users\\alice\\Documents", long_dir + "\\Documents", "C:\\Users\\eve\\Documents",
             "C:\\Users\\dave\\Desktop", "\\\\server\\share\\dave"});
  m.folders({"C:\\Users\\dave\\Documents"}, FolderKind::ReparsePoint);
  m.folders({"C:\\Users\\dave\\Pictures"}, FolderKind::Other);
  m.shell_folder("S-1-5-21-1-2-3-1004", "Personal", "\\\\server\\share\\dave");
  m.shell_folder("S-1-5-21-1-2-3-1004", "My Pictures", "%OneDrive%\\Pictures");
  EXPECT_EQ(m.scan(),
            (std::vector<std::string>{"C:\\Users\\dave\\Desktop", "\\\\server\\share\\dave"}));

  for (const auto& [path, ok] : std::vector<std::pair<std::string, bool>>{{"C:\\x", true},
                                                                          {"c:/x", true},
                                                                          {"\\\\srv\\share", true},
                                                                          {"C:x", false},
                                                                          {"\\x", false},
                                                                          {"\\\\\\x", false},
                                                                          {"", false},
                                                                          {"1:\\x", false}}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(acceptable_folder_path(path), ok);
  }
}

TEST(ProfileFolders, AtMost192) {
  Machine m;
  for (int i = 0; i < 70; ++i) {
    const std::string dir = "C:\\Users\\u" + std::to_string(100 + i);
    m.profile("S-1-5-21-1-2-3-" + std::to_string(1000 + i), dir);
    m.folders({dir + "\\Documents", dir + "\\Desktop", dir + "\\Pictures"});
  }
  const auto folders = m.scan();
  ASSERT_EQ(folders.size(), kMaxWatchedFolders);
  EXPECT_EQ(folders.front(), "C:\\Users\\u100\\Documents");
  EXPECT_EQ(folders.back(), "C:\\Users\\u163\\Pictures");
}

}  // namespace
}  // namespace tarnwick
