// Listens on 127.0.0.1 and stays until killed: listen.exe PORT READYFILE.
// Port 0 takes any free port. Once listening it writes the port to READYFILE
// (through a rename, so the file is never seen half-written).
// clang-format off
#include <winsock2.h>  // before windows.h
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cwchar>
#include <string>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 3) return 2;
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 3;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return 4;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<u_short>(std::wcstoul(argv[1], nullptr, 10)));
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 4) != 0) return 5;
  int len = sizeof addr;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 6;

  const std::string port = std::to_string(ntohs(addr.sin_port));
  const std::wstring tmp = std::wstring(argv[2]) + L".tmp";
  HANDLE f = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 7;
  DWORD written = 0;
  WriteFile(f, port.data(), static_cast<DWORD>(port.size()), &written, nullptr);
  CloseHandle(f);
  if (!MoveFileExW(tmp.c_str(), argv[2], MOVEFILE_REPLACE_EXISTING)) return 8;
  for (;;) Sleep(1000);
}
