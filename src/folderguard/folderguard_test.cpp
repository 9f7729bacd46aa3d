#include "folderguard/folderguard.h"

#include <gtest/gtest.h>

#include "folderguard/folderguard_fake.h"

namespace tarnwick {
namespace {

using testing::FakeFolderSecurity;
constexpr auto D = FolderEntry::Directory;
constexpr auto F = FolderEntry::File;
constexpr auto R = FolderEntry::ReparsePoint;

const GuardedFolder kQuarantine{"/pd", {"Tarnwick", "quarantine"}};

TEST(PrepareFolder, WhatIsCreatedProtectedOrRefused) {
  struct Case {
    const char* name;
    bool elevated;
    std::map<std::string, FolderEntry> entries;
    FolderResult result;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"fresh, unelevated: created, permissions left alone",
       false,
       {{"/pd", D}},
       FolderResult::Ready,
       {"create /pd/Tarnwick", "create /pd/Tarnwick/quarantine"}},
      {"fresh, elevated: created and protected",
       true,
       {{"/pd", D}},
       FolderResult::Ready,
       {"create /pd/Tarnwick", "protect /pd/Tarnwick", "create /pd/Tarnwick/quarantine",
        "protect /pd/Tarnwick/quarantine"}},
      {"existing, elevated: protected whoever owned it",
       true,
       {{"/pd", D}, {"/pd/Tarnwick", D}, {"/pd/Tarnwick/quarantine", D}},
       FolderResult::Ready,
       {"protect /pd/Tarnwick", "protect /pd/Tarnwick/quarantine"}},
      {"existing, unelevated: nothing to do",
       false,
       {{"/pd", D}, {"/pd/Tarnwick", D}, {"/pd/Tarnwick/quarantine", D}},
       FolderResult::Ready,
       {}},
      {"the folder is a reparse point",
       true,
       {{"/pd", D}, {"/pd/Tarnwick", D}, {"/pd/Tarnwick/quarantine", R}},
       FolderResult::ReparsePoint,
       {"protect /pd/Tarnwick"}},
      {"a level above it is a reparse point",
       true,
       {{"/pd", D}, {"/pd/Tarnwick", R}},
       FolderResult::ReparsePoint,
       {}},
      {"unelevated runs refuse reparse points too",
       false,
       {{"/pd", D}, {"/pd/Tarnwick", R}},
       FolderResult::ReparsePoint,
       {}},
      {"a file in the way", false, {{"/pd", D}, {"/pd/Tarnwick", F}}, FolderResult::Failed, {}},
      {"a missing root is created, not protected",
       true,
       {},
       FolderResult::Ready,
       {"create /pd", "create /pd/Tarnwick", "protect /pd/Tarnwick",
        "create /pd/Tarnwick/quarantine", "protect /pd/Tarnwick/quarantine"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFolderSecurity fs;
    fs.is_elevated = c.elevated;
    fs.entries = c.entries;
    EXPECT_EQ(prepare_folder(fs, kQuarantine, false), c.result);
    EXPECT_EQ(fs.calls, c.calls);
  }
}

TEST(PrepareFolder, FailuresAndARaceWithAPlantedReparsePoint) {
  FakeFolderSecurity cannot_create;
  cannot_create.entries = {{"/pd", D}};
  cannot_create.create_ok = false;
  EXPECT_EQ(prepare_folder(cannot_create, kQuarantine, false), FolderResult::Failed);

  FakeFolderSecurity cannot_protect;
  cannot_protect.is_elevated = true;
  cannot_protect.protect_ok = false;
  cannot_protect.entries = {{"/pd", D}, {"/pd/Tarnwick", D}};
  EXPECT_EQ(prepare_folder(cannot_protect, kQuarantine, false), FolderResult::Failed);
  EXPECT_EQ(cannot_protect.calls, (std::vector<std::string>{"protect /pd/Tarnwick"}));

  // Created by us, replaced by a junction before it could be looked at.
  FakeFolderSecurity raced;
  raced.is_elevated = true;
  raced.entries = {{"/pd", D}};
  raced.planted_on_create = {"/pd/Tarnwick"};
  EXPECT_EQ(prepare_folder(raced, kQuarantine, false), FolderResult::ReparsePoint);
  EXPECT_EQ(raced.calls, (std::vector<std::string>{"create /pd/Tarnwick"}));
}

TEST(PrepareFolder, FilesAlreadyThereAreAdoptedOnlyWhenElevated) {
  const GuardedFolder data{"/pd", {"Tarnwick"}};
  for (bool elevated : {false, true}) {
    SCOPED_TRACE(elevated);
    FakeFolderSecurity fs;
    fs.is_elevated = elevated;
    fs.entries = {{"/pd", D},
                  {"/pd/Tarnwick", D},
                  {"/pd/Tarnwick/Tarnwick.config.json", F},
                  {"/pd/Tarnwick/Tarnwick.lock", F},
                  {"/pd/Tarnwick/planted-link", F},
                  {"/pd/Tarnwick/quarantine", D}};
    fs.unadoptable = {"/pd/Tarnwick/planted-link"};
    // A file that cannot be adopted does not stop the folder from being used.
    EXPECT_EQ(prepare_folder(fs, data, true), FolderResult::Ready);
    if (elevated) {
      EXPECT_EQ(fs.calls, (std::vector<std::string>{"protect /pd/Tarnwick",
                                                    "adopt /pd/Tarnwick/Tarnwick.config.json",
                                                    "adopt engine-only /pd/Tarnwick/Tarnwick.lock",
                                                    "adopt /pd/Tarnwick/planted-link"}));
    } else {
      EXPECT_TRUE(fs.calls.empty());
    }
  }
}

}  // namespace
}  // namespace tarnwick
