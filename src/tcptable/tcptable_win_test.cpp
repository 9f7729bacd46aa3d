// clang-format off
#include <winsock2.h>  // before windows.h
#include <windows.h>
// clang-format on

#include "tcptable/tcptable_win.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tcptable/tcptable_fake.h"

namespace tarnwick {
namespace {

using testing::ipv4;

struct Winsock {
  Winsock() { ok = WSAStartup(MAKEWORD(2, 2), &data) == 0; }
  ~Winsock() {
    if (ok) WSACleanup();
  }
  WSADATA data{};
  bool ok = false;
};

struct Socket {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  Socket() = default;
  explicit Socket(SOCKET v) : s(v) {}
  ~Socket() {
    if (s != INVALID_SOCKET) closesocket(s);
  }
};

sockaddr_in loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

uint16_t local_port(SOCKET s) {
  sockaddr_in a{};
  int len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

bool has_row(const std::vector<TcpRow>& rows, uint32_t state, uint16_t lport, uint32_t raddr,
             uint16_t rport) {
  return std::any_of(rows.begin(), rows.end(), [&](const TcpRow& r) {
    return r.state == state && r.local_addr == ipv4(127, 0, 0, 1) && r.local_port == lport &&
           r.remote_addr == raddr && r.remote_port == rport;
  });
}

// Owner pids are not checked: the system may report 0 for sockets that have
// not carried data yet.
TEST(WindowsTcpTable, ListsOwnListenerAndConnectionInHostOrder) {
  Winsock winsock;
  ASSERT_TRUE(winsock.ok);
  Socket listener;
  sockaddr_in any_port = loopback(0);
  ASSERT_EQ(bind(listener.s, reinterpret_cast<sockaddr*>(&any_port), sizeof any_port), 0);
  ASSERT_EQ(listen(listener.s, 1), 0);
  const uint16_t port = local_port(listener.s);

  WindowsTcpTable table;
  std::vector<TcpRow> rows{TcpRow{}};
  EXPECT_TRUE(table.read(rows));
  EXPECT_TRUE(has_row(rows, kTcpStateListen, port, 0, 0));

  Socket client;
  sockaddr_in target = loopback(port);
  ASSERT_EQ(connect(client.s, reinterpret_cast<sockaddr*>(&target), sizeof target), 0);
  Socket accepted(accept(listener.s, nullptr, nullptr));
  ASSERT_NE(accepted.s, INVALID_SOCKET);
  const uint16_t client_port = local_port(client.s);

  EXPECT_TRUE(table.read(rows));
  EXPECT_TRUE(has_row(rows, kTcpStateEstablished, client_port, ipv4(127, 0, 0, 1), port));
  EXPECT_TRUE(has_row(rows, kTcpStateEstablished, port, ipv4(127, 0, 0, 1), client_port));
}

}  // namespace
}  // namespace tarnwick
