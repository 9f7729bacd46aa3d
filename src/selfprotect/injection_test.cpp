#include "selfprotect/injection.h"

#include <gtest/gtest.h>

#include "procmeta/procmeta_fake.h"
#include "selfprotect/memory_fake.h"
#include "testsupport/alert_collector.h"
#include "text/text.h"

namespace tarnwick {
namespace {

using testing::AlertCollector;
using testing::FakeProcessMemory;
using testing::FakeProcessQuery;
using testing::FakeProcessTable;
using testing::FakeSignatureCheck;
using testing::rwx_region;

constexpr uint32_t kPageExecuteWriteCopy = 0x80;
constexpr uint32_t kPageGuard = 0x100;
constexpr uint32_t kMemImage = 0x1000000;
constexpr uint32_t kMemMapped = 0x40000;
constexpr uint32_t kMemReserve = 0x2000;

// Regions laid end to end from 0; a query past the last one fails.
std::vector<MemoryRegion> walked(const std::vector<MemoryRegion>& space) {
  std::vector<MemoryRegion> seen;
  walk_address_space(
      [&](uint64_t address) -> std::optional<MemoryRegion> {
        for (const MemoryRegion& r : space) {
          if (address >= r.base && (address - r.base < r.size || r.size == 0)) return r;
        }
        return std::nullopt;
      },
      [&](const MemoryRegion& r) { seen.push_back(r); });
  return seen;
}

TEST(AddressSpaceWalk, EndsAtAFailedQueryAnEmptyRegionOrTheTop) {
  // Until the query fails.
  EXPECT_EQ(walked({{0, 0x1000}, {0x1000, 0x3000}, {0x4000, 0x1000}}).size(), 3u);
  // An empty region does not move the address up.
  EXPECT_EQ(walked({{0, 0x1000}, {0x1000, 0}, {0x1000, 0x1000}}).size(), 2u);
  // The last region reaches the top of the address space: the next address wraps to 0.
  EXPECT_EQ(walked({{0, 0x1000}, {0x1000, 0 - uint64_t{0x1000}}}).size(), 2u);
}

struct ScanFixture {
  FakeProcessTable table;
  FakeProcessMemory memory;
  FakeProcessQuery query;
  FakeSignatureCheck trust;
  InjectionScanState state;
  AlertCollector out;
  InjectionScanParts parts{table, memory, query, trust, state, 1000, out};

  // A process from a drop folder holding `regions`, in the next snapshots.
  void process(uint32_t pid, std::vector<MemoryRegion> regions,
               std::string path = "C:\\users\\Public\\rwx.exe") {
    memory.regions[pid] = std::move(regions);
    query.paths[pid] = std::move(path);
  }
  void scan(const ProcessSnapshot& snapshot) {
    table.script.push_back(snapshot);
    scan_for_injection(parts);
  }
  ProcessSnapshot snapshot_of_known() const {
    ProcessSnapshot s;
    for (const auto& [pid, path] : query.paths) s[pid] = std::string(file_name(path));
    return s;
  }
};

TEST(InjectionScan, CountsOnlyCommittedPrivateReadWriteExecuteMemoryAgainstTheThreshold) {
  struct Case {
    const char* name;
    std::vector<MemoryRegion> regions;
    bool reported;
  };
  const uint64_t page = 0x1000;
  const Case cases[] = {
      {"exactly 0x40000", {rwx_region(0x10000, 0x40000)}, true},
      {"one page less", {rwx_region(0x10000, 0x3F000)}, false},
      {"several regions adding up",
       {rwx_region(0x10000, 0x20000), rwx_region(0x80000, 0x20000)},
       true},
      {"guard page flag alongside",
       {{0x10000, 0x40000, kMemCommit, kMemPrivate, 0x40 | kPageGuard}},
       true},
      {"write-copy does not count",
       {rwx_region(0x10000, 0x3F000),
        {0x60000, page, kMemCommit, kMemPrivate, kPageExecuteWriteCopy}},
       false},
      {"image memory does not count",
       {rwx_region(0x10000, 0x3F000),
        {0x60000, page, kMemCommit, kMemImage, kPageExecuteReadWrite}},
       false},
      {"mapped memory does not count",
       {rwx_region(0x10000, 0x3F000),
        {0x60000, page, kMemCommit, kMemMapped, kPageExecuteReadWrite}},
       false},
      {"reserved memory does not count",
       {rwx_region(0x10000, 0x3F000),
        {0x60000, page, kMemReserve, kMemPrivate, kPageExecuteReadWrite}},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScanFixture f;
    f.process(500, c.regions);
    f.scan(f.snapshot_of_known());
    EXPECT_EQ(f.out.alerts.size(), c.reported ? 1u : 0u);
  }
}

TEST(InjectionScan, ReportsAnUnsignedProgramFromADropFolderOnly) {
  struct Case {
    const char* name;
    std::string path;
    bool is_signed;
    bool reported;
  };
  const Case cases[] = {
      {"public folder, any case", "C:\\Users\\PUBLIC\\rwx.exe", false, true},
      {"user temp", "C:\\Users\\bob\\AppData\\Local\\Temp\\x\\a.exe", false, true},
      {"windows temp", "C:\\Windows\\Temp\\a.exe", false, true},
      {"downloads", "D:\\Users\\bob\\Downloads\\a.exe", false, true},
      {"recycle bin", "C:\\$Recycle.Bin\\S-1-5\\a.exe", false, true},
      {"program files", "C:\\Program Files\\App\\app.exe", false, false},
      {"a folder merely named like one", "C:\\Users\\bob\\MyDownloads\\a.exe", false, false},
      {"signed", "C:\\Users\\Public\\rwx.exe", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScanFixture f;
    f.process(500, {rwx_region(0x10000, 0x40000)}, c.path);
    if (c.is_signed) f.trust.signed_paths.insert(c.path);
    f.scan(f.snapshot_of_known());
    EXPECT_EQ(f.out.alerts.size(), c.reported ? 1u : 0u);
  }

  // Without an image path nothing is reported, and the signature is never checked.
  ScanFixture f;
  f.memory.regions[500] = {rwx_region(0x10000, 0x40000)};
  f.scan({{500, "rwx.exe"}});
  EXPECT_TRUE(f.out.alerts.empty());
  EXPECT_TRUE(f.trust.checked.empty());
}

TEST(InjectionScan, OnlyProcessesRunningFromADropFolderHaveTheirMemoryWalked) {
  ScanFixture f;
  const std::vector<MemoryRegion> lots = {rwx_region(0x10000, 0x100000)};
  f.process(500, lots, "C:\\Program Files\\Browser\\browser.exe");
  f.process(510, lots, "C:\\Windows\\System32\\svchost.exe");
  f.process(520, lots, "C:\\Users\\bob\\Downloads\\tool.exe");
  f.process(530, lots, "C:\\Users\\bob\\AppData\\Local\\Temp\\x.exe");
  f.memory.regions[540] = lots;  // its path cannot be read
  ProcessSnapshot snapshot = f.snapshot_of_known();
  snapshot[540] = "hidden.exe";
  for (int i = 0; i < 3; ++i) f.scan(snapshot);

  EXPECT_EQ(f.memory.walked, (std::vector<uint32_t>{520, 530}));
  // Reading a creation time opens the process too.
  EXPECT_EQ(f.memory.asked_created, (std::vector<uint32_t>{520, 530, 520, 530, 520, 530}));
  EXPECT_EQ(f.out.alerts.size(), 2u);
  EXPECT_EQ(f.trust.checked.size(), 2u);
}

TEST(InjectionScan, AlertNamesTheProcessItsMemoryAndPath) {
  ScanFixture f;
  f.process(4242, {rwx_region(0x10000, 0x40000), rwx_region(0x90000, 0x1800)});
  f.scan(f.snapshot_of_known());
  ASSERT_EQ(f.out.alerts.size(), 1u);
  const Alert& a = f.out.alerts[0];
  EXPECT_EQ(a.source, AlertSource::Process);
  EXPECT_EQ(a.severity, Severity::High);
  EXPECT_EQ(a.title, "Possible code injection (RWX memory)");
  EXPECT_EQ(a.pid, 4242u);
  EXPECT_EQ(a.dedup_key, "inject:4242");
  EXPECT_EQ(
      a.detail,
      "rwx.exe (pid 4242) \u2014 an UNSIGNED binary running from a malware drop folder \u2014 "
      "holds 262 KB of private executable-writable memory, the hallmark of code injection / "
      "hollowing / fileless malware.\nPath: C:\\users\\Public\\rwx.exe\n\n"
      "MITRE ATT&CK: T1055 (Process Injection)  \u00b7  CVSS 8.4 (High)");
}

TEST(InjectionScan, AReportedPidIsNeverExaminedAgain) {
  ScanFixture f;
  f.process(500, {rwx_region(0x10000, 0x40000)});
  f.process(600, {});
  f.scan(f.snapshot_of_known());
  f.scan(f.snapshot_of_known());
  EXPECT_EQ(f.out.alerts.size(), 1u);
  EXPECT_EQ(f.memory.walked, (std::vector<uint32_t>{500, 600, 600}));
}

// A pid is one process only with its creation time: when the system hands
// the pid to a new process, that process is examined (and reported) again.
// A pid that has left the process list is forgotten.
TEST(InjectionScan, AReusedPidWithANewCreationTimeIsExaminedAgain) {
  ScanFixture f;
  f.process(500, {rwx_region(0x10000, 0x40000)});
  f.memory.created[500] = 111;
  f.scan(f.snapshot_of_known());
  f.scan(f.snapshot_of_known());  // the same process: not again
  f.memory.created[500] = 222;    // it ended; a new process got its pid
  f.scan(f.snapshot_of_known());
  EXPECT_EQ(f.out.alerts.size(), 2u);
  EXPECT_EQ(f.memory.walked, (std::vector<uint32_t>{500, 500}));

  f.scan({{600, "other.exe"}});  // 500 has gone
  f.scan(f.snapshot_of_known());  // so even the same creation time is news
  EXPECT_EQ(f.out.alerts.size(), 3u);
}

TEST(InjectionScan, SkipsTheSystemPidsItselfAndProcessesItCannotOpen) {
  ScanFixture f;
  for (uint32_t pid : {0u, 4u, 1000u}) f.process(pid, {rwx_region(0x10000, 0x40000)});
  f.query.paths[700] = "C:\\users\\Public\\closed.exe";  // no memory: cannot be opened
  f.scan(f.snapshot_of_known());
  EXPECT_TRUE(f.out.alerts.empty());
  EXPECT_EQ(f.memory.walked, std::vector<uint32_t>{700});
}

TEST(InjectionScan, TheCursorWalksTheSortedPidList25AtATime) {
  ScanFixture f;
  ProcessSnapshot snapshot;
  for (uint32_t pid = 8; pid < 8 + 60 * 4; pid += 4) {
    snapshot[pid] = "p.exe";
    f.query.paths[pid] = "C:\\Users\\Public\\p.exe";
  }
  std::vector<uint32_t> all;
  for (const auto& [pid, name] : snapshot) all.push_back(pid);

  f.scan(snapshot);
  f.scan(snapshot);
  f.scan(snapshot);  // the last 10, then the first 15 again
  std::vector<uint32_t> expected(all.begin(), all.end());
  expected.insert(expected.end(), all.begin(), all.begin() + 15);
  EXPECT_EQ(f.memory.walked, expected);

  // With fewer than 25 processes each is examined once per scan, from where the cursor points.
  ScanFixture small;
  for (uint32_t pid : {8u, 12u, 16u}) small.query.paths[pid] = "C:\\Windows\\Temp\\p.exe";
  small.state.advance();  // cursor 25
  small.scan({{8, "a"}, {12, "b"}, {16, "c"}});
  EXPECT_EQ(small.memory.walked, (std::vector<uint32_t>{12, 16, 8}));  // 25 % 3 = 1
}

}  // namespace
}  // namespace tarnwick
