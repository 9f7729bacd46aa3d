#include "syslog/connection_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "sysenv/sysenv.h"
#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

namespace {

using Ms = std::chrono::milliseconds;
constexpr Ms kSlice{250};

struct SocketTraits {
  using Value = SOCKET;
  static Value invalid() { return INVALID_SOCKET; }
  static bool is_valid(Value v) { return v != INVALID_SOCKET; }
  static void close(Value v) { closesocket(v); }
};
using Socket = win::UniqueHandle<SocketTraits>;

timeval to_timeval(Ms d) {
  timeval tv{};
  tv.tv_sec = static_cast<long>(d.count() / 1000);
  tv.tv_usec = static_cast<long>((d.count() % 1000) * 1000);
  return tv;
}

// Waits up to `wait` for `s` to be writable (or, for a connect, to fail).
// 1 ready, 0 timed out, -1 failed.
int wait_writable(SOCKET s, Ms wait) {
  fd_set write_set;
  fd_set error_set;
  FD_ZERO(&write_set);
  FD_ZERO(&error_set);
  FD_SET(s, &write_set);
  FD_SET(s, &error_set);
  timeval tv = to_timeval(wait);
  const int n = select(0, nullptr, &write_set, &error_set, &tv);
  if (n == SOCKET_ERROR) return -1;
  if (n == 0) return 0;
  return FD_ISSET(s, &error_set) ? -1 : 1;
}

// A name resolution that may outlive the attempt that asked for it: the
// system's resolver cannot be interrupted, so it runs on a thread of its own
// and an attempt that times out or is stopped leaves it to finish alone.
struct Resolution {
  std::mutex mutex;
  std::condition_variable done_signal;
  bool done = false;
  addrinfoW* found = nullptr;
  ~Resolution() {
    if (found != nullptr) FreeAddrInfoW(found);
  }
};

std::shared_ptr<Resolution> start_resolution(const SyslogServer& server) {
  auto r = std::make_shared<Resolution>();
  try {
    std::thread([r, host = win::widen(server.host), port = std::to_wstring(server.port)] {
      name_current_thread("syslog-resolve");
      addrinfoW hints{};
      hints.ai_family = AF_UNSPEC;
      hints.ai_socktype = SOCK_STREAM;
      hints.ai_protocol = IPPROTO_TCP;
      addrinfoW* found = nullptr;
      // Its own Winsock reference, as it may outlive the connection's.
      WSADATA data{};
      if (WSAStartup(MAKEWORD(2, 2), &data) == 0) {
        if (GetAddrInfoW(host.c_str(), port.c_str(), &hints, &found) != 0) found = nullptr;
        WSACleanup();
      }
      std::lock_guard lock(r->mutex);
      r->found = found;
      r->done = true;
      r->done_signal.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  return r;
}

class WindowsSyslogConnection final : public SyslogConnection {
 public:
  WindowsSyslogConnection() {
    WSADATA data{};
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WindowsSyslogConnection() override {
    socket_.reset();
    if (started_) WSACleanup();
  }

  bool connect(const SyslogServer& server, Ms timeout,
               const std::function<bool()>& stopping) override {
    socket_.reset();
    if (!started_) return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::shared_ptr<Resolution> resolution = start_resolution(server);
    if (!resolution) return false;
    {
      std::unique_lock lock(resolution->mutex);
      while (!resolution->done) {
        if (stopping() || std::chrono::steady_clock::now() >= deadline) return false;
        resolution->done_signal.wait_for(lock, kSlice);
      }
    }
    bool connected = false;
    for (addrinfoW* a = resolution->found; a != nullptr && !connected; a = a->ai_next) {
      connected = try_address(*a, deadline, stopping);
    }
    if (!connected) socket_.reset();
    return connected;
  }

  bool peer_closed() override {
    if (!socket_.valid()) return true;
    fd_set read_set;
    FD_ZERO(&read_set);
    FD_SET(socket_.get(), &read_set);
    timeval none{};
    const int n = select(0, &read_set, nullptr, nullptr, &none);
    if (n == SOCKET_ERROR) return true;
    if (n == 0) return false;
    // Readable: the collector's end of stream, an error, or bytes it should
    // not have sent, which are read and ignored.
    char buf[512];
    const int got = recv(socket_.get(), buf, sizeof buf, 0);
    if (got > 0) return false;
    return got == 0 || WSAGetLastError() != WSAEWOULDBLOCK;
  }

  std::optional<size_t> send(std::string_view bytes, Ms wait) override {
    if (!socket_.valid()) return std::nullopt;
    const int ready = wait_writable(socket_.get(), wait);
    if (ready < 0) return std::nullopt;
    if (ready == 0) return 0;
    const int chunk = static_cast<int>(std::min<size_t>(bytes.size(), 1 << 20));
    const int sent = ::send(socket_.get(), bytes.data(), chunk, 0);
    if (sent == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAEWOULDBLOCK) return 0;
      return std::nullopt;
    }
    return static_cast<size_t>(sent);
  }

  void close() override { socket_.reset(); }

 private:
  bool try_address(const addrinfoW& a, std::chrono::steady_clock::time_point deadline,
                   const std::function<bool()>& stopping) {
    Socket s(WSASocketW(a.ai_family, a.ai_socktype, a.ai_protocol, nullptr, 0,
                        WSA_FLAG_NO_HANDLE_INHERIT));
    if (!s.valid()) return false;
    u_long non_blocking = 1;
    if (ioctlsocket(s.get(), FIONBIO, &non_blocking) != 0) return false;
    if (::connect(s.get(), a.ai_addr, static_cast<int>(a.ai_addrlen)) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
      return false;
    }
    // Waits in slices so that a stop request is seen while connecting.
    for (;;) {
      if (stopping()) return false;
      const auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
      if (left <= Ms(0)) return false;
      const int ready = wait_writable(s.get(), std::min(left, kSlice));
      if (ready < 0) return false;
      if (ready > 0) break;
    }
    int error = 0;
    int len = sizeof error;
    if (getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0 ||
        error != 0) {
      return false;
    }
    socket_ = std::move(s);
    return true;
  }

  bool started_ = false;
  Socket socket_;
};

std::string computer_name(COMPUTER_NAME_FORMAT format) {
  wchar_t buf[MAX_COMPUTERNAME_LENGTH + 256];
  DWORD size = static_cast<DWORD>(std::size(buf));
  if (!GetComputerNameExW(format, buf, &size)) return {};
  return win::narrow(std::wstring_view(buf, size));
}

}  // namespace

std::unique_ptr<SyslogConnection> make_windows_syslog_connection() {
  return std::make_unique<WindowsSyslogConnection>();
}

std::string windows_syslog_hostname() {
  return syslog_hostname(computer_name(ComputerNameDnsFullyQualified),
                         computer_name(ComputerNameNetBIOS));
}

}  // namespace tarnwick
