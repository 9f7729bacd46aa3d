#pragma once
// The machine's IPv4 TCP connection table with owning pids, shared by the
// connection monitor and the connection snapshot writer. Portable rows and
// the decoding of the system's raw table buffer live here; the Windows file
// only fetches that buffer. Each reader owns its table object; reads are
// independent and safe from any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace tarnwick {

inline constexpr uint32_t kTcpStateListen = 2;
inline constexpr uint32_t kTcpStateEstablished = 5;

// One row. Addresses and ports are in host order: 127.0.0.1 is 0x7F000001.
struct TcpRow {
  uint32_t state = 0;  // MIB_TCP_STATE number
  uint32_t local_addr = 0;
  uint16_t local_port = 0;
  uint32_t remote_addr = 0;
  uint16_t remote_port = 0;
  uint32_t pid = 0;
  bool operator==(const TcpRow&) const = default;
};

class TcpTable {
 public:
  virtual ~TcpTable() = default;
  // Replaces `rows` with the current table in table order. False, with
  // `rows` empty, when the table cannot be read: an empty table is not a
  // failure.
  virtual bool read(std::vector<TcpRow>& rows) = 0;
};

// What one call for the raw table gave.
enum class TableFetch { Ok, TooSmall, Failed };
// One call: with no buffer it only reports the size needed (TooSmall);
// TooSmall also sets `size` to the size needed now.
using TableFetchFn = std::function<TableFetch(uint8_t* buffer, uint32_t& size)>;

// Times the table is asked for again when it grew between the size query
// and the read.
inline constexpr int kTcpTableRetries = 3;

// Asks `fetch` for the size, then for the table with a buffer that large,
// and again with the larger size while the table keeps growing (up to
// kTcpTableRetries times); decodes it into `rows`. False when no read
// succeeded.
bool fetch_tcp_table(const TableFetchFn& fetch, std::vector<uint8_t>& buffer,
                     std::vector<TcpRow>& rows);

// The size of one raw row: state, local address, local port, remote address,
// remote port and owning pid, 32 bits each.
inline constexpr size_t kRawTcpRowSize = 24;

// Decodes a raw table (a 32-bit row count, then the rows) into `rows`,
// replacing its contents. Takes as many whole rows as the count says and the
// buffer holds, so a count larger than the buffer never leads past its end.
// Addresses and ports arrive in network order, the rest in the machine's
// (little-endian) order.
void decode_tcp_table(std::span<const uint8_t> bytes, std::vector<TcpRow>& rows);

// "a.b.c.d" of a host-order address.
std::string format_ipv4(uint32_t addr);
// Same, appending to `out`.
void append_ipv4(uint32_t addr, std::string& out);

}  // namespace tarnwick
