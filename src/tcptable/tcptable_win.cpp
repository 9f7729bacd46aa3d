#include "tcptable/tcptable_win.h"

// clang-format off
#include <winsock2.h>  // before windows.h, which would bring the older socket header
#include <windows.h>
#include <iphlpapi.h>  // needs both above
// clang-format on

namespace tarnwick {

bool WindowsTcpTable::read(std::vector<TcpRow>& rows) {
  const auto fetch = [](uint8_t* buffer, uint32_t& size) {
    DWORD bytes = size;
    const DWORD rc =
        GetExtendedTcpTable(buffer, &bytes, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    size = bytes;
    if (rc == NO_ERROR) return TableFetch::Ok;
    // Also the answer when the table outgrew the buffer; `bytes` is then
    // the size it needs now (Microsoft Learn, GetExtendedTcpTable).
    if (rc == ERROR_INSUFFICIENT_BUFFER) return TableFetch::TooSmall;
    return TableFetch::Failed;
  };
  return fetch_tcp_table(fetch, buffer_, rows);
}

}  // namespace tarnwick
