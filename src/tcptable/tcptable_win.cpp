#include "tcptable/tcptable_win.h"

// clang-format off
#include <winsock2.h>  // before windows.h, which would bring the older socket header
#include <windows.h>
#include <iphlpapi.h>  // needs both above
// clang-format on

namespace tarnwick {

void WindowsTcpTable::read(std::vector<TcpRow>& rows) {
  rows.clear();
  DWORD size = 0;
  DWORD rc = GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
  if (rc != ERROR_INSUFFICIENT_BUFFER || size == 0) return;
  buffer_.resize(size);
  // A table that grew since the size query fails here too; this poll then
  // sees nothing and the next one asks again.
  rc = GetExtendedTcpTable(buffer_.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
  if (rc != NO_ERROR) return;
  decode_tcp_table(buffer_, rows);
}

}  // namespace tarnwick
