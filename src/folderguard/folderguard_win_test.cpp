#include "folderguard/folderguard_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "fileio/fileio.h"
#include "testsupport/temp_dir.h"

namespace tarnwick {
namespace {

TEST(WindowsFolderSecurity, EntriesAreReadWithoutFollowingAnything) {
  testing::TempDir dir;
  WindowsFolderSecurity security;
  ASSERT_TRUE(write_file(dir / "file.txt", "x"));
  EXPECT_EQ(security.entry(dir.path()), FolderEntry::Directory);
  EXPECT_EQ(security.entry(dir / "file.txt"), FolderEntry::File);
  EXPECT_EQ(security.entry(dir / "missing"), FolderEntry::Missing);
  EXPECT_EQ(security.entry(dir / "missing" / "deeper"), FolderEntry::Missing);
}

// What Wine can show: the calls succeed on folders, are refused on anything
// else, and the engine can still write and read its files afterwards. Wine
// keeps no owner or DACL of its own on files, so the security itself can
// only be read back on Windows.
TEST(WindowsFolderSecurity, PreparedFoldersStayUsable) {
  testing::TempDir dir;
  WindowsFolderSecurity security;
  const GuardedFolder folder{dir.path(), {"Tarnwick", "quarantine"}};
  ASSERT_EQ(prepare_folder(security, folder, true), FolderResult::Ready);
  EXPECT_EQ(security.entry(folder.path()), FolderEntry::Directory);
  ASSERT_TRUE(write_file(folder.path() / "a.json", "{}"));
  EXPECT_EQ(read_file(folder.path() / "a.json").bytes, "{}");
  // Prepared again (the next start): the same folder, still usable.
  ASSERT_EQ(prepare_folder(security, folder, true), FolderResult::Ready);
  ASSERT_TRUE(append_file(folder.path() / "a.json", "\n"));
  EXPECT_EQ(read_file(folder.path() / "a.json").bytes, "{}\n");

  EXPECT_TRUE(security.protect_folder(folder.path()));
  EXPECT_FALSE(security.protect_folder(folder.path() / "a.json"));
  EXPECT_FALSE(security.protect_folder(dir / "missing"));
}

TEST(WindowsFolderSecurity, OnlyPlainSingleLinkFilesAreAdopted) {
  testing::TempDir dir;
  WindowsFolderSecurity security;
  ASSERT_TRUE(write_file(dir / "plain.json", "{}"));
  ASSERT_TRUE(write_file(dir / "linked.json", "{}"));
  ASSERT_TRUE(
      CreateHardLinkW((dir / "other-name.json").c_str(), (dir / "linked.json").c_str(), nullptr));
  ASSERT_TRUE(make_directories(dir / "sub"));

  auto files = security.files_in(dir.path());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::filesystem::path>{dir / "linked.json", dir / "other-name.json",
                                                       dir / "plain.json"}));
  EXPECT_TRUE(security.adopt_file(dir / "plain.json", false));
  EXPECT_EQ(read_file(dir / "plain.json").bytes, "{}");
  EXPECT_TRUE(security.adopt_file(dir / "plain.json", true));
  EXPECT_FALSE(security.adopt_file(dir / "linked.json", false));
  EXPECT_FALSE(security.adopt_file(dir / "sub", true));
  EXPECT_FALSE(security.adopt_file(dir / "missing.json", false));
}

}  // namespace
}  // namespace tarnwick
