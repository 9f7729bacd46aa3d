#include "selfprotect/memory_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "testsupport/win_test_support.h"

namespace tarnwick {
namespace {

std::vector<MemoryRegion> regions_of(uint32_t pid) {
  std::vector<MemoryRegion> regions;
  WindowsProcessMemory memory;
  EXPECT_TRUE(memory.walk(pid, [&](const MemoryRegion& r) { regions.push_back(r); }));
  return regions;
}

uint64_t rwx_total(const std::vector<MemoryRegion>& regions) {
  uint64_t total = 0;
  for (const MemoryRegion& r : regions) {
    if (counts_as_rwx(r)) total += r.size;
  }
  return total;
}

// Waits until the child's ready file exists.
bool await_file(const std::wstring& path) {
  for (int i = 0; i < 100; ++i, Sleep(100)) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  }
  return false;
}

TEST(WindowsProcessMemory, SeesAnotherProcesssReadWriteExecuteRegionExactly) {
  const std::wstring ready = (testing::build_dir() / L"rwx-walk.ready").wstring();
  DeleteFileW(ready.c_str());
  testing::Child child(testing::e2e_program(L"rwx.exe"), L"0x40000 \"" + ready + L"\"");
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(await_file(ready));
  DeleteFileW(ready.c_str());

  const std::vector<MemoryRegion> regions = regions_of(child.pid());
  ASSERT_FALSE(regions.empty());
  EXPECT_EQ(regions.front().base, 0u);
  // The region the program allocated, and nothing else of its kind.
  EXPECT_EQ(rwx_total(regions), 0x40000u);
  bool found = false;
  for (const MemoryRegion& r : regions) {
    if (r.size == 0x40000 && counts_as_rwx(r)) {
      found = true;
      EXPECT_EQ(r.state, 0x1000u);
      EXPECT_EQ(r.type, 0x20000u);
      EXPECT_EQ(r.protect, 0x40u);
    }
  }
  EXPECT_TRUE(found);
  // The walk reaches the top of the user address space in ascending order.
  for (size_t i = 1; i < regions.size(); ++i) EXPECT_GT(regions[i].base, regions[i - 1].base);
  EXPECT_GT(regions.back().base + regions.back().size, uint64_t{1} << 40);
}

TEST(WindowsProcessMemory, AProcessThatIsGoneCannotBeWalked) {
  WindowsProcessMemory memory;
  int visited = 0;
  EXPECT_FALSE(memory.walk(0x7FFFFFF0, [&](const MemoryRegion&) { ++visited; }));
  EXPECT_EQ(visited, 0);
  EXPECT_FALSE(memory.creation_time(0x7FFFFFF0));
}

// The creation time is the one the system gives the process's own handle,
// the same at every reading, and later for a process started later.
TEST(WindowsProcessMemory, CreationTimeNamesOneProcess) {
  WindowsProcessMemory memory;
  testing::Child first(testing::e2e_program(L"spin.exe"));
  ASSERT_TRUE(first.started());
  Sleep(50);  // past the clock's resolution
  testing::Child second(testing::e2e_program(L"spin.exe"));
  ASSERT_TRUE(second.started());

  FILETIME created{}, exited{}, kernel{}, user{};
  ASSERT_TRUE(GetProcessTimes(first.handle(), &created, &exited, &kernel, &user));
  const uint64_t expected = uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime;
  EXPECT_EQ(memory.creation_time(first.pid()), expected);
  EXPECT_EQ(memory.creation_time(first.pid()), expected);
  const std::optional<uint64_t> later = memory.creation_time(second.pid());
  ASSERT_TRUE(later);
  EXPECT_GT(*later, expected);
}

}  // namespace
}  // namespace tarnwick
