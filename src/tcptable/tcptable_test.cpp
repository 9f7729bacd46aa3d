#include "tcptable/tcptable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tcptable/tcptable_fake.h"

namespace tarnwick {
namespace {

using testing::ipv4;

void put_le32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A raw row as the system lays it out: addresses and ports in network order,
// the port in the low half of its 32-bit field.
void put_row(std::vector<uint8_t>& b, const TcpRow& r) {
  put_le32(b, r.state);
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(r.local_addr >> s));
  b.insert(b.end(),
           {static_cast<uint8_t>(r.local_port >> 8), static_cast<uint8_t>(r.local_port), 0, 0});
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(r.remote_addr >> s));
  b.insert(b.end(),
           {static_cast<uint8_t>(r.remote_port >> 8), static_cast<uint8_t>(r.remote_port), 0, 0});
  put_le32(b, r.pid);
}

const TcpRow kListener{2, ipv4(127, 0, 0, 1), 8080, 0, 0, 0};
const TcpRow kOutbound{5, ipv4(192, 168, 1, 20), 50123, ipv4(203, 0, 113, 7), 443, 0x01020304};

std::vector<uint8_t> table_bytes(uint32_t count, const std::vector<TcpRow>& rows) {
  std::vector<uint8_t> b;
  put_le32(b, count);
  for (const TcpRow& r : rows) put_row(b, r);
  return b;
}

TEST(DecodeTcpTable, ReadsRowsInTableOrder) {
  const std::vector<uint8_t> raw = table_bytes(2, {kListener, kOutbound});
  ASSERT_EQ(raw.size(), 4 + 2 * kRawTcpRowSize);
  std::vector<TcpRow> rows{kListener};  // replaced, not appended to
  decode_tcp_table(raw, rows);
  EXPECT_EQ(rows, (std::vector<TcpRow>{kListener, kOutbound}));
}

// Each buffer is copied into an allocation of exactly its size, so that the
// sanitizer sees any read past its end.
TEST(DecodeTcpTable, NeverReadsPastTheBuffer) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<TcpRow> expected;
  };
  std::vector<uint8_t> partial = table_bytes(3, {kListener, kOutbound});
  partial.resize(partial.size() + kRawTcpRowSize - 1);  // a third row short of one byte
  const Case cases[] = {
      {"count beyond the buffer",
       table_bytes(1000, {kListener, kOutbound}),
       {kListener, kOutbound}},
      {"largest count", table_bytes(0xFFFFFFFFu, {kOutbound}), {kOutbound}},
      {"trailing partial row", partial, {kListener, kOutbound}},
      {"count below the rows held", table_bytes(1, {kListener, kOutbound}), {kListener}},
      {"zero count", table_bytes(0, {kListener}), {}},
      {"count alone", table_bytes(7, {}), {}},
      {"shorter than the count field", {0x05, 0x00, 0x00}, {}},
      {"empty", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[c.bytes.size() + (c.bytes.empty() ? 1 : 0)]);
    if (!c.bytes.empty()) std::memcpy(exact.get(), c.bytes.data(), c.bytes.size());
    std::vector<TcpRow> rows;
    decode_tcp_table(std::span<const uint8_t>(exact.get(), c.bytes.size()), rows);
    EXPECT_EQ(rows, c.expected);
  }
}

// A table that grows while it is read: each call is scripted with what it
// answers and the size it reports; the table fits whatever buffer its `Ok`
// call gets.
TEST(FetchTcpTable, AsksAgainWhileTheTableGrowsUpToThreeTimes) {
  using F = TableFetch;
  struct Answer {
    F result;
    uint32_t size;
  };
  const uint32_t one = 4 + kRawTcpRowSize, two = 4 + 2 * kRawTcpRowSize;
  struct Case {
    const char* name;
    std::vector<Answer> answers;
    bool ok;
  };
  const Case cases[] = {
      {"fits at once", {{F::TooSmall, one}, {F::Ok, one}}, true},
      {"grew three times",
       {{F::TooSmall, one}, {F::TooSmall, two}, {F::TooSmall, two + 24}, {F::TooSmall, two + 48},
        {F::Ok, 0}},
       true},
      {"grew four times",
       {{F::TooSmall, one}, {F::TooSmall, two}, {F::TooSmall, two + 24}, {F::TooSmall, two + 48},
        {F::TooSmall, two + 72}},
       false},
      {"read fails", {{F::TooSmall, one}, {F::Failed, 0}}, false},
      {"size query fails", {{F::Failed, 0}}, false},
      {"no size", {{F::TooSmall, 0}}, false},
      {"too small without growing", {{F::TooSmall, two}, {F::TooSmall, two}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    size_t calls = 0;
    std::vector<uint32_t> buffers;  // the size of each buffer offered
    const TableFetchFn fetch = [&](uint8_t* buffer, uint32_t& size) {
      if (buffer != nullptr) buffers.push_back(size);
      const Answer a = c.answers.at(calls++);
      if (a.result == F::Ok) {
        const std::vector<uint8_t> raw = table_bytes(1, {kOutbound});
        std::memcpy(buffer, raw.data(), raw.size());
      } else {
        size = a.size;
      }
      return a.result;
    };
    std::vector<uint8_t> buffer;
    std::vector<TcpRow> rows{kListener};
    EXPECT_EQ(fetch_tcp_table(fetch, buffer, rows), c.ok);
    EXPECT_EQ(calls, c.answers.size());
    EXPECT_EQ(rows, c.ok ? std::vector<TcpRow>{kOutbound} : std::vector<TcpRow>{});
    // Every retry offers the size the previous call asked for.
    for (size_t i = 0; i < buffers.size(); ++i) EXPECT_EQ(buffers[i], c.answers[i].size);
  }
}

TEST(FormatIpv4, DottedQuads) {
  EXPECT_EQ(format_ipv4(0), "0.0.0.0");
  EXPECT_EQ(format_ipv4(ipv4(127, 0, 0, 1)), "127.0.0.1");
  EXPECT_EQ(format_ipv4(ipv4(203, 0, 113, 7)), "203.0.113.7");
  EXPECT_EQ(format_ipv4(0xFFFFFFFFu), "255.255.255.255");
}

}  // namespace
}  // namespace tarnwick
