#include "alert/log_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <thread>
#include <vector>

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
        .remove =
            [this, real](const std::filesystem::path& p) {
              return !failing.count(p.filename().string()) && real.remove(p);
            },
        .rename =
            [this, real](const std::filesystem::path& from, const std::filesystem::path& to) {
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

// Writers on several threads at once (the sink and whatever else logs): each
// line lands whole in exactly one file, in each writer's order, and no file
// passes the limit, because a rotation and an append never overlap.
TEST(FileAlertLog, ConcurrentWritersRotateWithoutLosingOrSplittingALine) {
  constexpr int kWriters = 8;
  constexpr int kLines = 400;
  auto line = [](int w, int i) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "{\"writer\":%d,\"line\":%04d}\n", w, i);
    return std::string(buf);
  };
  const uint64_t total = uint64_t{kWriters} * kLines * line(0, 0).size();
  // About eight and a half files' worth: all eight old files fill, none is dropped.
  const LogLimits limits{total * 2 / 17, kLogOldFiles};
  testing::TempDir dir;
  const auto path = dir / "Tarnwick.log.jsonl";
  FileAlertLog log(path, limits);
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kLines; ++i) ASSERT_TRUE(log.append(line(w, i)));
    });
  }
  for (auto& t : writers) t.join();

  ASSERT_FALSE(std::filesystem::exists(old_log_path(path, kLogOldFiles + 1)));
  std::string text;
  for (int n = kLogOldFiles; n >= 0; --n) {
    const ReadResult r = read_file(n == 0 ? path : old_log_path(path, n));
    ASSERT_EQ(r.status, ReadStatus::Ok) << n;
    EXPECT_LE(r.bytes.size(), limits.max_bytes) << n;
    text += r.bytes;
  }
  std::vector<int> next(kWriters, 0);
  size_t at = 0;
  while (at < text.size()) {
    int w = -1, i = -1;
    ASSERT_EQ(std::sscanf(text.c_str() + at, "{\"writer\":%d,\"line\":%d}", &w, &i), 2) << at;
    ASSERT_TRUE(w >= 0 && w < kWriters);
    ASSERT_EQ(text.substr(at, line(w, i).size()), line(w, i));
    EXPECT_EQ(i, next[w]) << "writer " << w;
    next[w] = i + 1;
    at += line(w, i).size();
  }
  EXPECT_EQ(next, std::vector<int>(kWriters, kLines));
}

}  // namespace
}  // namespace tarnwick
