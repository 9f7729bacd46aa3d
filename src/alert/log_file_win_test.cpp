// The log writer against Windows' sharing rules: a follower that opened the
// log with delete sharing does not stop rotation and keeps reading its file;
// one that did not share delete keeps the log in place, and no line is lost.
#include <gtest/gtest.h>
#include <windows.h>

#include "alert/log_file.h"
#include "fileio/fileio.h"
#include "testsupport/temp_dir.h"
#include "win/handle_win.h"

namespace tarnwick {
namespace {

constexpr std::string_view kLine = "{\"title\":\"twenty bytes\"}\n";
constexpr LogLimits kThreeLines{3 * kLine.size(), 8};

win::FileHandle open_reader(const std::filesystem::path& path, DWORD share) {
  return win::FileHandle(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Everything the handle has not read yet.
std::string read_on(HANDLE file) {
  std::string out;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(file, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  return out;
}

std::string lines(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += kLine;
  return out;
}

TEST(LogFileSharing, AFollowerWithDeleteSharingKeepsReadingAcrossRotation) {
  testing::TempDir dir;
  const auto path = dir / "Tarnwick.log.jsonl";
  FileAlertLog log(path, kThreeLines);
  ASSERT_TRUE(log.append(kLine));
  win::FileHandle follower =
      open_reader(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  ASSERT_TRUE(follower.valid()) << GetLastError();
  EXPECT_EQ(read_on(follower.get()), lines(1));

  for (int i = 0; i < 4; ++i) ASSERT_TRUE(log.append(kLine));
  EXPECT_EQ(read_file(old_log_path(path, 1)).bytes, lines(3));
  EXPECT_EQ(read_file(path).bytes, lines(2));
  // The open handle followed its file to its new name and reads on there;
  // a follower by name (tail -F) finds the new file under the old one.
  EXPECT_EQ(read_on(follower.get()), lines(2));
  win::FileHandle by_name =
      open_reader(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  ASSERT_TRUE(by_name.valid());
  EXPECT_EQ(read_on(by_name.get()), lines(2));

  // With both handles still open, the next rotations go on.
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(log.append(kLine));
  EXPECT_EQ(read_file(old_log_path(path, 2)).bytes, lines(3));
  EXPECT_EQ(read_file(old_log_path(path, 1)).bytes, lines(3));
  EXPECT_EQ(read_file(path).bytes, lines(2));
}

TEST(LogFileSharing, AReaderWithoutDeleteSharingKeepsLinesInTheCurrentFile) {
  testing::TempDir dir;
  const auto path = dir / "Tarnwick.log.jsonl";
  FileAlertLog log(path, kThreeLines);
  ASSERT_TRUE(log.append(kLine));
  {
    win::FileHandle reader = open_reader(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(reader.valid()) << GetLastError();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(log.append(kLine));
    EXPECT_EQ(read_file(path).bytes, lines(6));
    EXPECT_EQ(read_file(old_log_path(path, 1)).status, ReadStatus::NotFound);
    EXPECT_EQ(read_on(reader.get()), lines(6));
  }
  // Released: the next line rotates everything written so far.
  ASSERT_TRUE(log.append(kLine));
  EXPECT_EQ(read_file(old_log_path(path, 1)).bytes, lines(6));
  EXPECT_EQ(read_file(path).bytes, lines(1));
}

TEST(LogFileSharing, AnOldFileHeldWithoutDeleteSharingIsNotReplaced) {
  testing::TempDir dir;
  const auto path = dir / "Tarnwick.log.jsonl";
  FileAlertLog log(path, LogLimits{3 * kLine.size(), 1});
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(log.append(kLine));
  ASSERT_EQ(read_file(old_log_path(path, 1)).bytes, lines(3));
  {
    win::FileHandle reader = open_reader(old_log_path(path, 1), FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(reader.valid());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(log.append(kLine));
    EXPECT_EQ(read_file(old_log_path(path, 1)).bytes, lines(3));
    EXPECT_EQ(read_file(path).bytes, lines(4));
  }
  ASSERT_TRUE(log.append(kLine));
  EXPECT_EQ(read_file(old_log_path(path, 1)).bytes, lines(4));
  EXPECT_EQ(read_file(path).bytes, lines(1));
}

}  // namespace
}  // namespace tarnwick
