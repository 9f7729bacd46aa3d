// Opens and closes loopback TCP connections for SECONDS: netchurn.exe SECONDS.
// About twenty a second, so that the connection table the engine reads keeps
// changing (new rows, closing and time-wait rows) for a long run.
// clang-format off
#include <winsock2.h>  // before windows.h
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cwchar>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 2) return 2;
  const ULONGLONG until = GetTickCount64() + 1000ull * std::wcstoul(argv[1], nullptr, 10);
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 3;
  SOCKET server = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  if (server == INVALID_SOCKET || bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(server, 16) != 0 || getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return 4;
  }
  while (GetTickCount64() < until) {
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (client != INVALID_SOCKET && connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      SOCKET accepted = accept(server, nullptr, nullptr);
      send(client, "x", 1, 0);
      if (accepted != INVALID_SOCKET) closesocket(accepted);
    }
    if (client != INVALID_SOCKET) closesocket(client);
    Sleep(50);
  }
  closesocket(server);
  WSACleanup();
  return 0;
}
