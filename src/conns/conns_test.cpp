#include "conns/conns.h"

#include <gtest/gtest.h>

#include "fileio/fileio.h"
#include "procmeta/procmeta_fake.h"
#include "tcptable/tcptable_fake.h"
#include "testsupport/temp_dir.h"

namespace tarnwick {
namespace {

using testing::ipv4;

TEST(ConnsSnapshot, StateNames) {
  const char* names[] = {"?",           "CLOSED",    "LISTEN",     "SYN_SENT",   "SYN_RCVD",
                         "ESTABLISHED", "FIN_WAIT1", "FIN_WAIT2",  "CLOSE_WAIT", "CLOSING",
                         "LAST_ACK",    "TIME_WAIT", "DELETE_TCB", "?"};
  for (uint32_t s = 0; s < std::size(names); ++s) EXPECT_EQ(tcp_state_name(s), names[s]) << s;
  EXPECT_EQ(tcp_state_name(0xFFFFFFFFu), "?");
}

TEST(ConnsSnapshot, Flags) {
  struct Case {
    const char* image;
    uint32_t state;
    const char* flag;
  };
  const Case cases[] = {
      {"ngrok.exe", 2, "tunnel"},   {"wstunnel.exe", 11, "tunnel"}, {"ssh.exe", 5, "ok"},
      {"tunnel.exe", 5, "ok"},      {"cmd.exe", 11, "ok"},          {"cmd.exe", 5, "shell"},
      {"regsvr32.exe", 5, "shell"}, {"powershell.exe", 2, "ok"},    {"?", 5, "ok"},
      {"chrome.exe", 5, "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.image) + " " + std::to_string(c.state));
    EXPECT_EQ(connection_flag(c.image, c.state), c.flag);
  }
}

TcpRow row(uint32_t pid, uint32_t state, uint16_t local_port) {
  return TcpRow{state, ipv4(10, 0, 0, 2), local_port, ipv4(198, 51, 100, 9), 443, pid};
}

TEST(ConnsSnapshot, FlaggedFirstThenByImageKeepingTableOrder) {
  testing::FakeProcessQuery query;
  query.paths = {
      {10, "C:\\b\\zeta.exe"},  {11, "C:\\b\\Alpha.exe"}, {12, "C:\\Windows\\System32\\CMD.EXE"},
      {13, "C:\\t\\ngrok.exe"}, {14, "C:\\b\\alpha.exe"}, {15, "C:\\b\\\u00e9t\u00e9.exe"}};
  const std::vector<TcpRow> rows = {
      row(10, 5, 1), row(0, 11, 2), row(11, 5, 3), row(12, 5, 4), row(13, 2, 5),
      row(14, 5, 6), row(10, 5, 7), row(15, 5, 8), row(0, 11, 9), row(12, 11, 10),
  };
  const std::vector<ConnEntry> entries = snapshot_entries(rows, query);
  std::vector<std::string> order;
  for (const ConnEntry& e : entries) {
    order.push_back(e.image + "/" + std::string(e.flag) + "/" + std::to_string(e.local_port));
  }
  EXPECT_EQ(order, (std::vector<std::string>{
                       "CMD.EXE/shell/4", "ngrok.exe/tunnel/5",  // upper case sorts first
                       "?/ok/2", "?/ok/9", "Alpha.exe/ok/3", "CMD.EXE/ok/10", "alpha.exe/ok/6",
                       "zeta.exe/ok/1", "zeta.exe/ok/7", "\u00e9t\u00e9.exe/ok/8"}));
}

TEST(ConnsSnapshot, CompactDocumentWithKeysInOrder) {
  std::vector<ConnEntry> entries(2);
  entries[0] = {4242, "say \"hi\".exe", ipv4(127, 0, 0, 1), 8080, 0, 0, "LISTEN", "ok"};
  entries[1] = {0, "?", ipv4(192, 168, 1, 20), 50123, ipv4(203, 0, 113, 7), 443, "TIME_WAIT", "ok"};
  EXPECT_EQ(serialise_conns(1700000000, entries),
            R"({"ts_unix":1700000000,"count":2,"conns":[)"
            R"({"pid":4242,"image":"say \"hi\".exe","local_addr":"127.0.0.1","local_port":8080,)"
            R"("remote_addr":"0.0.0.0","remote_port":0,"state":"LISTEN","flag":"ok"},)"
            R"({"pid":0,"image":"?","local_addr":"192.168.1.20","local_port":50123,)"
            R"("remote_addr":"203.0.113.7","remote_port":443,"state":"TIME_WAIT","flag":"ok"}]})");
  EXPECT_EQ(serialise_conns(0, {}), R"({"ts_unix":0,"count":0,"conns":[]})");
}

TEST(ConnsWriter, RewritesTheFileEachPassWithGameModeWaits) {
  testing::TempDir dir;
  testing::FakeTcpTable table;
  table.script = {std::vector<TcpRow>{TcpRow{2, ipv4(127, 0, 0, 1), 8080, 0, 0, 0}}, std::nullopt};
  testing::FakeProcessQuery query;
  EngineFlags flags;
  std::vector<std::string> files;
  std::vector<long long> waits;
  const auto path = dir / "Tarnwick.conns.json";
  uint64_t clock = 1700000000;
  ConnsWriterParts parts{path,
                         table,
                         query,
                         flags,
                         [&](std::chrono::milliseconds d) {
                           waits.push_back(d.count());
                           files.push_back(read_file(path).bytes);
                           flags.game_mode_active = waits.size() == 1;
                           return waits.size() < 3;
                         },
                         [&] { return clock++; }};
  run_conns_writer(parts);
  EXPECT_EQ(waits, (std::vector<long long>{3000, 10000, 3000}));
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(
      files[0],
      R"({"ts_unix":1700000000,"count":1,"conns":[{"pid":0,"image":"?","local_addr":"127.0.0.1",)"
      R"("local_port":8080,"remote_addr":"0.0.0.0","remote_port":0,"state":"LISTEN","flag":"ok"}]})");
  // A failed read writes an empty list.
  EXPECT_EQ(files[1], R"({"ts_unix":1700000001,"count":0,"conns":[]})");
  EXPECT_EQ(files[2], R"({"ts_unix":1700000002,"count":0,"conns":[]})");
  EXPECT_FALSE(std::filesystem::exists(staging_path(path)));
}

TEST(ConnsWriter, AFailedWriteKeepsThePreviousFile) {
  testing::TempDir dir;
  testing::FakeTcpTable table;
  testing::FakeProcessQuery query;
  EngineFlags flags;
  const auto path = dir / "Tarnwick.conns.json";
  ASSERT_TRUE(write_file(path, "previous"));
  // The staging name is taken by a folder, so the new file cannot be written.
  std::filesystem::create_directory(staging_path(path));
  ConnsWriterParts parts{path, table, query, flags, nullptr, [] { return uint64_t{1}; }};
  std::vector<TcpRow> rows;
  EXPECT_FALSE(write_conns_snapshot(parts, rows));
  EXPECT_EQ(read_file(path).bytes, "previous");
}

}  // namespace
}  // namespace tarnwick
