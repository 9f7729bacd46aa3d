#include "files/files_win.h"

#include <gtest/gtest.h>

#include <set>

#include "fileio/fileio.h"
#include "files/records.h"
#include "testsupport/temp_dir.h"
#include "win/wide_win.h"

namespace tarnwick {
namespace {

using std::chrono::milliseconds;

void write_file(const std::filesystem::path& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(f, "data", 4, &written, nullptr);
  CloseHandle(f);
}

class Names final : public ChangeSink {
 public:
  std::set<std::string> names;
  void on_change(std::string_view name) override { names.emplace(name); }
};

TEST(WindowsDirectoryWatch, ReportsChangesInTheWholeSubtreeByRelativeName) {
  testing::TempDir dir;
  WindowsDirectoryWatcher watcher;
  auto watch = watcher.open(path_to_utf8(dir.path()));
  ASSERT_TRUE(watch);

  ASSERT_TRUE(watch->request());
  EXPECT_EQ(watch->wait(milliseconds(50)).status, WaitStatus::Pending);
  write_file(dir / "a.txt");
  // Wine follows only sub-folders made while the watch runs; Windows also
  // those that existed before.
  std::filesystem::create_directories(dir / "sub" / "deep");
  write_file(dir / "sub" / "deep" / "b.LOCKED");

  Names sink;
  std::string scratch;
  const auto deadline = GetTickCount64() + 10000;
  while (GetTickCount64() < deadline &&
         !(sink.names.count("a.txt") && sink.names.count("sub\\deep\\b.LOCKED"))) {
    const WaitResult r = watch->wait(milliseconds(200));
    if (r.status == WaitStatus::Pending) continue;
    ASSERT_EQ(r.status, WaitStatus::Completed);
    walk_change_records(watch->buffer(), r.bytes, scratch, sink);
    ASSERT_TRUE(watch->request());
  }
  std::string seen;
  for (const auto& n : sink.names) seen += "[" + n + "]";
  EXPECT_TRUE(sink.names.count("a.txt")) << seen;
  EXPECT_TRUE(sink.names.count("sub\\deep\\b.LOCKED")) << seen;
  // Destroyed with a read outstanding: cancelled and closed without waiting for a change.
  const auto before = GetTickCount64();
  watch.reset();
  EXPECT_LT(GetTickCount64() - before, 1000u);
}

TEST(WindowsDirectoryWatch, MissingFolderDoesNotOpenAndAFileCannotBeRead) {
  testing::TempDir dir;
  WindowsDirectoryWatcher watcher;
  EXPECT_FALSE(watcher.open(path_to_utf8(dir / "missing")));
  EXPECT_FALSE(watcher.open(path_to_utf8(dir.path()) + std::string("\0x", 2)));
  write_file(dir / "plain.txt");
  auto watch = watcher.open(path_to_utf8(dir / "plain.txt"));
  ASSERT_TRUE(watch);  // opening a file for listing succeeds; reading its changes does not
  EXPECT_FALSE(watch->request());

  EXPECT_TRUE(path_exists(path_to_utf8(dir.path())));
  EXPECT_TRUE(path_exists(path_to_utf8(dir / "plain.txt")));
  EXPECT_FALSE(path_exists(path_to_utf8(dir / "missing")));
  EXPECT_FALSE(path_exists(""));
}

TEST(WindowsWriteCounter, ReadsLiveProcessesOnly) {
  WindowsWriteCounter counter;
  // Wine reports every counter as 0, so only the presence of a value is checked.
  EXPECT_TRUE(counter.bytes_written(GetCurrentProcessId()));
  EXPECT_FALSE(counter.bytes_written(0));
  EXPECT_FALSE(counter.bytes_written(0xFFFFFFF0));
}

}  // namespace
}  // namespace tarnwick
