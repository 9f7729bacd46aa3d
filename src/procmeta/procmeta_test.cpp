#include <gtest/gtest.h>

#include "procmeta/procmeta.h"
#include "procmeta/procmeta_fake.h"

namespace tarnwick {
namespace {

TEST(ProcessName, FileNameOfTheImagePathInItsOwnCase) {
  testing::FakeProcessQuery query;
  query.paths[4000] = "C:\\Windows\\System32\\CMD.EXE";
  EXPECT_EQ(process_name(query, 4000), "CMD.EXE");
  EXPECT_FALSE(process_name(query, 4004));
  EXPECT_FALSE(process_name(query, 0));
}

TEST(Win32OpenablePath, DevicePathsGoThroughTheGlobalRoot) {
  EXPECT_EQ(win32_openable_path("\\Device\\HarddiskVolume3\\Users\\Public\\x.scr"),
            "\\\\?\\GLOBALROOT\\Device\\HarddiskVolume3\\Users\\Public\\x.scr");
  EXPECT_EQ(win32_openable_path("C:\\Users\\Public\\x.scr"), "C:\\Users\\Public\\x.scr");
  EXPECT_EQ(win32_openable_path("x.scr"), "x.scr");
  EXPECT_EQ(win32_openable_path("\\Device\\"), "\\Device\\");
}

}  // namespace
}  // namespace tarnwick
