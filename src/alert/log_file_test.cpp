#include "alert/log_file.h"

#include <gtest/gtest.h>

#include <set>

#include "fileio/fileio.h"
#include "testsupport/temp_dir.h"

namespace tarnwick {
namespace {

// Two-byte lines and room for two of them per file.
constexpr uint64_t kTwoLines = 4;

// The system's operations, except that the names in `failing` cannot be
// moved or removed, as when another program holds them without delete sharing.
struct HeldFiles {
  std::set<std::string> failing;
  RotationOps ops() {
    RotationOps real = system_rotation_ops();
    return {
        .exists = real.exists,
        .remove = [this, real](const std::filesystem::path& p) {
          return !failing.count(p.filename().string()) && real.remove(p);
        },
        .rename = [this, real](const std::filesystem::path& from, const std::filesystem::path& to) {
          return !failing.count(from.filename().string()) && real.rename(from, to);
        },
    };
  }
};

class RotatingLog : public ::testing::Test {
 protected:
  void open(int old_files) { log_.emplace(path_, LogLimits{kTwoLines, old_files}, held_.ops()); }
  void write(std::string_view chars) {
    for (char c : chars) ASSERT_TRUE(log_->append(std::string(1, c) + "\n"));
  }
  // The lines of "{log}.{n}", "" for the current file, "-" for a missing one.
  std::string file(int n) const {
    const ReadResult r = read_file(n == 0 ? path_ : old_log_path(path_, n));
    if (r.status == ReadStatus::NotFound) return "-";
    std::string chars;
    for (char c : r.bytes) {
      if (c != '\n') chars += c;
    }
    return chars;
  }

  testing::TempDir dir_;
  std::filesystem::path path_ = dir_ / "Tarnwick.log.jsonl";
  HeldFiles held_;
  std::optional<FileAlertLog> log_;
};

TEST_F(RotatingLog, OldFilesMoveUpAndOnlyTheKeptNumberStays) {
  open(3);
  write("abcdefghij");
  EXPECT_EQ(file(0), "ij");
  EXPECT_EQ(file(1), "gh");
  EXPECT_EQ(file(2), "ef");
  EXPECT_EQ(file(3), "cd");
  EXPECT_EQ(file(4), "-");
}

TEST_F(RotatingLog, ALineLargerThanTheLimitStillGoesInWhole) {
  open(2);
  const std::string big(10, 'x');
  ASSERT_TRUE(log_->append(big + "\n"));
  ASSERT_TRUE(log_->append("y\n"));
  EXPECT_EQ(file(1), big);
  EXPECT_EQ(file(0), "y");
}

TEST_F(RotatingLog, AHeldLogKeepsItsLinesAndRotatesOnALaterLine) {
  open(8);
  write("ab");
  held_.failing = {"Tarnwick.log.jsonl"};
  write("cd");
  EXPECT_EQ(file(0), "abcd");
  EXPECT_EQ(file(1), "-");
  held_.failing.clear();
  write("e");
  EXPECT_EQ(file(1), "abcd");
  EXPECT_EQ(file(0), "e");
}

// The newer files moved before the held one failed: the gap it leaves is
// filled by the next rotation, and nothing is lost or reordered.
TEST_F(RotatingLog, AHeldOldFileLeavesAGapThatTheNextRotationFills) {
  open(3);
  write("abcdef");
  ASSERT_EQ(file(2), "ab");
  ASSERT_EQ(file(1), "cd");
  held_.failing = {"Tarnwick.log.jsonl.1"};
  write("g");
  EXPECT_EQ(file(3), "ab");
  EXPECT_EQ(file(2), "-");
  EXPECT_EQ(file(1), "cd");
  EXPECT_EQ(file(0), "efg");
  write("h");
  EXPECT_EQ(file(0), "efgh");
  held_.failing.clear();
  write("i");
  EXPECT_EQ(file(3), "ab");
  EXPECT_EQ(file(2), "cd");
  EXPECT_EQ(file(1), "efgh");
  EXPECT_EQ(file(0), "i");
}

TEST_F(RotatingLog, AnOldestFileThatCannotBeRemovedStopsTheRotation) {
  open(2);
  write("abcdef");
  held_.failing = {"Tarnwick.log.jsonl.2"};
  write("g");
  EXPECT_EQ(file(2), "ab");
  EXPECT_EQ(file(1), "cd");
  EXPECT_EQ(file(0), "efg");
  held_.failing.clear();
  write("h");
  EXPECT_EQ(file(2), "cd");
  EXPECT_EQ(file(1), "efg");
  EXPECT_EQ(file(0), "h");
}

}  // namespace
}  // namespace tarnwick
