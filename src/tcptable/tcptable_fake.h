#pragma once
// An in-memory TCP table for tests: scripted tables handed out one per read,
// then `rows` on every further read. An empty optional in the script is a
// read that fails.

#include <deque>
#include <optional>
#include <vector>

#include "tcptable/tcptable.h"

namespace tarnwick::testing {

class FakeTcpTable final : public TcpTable {
 public:
  std::deque<std::optional<std::vector<TcpRow>>> script;
  std::vector<TcpRow> rows;
  int reads = 0;

  bool read(std::vector<TcpRow>& out) override {
    ++reads;
    if (script.empty()) {
      out = rows;
      return true;
    }
    std::optional<std::vector<TcpRow>> next = std::move(script.front());
    script.pop_front();
    out = next ? std::move(*next) : std::vector<TcpRow>{};
    return next.has_value();
  }
};

// A host-order address from its four octets.
constexpr uint32_t ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(b) << 16 |
         static_cast<uint32_t>(c) << 8 | d;
}

}  // namespace tarnwick::testing
