#pragma once
// The real IPv4 TCP table, from the IP helper library.

#include "tcptable/tcptable.h"

namespace tarnwick {

// Not shared between threads: it keeps its buffer from one read to the next.
class WindowsTcpTable final : public TcpTable {
 public:
  bool read(std::vector<TcpRow>& rows) override;

 private:
  std::vector<uint8_t> buffer_;
};

}  // namespace tarnwick
