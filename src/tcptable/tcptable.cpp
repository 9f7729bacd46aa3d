#include "tcptable/tcptable.h"

#include <algorithm>

namespace tarnwick {

namespace {

uint32_t little_endian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint32_t big_endian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

// The port sits in the low 16 bits of its field, in network order: the
// field's first two bytes in memory.
uint16_t port_at(const uint8_t* p) {
  return static_cast<uint16_t>(static_cast<uint16_t>(p[0]) << 8 | p[1]);
}

}  // namespace

void decode_tcp_table(std::span<const uint8_t> bytes, std::vector<TcpRow>& rows) {
  rows.clear();
  if (bytes.size() < 4) return;
  const uint64_t claimed = little_endian32(bytes.data());
  const uint64_t held = (bytes.size() - 4) / kRawTcpRowSize;
  const size_t count = static_cast<size_t>(std::min(claimed, held));
  rows.reserve(count);
  const uint8_t* p = bytes.data() + 4;
  for (size_t i = 0; i < count; ++i, p += kRawTcpRowSize) {
    TcpRow row;
    row.state = little_endian32(p);
    row.local_addr = big_endian32(p + 4);
    row.local_port = port_at(p + 8);
    row.remote_addr = big_endian32(p + 12);
    row.remote_port = port_at(p + 16);
    row.pid = little_endian32(p + 20);
    rows.push_back(row);
  }
}

bool fetch_tcp_table(const TableFetchFn& fetch, std::vector<uint8_t>& buffer,
                     std::vector<TcpRow>& rows) {
  rows.clear();
  uint32_t size = 0;
  if (fetch(nullptr, size) != TableFetch::TooSmall || size == 0) return false;
  // Connections opened between the size query and the read make the table
  // larger than the buffer; a busy machine can do that more than once.
  for (int attempt = 0; attempt <= kTcpTableRetries; ++attempt) {
    buffer.resize(size);
    const TableFetch result = fetch(buffer.data(), size);
    if (result == TableFetch::Ok) {
      decode_tcp_table(buffer, rows);
      return true;
    }
    if (result != TableFetch::TooSmall || size <= buffer.size()) return false;
  }
  return false;
}

void append_ipv4(uint32_t addr, std::string& out) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned octet = (addr >> shift) & 0xFF;
    if (octet >= 100) out += static_cast<char>('0' + octet / 100);
    if (octet >= 10) out += static_cast<char>('0' + octet / 10 % 10);
    out += static_cast<char>('0' + octet % 10);
    if (shift != 0) out += '.';
  }
}

std::string format_ipv4(uint32_t addr) {
  std::string out;
  append_ipv4(addr, out);
  return out;
}

}  // namespace tarnwick
