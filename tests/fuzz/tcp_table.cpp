// The TCP table decoding: any bytes, whatever row count they claim, give as
// many rows as the count says and the buffer holds, each read field by field
// from its own 24 bytes; and every address prints as a dotted quad that reads
// back to the same number.
#include <algorithm>
#include <charconv>

#include "fuzz_support.h"
#include "tcptable/tcptable.h"

using namespace tarnwick;

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

uint32_t parse_quad(std::string_view text) {
  uint32_t addr = 0;
  for (int i = 0; i < 4; ++i) {
    unsigned part = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), part);
    FUZZ_CHECK(ec == std::errc() && part <= 255, text);
    addr = addr << 8 | part;
    text.remove_prefix(end - text.data());
    if (i < 3) {
      FUZZ_CHECK(!text.empty() && text[0] == '.', text);
      text.remove_prefix(1);
    }
  }
  FUZZ_CHECK(text.empty(), text);
  return addr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Decoded from a copy of exactly `size` bytes, so that ASan sees any read
  // past the end.
  const std::vector<uint8_t> bytes(data, data + size);
  std::vector<TcpRow> rows(3);  // stale rows must not survive
  decode_tcp_table(bytes, rows);
  const size_t expected =
      size < 4 ? 0 : std::min<size_t>(le32(data), (size - 4) / kRawTcpRowSize);
  FUZZ_CHECK(rows.size() == expected);
  for (size_t i = 0; i < rows.size(); ++i) {
    const uint8_t* p = data + 4 + i * kRawTcpRowSize;
    const TcpRow& r = rows[i];
    FUZZ_CHECK(r.state == le32(p) && r.local_addr == be32(p + 4) &&
               r.local_port == (p[8] << 8 | p[9]) && r.remote_addr == be32(p + 12) &&
               r.remote_port == (p[16] << 8 | p[17]) && r.pid == le32(p + 20));
    FUZZ_CHECK(parse_quad(format_ipv4(r.remote_addr)) == r.remote_addr);
  }
  return 0;
}
